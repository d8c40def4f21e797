// Byte-wise text helpers that ignore the locale: case folding of the ASCII letters only (for
// names and keywords compared without regard to case), hexadecimal digits, and trimming of the
// control characters and spaces (codes 0..32).
#pragma once

#include <cstdint>
#include <cstring>
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

// Copies `size` bytes from `from` to `to` with the ASCII letters lower-cased; true when every
// byte was ASCII (`to` may be `from`). Eight bytes at a time, so that the names of a row's values
// cost a few steps.
inline bool AsciiLowerCopy(const char* from, char* to, std::size_t size) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  // Per byte of 0..127: bit 7 of (byte + 63) is set from 'A' on, of (byte + 37) from past 'Z'
  // on; where they differ the byte is 'A'..'Z' and gains 0x20. Bytes of 128 and above are left
  // out, as they set bit 7 themselves.
  const auto fold = [](uint64_t word) {
    const uint64_t low = word & ~kHigh;
    return word | ((((low + kOnes * 63) ^ (low + kOnes * 37)) & ~word & kHigh) >> 2);
  };
  if (size < 8) {
    if (size < 4) {
      unsigned char seen = 0;
      for (std::size_t i = 0; i < size; ++i) {
        seen |= static_cast<unsigned char>(from[i]);
        to[i] = AsciiLower(from[i]);
      }
      return (seen & 0x80) == 0;
    }
    // Two words of four bytes, the second ending at the end (they overlap below eight bytes).
    uint32_t head;
    uint32_t tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + size - 4, 4);
    const auto folded_head = static_cast<uint32_t>(fold(head));
    const auto folded_tail = static_cast<uint32_t>(fold(tail));
    std::memcpy(to, &folded_head, 4);
    std::memcpy(to + size - 4, &folded_tail, 4);
    return ((head | tail) & 0x80808080u) == 0;
  }
  uint64_t word;
  uint64_t seen = 0;
  // Whole words, then the last eight bytes as one more word (overlapping the one before it).
  for (std::size_t i = 0;; i += 8) {
    const std::size_t at = i + 8 <= size ? i : size - 8;
    std::memcpy(&word, from + at, 8);
    seen |= word;
    word = fold(word);
    std::memcpy(to + at, &word, 8);
    if (at + 8 >= size)
      break;
  }
  return (seen & kHigh) == 0;
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
