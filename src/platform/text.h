// Code pages and casing. Text inside the module is 8-bit in the system ANSI code page; it
// becomes UTF-16 at the boundary interfaces and UTF-8 in module information and settings.
#pragma once

#include "platform/ole.h"
#include "platform/system.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::platform {

// The system ANSI code page: 1252 unless the system (or KESTREL_ACP on POSIX) says otherwise.
KESTREL_PLATFORM_EXPORT uint32_t AnsiCodePage();

// Conversions between 8-bit text in a code page (0 = the ANSI code page), UTF-16 and UTF-8.
// Characters a code page cannot represent become '?', as WideCharToMultiByte does; invalid
// input sequences become U+FFFD.
KESTREL_PLATFORM_EXPORT WideString AnsiToWide(std::string_view text, uint32_t code_page = 0);
KESTREL_PLATFORM_EXPORT std::string WideToAnsi(WideStringView text, uint32_t code_page = 0);
KESTREL_PLATFORM_EXPORT WideString Utf8ToWide(std::string_view text);
KESTREL_PLATFORM_EXPORT std::string WideToUtf8(WideStringView text);
KESTREL_PLATFORM_EXPORT std::string AnsiToUtf8(std::string_view text);
KESTREL_PLATFORM_EXPORT std::string Utf8ToAnsi(std::string_view text);

// Locale-aware casing of 8-bit text in the ANSI code page, whole string, length kept
// (CharUpperBuffA / CharLowerBuffA).
KESTREL_PLATFORM_EXPORT std::string AnsiUpperCase(std::string_view text);
KESTREL_PLATFORM_EXPORT std::string AnsiLowerCase(std::string_view text);

// The same casing for 8-bit text in a given code page (0 = the ANSI code page).
KESTREL_PLATFORM_EXPORT std::string CodePageUpperCase(std::string_view text, uint32_t code_page);
KESTREL_PLATFORM_EXPORT std::string CodePageLowerCase(std::string_view text, uint32_t code_page);

// Case-insensitive, locale-aware comparison of 8-bit texts: <0, 0 or >0.
KESTREL_PLATFORM_EXPORT int AnsiCompareText(std::string_view a, std::string_view b);

} // namespace kestrel::platform
