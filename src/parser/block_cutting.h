// Block cutting: where each JSON block of a client's stream starts (the first opening brace or
// bracket) and ends (the resumable closing-bracket scan, which skips strings), and the cutting
// of every complete block out of the client's buffer.
#pragma once

#include "common/orv_param_lst.h"
#include "parser/parser_client.h"
#include "parser/parser_setup.h"

#include <cstdint>
#include <functional>

namespace kestrel::parser {

class TSerialPortDM;

// Hands one block's result list to the host's call record (appending).
using TDeliverBlock = std::function<void(TParsedDataList& list)>;

// Offset of the first opening brace or bracket in the bytes, or -1.
int32_t FirstBlockStart(const uint8_t* data, int32_t count);

// Offset of the closing bracket of the block whose opening bracket has been consumed, or -1.
// Backslashes skip the next byte, quotes toggle strings, and only `open` / `close` count
// (outside strings). Resumes where the previous scan of the same block stopped.
int32_t FindBlockEnd(TCustomParserClient& client, char open, char close);

// Cuts every complete block out of the client's buffer (the caller holds its lock), processes
// each (ProcessBlock) and hands what it yields to `deliver`. A block not yet complete stays.
void CutBlocks(TSerialPortDM& module, TKestrelClient& client, const TParserSetup& setup,
               const TDeliverBlock& deliver);

} // namespace kestrel::parser
