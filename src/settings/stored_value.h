// How one property value looks in the store, by property kind: integers as REG_DWORD or
// decimal text (hexadecimal "0x..." accepted when read), doubles as an 8-byte REG_BINARY or
// text (either "." or "," accepted when read), texts and string lists percent-encoded,
// enumerations by identifier.
#pragma once

#include "common/variant.h"
#include "settings/settings_target.h"
#include "platform/registry.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrel::settings {

// A value as a backend holds it; INI entries are kRegSz texts.
using TStoredValue = platform::RegistryValue;

// A stored value that does not fit the property's kind.
class EStoredValueError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The property value a stored value gives: an integer (Integer, Int64), a double (Float), an
// ANSI text (Text, Enumeration identifier, StringList as its whole text with CR LF). Empty for
// an enumeration stored as an empty text: the property keeps its value. Raises
// EStoredValueError when the value does not fit (wrong registry type, text that is no number).
Variant DecodeStoredValue(const TStoredValue& stored, TSettingKind kind);

// The stored form of a property value (not Empty or Null; string lists as their whole text):
// typed for the registry, text for INI files, where doubles take `decimal_separator`.
TStoredValue EncodeStoredValue(const Variant& value, TSettingKind kind, bool as_text,
                               char decimal_separator = '.');

// Numbers as settings texts.
std::optional<int64_t> ParseSettingInteger(std::string_view text);
std::optional<double> ParseSettingDouble(std::string_view text);
// General format, up to 15 significant digits.
std::string FormatSettingDouble(double value, char decimal_separator = '.');

} // namespace kestrel::settings
