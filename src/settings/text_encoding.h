// The percent encoding of texts in the settings store. Texts travel as UTF-8 made of printable
// ASCII, so a value survives an INI file (where surrounding blanks are trimmed) and any code
// page: "%" is written "%%", "+" stands for a space that would otherwise be lost (the leading
// run, a space followed by another, a space at the end), every other byte outside 0x20..0x7F
// and "+" itself become "%" and two upper-case hexadecimal digits.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel::settings {

// 8-bit text in the ANSI code page to its stored form.
std::string EncodeSettingsText(std::string_view ansi);

// A stored text back to 8-bit text in the ANSI code page. Texts that carry bytes of 0x80 and
// above already (written by older versions in the code page itself) are only unescaped, and so
// are escaped bytes that do not form UTF-8 (written by other tools in a code page).
std::string DecodeSettingsText(std::string_view stored);

// UTF-8 text in the ANSI code page (characters the code page lacks become "?"); nothing when
// `text` is not well-formed UTF-8.
std::optional<std::string> StrictUtf8ToAnsi(std::string_view text);

} // namespace kestrel::settings
