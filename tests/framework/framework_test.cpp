#include "common/orv_param_lst.h"
#include "framework/call_record.h"
#include "framework/crash_report.h"
#include "framework/instance_registry.h"
#include "framework/unload_callbacks.h"
#include "platform/messages.h"

#include <kestrel/kestrel.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace kestrel {
namespace {

TPluginCallRec NewRecord() {
  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof(rec));
  rec.RecSize = sizeof(rec);
  return rec;
}

TEST(CallRecord, PlainListsBecomeInterfacesAndComeBack) {
  TorvParamsList params;
  params.Add("COMMAND", std::string("X"));
  TorvParamsList data;
  data.Add("d", 1);
  TorvParamsList result;
  TPluginCallRec rec = NewRecord();
  rec.Params = &params;
  rec.DataDesc.Kind = KESTREL_KIND_LIST;
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(&data);
  rec.ResultDesc.Kind = KESTREL_KIND_LIST_UNCHECKED;
  rec.ResultDesc.Payload = reinterpret_cast<uintptr_t>(&result);
  {
    TPluginCallRecIntf copy;
    CallRecordScope scope(&rec, copy);
    EXPECT_EQ(+rec.Params, &copy.params);
    EXPECT_EQ(+rec.CallFlags, 0);
    EXPECT_EQ(ReadParam(&rec, "command"), Variant(std::string("X")));
    EXPECT_TRUE(ReadParam(&rec, "missing").IsEmpty());
    EXPECT_EQ(+rec.DataDesc.Kind, KESTREL_KIND_INTERFACE);
    IorvParamsListA* face = DescriptorInterface(rec.DataDesc);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->lpVtbl->GetCount(face), 1);
    IorvParamsListA* target = DescriptorInterface(rec.ResultDesc);
    ASSERT_NE(target, nullptr);
    VARIANT one;
    VariantInit(&one);
    one.vt = VT_I4;
    one.lVal = 1;
    EXPECT_EQ(target->lpVtbl->Add(target, "r", &one, nullptr), S_OK);
  }
  EXPECT_EQ(+rec.Params, &params);
  EXPECT_EQ(+rec.DataDesc.Kind, KESTREL_KIND_LIST);
  EXPECT_EQ(+rec.DataDesc.Payload, reinterpret_cast<uintptr_t>(&data));
  EXPECT_EQ(+rec.ResultDesc.Kind, KESTREL_KIND_LIST_UNCHECKED);
  EXPECT_EQ(result.Count(), 1);
}

TEST(CallRecord, InterfacesAndUnknownPayloadsAreLeftAlone) {
  TorvParamsList host_list;
  IorvParamsListA* face = nullptr;
  {
    // Any IorvParamsListA serves; here one of the library's own over a list of the test.
    TPluginCallRec setup = NewRecord();
    setup.Params = &host_list;
    TPluginCallRecIntf copy;
    OpenCallRecord(&setup, copy);
    face = copy.params;
    face->lpVtbl->AddRef(face);
    CloseCallRecord(&setup, copy);
  }
  const uint64_t not_a_list[4] = {};
  TPluginCallRec rec = NewRecord();
  rec.Params = &face;
  rec.CallFlags = 0x01;
  rec.DataDesc.Kind = KESTREL_KIND_LIST; // no valid signature: stays as it is
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(not_a_list);
  TPluginCallRecIntf copy;
  OpenCallRecord(&rec, copy);
  EXPECT_EQ(+rec.CallFlags, 0x41);
  EXPECT_EQ(+rec.Params, &face);
  EXPECT_EQ(ParamsInterface(&rec), face);
  EXPECT_EQ(+rec.DataDesc.Kind, KESTREL_KIND_LIST);
  CloseCallRecord(&rec, copy);
  CloseCallRecord(&rec, copy); // closing twice does nothing more
  EXPECT_EQ(+rec.CallFlags, 0x01);
  face->lpVtbl->Release(face);

  rec.Params = reinterpret_cast<void*>(0x20);
  EXPECT_THROW(OpenCallRecord(&rec, copy), std::runtime_error);
  EXPECT_FALSE(copy.opened);
}

