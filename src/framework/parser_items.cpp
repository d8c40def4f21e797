#include "framework/parser_items.h"
#include "common/ascii_text.h"

#include "common/text_lines.h"

#include <array>
#include <charconv>

namespace kestrel {

const char kParserItemTypeNames[] = "String|Memo|Bytes|Blob|Boolean|Float|Smallint|Word|Integer|"
                                    "Date|Time|DateTime|DWord|Byte|Shortint|Int64|Currency|";

namespace {

constexpr std::array<std::string_view, dtUntyped> kTypeNames = {
    "String", "Memo", "Bytes",    "Blob",  "Boolean", "Float",    "Smallint", "Word",    "Integer",
    "Date",   "Time", "DateTime", "DWord", "Byte",    "Shortint", "Int64",    "Currency"};

} // namespace

std::string_view ParserItemTypeName(uint8_t type) {
  return type < kTypeNames.size() ? kTypeNames[type] : std::string_view();
}

uint8_t ParserItemTypeFromText(std::string_view text) {
  unsigned number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (!text.empty() && error == std::errc() && end == text.data() + text.size())
    return number <= dtUntyped ? static_cast<uint8_t>(number) : uint8_t{dtUntyped};
  for (std::size_t i = 0; i < kTypeNames.size(); ++i)
    if (AsciiSameText(kTypeNames[i], text))
      return static_cast<uint8_t>(i);
  return dtUntyped;
}

bool IsNumberType(uint8_t type) {
  switch (type) {
  case dtFloat:
  case dtSmallint:
  case dtWord:
  case dtInteger:
  case dtDWord:
  case dtByte:
  case dtShortint:
  case dtInt64:
    return true;
  default:
    return false;
  }
}

uint8_t ParserItemTypeFromVariant(VARTYPE type) {
  switch (type) {
  case VT_I2:
    return dtSmallint;
  case VT_I4:
    return dtInteger;
  case VT_R4:
  case VT_R8:
    return dtFloat;
  case VT_CY:
    return dtCurrency;
  case VT_DATE:
    return dtDateTime;
  case VT_BSTR:
  case 0x100: // 8-bit string
  case 0x102: // UTF-16 string handed in by pointer
    return dtString;
  case VT_BOOL:
    return dtBoolean;
  case VT_I1:
    return dtShortint;
  case VT_UI1:
    return dtByte;
  case VT_UI2:
    return dtWord;
  case VT_UI4:
    return dtDWord;
  case VT_I8:
    return dtInt64;
  default:
    return dtUntyped;
  }
}

std::string ParserItemsText(const TParserItemList& items) {
  std::string text;
  for (const TParserItem& item : items) {
    text += item.Description;
    text += '|';
    text += item.Name;
    text += '|';
    text += ParserItemTypeName(item.DataType);
    text += '|';
    text += item.Extra;
    text += "\r\n";
  }
  return text;
}

TParserItemList ParserItemsFromText(std::string_view text) {
  TParserItemList items;
  for (std::string_view line : SplitLines(text)) {
    if (line.empty())
      continue;
    const std::vector<std::string_view> fields = SplitFields(line, '|');
    if (fields.size() < 2)
      break;
    TParserItem item;
    item.Description = fields[0];
    item.Name = fields[1];
    item.DataType = fields.size() > 2 ? ParserItemTypeFromText(fields[2]) : uint8_t{dtUntyped};
    if (fields.size() > 3)
      item.Extra = fields[3];
    items.push_back(std::move(item));
  }
  return items;
}

} // namespace kestrel
