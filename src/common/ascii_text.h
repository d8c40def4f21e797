// Byte-wise text helpers that ignore the locale: case folding of the ASCII letters only (for
// names and keywords compared without regard to case), hexadecimal digits, and trimming of the
// control characters and spaces (codes 0..32).
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

// The value of a hexadecimal digit in either case; -1 for any other character or code unit.
constexpr int AsciiHexValue(unsigned c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Without the characters of codes 0..32 at the start, the end, or both.
constexpr std::string_view TrimLeftBlanks(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32)
    ++i;
  return text.substr(i);
}
constexpr std::string_view TrimRightBlanks(std::string_view text) {
  std::size_t n = text.size();
  while (n > 0 && static_cast<unsigned char>(text[n - 1]) <= 32)
    --n;
  return text.substr(0, n);
}
constexpr std::string_view TrimBlanks(std::string_view text) {
  return TrimRightBlanks(TrimLeftBlanks(text));
}

} // namespace kestrel
