#include "platform/registry.h"

#include "helper_process.h"
#include "platform/posix/registry_file_ops.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using namespace kestrel::platform;
using kestrel::testing::RunHelper;
using kestrel::testing::ShellQuote;
namespace fs = std::filesystem;

constexpr std::string_view kKeyPath = "\\Software\\Kestrel\\Test";

RegistryValue Double(double d) {
  return RegistryValue::Binary(&d, sizeof d);
}

// The values every round trip checks: each type, quotes, backslashes, non-ASCII text, a line
// break (which the file cannot hold inside quotes), empty data and the default value.
const std::vector<std::pair<std::string, RegistryValue>>& SampleValues() {
  static const std::vector<std::pair<std::string, RegistryValue>> values = {
      {"Text", RegistryValue::String("h\xC3\xA9llo \"quoted\" C:\\path\\")},
      {"Lines", RegistryValue::String("first\r\nsecond\tTab")},
      {"Empty", RegistryValue::String("")},
      {"Count", RegistryValue::Dword(0xDEADBEEF)},
      {"Ratio", Double(0.1)},
      {"Big", RegistryValue::Binary(std::string(100, '\x5A').data(), 100)},
      {"", RegistryValue::String("the default")},
  };
  return values;
}

int CheckSampleValues() {
  RegKey key = nullptr;
  if (RegistryOpenKey(RegistryRoot::CurrentUser, kKeyPath, RegistryAccess::Read, &key) !=
      kErrorSuccess)
    return 10;
  int failures = 0;
  for (const auto& [name, expected] : SampleValues()) {
    RegistryValue got;
    failures += RegistryQueryValue(key, name, &got) != kErrorSuccess || !(got == expected);
  }
  RegistryCloseKey(key);
  return failures;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Roles of the helper process.
int RunRegistryRole(std::string_view role) {
  if (role == "registry-check-and-add") {
    // Sees what the parent wrote, then adds a value the parent must see.
    int failures = CheckSampleValues();
    RegKey key = nullptr;
    failures += RegistryCreateKey(RegistryRoot::CurrentUser, kKeyPath, &key) != kErrorSuccess;
    failures += RegistrySetValue(key, "FromChild", RegistryValue::Dword(7)) != kErrorSuccess;
    RegistryCloseKey(key);
    return failures;
  }
  if (role == "registry-save-forever") {
    // Saves large values over and over until it is killed.
    RegKey key = nullptr;
    if (RegistryCreateKey(RegistryRoot::CurrentUser, kKeyPath, &key) != kErrorSuccess)
      return 1;
    for (uint32_t round = 1;; ++round) {
      const std::string blob(64 * 1024, static_cast<char>(round & 0xFF));
      RegistrySetValue(key, "Blob", RegistryValue::Binary(blob.data(), blob.size()));
      RegistrySetValue(key, "Round", RegistryValue::Dword(round));
    }
  }
  return 99;
}

[[maybe_unused]] const bool kHelperDone = [] {
  const char* role = kestrel::testing::HelperRole();
  if (role && std::string_view(role).starts_with("registry-"))
    std::exit(RunRegistryRole(role));
  return true;
}();

// Each test gets its own store folder; HKLM is read-only unless a test says otherwise.
class Registry : public ::testing::Test {
protected:
  void SetUp() override {
    folder_ = kestrel::testing::MakeTempFolder("registry");
    setenv("KESTREL_REGISTRY", folder_.c_str(), 1);
    unsetenv("KESTREL_HKLM_WRITABLE");
  }
  void TearDown() override {
    RestoreRegistryFileOps();
    unsetenv("KESTREL_REGISTRY");
    unsetenv("KESTREL_HKLM_WRITABLE");
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  fs::path UserFile() const { return fs::path(folder_) / "HKEY_CURRENT_USER.reg"; }
  std::string Env() const { return "KESTREL_REGISTRY=" + ShellQuote(folder_); }

  RegKey Create(std::string_view path, RegistryRoot root = RegistryRoot::CurrentUser) {
    RegKey key = nullptr;
    EXPECT_EQ(RegistryCreateKey(root, path, &key), kErrorSuccess);
    return key;
  }

  std::string folder_;
};

TEST_F(Registry, ValuesOfEveryTypeSurviveAndAreSeenByAnotherProcess) {
  RegKey key = Create(kKeyPath);
  ASSERT_NE(key, nullptr);
  for (const auto& [name, value] : SampleValues())
    ASSERT_EQ(RegistrySetValue(key, name, value), kErrorSuccess) << name;
  RegistryCloseKey(key);
  EXPECT_EQ(CheckSampleValues(), 0);

  const std::string text = ReadFile(UserFile());
  EXPECT_TRUE(text.starts_with("Windows Registry Editor Version 5.00\r\n")) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Kestrel\\Test]"), std::string::npos);
  EXPECT_NE(text.find("\"Count\"=dword:deadbeef"), std::string::npos) << text;

  EXPECT_EQ(RunHelper("registry-check-and-add", Env()), 0);

  // The parent notices the file changed under it.
  ASSERT_EQ(RegistryOpenKey(RegistryRoot::CurrentUser, "software\\KESTREL\\test",
                            RegistryAccess::Read, &key),
            kErrorSuccess);
  RegistryValue got;
  ASSERT_EQ(RegistryQueryValue(key, "fromchild", &got), kErrorSuccess);
  EXPECT_EQ(got.AsDword(), 7u);
  EXPECT_EQ(RegistryQueryValue(key, "Missing", &got), kErrorFileNotFound);
  RegistryCloseKey(key);
}

TEST_F(Registry, LocalMachineIsReadOnlyUnlessAllowed) {
  RegKey key = nullptr;
  EXPECT_EQ(RegistryCreateKey(RegistryRoot::LocalMachine, kKeyPath, &key), kErrorAccessDenied);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegistryOpenKey(RegistryRoot::LocalMachine, "", RegistryAccess::ReadWrite, &key),
            kErrorAccessDenied);
  EXPECT_EQ(RegistryDeleteKey(RegistryRoot::LocalMachine, kKeyPath), kErrorAccessDenied);
  EXPECT_FALSE(fs::exists(fs::path(folder_) / "HKEY_LOCAL_MACHINE.reg"));

  // The fallback a save takes: the user's root works.
  key = Create(kKeyPath);
  EXPECT_EQ(RegistrySetValue(key, "Saved", RegistryValue::Dword(1)), kErrorSuccess);
  RegistryCloseKey(key);

  setenv("KESTREL_HKLM_WRITABLE", "1", 1);
  key = Create(kKeyPath, RegistryRoot::LocalMachine);
  EXPECT_EQ(RegistrySetValue(key, "Machine", RegistryValue::String("yes")), kErrorSuccess);
  RegistryCloseKey(key);
  unsetenv("KESTREL_HKLM_WRITABLE");

  // Readable, but a key opened for reading refuses writes.
  ASSERT_EQ(RegistryOpenKey(RegistryRoot::LocalMachine, kKeyPath, RegistryAccess::Read, &key),
            kErrorSuccess);
  RegistryValue got;
  EXPECT_EQ(RegistryQueryValue(key, "Machine", &got), kErrorSuccess);
  EXPECT_EQ(got, RegistryValue::String("yes"));
  EXPECT_EQ(RegistrySetValue(key, "Machine", RegistryValue::String("no")), kErrorAccessDenied);
  RegistryCloseKey(key);

  EXPECT_EQ(RegistryOpenKey(RegistryRoot::Users, "", RegistryAccess::Read, &key),
            kErrorInvalidHandle);
}

