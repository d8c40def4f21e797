// What the ICU-based POSIX units share: the ICU locale behind an LCID and the user's locale.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel::platform::icu {

// The ICU locale name ("de_DE") of a Windows locale id, or empty when ICU knows no such id.
std::string LocaleForLcid(uint32_t lcid);

// The user's default locale id: 1033 unless KESTREL_LCID names a known one (read once).
uint32_t UserDefaultLcid();

// The ICU locale name of the user's default locale (read once).
const std::string& UserLocaleName();

} // namespace kestrel::platform::icu
