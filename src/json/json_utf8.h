// UTF-8 as JSON strings carry it, decoded the way the writer encodes: every UTF-16 code unit,
// a lone surrogate half included, is one sequence of up to three bytes, and a surrogate pair
// is one four-byte sequence. Lenient like the reader: overlong and surrogate forms are taken
// as they come; what cannot be decoded at all makes the text malformed.
#pragma once

#include "platform/ole.h"

#include <cstdint>
#include <string_view>

namespace kestrel::json::json_utf8 {

constexpr bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Decodes the sequence whose lead byte (0x80 or above) is at `i` into one or two code units at
// `o`, and moves both past it. False, moving nothing, when the sequence is malformed.
inline bool DecodeSequence(const unsigned char*& i, const unsigned char* last, OLECHAR*& o) {
  const unsigned char c = *i;
  if (c >= 0xF5)
    return false; // no lead byte: it would start a code point beyond U+10FFFF
  if (c >= 0xF0) {
    // Four-byte form: a code point above the basic plane, stored as a surrogate pair.
    if (last - i < 4 || !IsContinuation(i[1]) || !IsContinuation(i[2]) || !IsContinuation(i[3]))
      return false;
    const uint32_t cp = (uint32_t{c & 0x07u} << 18) | (uint32_t{i[1] & 0x3Fu} << 12) |
                        (uint32_t{i[2] & 0x3Fu} << 6) | (i[3] & 0x3Fu);
    if (cp < 0x10000 || cp > 0x10FFFF)
      return false;
    *o++ = static_cast<OLECHAR>(0xD800 + ((cp - 0x10000) >> 10));
    *o++ = static_cast<OLECHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    i += 4;
  } else if (c & 0x20) {
    if (last - i < 3 || !IsContinuation(i[1]) || !IsContinuation(i[2]))
      return false;
    *o++ = static_cast<OLECHAR>(((c & 0x3Fu) << 12) | ((i[1] & 0x3Fu) << 6) | (i[2] & 0x3Fu));
    i += 3;
  } else {
    if (last - i < 2 || !IsContinuation(i[1]))
      return false;
    *o++ = static_cast<OLECHAR>(((c & 0x3Fu) << 6) | (i[1] & 0x3Fu));
    i += 2;
  }
  return true;
}

// The UTF-16 form of `text` (no escapes are read); empty when the text is malformed.
platform::WideString Decode(std::string_view text);

} // namespace kestrel::json::json_utf8