TEST_F(Registry, FileStaysIntactWhenAProcessIsKilledWhileSaving) {
  // A loaded machine or a sanitizer may start the helper late: it gets longer until it was
  // killed after a whole round (the key alone is saved before the first value is).
  const auto round_saved = [] {
    RegKey probe = nullptr;
    if (RegistryOpenKey(RegistryRoot::CurrentUser, kKeyPath, RegistryAccess::Read, &probe) !=
        kErrorSuccess)
      return false;
    RegistryValue value;
    const bool saved = RegistryQueryValue(probe, "Round", &value) == kErrorSuccess;
    RegistryCloseKey(probe);
    return saved;
  };
  bool saved = false;
  for (double seconds = 0.5; !saved && seconds <= 8; seconds *= 2) {
    EXPECT_EQ(RunHelper("registry-save-forever", Env(), seconds), 137);
    saved = round_saved();
  }
  ASSERT_TRUE(saved) << "the helper saved no whole round in 15.5 s of running";
  RegKey key = nullptr;
  ASSERT_EQ(RegistryOpenKey(RegistryRoot::CurrentUser, kKeyPath, RegistryAccess::Read, &key),
            kErrorSuccess);
  RegistryValue round, blob;
  ASSERT_EQ(RegistryQueryValue(key, "Round", &round), kErrorSuccess);
  ASSERT_EQ(RegistryQueryValue(key, "Blob", &blob), kErrorSuccess);
  RegistryCloseKey(key);
  EXPECT_GE(round.AsDword(), 1u);
  ASSERT_EQ(blob.type, kRegBinary);
  ASSERT_EQ(blob.data.size(), 64u * 1024);
  // One whole save: every byte comes from the same round, the one before or of "Round".
  EXPECT_EQ(blob.data.find_first_not_of(blob.data[0]), std::string::npos);
  const auto blob_round = static_cast<uint8_t>(blob.data[0]);
  const auto last_round = static_cast<uint8_t>(round.AsDword());
  EXPECT_TRUE(blob_round == last_round || blob_round == static_cast<uint8_t>(last_round + 1));

  // The store goes on working after the crash.
  key = Create(kKeyPath);
  EXPECT_EQ(RegistrySetValue(key, "After", RegistryValue::Dword(1)), kErrorSuccess);
  RegistryCloseKey(key);
  EXPECT_TRUE(ReadFile(UserFile()).starts_with("Windows Registry Editor Version 5.00"));
}

