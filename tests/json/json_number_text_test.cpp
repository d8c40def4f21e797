#include "json/json_number_text.h"

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

// Decimals with few digits after the point take a shorter way too. Its text must be the
// general form's for them and for their neighbours one step away, for values at the edges
// of the plain form and for full-precision values it has to leave alone.
TEST(GeneralNumberText, ShortDecimalsReadAsInTheGeneralForm) {
  std::mt19937_64 random(11);
  std::vector<double> values = {
      0.00005,     0.0001, 0.00012, 0.000999, 0.001,     0.0015,     -0.001,
      0.00099999,  0.1,    0.5,     1.05,     99999.99,  1e14 - 0.5, 99999999999999.9,
      1e13 + 0.25, 0.3,    0.7,     -2.675,   1.0000001, 0.12345678, 123456.123456789};
  for (int i = 0; i < 4000; ++i) {
    const int fraction = 1 + static_cast<int>(random() % 9);
    const int whole = static_cast<int>(random() % static_cast<uint64_t>(16 - fraction));
    const auto digits = random() % static_cast<uint64_t>(std::pow(10.0, fraction + whole));
    const double value = static_cast<double>(digits) / std::pow(10.0, fraction);
    values.push_back(random() % 2 ? value : -value);
    values.push_back(std::nextafter(value, 0.0));
    values.push_back(std::nextafter(value, 1e300));
  }
  for (int i = 0; i < 2000; ++i) // any double of the plain form's range, all digits used
    values.push_back(std::ldexp(static_cast<double>(random() >> 11), -53) *
                     std::pow(10.0, static_cast<int>(random() % 18) - 3));
  for (const double value : values)
    EXPECT_EQ(GeneralNumberText(value), Formatted(value)) << value;
}

} // namespace
