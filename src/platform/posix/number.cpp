// The C++ library converts long double exactly here.
#include "platform/number.h"

namespace kestrel::platform {

std::from_chars_result ParseLongDouble(const char* first, const char* last, long double& value) {
  return std::from_chars(first, last, value);
}

} // namespace kestrel::platform