bool FailingRename(const char*, const char*) {
  return false;
}
bool FailingWrite(int, const void*, std::size_t) {
  return false;
}

TEST_F(Registry, FailedSaveKeepsTheOldFileAndState) {
  RegKey key = Create(kKeyPath);
  ASSERT_EQ(RegistrySetValue(key, "Value", RegistryValue::Dword(1)), kErrorSuccess);
  const std::string before = ReadFile(UserFile());

  for (auto fail : {0, 1}) {
    RestoreRegistryFileOps();
    if (fail == 0)
      RegistryFileOpsForTesting().rename = FailingRename;
    else
      RegistryFileOpsForTesting().write_all = FailingWrite;
    EXPECT_EQ(RegistrySetValue(key, "Value", RegistryValue::Dword(2)), kErrorWriteFault);
    EXPECT_EQ(RegistrySetValue(key, "Other", RegistryValue::Dword(3)), kErrorWriteFault);
    RegistryValue got;
    ASSERT_EQ(RegistryQueryValue(key, "Value", &got), kErrorSuccess);
    EXPECT_EQ(got.AsDword(), 1u) << "a failed save must not show up in later reads";
    EXPECT_EQ(RegistryQueryValue(key, "Other", &got), kErrorFileNotFound);
    EXPECT_EQ(ReadFile(UserFile()), before);
    EXPECT_FALSE(fs::exists(UserFile().string() + ".tmp"));
  }
  RestoreRegistryFileOps();
  EXPECT_EQ(RegistrySetValue(key, "Value", RegistryValue::Dword(2)), kErrorSuccess);
  RegistryCloseKey(key);
}

TEST_F(Registry, ReadsFilesWrittenByTheRegistryEditor) {
  std::ofstream(UserFile(), std::ios::binary)
      << "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
         "; exported by hand\r\n"
         "[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\r\n"
         "\"Foreign\"=dword:00000001\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Vendor]\r\n"
         "@=\"default\"\r\n"
         "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
         "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\r\n"
         "  15,16,17\r\n"
         "\"Wide\"=hex(1):41,00,0d,00,0a,00,42,00,00,00\r\n"
         "\"Expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,e9,00,00,00\r\n"
         "\"Short\"=dword:2a\r\n"
         "\"Gone\"=\"x\"\r\n"
         "\"Gone\"=-\r\n"
         "\"Broken\"=dword:zz\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Vendor\\Removed]\r\n"
         "[-HKEY_CURRENT_USER\\Software\\Vendor\\Removed]\r\n";
  RegKey key = nullptr;
  ASSERT_EQ(
      RegistryOpenKey(RegistryRoot::CurrentUser, "Software\\Vendor", RegistryAccess::Read, &key),
      kErrorSuccess);
  RegistryValue got;
  ASSERT_EQ(RegistryQueryValue(key, "", &got), kErrorSuccess);
  EXPECT_EQ(got.data, "default");
  ASSERT_EQ(RegistryQueryValue(key, "Quote", &got), kErrorSuccess);
  EXPECT_EQ(got.data, "say \"hi\"");
  ASSERT_EQ(RegistryQueryValue(key, "Long", &got), kErrorSuccess);
  ASSERT_EQ(got.data.size(), 24u);
  EXPECT_EQ(got.data[23], '\x17');
  ASSERT_EQ(RegistryQueryValue(key, "Wide", &got), kErrorSuccess);
  EXPECT_EQ(got, RegistryValue::String("A\r\nB"));
  // Expandable texts are UTF-16LE in the file and text like any other here, also after the
  // file was written again.
  const RegistryValue expand{kRegExpandSz, "%TEMP%\xC3\xA9"};
  ASSERT_EQ(RegistryQueryValue(key, "Expand", &got), kErrorSuccess);
  EXPECT_EQ(got, expand);
  RegKey writable = Create("Software\\Vendor");
  ASSERT_EQ(RegistrySetValue(writable, "Added", RegistryValue::Dword(1)), kErrorSuccess);
  RegistryCloseKey(writable);
  EXPECT_NE(ReadFile(UserFile())
                .find("\"Expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,e9,00,00,00"),
            std::string::npos)
      << ReadFile(UserFile());
  ASSERT_EQ(RegistryQueryValue(key, "Expand", &got), kErrorSuccess);
  EXPECT_EQ(got, expand);
  ASSERT_EQ(RegistryQueryValue(key, "Short", &got), kErrorSuccess);
  EXPECT_EQ(got.AsDword(), 42u);
  EXPECT_EQ(RegistryQueryValue(key, "Gone", &got), kErrorFileNotFound);
  EXPECT_EQ(RegistryQueryValue(key, "Broken", &got), kErrorFileNotFound);
  std::vector<std::string> names;
  ASSERT_EQ(RegistryEnumSubKeyNames(key, &names), kErrorSuccess);
  EXPECT_TRUE(names.empty());
  RegistryCloseKey(key);
  EXPECT_EQ(
      RegistryOpenKey(RegistryRoot::CurrentUser, "Software\\Elsewhere", RegistryAccess::Read, &key),
      kErrorFileNotFound);
}

