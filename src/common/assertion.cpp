#include "common/assertion.h"

namespace kestrel {

namespace {

std::string FileName(const char* file) {
  std::string path = file ? file : "";
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

EAssertionFailed::EAssertionFailed(const std::string& message, const char* file, int line)
    : std::logic_error(message + " (" + FileName(file) + ", line " + std::to_string(line) + ")") {}

void AssertionFailed(const char* message, const char* file, int line) {
  throw EAssertionFailed(message ? message : "Assertion failed", file, line);
}

} // namespace kestrel
