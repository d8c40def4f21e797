#include "framework/crash_report.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kestrel {
namespace {

TEST(CrashReport, DescribesTheCurrentException) {
  EXPECT_EQ(DescribeCurrentException(), "");
  try {
    throw std::out_of_range("index 7");
  } catch (...) {
    EXPECT_EQ(DescribeCurrentException(), "std::out_of_range: index 7");
  }
  try {
    throw 42;
  } catch (...) {
    EXPECT_EQ(DescribeCurrentException(), "unknown exception");
  }
}

} // namespace
} // namespace kestrel
