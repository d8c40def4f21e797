// A host written in plain C drives the window functions of libkestrel_platform.
#include <gtest/gtest.h>

// Written in C against kestrel/kestrel_platform.h (c_host.c); 0 when everything worked.
extern "C" int kestrel_c_host_round_trip(void);

namespace {

TEST(Messages, PlainCHostDrivesTheWindowFunctions) {
  EXPECT_EQ(kestrel_c_host_round_trip(), 0);
}

} // namespace
