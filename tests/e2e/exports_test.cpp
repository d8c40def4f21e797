// The plug-in driven through its exports, loaded at run time as a host loads it.
#include "host_list.h"
#include "plugin_library.h"

#include "common/orv_param_lst.h"
#include "common/variant_convert.h"
#include "platform/messages.h"

#include <kestrel/kestrel.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using kestrel::TorvParamsList;
using kestrel::Variant;

class Exports : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    library_ = new kestrel::testing::PluginLibrary;
    lib_ = library_->Entry();
  }
  static void TearDownTestSuite() {
    if (library_->Loaded()) {
      EXPECT_EQ(library_->ReleaseAll(), 0);
    }
    delete library_;
  }
  void SetUp() override { ASSERT_TRUE(library_->Loaded()) << library_->Error(); }

  static TPluginCallRec NewRecord() { return kestrel::testing::NewRecord(); }
  static uintptr_t CreateInstance() {
    TPluginCallRec rec = NewRecord();
    EXPECT_EQ(lib_.Create(&rec), 0);
    EXPECT_NE(+rec.Instance, 0u);
    return rec.Instance;
  }

  static kestrel::testing::PluginLibrary* library_;
  static kestrel::testing::PluginEntryPoints lib_; // the library's exports
};

kestrel::testing::PluginLibrary* Exports::library_ = nullptr;
kestrel::testing::PluginEntryPoints Exports::lib_;

TEST_F(Exports, HostDrivesAnInstanceWithPlainLists) {
  TorvParamsList params;
  params.Add("TEMPORARY-LOAD", 0);
  TPluginCallRec rec = NewRecord();
  rec.Params = &params;
  ASSERT_EQ(lib_.Create(&rec), 0);
  const uintptr_t instance = rec.Instance;
  EXPECT_EQ(lib_.Create(&rec), -1); // Instance already set: nothing created
  EXPECT_EQ(+rec.Instance, instance);

  // Commands: every reply comes back through "RESULT".
  params.Add("COMMAND", std::string("LOAD"));
  params.Add("RESULT", Variant::Null());
  TorvParamsList results;
  rec.ResultDesc.Kind = KESTREL_KIND_LIST;
  rec.ResultDesc.Payload = reinterpret_cast<uintptr_t>(&results);
  EXPECT_EQ(lib_.Execute(&rec), KESTREL_RESULT_OK);
  // The record is as the host gave it.
  EXPECT_EQ(+rec.Params, &params);
  EXPECT_EQ(+rec.CallFlags, 0);
  EXPECT_EQ(+rec.ResultDesc.Kind, KESTREL_KIND_LIST);
  EXPECT_EQ(+rec.ResultDesc.Payload, reinterpret_cast<uintptr_t>(&results));

  TPluginCallRec bad = rec;
  bad.RecSize = sizeof(TPluginCallRec) - 1;
  EXPECT_EQ(lib_.Execute(&bad), -1);
  bad = rec;
  bad.Params = nullptr;
  EXPECT_EQ(lib_.Execute(&bad), -1);
  TorvParamsList no_command;
  no_command.Add("RESULT", 0);
  bad.Params = &no_command;
  EXPECT_EQ(lib_.Execute(&bad), -1);
  no_command.Add("COMMAND", Variant::Null());
  EXPECT_EQ(lib_.Execute(&bad), -1);

  // A packet for a data source the module does not serve: ignored; nothing was delivered, so
  // the host gets no block back (its own buffer stays its own).
  char packet[] = "{\"a\":1}";
  rec.DataFlags = KESTREL_DATA_PACKET;
  rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
  rec.DataDesc.Size = sizeof(packet) - 1;
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(packet);
  EXPECT_EQ(lib_.Process(&rec), KESTREL_RESULT_OK);
  EXPECT_EQ(+rec.DataDesc.Payload, 0u);
  EXPECT_EQ(results.Count(), 0);

  EXPECT_EQ(lib_.Log(&rec), 0);
  EXPECT_EQ(+rec.ResultDesc.Kind, KESTREL_KIND_INTEGER);
  lib_.GetDialog(&rec); // no buffer: the package's size comes back
  EXPECT_EQ(+rec.ResultDesc.Payload, 3u);
  EXPECT_GT(+rec.ResultDesc.Size, 24u);
  lib_.ShowDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Size, 4u);
  EXPECT_EQ(+rec.ResultDesc.Payload, 1u); // the module accepts the dialog's result

  EXPECT_EQ(lib_.Free(&rec), 0);
  EXPECT_EQ(+rec.Instance, instance); // not cleared
  EXPECT_EQ(lib_.Free(&rec), -1);
}

