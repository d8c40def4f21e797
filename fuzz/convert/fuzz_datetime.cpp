// The date/time reader: the input up to the first zero byte is the template, the rest the
// text; the first byte chooses the locale and the current-date/time flags. Reading either
// yields a valid date-time or raises a conversion error, never anything else.
#include "convert/date_time_templates.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace kestrel;
using namespace kestrel::convert::DateTimeTemplates;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

const platform::LocaleSettings& Locale(int index) {
  static const platform::LocaleSettings locales[] = {
      platform::GetLocaleSettings(1033), platform::GetLocaleSettings(1031),
      platform::GetLocaleSettings(1049), platform::GetLocaleSettings(1035)};
  return locales[index & 3];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const uint8_t control = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t split = input.find('\0');
  const std::string_view tmpl = input.substr(0, split);
  const std::string_view text =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  const platform::LocalTime now{2024, 3, 0, 10, 8, 30, 15, 250};
  try {
    const TDateTime value =
        ScanDateTime(tmpl, text, control & 4, Locale(control), control & 8, now);
    // 1 January 0001 to 31 December 9999.
    Check(std::isfinite(value) && value > -693594 && value < 2958466);
  } catch (const convert::EConvertError&) {
  }
  return 0;
}
