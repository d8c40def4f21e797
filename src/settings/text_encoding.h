// The percent encoding of texts in the settings store. Texts travel as UTF-8 made of printable
// ASCII, so a value survives an INI file (where surrounding blanks are trimmed) and any code
// page: "%" is written "%%", "+" stands for a space that would otherwise be lost (the leading
// run, a space followed by another, a space at the end), every other byte outside 0x20..0x7F
// and "+" itself become "%" and two upper-case hexadecimal digits.
#pragma once

#include <string>
#include <string_view>

namespace kestrel::settings {

// 8-bit text in the ANSI code page to its stored form.
std::string EncodeSettingsText(std::string_view ansi);

// A stored text back to 8-bit text in the ANSI code page. Texts that carry bytes of 0x80 and
// above already (written by older versions in the code page itself) are only unescaped.
std::string DecodeSettingsText(std::string_view stored);

} // namespace kestrel::settings