TEST_F(Exports, HostImplementedParameterInterface) {
  IorvParamsListA* params = host_list_create();
  const int live = host_list_live_count();
  TPluginCallRec rec = NewRecord();
  rec.Params = &params;
  ASSERT_EQ(lib_.Create(&rec), 0);

  EXPECT_EQ(lib_.Execute(&rec), -1); // no COMMAND yet
  host_list_add_text(params, "command", "ITEMS");
  host_list_add_int(params, "RESULT", 0);
  rec.CallFlags = 0x81;
  EXPECT_EQ(lib_.Execute(&rec), KESTREL_RESULT_OK);
  // The (empty) items text went into the host's own RESULT item.
  VARIANT items;
  VariantInit(&items);
  ASSERT_EQ(params->lpVtbl->GetValue(params, "RESULT", 0, -1, &items), S_OK);
  EXPECT_EQ(items.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(items.bstrVal), 0u);
  VariantClear(&items);
  EXPECT_EQ(+rec.CallFlags, 0x81); // the interface bit is gone again
  EXPECT_EQ(+rec.Params, &params);

  // A variable holding no interface is a missing COMMAND, not a crash.
  IorvParamsListA* none = nullptr;
  rec.Params = &none;
  EXPECT_EQ(lib_.Execute(&rec), -1);

  rec.Params = &params;
  EXPECT_EQ(lib_.Free(&rec), 0);
  EXPECT_EQ(host_list_live_count(), live); // the library took no reference it kept
  params->lpVtbl->Release(params);
  EXPECT_EQ(host_list_live_count(), live - 1);
}

TEST_F(Exports, ModuleInformation) {
  TPluginCallRec rec = NewRecord();
  rec.Instance = CreateInstance();
  constexpr uint32_t kHeader = sizeof(TPluginModuleInfo);

  alignas(8) unsigned char buffer[256];
  std::memset(buffer, 0xEE, sizeof(buffer));
  auto* info = reinterpret_cast<TPluginModuleInfo*>(buffer);
  info->BufferSize = kHeader - 1;
  uint32_t needed = 12345;
  EXPECT_EQ(lib_.ModuleInfo(&rec, info, &needed), 0);
  const uint32_t full = needed;
  EXPECT_GT(full, kHeader);                  // the header and the module's texts
  EXPECT_EQ(buffer[sizeof(uint32_t)], 0xEE); // nothing written

  info->BufferSize = sizeof(buffer);
  ASSERT_EQ(lib_.ModuleInfo(&rec, info, &needed), 1);
  EXPECT_EQ(+info->BufferSize, sizeof(buffer));
  EXPECT_EQ(+info->InterfaceVersion, 4u);
  EXPECT_EQ(+info->Version, 5.0f);
  EXPECT_EQ(+info->ModuleByte, 1);
  ASSERT_EQ(+info->DescriptionLength, 7u);
  EXPECT_EQ(std::string(info->Description, 7), "Kestrel");
  EXPECT_EQ(lib_.ModuleInfo(&rec, nullptr, &needed), 0);
  EXPECT_EQ(needed, full);
  EXPECT_EQ(lib_.ModuleInfo(&rec, info, nullptr), 1);

  EXPECT_EQ(lib_.Free(&rec), 0);
  EXPECT_EQ(lib_.ModuleInfo(&rec, info, &needed), 0);
  EXPECT_EQ(needed, 0u);
}

