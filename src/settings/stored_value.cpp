#include "settings/stored_value.h"
#include "common/ascii_text.h"

#include "common/variant_convert.h"
#include "settings/text_encoding.h"

#include <charconv>
#include <cstring>
#include <limits>

namespace kestrel::settings {

namespace {

bool IsText(const TStoredValue& stored) {
  return stored.type == platform::kRegSz || stored.type == platform::kRegExpandSz;
}

// The double of an 8-byte REG_BINARY value.
std::optional<double> BinaryDouble(const TStoredValue& stored) {
  if (stored.type != platform::kRegBinary || stored.data.size() != sizeof(double))
    return std::nullopt;
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i)
    bits = bits << 8 | static_cast<uint8_t>(stored.data[static_cast<std::size_t>(i)]);
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string TextOf(const TStoredValue& stored) {
  if (stored.type == platform::kRegDword)
    return std::to_string(static_cast<int32_t>(stored.AsDword()));
  if (const auto number = BinaryDouble(stored))
    return FormatSettingDouble(*number);
  if (!IsText(stored))
    throw EStoredValueError("a value of registry type " + std::to_string(stored.type) +
                            " where a text was expected");
  return stored.data;
}

std::string RequireText(const TStoredValue& stored, const char* what) {
  if (!IsText(stored))
    throw EStoredValueError(std::string("a value of registry type ") + std::to_string(stored.type) +
                            " where " + what + " was expected");
  return stored.data;
}

} // namespace

std::optional<int64_t> ParseSettingInteger(std::string_view text) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t magnitude = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
    return std::nullopt;
  const auto value = static_cast<int64_t>(magnitude);
  return negative ? -value : value;
}

std::optional<double> ParseSettingDouble(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+')
    text.remove_prefix(1);
  std::string normalized(text);
  for (char& c : normalized)
    if (c == ',')
      c = '.';
  double value = 0;
  const char* last = normalized.data() + normalized.size();
  const auto [end, error] = std::from_chars(normalized.data(), last, value);
  if (normalized.empty() || error != std::errc() || end != last)
    return std::nullopt;
  return value;
}

std::string FormatSettingDouble(double value, char decimal_separator) {
  char buffer[64];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  std::string text = error == std::errc() ? std::string(buffer, end) : std::string("0");
  for (char& c : text)
    if (c == '.')
      c = decimal_separator;
  return text;
}

Variant DecodeStoredValue(const TStoredValue& stored, TSettingKind kind) {
  switch (kind) {
  case TSettingKind::Integer:
  case TSettingKind::Int64: {
    if (stored.type == platform::kRegDword)
      return Variant(static_cast<int32_t>(stored.AsDword()));
    const std::string text = RequireText(stored, "a REG_DWORD");
    const auto number = ParseSettingInteger(text);
    if (!number)
      throw EStoredValueError("\"" + text + "\" is not an integer");
    if (kind == TSettingKind::Integer) {
      // Hexadecimal texts up to 0xFFFFFFFF stand for the 32 bits they give.
      if (*number > std::numeric_limits<int32_t>::max() && *number <= 0xFFFFFFFFll)
        return Variant(static_cast<int32_t>(static_cast<uint32_t>(*number)));
      if (*number < std::numeric_limits<int32_t>::min() ||
          *number > std::numeric_limits<int32_t>::max())
        throw EStoredValueError("\"" + text + "\" is out of the range of a 32-bit integer");
      return Variant(static_cast<int32_t>(*number));
    }
    return Variant(*number);
  }
  case TSettingKind::Float: {
    if (const auto number = BinaryDouble(stored))
      return Variant(*number);
    const std::string text = RequireText(stored, "an 8-byte REG_BINARY");
    const auto number = ParseSettingDouble(text);
    if (!number)
      throw EStoredValueError("\"" + text + "\" is not a number");
    return Variant(*number);
  }
  case TSettingKind::Text:
    return Variant(DecodeSettingsText(TextOf(stored)));
  case TSettingKind::Enumeration: {
    const std::string text = RequireText(stored, "an identifier text");
    return text.empty() ? Variant() : Variant(text);
  }
  case TSettingKind::StringList: {
    const std::string text = TextOf(stored);
    return Variant(text == "[[Null]]" ? std::string() : DecodeSettingsText(text));
  }
  case TSettingKind::Unknown:
    break;
  }
  throw EStoredValueError("a property of unknown kind");
}

TStoredValue EncodeStoredValue(const Variant& value, TSettingKind kind, bool as_text,
                               char decimal_separator) {
  switch (kind) {
  case TSettingKind::Integer:
  case TSettingKind::Int64: {
    const auto number = VariantToInt64(value);
    if (!number)
      throw EStoredValueError("the value is not an integer");
    if (as_text)
      return TStoredValue::String(std::to_string(*number));
    return TStoredValue::Dword(static_cast<uint32_t>(*number));
  }
  case TSettingKind::Float: {
    const auto number = VariantToDouble(value);
    if (!number)
      throw EStoredValueError("the value is not a number");
    if (as_text)
      return TStoredValue::String(FormatSettingDouble(*number, decimal_separator));
    uint64_t bits = 0;
    std::memcpy(&bits, &*number, sizeof bits);
    char bytes[8];
    for (int i = 0; i < 8; ++i)
      bytes[i] = static_cast<char>(bits >> (8 * i));
    return TStoredValue::Binary(bytes, sizeof bytes);
  }
  case TSettingKind::Text:
  case TSettingKind::StringList:
    return TStoredValue::String(EncodeSettingsText(VariantToAnsi(value)));
  case TSettingKind::Enumeration:
    return TStoredValue::String(VariantToAnsi(value));
  case TSettingKind::Unknown:
    break;
  }
  throw EStoredValueError("a property of unknown kind");
}

} // namespace kestrel::settings
