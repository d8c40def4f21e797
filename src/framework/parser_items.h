// The parser items a module publishes to the host (the value names it can produce), their
// data type names and their text form "description|name|type name|extra" + CR LF.
#pragma once

#include "platform/ole.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// Data type codes of published items and item rules: 0..16 are named types, 17 stands for
// untyped (a type outside the list).
enum TDataTypeCode : uint8_t {
  dtString = 0,
  dtMemo = 1,
  dtBytes = 2,
  dtBlob = 3,
  dtBoolean = 4,
  dtFloat = 5,
  dtSmallint = 6,
  dtWord = 7,
  dtInteger = 8,
  dtDate = 9,
  dtTime = 10,
  dtDateTime = 11,
  dtDWord = 12,
  dtByte = 13,
  dtShortint = 14,
  dtInt64 = 15,
  dtCurrency = 16,
  dtUntyped = 17,
};

// "String|Memo|Bytes|Blob|Boolean|Float|Smallint|Word|Integer|Date|Time|DateTime|DWord|Byte|
// Shortint|Int64|Currency|": the names of codes 0..16, each followed by "|".
extern const char kParserItemTypeNames[];

// The name of a type code, "" for 17 and above.
std::string_view ParserItemTypeName(uint8_t type);
// A type given as text: a decimal number 0..17 is the code itself; otherwise the name is looked
// up without regard to case; anything else is 17.
uint8_t ParserItemTypeFromText(std::string_view text);
// Whether the type is one of the numbers: Float, Smallint, Word, Integer, DWord, Byte, Shortint,
// Int64.
bool IsNumberType(uint8_t type);
// The type code of a variant type (a VARTYPE without modifiers).
uint8_t ParserItemTypeFromVariant(VARTYPE type);

// One published item.
struct TParserItem {
  std::string Name;
  std::string Description;
  uint8_t DataType = dtUntyped;
  std::string Extra; // a fourth text handed to the host as it is
};
using TParserItemList = std::vector<TParserItem>;

// One line per item, each ended by CR LF: description "|" name "|" type name "|" extra.
std::string ParserItemsText(const TParserItemList& items);
// Reads the text form back: lines split at "|"; empty lines are skipped; a line with fewer than
// two fields ends the reading (the items read before it are kept).
TParserItemList ParserItemsFromText(std::string_view text);

} // namespace kestrel