TEST_F(Exports, StaleOrGarbageInstancesFindNothing) {
  const uintptr_t live = CreateInstance();
  TPluginCallRec freed = NewRecord();
  freed.Instance = CreateInstance();
  ASSERT_EQ(lib_.Free(&freed), 0);
  int on_stack = 0;
  const uintptr_t handles[] = {
      freed.Instance, 1, 0xDEADBEEF, live + 8, reinterpret_cast<uintptr_t>(&on_stack),
      ~uintptr_t{0}};
  TorvParamsList params;
  params.Add("COMMAND", std::string("LOAD"));
  for (uintptr_t handle : handles) {
    TPluginCallRec rec = NewRecord();
    rec.Instance = handle;
    rec.Params = &params;
    EXPECT_EQ(lib_.Execute(&rec), -1);
    EXPECT_EQ(lib_.Process(&rec), -1);
    uint32_t needed = 1;
    EXPECT_EQ(lib_.ModuleInfo(&rec, nullptr, &needed), 0);
    EXPECT_EQ(lib_.Log(&rec), 0);
    lib_.GetDialog(&rec);
    EXPECT_EQ(+rec.ResultDesc.Payload, 1u);
    lib_.ShowDialog(&rec);
    EXPECT_EQ(+rec.ResultDesc.Payload, uintptr_t{KESTREL_DIALOG_NO_INSTANCE});
    EXPECT_EQ(lib_.Free(&rec), -1);
  }
  EXPECT_EQ(lib_.Execute(nullptr), -1);
  EXPECT_EQ(lib_.Create(nullptr), -1);
  EXPECT_EQ(lib_.Free(nullptr), -1);
  lib_.ShowDialog(nullptr);

  // Unreadable parameters: a failure of the call, not of the host.
  TPluginCallRec rec = NewRecord();
  rec.Instance = live;
  rec.Params = reinterpret_cast<void*>(0x10);
  EXPECT_EQ(lib_.Execute(&rec), KESTREL_RESULT_FAILED);
  EXPECT_EQ(+rec.Params, reinterpret_cast<void*>(0x10));
  EXPECT_EQ(lib_.Free(&rec), 0);
}

// A host's message window on the test thread: counts the log notifications it receives.
struct LogWindow {
  static kestrel::platform::LRESULT Proc(kestrel::platform::HWND window, unsigned message,
                                         kestrel::platform::WPARAM wparam,
                                         kestrel::platform::LPARAM) {
    auto* self = static_cast<LogWindow*>(kestrel::platform::WindowUserData(window));
    if (self && message == KESTREL_MSG_LOG_CHANGED) {
      ++self->notifications;
      self->last_index = wparam;
    }
    return 0;
  }
  LogWindow() : handle(kestrel::platform::CreateMessageWindow(&Proc, this)) {}
  ~LogWindow() { kestrel::platform::DestroyMessageWindow(handle); }
  void Pump() {
    kestrel::platform::Message message;
    while (kestrel::platform::PeekWindowMessage(&message, nullptr, kestrel::platform::kPmRemove))
      kestrel::platform::DispatchWindowMessage(&message);
  }
  kestrel::platform::HWND handle;
  int notifications = 0;
  uintptr_t last_index = 0;
};

