// Assertion failures: exceptions carrying the failed condition's message and source position.
// They are ordinary failures inside the module: the export or interface method that catches
// them turns them into a result code and a log line.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrel {

class EAssertionFailed : public std::logic_error {
public:
  EAssertionFailed(const std::string& message, const char* file, int line);
};

[[noreturn]] void AssertionFailed(const char* message, const char* file, int line);

} // namespace kestrel

#define KESTREL_ASSERT(condition, message)                                                         \
  do {                                                                                             \
    if (!(condition))                                                                              \
      ::kestrel::AssertionFailed(message, __FILE__, __LINE__);                                     \
  } while (false)
