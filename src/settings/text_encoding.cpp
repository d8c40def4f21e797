#include "settings/text_encoding.h"
#include "common/ascii_text.h"

#include "platform/text.h"

namespace kestrel::settings {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no surrogates, nothing
// above U+10FFFF.
bool IsWellFormedUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80; // the range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (i + length > text.size())
      return false;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if (second < low || second > high)
      return false;
    for (std::size_t k = 2; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
        return false;
    i += length;
  }
  return true;
}

} // namespace

std::optional<std::string> StrictUtf8ToAnsi(std::string_view text) {
  if (!IsWellFormedUtf8(text))
    return std::nullopt;
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80)
      return platform::Utf8ToAnsi(text);
  return std::string(text); // ASCII is the same in every ANSI code page
}

std::string EncodeSettingsText(std::string_view ansi) {
  const std::string utf8 = platform::AnsiToUtf8(ansi);
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 4);
  bool leading = true;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte == ' ') {
      // A single space at the end would be trimmed away by an INI file; "+" keeps it.
      const bool next_is_space = i + 1 < utf8.size() && utf8[i + 1] == ' ';
      out += leading || next_is_space || i + 1 == utf8.size() ? '+' : ' ';
      continue;
    }
    leading = false;
    if (byte == '%') {
      out += "%%";
    } else if (byte >= 0x20 && byte <= 0x7F && byte != '+') {
      out += static_cast<char>(byte);
    } else {
      out += '%';
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 0x0F];
    }
  }
  return out;
}

std::string DecodeSettingsText(std::string_view stored) {
  bool has_high_bytes = false;
  std::string out;
  out.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const char c = stored[i];
    if (static_cast<unsigned char>(c) >= 0x80)
      has_high_bytes = true;
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 1 < stored.size() && stored[i + 1] == '%') {
      out += '%';
      ++i;
    } else if (c == '%' && i + 2 < stored.size() && AsciiHexValue(stored[i + 1]) >= 0 &&
               AsciiHexValue(stored[i + 2]) >= 0) {
      out += static_cast<char>(AsciiHexValue(stored[i + 1]) << 4 | AsciiHexValue(stored[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  if (has_high_bytes)
    return out;
  // Escaped bytes that are no UTF-8 were written in a code page: they stay as they are.
  std::optional<std::string> ansi = StrictUtf8ToAnsi(out);
  return ansi && !ansi->empty() ? std::move(*ansi) : out;
}

} // namespace kestrel::settings
