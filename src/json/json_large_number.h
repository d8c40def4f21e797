// A JSON number too large for a double. Such a number keeps the text it was read from, so that
// it can be delivered as written instead of as an infinity.
#pragma once

#include "json/json_document.h"

#include <cmath>
#include <string>

namespace kestrel::json {

class TJsonLargeNumber final : public TJsonNumber {
public:
  TJsonLargeNumber(long double value, std::string text)
      : TJsonNumber(value), text_(std::move(text)) {}

  const std::string& Text() const { return text_; }

  // Whether a double cannot hold the value: from the midpoint between the largest double and
  // the next power of two on, rounding to double gives an infinity.
  static bool BeyondDouble(long double value) {
    constexpr long double kOverflow = 0x1.fffffffffffff8p+1023L;
    return std::fabs(value) >= kOverflow;
  }

private:
  std::string text_;
};

} // namespace kestrel::json
