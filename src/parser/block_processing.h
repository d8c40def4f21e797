// Item extraction from one JSON block: the filter scan, the flattening with the module's item
// rules, the conversion of ruled values to their data types, and the completion of each row
// with the standard fields.
#pragma once

#include "common/orv_param_lst.h"
#include "common/variant.h"
#include "parser/parser_client.h"
#include "parser/parser_setup.h"

#include <string>
#include <string_view>

namespace kestrel::parser {

class TSerialPortDM;

// One block of a client: filter it and, when accepted, parse it into `list`.
void ProcessBlock(TSerialPortDM& module, TKestrelClient& client, std::string_view body,
                  TParsedDataList& list, const TParserSetup& setup);
// Flattens an accepted block's framed text into `list`, row by row.
void ParseBlock(TSerialPortDM& module, TKestrelClient& client, const std::string& framed,
                TParsedDataList& list, const TParserSetup& setup);
// Converts a member's text to its rule's data type; false keeps the text (after logging).
bool ConvertItemValue(TSerialPortDM& module, const TParserSetup& setup, const TParserItem& rule,
                      const std::string& text, Variant& value);
// Completes one flattened row with the standard fields and appends it to the block's list.
void DeliverRow(TSerialPortDM& module, TKestrelClient& client, int index, TorvParamsList& row,
                TParsedDataList& list);

} // namespace kestrel::parser
