// Decimal text to the extended floating-point type, correctly rounded whatever the C run-time.
#pragma once

#include "platform/system.h"

#include <charconv>

namespace kestrel::platform {

// std::from_chars for long double in the general format: a '.' decimal point, no leading
// blanks or '+', no hexadecimal. On out-of-range `value` is left alone and the result says
// std::errc::result_out_of_range.
KESTREL_PLATFORM_EXPORT std::from_chars_result ParseLongDouble(const char* first, const char* last,
                                                               long double& value);

} // namespace kestrel::platform
