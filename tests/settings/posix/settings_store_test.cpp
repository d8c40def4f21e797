// The store on POSIX: HKEY_LOCAL_MACHINE is read-only there, as for a user without
// administrator rights; processes sharing one INI file lose no entry, and a process killed
// while saving leaves a whole file behind.
#include "settings/big_ini_file.h"
#include "settings/settings_store.h"

#include "common/variant_convert.h"
#include "helper_process.h"
#include "platform/posix/registry_file_ops.h"
#include "settings_scratch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <tuple>

namespace {

using kestrel::settings::ISettingsTarget;
using kestrel::settings::TRegistryRoot;
using kestrel::settings::TSettingKind;
using kestrel::settings::TSettingsStore;
using kestrel::testing::RunHelper;
using kestrel::testing::ShellQuote;

constexpr int kSavesPerProcess = 40;
const std::string kLongValue(4000, 'v');

class OneText : public ISettingsTarget {
public:
  explicit OneText(std::string value) : text_(std::move(value)) {}
  TSettingKind PropertyKind(std::string_view) const override { return TSettingKind::Text; }
  kestrel::Variant GetProperty(std::string_view) const override { return kestrel::Variant(text_); }
  void SetProperty(std::string_view, const kestrel::Variant& value) override {
    text_ = kestrel::VariantToAnsi(value);
  }
  const std::string& Text() const { return text_; }
  std::vector<std::string> GetStrings(std::string_view) const override { return {}; }
  void SetStrings(std::string_view, std::vector<std::string>) override {}

private:
  std::string text_;
};

// Saves one entry of its own per round into the shared file ("save-<id>"), or saves big
// entries until it is killed ("save-forever").
int RunSaverRole(const std::string& role) {
  const char* file = std::getenv("KESTREL_TEST_INI");
  if (!file)
    return 2;
  const bool forever = role == "save-forever";
  const std::string id = forever ? "big" : role.substr(5);
  OneText target(forever ? kLongValue : id);
  for (int round = 0; forever || round < kSavesPerProcess; ++round) {
    TSettingsStore store;
    store.INIFile = file;
    store.Components = {"Title," + id + "_" + std::to_string(round % 50)};
    if (!store.SaveValues(target))
      return 3;
  }
  return 0;
}

[[maybe_unused]] const bool kHelperDone = [] {
  const char* role = kestrel::testing::HelperRole();
  if (role && std::string_view(role).starts_with("save-"))
    std::exit(RunSaverRole(role));
  return true;
}();

TEST(SettingsStoreRoots, DeniedLocalMachineFallsBackToCurrentUser) {
  unsetenv("KESTREL_HKLM_WRITABLE");
  kestrel::testing::ScratchRegistryKey key;
  TSettingsStore store;
  store.RegistryPath = key.Path();
  store.Components = {"Title,Title"};
  OneText target("value");
  ASSERT_TRUE(store.SaveValues(target));
  EXPECT_EQ(store.RootInUse(), TRegistryRoot::rrHKEY_CURRENT_USER);
  OneText loaded("");
  ASSERT_TRUE(store.LoadValues(loaded));
  EXPECT_EQ(loaded.Text(), "value");
  EXPECT_EQ(store.RootInUse(), TRegistryRoot::rrHKEY_CURRENT_USER);
}

int g_renames = 0;
bool CountedRename(const char* from, const char* to) {
  ++g_renames;
  return std::rename(from, to) == 0;
}

TEST(SettingsStoreRoots, ASaveRewritesTheRegistryFileOnce) {
  kestrel::testing::ScratchRegistryKey key;
  TSettingsStore store;
  store.RegistryPath = key.Path();
  for (int i = 0; i < 30; ++i)
    store.Components.push_back("Title,Sub" + std::to_string(i % 3) + "\\Value" + std::to_string(i));
  kestrel::platform::RegistryFileOpsForTesting().rename = CountedRename;
  const auto renames_of_save = [&](const std::string& text) {
    OneText target(text);
    g_renames = 0;
    EXPECT_TRUE(store.SaveValues(target));
    return g_renames;
  };
  EXPECT_EQ(renames_of_save("first"), 2); // the settings key made, then every value
  EXPECT_EQ(renames_of_save("first"), 0); // nothing changed
  EXPECT_EQ(renames_of_save("second"), 1);
  kestrel::platform::RestoreRegistryFileOps();
  OneText loaded("");
  ASSERT_TRUE(store.LoadValues(loaded));
  EXPECT_EQ(loaded.Text(), "second");
}

TEST(SettingsStoreFailures, AFifoIsRefusedAtOnce) {
  kestrel::testing::ScratchFolder folder;
  const std::string fifo = folder.File("fifo.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto run = std::async(std::launch::async, [&] {
    TSettingsStore store;
    store.INIFile = fifo;
    store.Components = {"Title,Title"};
    OneText target("value");
    const bool saved = store.SaveValues(target);
    const std::string save_failure = store.Failure();
    store.LoadValues(target);
    return std::make_tuple(saved, save_failure, store.Failure(), target.Text());
  });
  if (run.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)); // let the blocked reader go
    FAIL() << "saving into a FIFO waited for a writer";
  }
  const auto [saved, save_failure, load_failure, text] = run.get();
  EXPECT_FALSE(saved);
  EXPECT_NE(save_failure.find(fifo + " is not a regular file"), std::string::npos) << save_failure;
  EXPECT_EQ(load_failure, save_failure);
  EXPECT_EQ(text, "value");
}