TEST_F(Exports, HostWindowIsToldAboutLogLinesAndCollectsThem) {
  LogWindow window;
  TPluginCallRec rec = NewRecord();
  rec.Instance = CreateInstance();
  rec.ModuleIndex = 9;
  auto command = [&](const char* name, std::vector<std::pair<const char*, Variant>> extra) {
    TorvParamsList params;
    params.Add("COMMAND", std::string(name));
    params.Add("RESULT", Variant::Null());
    for (const auto& [key, value] : extra)
      params.Add(key, value);
    TPluginCallRec call = rec;
    call.Params = &params;
    EXPECT_EQ(lib_.Execute(&call), 0) << name;
    return params.GetValue("RESULT");
  };
  const auto handle = static_cast<int64_t>(reinterpret_cast<uintptr_t>(window.handle));
  command("LOAD", {{"MSG-PROC-HANDLE", Variant(handle)}});
  command("LOAD", {});
  EXPECT_EQ(command("GET-MODULE-PARAMETER", {{"PARAM", Variant("ModuleLoadCount")}}), Variant(2));
  command("SET-MODULE-PARAMETER", {{"PARAM", Variant("LogTitle")}, {"VALUE", Variant("Kestrel")}});
  const std::string version = kestrel::VariantToAnsi(
      command("GET-MODULE-PARAMETER", {{"PARAM", Variant("DisplayFullVersion")}}));
  EXPECT_EQ(version.rfind(KESTREL_PROJECT_VERSION ".", 0), 0u) << version;

  // Write requests without data: each logs the same warning.
  TorvParamsList params;
  params.Add("X", 0);
  TPluginCallRec packet = rec;
  packet.Params = &params;
  for (int i = 0; i < 3; ++i) {
    packet.DataFlags = KESTREL_DATA_WRITE;
    EXPECT_EQ(lib_.Process(&packet), 0);
  }
  window.Pump();
  EXPECT_EQ(window.notifications, 3);
  EXPECT_EQ(window.last_index, 9u);

  const std::string expected = "\x02Kestrel. No data for processing x3\r\n";
  char buffer[256];
  TPluginCallRec log = rec;
  log.DataDesc.Size = 10;
  log.DataDesc.Payload = reinterpret_cast<uintptr_t>(buffer);
  EXPECT_EQ(lib_.Log(&log), 0);
  EXPECT_EQ(+log.ResultDesc.Payload, expected.size());
  log.DataDesc.Size = sizeof(buffer);
  ASSERT_EQ(lib_.Log(&log), static_cast<int32_t>(expected.size()));
  EXPECT_EQ(std::string(buffer, expected.size()), expected);
  EXPECT_EQ(lib_.Log(&log), 0);

  command("UNLOAD", {});
  command("UNLOAD", {});
  EXPECT_EQ(command("GET-MODULE-PARAMETER", {{"PARAM", Variant("TerminateNow")}}), Variant(true));
  EXPECT_EQ(lib_.Process(&packet), -1); // terminating: no more packets
  EXPECT_EQ(lib_.Free(&rec), 0);
}

TEST_F(Exports, ReleaseAllNeedsNoInstance) {
  TPluginCallRec rec = NewRecord();
  rec.DataDesc.Kind = KESTREL_KIND_RELEASE_ALL;
  rec.DataDesc.Payload = KESTREL_RELEASE_ALL_PAYLOAD;
  EXPECT_EQ(lib_.Free(&rec), 0);
  EXPECT_EQ(lib_.Free(&rec), 0); // the list is gone: nothing to run, still done
  rec.DataDesc.Payload = 0xFF02;
  EXPECT_EQ(lib_.Free(&rec), -1);
}

TEST_F(Exports, InstancesComeAndGoOnManyThreads) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  std::atomic<int> started{0}; // all threads begin together, however late each one got going
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      ++started;
      while (started.load() < 4)
        std::this_thread::yield();
      for (int i = 0; i < 100; ++i) {
        TPluginCallRec rec = NewRecord();
        if (lib_.Create(&rec) != 0)
          ++failures;
        uint32_t needed = 0;
        if (lib_.ModuleInfo(&rec, nullptr, &needed) != 0 || needed == 0)
          ++failures;
        // Handles are the instances' addresses: once freed, another thread's new instance may
        // get the same one, so a second Free is not checked here (it is alone, above).
        if (lib_.Free(&rec) != 0)
          ++failures;
      }
    });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(failures.load(), 0);
}

} // namespace