TEST_F(Registry, RefusesToOverwriteAFileInAnotherFormat) {
  const std::string foreign = "[settings]\nkey=value\n";
  std::ofstream(UserFile(), std::ios::binary) << foreign;
  RegKey key = nullptr;
  EXPECT_EQ(RegistryCreateKey(RegistryRoot::CurrentUser, kKeyPath, &key), kErrorBadDb);
  EXPECT_EQ(RegistryOpenKey(RegistryRoot::CurrentUser, "", RegistryAccess::Read, &key),
            kErrorBadDb);
  EXPECT_EQ(ReadFile(UserFile()), foreign);
}

// A key path of `depth` levels below the root.
std::string DeepPath(std::size_t depth) {
  std::string path;
  for (std::size_t i = 0; i < depth; ++i)
    path += "\\k";
  return path;
}

TEST_F(Registry, KeysDeeperThanWindowsAllowsAreNeitherMadeNorRead) {
  // A hand-made file with one key 300,000 levels deep (about 600 KB on one line) beside a
  // key at the deepest level allowed and one just below it.
  const auto write = [&](std::string_view extra) {
    std::ofstream(UserFile(), std::ios::binary)
        << "Windows Registry Editor Version 5.00\r\n\r\n"
        << "[HKEY_CURRENT_USER" << DeepPath(300000) << "]\r\n\"Lost\"=dword:00000001\r\n\r\n"
        << "[HKEY_CURRENT_USER" << DeepPath(512) << "]\r\n\"Kept\"=dword:00000002\r\n\r\n"
        << "[HKEY_CURRENT_USER" << DeepPath(513) << "]\r\n\r\n"
        << extra;
  };
  write("");
  RegKey key = nullptr;
  ASSERT_EQ(RegistryOpenKey(RegistryRoot::CurrentUser, DeepPath(512), RegistryAccess::Read, &key),
            kErrorSuccess);
  RegistryValue got;
  EXPECT_EQ(RegistryQueryValue(key, "Kept", &got), kErrorSuccess);
  RegistryCloseKey(key);
  EXPECT_EQ(RegistryOpenKey(RegistryRoot::CurrentUser, DeepPath(513), RegistryAccess::Read, &key),
            kErrorFileNotFound);
  // Another process changes the file: the tree read before is freed and the file read again.
  write("[HKEY_CURRENT_USER\\Software]\r\n\"Changed\"=dword:00000003\r\n");
  ASSERT_EQ(RegistryOpenKey(RegistryRoot::CurrentUser, "Software", RegistryAccess::Read, &key),
            kErrorSuccess);
  EXPECT_EQ(RegistryQueryValue(key, "Changed", &got), kErrorSuccess);
  RegistryCloseKey(key);

  // No such key is made either, so the file cannot grow with the square of a path's depth.
  EXPECT_EQ(RegistryCreateKey(RegistryRoot::CurrentUser, DeepPath(513), &key),
            kErrorInvalidParameter);
  EXPECT_EQ(RegistryCreateKey(RegistryRoot::CurrentUser, DeepPath(10000), &key),
            kErrorInvalidParameter);
  key = Create(DeepPath(512));
  ASSERT_EQ(RegistrySetValue(key, "New", RegistryValue::Dword(4)), kErrorSuccess);
  RegistryCloseKey(key);
  const std::string saved = ReadFile(UserFile());
  EXPECT_LT(saved.size(), 1u << 20);
  EXPECT_EQ(saved.find("Lost"), std::string::npos);
  EXPECT_NE(saved.find("\"Kept\"=dword:00000002"), std::string::npos);
}

