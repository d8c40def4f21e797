#include "settings/text_encoding.h"
#include "common/ascii_text.h"

#include "platform/text.h"

namespace kestrel::settings {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

} // namespace

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
  std::string ansi = platform::Utf8ToAnsi(out);
  return ansi.empty() ? out : ansi;
}

} // namespace kestrel::settings
