// The exports driven directly, with module classes of the test's own.
#include "module_host.h"

#include "framework/crash_report.h"
#include "framework/instance_registry.h"
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

using testing::ModuleHost;
using testing::NewRecord;

std::unique_ptr<TorvPlugin> CreatePlain(TPluginCallRec* rec) {
  return CreateModule<TorvPlugin>(rec);
}

TEST(ShowOptionsDialog, TakesTheHostParametersAndMarksTheModuleForTheHandlerOnly) {
  ModuleHost host(&CreatePlain);
  TorvPlugin& module = host.Module();
  ASSERT_EQ(host.Command("LOAD", {{"INI-FILE", Variant("old.ini")}}), 0);

  struct Seen {
    bool in_dialog = false;
    uint8_t flags = 0;
    IorvParamsListA* list = nullptr;
    std::string ini;
    uintptr_t owner = 0;
  } seen;
  module.OnShowOptionsDialog = [&](TorvPlugin& sender, TPluginCallRec* rec, bool& handled) {
    EXPECT_EQ(+rec->ResultDesc.Payload, uintptr_t{KESTREL_DIALOG_RUNNING});
    seen = {sender.InOptionsDialog.load(), sender.DialogDataFlags.load(), sender.DialogList.load(),
            sender.INIFile, sender.OwnerForm};
    handled = false;
  };
  TorvParamsList params;
  params.Add("INI-FILE", Variant("new.ini"));
  params.Add("OWNER-FORM", Variant(int64_t{0x1234}));
  TorvParamsList data;
  TPluginCallRec rec = host.Record();
  rec.Params = &params;
  rec.DataFlags = 0x21;
  rec.DataDesc.Kind = KESTREL_KIND_LIST;
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(&data);
  ShowOptionsDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Payload, 0u); // not handled
  EXPECT_EQ(+rec.ResultDesc.Size, 4u);
  EXPECT_TRUE(seen.in_dialog);
  EXPECT_EQ(seen.flags, 0x21);
  EXPECT_NE(seen.list, nullptr);
  EXPECT_EQ(seen.ini, "new.ini");
  EXPECT_EQ(seen.owner, 0x1234u);
  // All of it ends with the call; the record is the host's again.
  EXPECT_FALSE(module.InOptionsDialog.load());
  EXPECT_EQ(module.DialogDataFlags.load(), 0);
  EXPECT_EQ(module.DialogList.load(), nullptr);
  EXPECT_EQ(+rec.DataDesc.Kind, KESTREL_KIND_LIST);

  // Without "INI-FILE" the module goes back to the registry; the owner form stays.
  TorvParamsList empty;
  rec.Params = &empty;
  ShowOptionsDialog(&rec);
  EXPECT_EQ(module.INIFile, "");
  EXPECT_EQ(module.OwnerForm, 0x1234u);
}

TEST(ShowOptionsDialog, AFailingHandlerOrRecordIsLoggedAndReportedAsNotHandled) {
  ModuleHost host(&CreatePlain);
  TorvPlugin& module = host.Module();
  TPluginCallRec rec = host.Record();
  ShowOptionsDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Payload, uintptr_t{KESTREL_DIALOG_NO_HANDLER});

  module.OnShowOptionsDialog = [](TorvPlugin&, TPluginCallRec*, bool& handled) {
    handled = true;
    throw std::runtime_error("dialog broke");
  };
  ShowOptionsDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Payload, 0u);
  EXPECT_EQ(host.CollectLog(), "\x01"
                               "dialog broke {SHOWOPTIONS}\r\n");
  EXPECT_FALSE(module.InOptionsDialog.load());

  // A parameter list that cannot be read: the live instance reports a failure, not "none".
  module.OnShowOptionsDialog = [](TorvPlugin&, TPluginCallRec*, bool& handled) { handled = true; };
  rec.Params = reinterpret_cast<void*>(0x10);
  ShowOptionsDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Payload, 0u);
  EXPECT_EQ(host.CollectLog().rfind("\x01{SHOWOPTIONS} ", 0), 0u);
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
  int32_t DispatchPacket(TPluginCallRec*) override {
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
} // namespace
} // namespace kestrel
