// The plug-in when the system refuses it something: host memory that cannot grow, message
// windows that cannot be made. Nothing may crash, and parsing goes on once the system recovers.
#include "pipeline_host.h"
#include "platform/posix/system_call_ops.h"
#include "plugin_library.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

using kestrel::Variant;
using kestrel::platform::RestoreSystemCallOps;
using kestrel::platform::SystemCallOpsForTesting;
using kestrel::testing::PipelineHost;

class SystemFaults : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(library_.Loaded()) << library_.Error(); }
  void TearDown() override { RestoreSystemCallOps(); }

  kestrel::testing::PluginLibrary library_;
};

TEST_F(SystemFaults, PacketBlockThatCannotGrowLosesOnlyItsOwnRows) {
  PipelineHost host(library_.Entry());
  ASSERT_EQ(host.Load("\\Software\\Kestrel\\Faults1"), 0);
  ASSERT_EQ(host.SetState("1;COM1;Serial port 1", true), 0);
  SystemCallOpsForTesting().realloc = [](void*, std::size_t) -> void* { return nullptr; };
  host.Send(1, 4, "c", "{\"a\":1}");
  RestoreSystemCallOps();
  // The client is ready for the next block, half of which is already in the next packet.
  EXPECT_EQ(host.Send(1, 4, "c", "{\"a\":2}{\"a\":").All("a"), std::vector<Variant>{Variant(2)});
  EXPECT_EQ(host.Send(1, 4, "c", "3}").All("a"), std::vector<Variant>{Variant(3)});
}

TEST_F(SystemFaults, NoMessageWindowsStillParses) {
  SystemCallOpsForTesting().create_window = [] { return false; };
  SystemCallOpsForTesting().set_timer = [] { return false; };
  PipelineHost host(library_.Entry());
  ASSERT_TRUE(host.Created());
  EXPECT_EQ(host.Load("\\Software\\Kestrel\\Faults2"), 0);
  EXPECT_EQ(host.SetState("1;COM1;Serial port 1", true), 0);
  EXPECT_EQ(host.Send(1, 4, "c", "{\"a\":1}").All("a"), std::vector<Variant>{Variant(1)});
  EXPECT_EQ(host.Command("UNLOAD"), 0);
}

} // namespace
