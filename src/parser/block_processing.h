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
// Converts a member's text to its rule's data type; false keeps the text (after logging the
// failure, whose log text also goes to `failure` when given).
bool ConvertItemValue(TSerialPortDM& module, const TParserSetup& setup, const TParserItem& rule,
                      const std::string& text, Variant& value, std::string* failure = nullptr);
// The same for a text that holds characters the system code page cannot represent (`lossy` is
// its 8-bit form): String and the other text types deliver the text itself (a String value
// trimmed as the settings say; the character map, which works on 8-bit codes, is left out, and
// that is logged once per rule); every other type converts the 8-bit form as ConvertItemValue
// does.
bool ConvertWideItemValue(TSerialPortDM& module, const TParserSetup& setup, const TParserItem& rule,
                          platform::WideStringView text, const std::string& lossy, Variant& value,
                          std::string* failure = nullptr);
// Completes one flattened row with the standard fields and appends it to the block's list.
void DeliverRow(TSerialPortDM& module, TKestrelClient& client, int index, TorvParamsList& row,
                TParsedDataList& list);

} // namespace kestrel::parser