TEST(SettingsStoreFailures, AReadOnlyFileAndAForeignRegistryFileAreKept) {
  kestrel::testing::ScratchFolder folder;
  const std::string file = folder.File("locked.ini");
  kestrel::testing::WriteText(file, "[Common]\r\nTitle=old\r\n");
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  TSettingsStore store;
  store.INIFile = file;
  store.Components = {"Title,Title"};
  OneText target("new");
  store.SaveValues(target);
  EXPECT_NE(store.Failure().find("read-only"), std::string::npos) << store.Failure();
  EXPECT_EQ(kestrel::testing::ReadText(file), "[Common]\r\nTitle=old\r\n");

  // A registry file in a form the store does not write: saving fails and says so.
  const std::string own = std::getenv("KESTREL_REGISTRY");
  setenv("KESTREL_REGISTRY", folder.File("registry").c_str(), 1);
  std::filesystem::create_directories(folder.File("registry"));
  kestrel::testing::WriteText(folder.File("registry/HKEY_CURRENT_USER.reg"), "[settings]\n");
  TSettingsStore registry;
  registry.RegistryPath = "\\Software\\Kestrel\\Foreign";
  registry.Components = {"Title,Title"};
  EXPECT_FALSE(registry.SaveValues(target));
  setenv("KESTREL_REGISTRY", own.c_str(), 1);
  EXPECT_NE(registry.Failure().find("\\Software\\Kestrel\\Foreign"), std::string::npos)
      << registry.Failure();
  EXPECT_NE(registry.Failure().find("HKEY_CURRENT_USER: the registry data is in a form"),
            std::string::npos)
      << registry.Failure();
}

TEST(SettingsStoreProcesses, ConcurrentSavesLoseNoEntry) {
  kestrel::testing::ScratchFolder folder;
  const std::string file = folder.File("shared.ini");
  const std::string env = "KESTREL_TEST_INI=" + ShellQuote(file);
  int first = -1;
  int second = -1;
  std::thread a([&] { first = RunHelper("save-a", env); });
  std::thread b([&] { second = RunHelper("save-b", env); });
  a.join();
  b.join();
  ASSERT_EQ(first, 0);
  ASSERT_EQ(second, 0);
  kestrel::settings::TBigIniFile ini(file);
  for (const char* id : {"a", "b"})
    for (int round = 0; round < kSavesPerProcess; ++round) {
      std::string value;
      EXPECT_TRUE(ini.ReadString("Common", std::string(id) + "_" + std::to_string(round), &value))
          << id << round;
      EXPECT_EQ(value, id);
    }
}

TEST(SettingsStoreProcesses, KilledSaverLeavesAWholeFile) {
  kestrel::testing::ScratchFolder folder;
  const std::string file = folder.File("killed.ini");
  // A loaded machine or a sanitizer may start the helper late: it gets longer until it was
  // killed after its first save.
  std::string text;
  for (double seconds = 1.5; text.empty() && seconds <= 12; seconds *= 2) {
    EXPECT_EQ(RunHelper("save-forever", "KESTREL_TEST_INI=" + ShellQuote(file), seconds), 137);
    text = kestrel::testing::ReadText(file);
  }
  ASSERT_FALSE(text.empty());
  EXPECT_TRUE(text.ends_with("\r\n\r\n"));
  kestrel::settings::TBigIniFile ini(file);
  std::string value;
  ASSERT_TRUE(ini.ReadString("Common", "big_0", &value));
  EXPECT_EQ(value, kLongValue);
  for (int round = 1;
       round < 50 && ini.ReadString("Common", "big_" + std::to_string(round), &value); ++round)
    EXPECT_EQ(value, kLongValue) << round;
}

} // namespace