// Module classes that fail where a concrete module could.
class ThrowingModule : public TorvPlugin {
public:
  explicit ThrowingModule(TPluginCallRec* rec) : TorvPlugin(rec) {
    throw std::runtime_error("no resources");
  }
};

class TextModule : public TorvPlugin {
public:
  explicit TextModule(TPluginCallRec* rec) : TorvPlugin(rec) {
    Description = "Kestrel \xE9"; // é: two bytes in UTF-8
    ModuleTypes = 0x02;
    Capabilities = 0x0C; // only bits 0..2 are reported
    VersionNumber = 5.0f;
    CustomCommands.AddFromText("RUN|a|b|1|0\r\nshort|line\r\n");
  }
  int32_t Dispatch(const std::string& command, TPluginCallRec*) override {
    if (command == "FAIL")
      throw std::logic_error("broken");
    return 7;
  }
  int32_t RunProcessData(TPluginCallRec*) override {
    ++running;
    while (!release.load())
      std::this_thread::yield();
    --running;
    return 1;
  }
  static inline std::atomic<int> running{0};
  static inline std::atomic<bool> release{false};
};

class ModuleClassScope {
public:
  explicit ModuleClassScope(TorvPluginClass creator) { SetModuleClass(creator); }
  ~ModuleClassScope() { SetModuleClass(nullptr); }
};

TEST(ExportedFunctions, FailedConstructionRegistersNothing) {
  ModuleClassScope scope([](TPluginCallRec* rec) -> std::unique_ptr<TorvPlugin> {
    return std::make_unique<ThrowingModule>(rec);
  });
  const std::size_t before = InstanceRegistry()->Snapshot().size();
  TPluginCallRec rec = NewRecord();
  EXPECT_EQ(CreatePluginInstance(&rec), -1);
  EXPECT_EQ(+rec.Instance, 0u);
  EXPECT_EQ(InstanceRegistry()->Snapshot().size(), before);
}

TEST(ExportedFunctions, ModuleInformationWithTexts) {
  ModuleClassScope scope([](TPluginCallRec* rec) -> std::unique_ptr<TorvPlugin> {
    return std::make_unique<TextModule>(rec);
  });
  TPluginCallRec rec = NewRecord();
  ASSERT_EQ(CreatePluginInstance(&rec), 0);
  const std::string description = "Kestrel \xC3\xA9";
  const std::string commands = "RUN|a|b|1|0\r\n";
  constexpr uint32_t kHeader = sizeof(TPluginModuleInfo);
  const uint32_t total = kHeader + uint32_t(description.size() + commands.size());

  alignas(8) unsigned char buffer[128];
  std::memset(buffer, 0xEE, sizeof(buffer));
  auto* info = reinterpret_cast<TPluginModuleInfo*>(buffer);
  info->BufferSize = kHeader; // room for the header only
  uint32_t needed = 0;
  EXPECT_EQ(GetModuleInfo(&rec, info, &needed), 0);
  EXPECT_EQ(needed, total);
  EXPECT_EQ(+info->ModuleTypes, 0x00040002u);
  EXPECT_EQ(+info->Version, 5.0f);
  EXPECT_EQ(+info->DescriptionLength, 0u);
  EXPECT_EQ(buffer[kHeader], 0xEE);

  info->BufferSize = total;
  ASSERT_EQ(GetModuleInfo(&rec, info, &needed), 1);
  EXPECT_EQ(std::string(info->Description, info->DescriptionLength), description);
  EXPECT_EQ(+info->Description, reinterpret_cast<const char*>(buffer) + kHeader);
  EXPECT_EQ(std::string(info->Commands, info->CommandsLength), commands);
  EXPECT_EQ(FreePluginInstance(&rec), 0);
}

