#include "common/current_exception.h"

#include <exception>

namespace kestrel {

std::string CurrentExceptionMessage() {
  try {
    throw;
  } catch (const std::exception& failure) {
    return failure.what();
  } catch (...) {
    return "unknown failure";
  }
}

} // namespace kestrel
