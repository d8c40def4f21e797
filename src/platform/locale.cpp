// The parts of the locale layer both backends share.
#include "platform/locale.h"

namespace kestrel::platform {

uint32_t ResolveLocale(uint32_t lcid) {
  if (lcid == 0)
    return GetThreadLocale();
  if (lcid == kLocaleUserDefault || lcid == kLocaleSystemDefault || !IsValidLocale(lcid))
    return UserDefaultLocale();
  return lcid;
}

} // namespace kestrel::platform