TEST(ExportedFunctions, CommandFailuresAndConcurrentPackets) {
  ModuleClassScope scope([](TPluginCallRec* rec) -> std::unique_ptr<TorvPlugin> {
    return std::make_unique<TextModule>(rec);
  });
  TPluginCallRec rec = NewRecord();
  ASSERT_EQ(CreatePluginInstance(&rec), 0);
  TorvParamsList params;
  params.Add("COMMAND", std::string("RUN"));
  rec.Params = &params;
  EXPECT_EQ(ExecutePluginCommand(&rec), 7);
  StartCrashReporting(); // another test may have run the unload procedures
  const unsigned reported = ReportedFailureCount();
  params.SetValue("COMMAND", std::string("FAIL"), false);
  EXPECT_EQ(ExecutePluginCommand(&rec), -3);
  EXPECT_EQ(ReportedFailureCount(), reported + 1);
  EXPECT_EQ(+rec.Params, &params);

  // A packet running in an instance that is not terminating does not hold up another.
  TextModule::release = false;
  TPluginCallRec first = rec;
  std::thread runner([&] { EXPECT_EQ(ProcessData(&first), 1); });
  while (TextModule::running.load() == 0)
    std::this_thread::yield();
  std::thread second([&] {
    TPluginCallRec other = rec;
    EXPECT_EQ(ProcessData(&other), 1);
  });
  while (TextModule::running.load() < 2)
    std::this_thread::yield();
  TextModule::release = true;
  runner.join();
  second.join();

  // A terminating instance takes no packets.
  std::shared_ptr<TorvPlugin> instance = InstanceRegistry()->Find(rec.Instance);
  ASSERT_TRUE(instance);
  instance->TerminateNow = true;
  EXPECT_EQ(ProcessData(&rec), -1);
  instance.reset();
  EXPECT_EQ(FreePluginInstance(&rec), 0);
}

TEST(ExportedFunctions, WaitForATerminatingInstancePumpsTheCallersMessages) {
  ModuleClassScope scope([](TPluginCallRec* rec) -> std::unique_ptr<TorvPlugin> {
    return std::make_unique<TextModule>(rec);
  });
  TPluginCallRec rec = NewRecord();
  ASSERT_EQ(CreatePluginInstance(&rec), 0);
  TorvParamsList params;
  rec.Params = &params;
  std::shared_ptr<TorvPlugin> instance = InstanceRegistry()->Find(rec.Instance);
  ASSERT_TRUE(instance);
  // The packet that holds the instance up ends when this thread's window gets its message.
  instance->BusyCount = 1;
  instance->TerminateNow = true;
  constexpr platform::UINT kFinish = platform::kWmUser + 1;
  static TorvPlugin* s_busy = nullptr;
  s_busy = instance.get();
  platform::HWND window = platform::CreateMessageWindow(
      [](platform::HWND, platform::UINT message, platform::WPARAM,
         platform::LPARAM) -> platform::LRESULT {
        if (message == kFinish)
          s_busy->BusyCount = 0;
        return 0;
      },
      nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(platform::PostWindowMessage(window, kFinish, 0, 0));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ProcessData(&rec), -1); // terminating: no packet taken, but no 30 s wait either
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(instance->BusyCount.load(), 0);
  platform::DestroyMessageWindow(window);
  instance.reset();
  EXPECT_EQ(FreePluginInstance(&rec), 0);
}

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

TEST(CustomCommands, TextFormRoundTrips) {
  TorvPluginCustomCmdList list;
  list.AddFromText("a|b|c|1|1\r\n\r\nx|y|z|2|0\nno|fields\n");
  ASSERT_EQ(list.Items.size(), 2u);
  EXPECT_FALSE(list.Items[1].Flag1); // only "1" is true
  EXPECT_EQ(list.Text(), "a|b|c|1|1\r\nx|y|z|0|0\r\n");
}

} // namespace
} // namespace kestrel