TEST_F(Registry, TextsOfAnyBytesReadBackWhole) {
  // Bytes that are no UTF-8 (a text of another code page), once with a line break, which the
  // file holds in its UTF-16 form, and once without; zero characters inside a text and at its
  // end.
  using namespace std::string_literals;
  const RegistryValue texts[] = {RegistryValue::String("caf\xE9\r\n\xFF\xC3\x14"),
                                 RegistryValue::String("\xE9t\xE9\x01"),
                                 RegistryValue::String("d4\0default\0"s)};
  const std::string names[] = {"T0", "T1", "T2"};
  RegKey key = Create(kKeyPath);
  for (std::size_t i = 0; i < std::size(texts); ++i)
    ASSERT_EQ(RegistrySetValue(key, names[i], texts[i]), kErrorSuccess);
  RegistryCloseKey(key);
  // Read again from the file alone, as another process reads it.
  const std::string text = ReadFile(UserFile());
  fs::remove(UserFile());
  std::ofstream(UserFile(), std::ios::binary) << text;
  ASSERT_EQ(RegistryOpenKey(RegistryRoot::CurrentUser, kKeyPath, RegistryAccess::Read, &key),
            kErrorSuccess);
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    RegistryValue got;
    ASSERT_EQ(RegistryQueryValue(key, names[i], &got), kErrorSuccess);
    EXPECT_EQ(got, texts[i]) << i;
  }
  RegistryCloseKey(key);
}

int g_renames = 0;
bool CountedRename(const char* from, const char* to) {
  ++g_renames;
  return ::rename(from, to) == 0;
}

TEST_F(Registry, ABatchWritesItsChangesOnceAtItsEnd) {
  RegistryFileOpsForTesting().rename = CountedRename;
  g_renames = 0;
  RegBatch batch = nullptr;
  ASSERT_EQ(RegistryBeginBatch(RegistryRoot::CurrentUser, &batch), kErrorSuccess);
  RegBatch inner = nullptr;
  ASSERT_EQ(RegistryBeginBatch(RegistryRoot::CurrentUser, &inner), kErrorSuccess);
  for (const char* sub : {"A", "B\\C"}) {
    std::string path(kKeyPath);
    path.append("\\").append(sub);
    RegKey key = Create(path);
    for (uint32_t i = 0; i < 20; ++i)
      ASSERT_EQ(RegistrySetValue(key, std::string(1, 'V').append(std::to_string(i)),
                                 RegistryValue::Dword(i)),
                kErrorSuccess);
    ASSERT_EQ(RegistryDeleteValue(key, "V0"), kErrorSuccess);
    // The changes read back inside the batch before any is written.
    RegistryValue got;
    ASSERT_EQ(RegistryQueryValue(key, "V7", &got), kErrorSuccess);
    EXPECT_EQ(got.AsDword(), 7u);
    RegistryCloseKey(key);
  }
  EXPECT_EQ(RegistryEndBatch(inner), kErrorSuccess);
  EXPECT_EQ(g_renames, 0);
  EXPECT_FALSE(fs::exists(UserFile()));
  EXPECT_EQ(RegistryEndBatch(batch), kErrorSuccess);
  EXPECT_EQ(g_renames, 1);
  const std::string saved = ReadFile(UserFile());
  EXPECT_NE(saved.find("[HKEY_CURRENT_USER\\Software\\Kestrel\\Test\\B\\C]\r\n\"V1\"="),
            std::string::npos)
      << saved;

  // A batch whose write fails reports it and leaves the file and what is read as they were.
  RegistryFileOpsForTesting().rename = FailingRename;
  ASSERT_EQ(RegistryBeginBatch(RegistryRoot::CurrentUser, &batch), kErrorSuccess);
  std::string path(kKeyPath);
  RegKey key = Create(path.append("\\A"));
  ASSERT_EQ(RegistrySetValue(key, "V1", RegistryValue::Dword(100)), kErrorSuccess);
  EXPECT_EQ(RegistryEndBatch(batch), kErrorWriteFault);
  RegistryValue got;
  ASSERT_EQ(RegistryQueryValue(key, "V1", &got), kErrorSuccess);
  EXPECT_EQ(got.AsDword(), 1u);
  EXPECT_EQ(ReadFile(UserFile()), saved);
  RegistryCloseKey(key);
}

} // namespace
