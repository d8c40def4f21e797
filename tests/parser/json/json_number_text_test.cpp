#include "parser/json/json_number_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace kestrel::json;

// The general form with 15 significant digits, as the standard formatter writes it.
std::string Formatted(double value) {
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  return ec == std::errc() ? std::string(buffer, end) : std::string();
}

// Whole numbers take a shorter way to their text; it must be the text of the general form,
// signed zero and the edge of the exponent form included.
TEST(GeneralNumberText, WholeNumbersReadAsInTheGeneralForm) {
  std::mt19937_64 random(5);
  std::vector<double> values = {0.0,
                                -0.0,
                                1,
                                -1,
                                9,
                                10,
                                999999999999999,
                                1e15,
                                -1e15,
                                1e15 - 1,
                                -(1e15 - 1),
                                1e16,
                                123456789012345.0,
                                2147483648.0,
                                -9007199254740992.0};
  for (int i = 0; i < 2000; ++i) {
    const int digits = 1 + static_cast<int>(random() % 16);
    values.push_back(std::trunc(static_cast<double>(random() % 1000000000000000000u) /
                                std::pow(10.0, 18 - digits)) *
                     (random() % 2 ? 1 : -1));
  }
  for (const double value : values)
    EXPECT_EQ(GeneralNumberText(value), Formatted(value)) << value;
  EXPECT_EQ(GeneralNumberText(0.5), Formatted(0.5));
}

} // namespace
