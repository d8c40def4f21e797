// The procedures run when the host releases the library.
#include "module_host.h"

#include "framework/crash_report.h"
#include "framework/unload_callbacks.h"

#include <kestrel/kestrel.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace kestrel {
namespace {

using testing::NewRecord;

TEST(UnloadCallbacks, RunOnceInOrderIgnoringFailures) {
  static std::string order;
  order.clear();
  RunUnloadCallbacks(); // whatever library load registered
  RegisterUnloadCallback([] { order += "a"; });
  RegisterUnloadCallback([] { throw std::runtime_error("ignored"); });
  RegisterUnloadCallback([] { order += "b"; });
  TPluginCallRec rec = NewRecord();
  rec.DataDesc.Kind = KESTREL_KIND_RELEASE_ALL;
  rec.DataDesc.Payload = KESTREL_RELEASE_ALL_PAYLOAD;
  EXPECT_EQ(FreePluginInstance(&rec), 0);
  EXPECT_EQ(order, "ab");
  EXPECT_EQ(FreePluginInstance(&rec), 0);
  EXPECT_EQ(order, "ab");
  EXPECT_FALSE(CrashReportingActive()); // its unload procedure ran
  // Once stopped, failures are no longer reported.
  const unsigned reported = ReportedFailureCount();
  try {
    throw std::runtime_error("late");
  } catch (...) {
    ReportCommandFailure("LATE");
  }
  EXPECT_EQ(ReportedFailureCount(), reported);
  StartCrashReporting();
  EXPECT_TRUE(CrashReportingActive());
}

} // namespace
} // namespace kestrel
