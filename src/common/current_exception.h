// The text of the exception being handled, for logs and failure answers.
#pragma once

#include <string>

namespace kestrel {

// what() of the std::exception being handled, "unknown failure" for anything else. Call it only
// inside a catch block.
std::string CurrentExceptionMessage();

} // namespace kestrel
