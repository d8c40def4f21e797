// What a data module says when it loses something: each kind of loss is counted every time
// in the module's statistics and logged once per client (the client's ReportedLosses), so a
// steady loss costs one log line and a counter, never a line per block.
#pragma once

#include "parser/parser_client.h"
#include "platform/ole.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::parser {

class TSerialPortDM;

// A block whose part after its opening bracket grew past `limit` bytes; `size` is its size so
// far, brackets included.
void ReportOversizeBlock(TSerialPortDM& module, TCustomParserClient& client, int64_t size,
                         int32_t limit) noexcept;
// A bracketed block that is not JSON (its first 80 bytes are logged).
void ReportUnparsableBlock(TSerialPortDM& module, TCustomParserClient& client,
                           std::string_view block) noexcept;
// A half block of `bytes` bytes dropped because the client was silent for `timeout` ms.
void ReportTimedOutBlock(TSerialPortDM& module, TCustomParserClient& client, int64_t bytes,
                         int64_t timeout) noexcept;
// Bytes outside blocks that were discarded; blanks between blocks are not counted.
void ReportDiscardedBytes(TSerialPortDM& module, TCustomParserClient& client,
                          std::string_view bytes) noexcept;
// A packet that failed on the way; `client` is null when it failed before its client was
// known (then logged once for the data module).
void ReportFailedPacket(TSerialPortDM& module, TCustomParserClient* client,
                        const std::string& message) noexcept;

// A member name the system code page cannot hold, delivered as `written`: logged once per name
// and data module.
void ReportLossyName(TSerialPortDM& module, platform::WideStringView name,
                     const std::string& written) noexcept;
// A String value the character map was not applied to, because the code page cannot hold its
// text: logged once per rule and data module.
void ReportMapNotApplied(TSerialPortDM& module, const std::string& rule) noexcept;

// Up to `limit` bytes of `text` for a log line, control bytes written as \xHH.
std::string Excerpt(std::string_view text, std::size_t limit = 80);

} // namespace kestrel::parser
