// What the settings store needs of the object whose properties it loads and saves: published
// properties found by name, each with the type kind that decides how it is stored.
#pragma once

#include "common/variant.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::settings {

enum class TSettingKind : uint8_t {
  Unknown,     // not a stored kind: the entry is skipped
  Integer,     // 32-bit integer
  Int64,       // 64-bit integer
  Float,       // double
  Text,        // 8-bit text in the ANSI code page
  Enumeration, // stored by identifier ("True", "False" for Booleans)
  StringList,  // a list of lines
};

class ISettingsTarget {
public:
  virtual ~ISettingsTarget() = default;

  // The kind of a published property, Unknown when the target has no such property.
  virtual TSettingKind PropertyKind(std::string_view name) const = 0;
  // A scalar property's value: an integer, a double, an ANSI text, or an enumeration's
  // identifier text. Null when it has no value.
  virtual Variant GetProperty(std::string_view name) const = 0;
  // Assigns a scalar property (an enumeration by identifier text). Raises when the value does
  // not convert or names no identifier.
  virtual void SetProperty(std::string_view name, const Variant& value) = 0;
  // The lines of a string-list property.
  virtual std::vector<std::string> GetStrings(std::string_view name) const = 0;
  virtual void SetStrings(std::string_view name, std::vector<std::string> lines) = 0;
};

} // namespace kestrel::settings
