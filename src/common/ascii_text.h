// Case folding of the ASCII letters only, for names and keywords that are compared without
// regard to case whatever the locale (type names, parameter names, field names).
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

constexpr bool AsciiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i]))
      return false;
  return true;
}

inline std::string AsciiLowerCase(std::string text) {
  for (char& c : text)
    c = AsciiLower(c);
  return text;
}

} // namespace kestrel
