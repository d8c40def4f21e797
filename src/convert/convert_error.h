// The conversion error raised inside the module when a text cannot be read as the value it
// should hold (a date, a time, an integer). Callers catch it and log its message.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrel::convert {

class EConvertError : public std::runtime_error {
public:
  explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace kestrel::convert
