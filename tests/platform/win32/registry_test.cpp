// The system registry through the platform layer: round trips under both roots, and the access
// denial of HKEY_LOCAL_MACHINE that callers answer by using HKEY_CURRENT_USER.
#include "platform/registry.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

namespace {

using namespace kestrel::platform;

// A key of this test run only, removed afterwards.
class Registry : public testing::TestWithParam<RegistryRoot> {
protected:
  void SetUp() override { path_ = "\\Software\\KestrelTests\\" + GuidToText(CreateGuid()); }
  void TearDown() override {
    RegistryDeleteKey(GetParam(), path_);
    RegistryDeleteKey(GetParam(), "Software\\KestrelTests");
  }
  std::string path_;
};

TEST_P(Registry, TypedValuesRoundTripAndKeysEnumerateAndDelete) {
  RegKey key = nullptr;
  ASSERT_EQ(RegistryCreateKey(GetParam(), path_ + "\\Settings", &key), ERROR_SUCCESS);
  const unsigned char bytes[] = {0, 1, 0xFF, 0, 0x80};
  const std::vector<std::pair<std::string, RegistryValue>> values = {
      {"Text", RegistryValue::String("h\xC3\xA9llo \"quoted\" C:\\path\\ \xE2\x82\xAC")},
      {"Empty", RegistryValue::String("")},
      {"Count", RegistryValue::Dword(0xDEADBEEF)},
      {"Bytes", RegistryValue::Binary(bytes, sizeof bytes)},
      {"", RegistryValue::String("the default")},
  };
  for (const auto& [name, value] : values)
    ASSERT_EQ(RegistrySetValue(key, name, value), ERROR_SUCCESS) << name;
  RegistryCloseKey(key);

  // Read back through a new handle, with names in another case.
  ASSERT_EQ(RegistryOpenKey(GetParam(), path_ + "\\SETTINGS", RegistryAccess::Read, &key),
            ERROR_SUCCESS);
  for (const auto& [name, value] : values) {
    RegistryValue got;
    ASSERT_EQ(RegistryQueryValue(key, name, &got), ERROR_SUCCESS) << name;
    EXPECT_EQ(got, value) << name;
  }
  RegistryValue count;
  ASSERT_EQ(RegistryQueryValue(key, "count", &count), ERROR_SUCCESS);
  EXPECT_EQ(count.AsDword(), 0xDEADBEEFu);
  RegistryValue missing;
  EXPECT_EQ(RegistryQueryValue(key, "Missing", &missing), ERROR_FILE_NOT_FOUND);
  // A key opened for reading takes no writes.
  EXPECT_EQ(RegistrySetValue(key, "Text", RegistryValue::Dword(1)), ERROR_ACCESS_DENIED);
  std::vector<std::string> names;
  ASSERT_EQ(RegistryEnumValueNames(key, &names), ERROR_SUCCESS);
  EXPECT_EQ(names.size(), values.size());
  RegistryCloseKey(key);

  for (const char* sub : {"Zulu", "alpha", "Mike"}) {
    ASSERT_EQ(RegistryCreateKey(GetParam(), path_ + "\\" + sub, &key), ERROR_SUCCESS);
    RegistryCloseKey(key);
  }
  ASSERT_EQ(RegistryOpenKey(GetParam(), path_, RegistryAccess::ReadWrite, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegistryEnumSubKeyNames(key, &names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Mike", "Settings", "Zulu"}));
  RegistryCloseKey(key);

  // Deleting a key takes its subkeys and values; a handle still open sees it gone.
  ASSERT_EQ(RegistryOpenKey(GetParam(), path_ + "\\Settings", RegistryAccess::ReadWrite, &key),
            ERROR_SUCCESS);
  ASSERT_EQ(RegistryDeleteValue(key, "Count"), ERROR_SUCCESS);
  EXPECT_EQ(RegistryDeleteValue(key, "Count"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegistryDeleteKey(GetParam(), path_), ERROR_SUCCESS);
  RegistryValue gone;
  EXPECT_EQ(RegistryQueryValue(key, "Text", &gone), ERROR_KEY_DELETED);
  RegistryCloseKey(key);
  EXPECT_EQ(RegistryOpenKey(GetParam(), path_, RegistryAccess::Read, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegistryDeleteKey(GetParam(), path_), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegistryDeleteKey(GetParam(), ""), ERROR_ACCESS_DENIED);
}

INSTANTIATE_TEST_SUITE_P(BothRoots, Registry,
                         testing::Values(RegistryRoot::CurrentUser, RegistryRoot::LocalMachine));

// Where a user may not write HKEY_LOCAL_MACHINE, opening a key there for writing and creating
// one give ERROR_ACCESS_DENIED, and the same path under HKEY_CURRENT_USER takes the settings.
// The key's security only lets everyone read, as HKLM\Software does for users.
TEST(RegistryAccess, LocalMachineDeniedFallsBackToCurrentUser) {
  const std::string path = "Software\\KestrelTests\\Locked" + GuidToText(CreateGuid());
  const std::wstring wide(path.begin(), path.end());
  HKEY native = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &native, nullptr),
            ERROR_SUCCESS);
  PSECURITY_DESCRIPTOR read_only = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &read_only, nullptr));
  ASSERT_EQ(RegSetKeySecurity(native, DACL_SECURITY_INFORMATION, read_only), ERROR_SUCCESS);
  LocalFree(read_only);

  // The settings go where they may.
  auto open_for_settings = [&](RegKey* key) {
    RegStatus status =
        RegistryOpenKey(RegistryRoot::LocalMachine, path, RegistryAccess::ReadWrite, key);
    if (status == ERROR_ACCESS_DENIED)
      return std::make_pair(RegistryCreateKey(RegistryRoot::LocalMachine, path + "\\Sub", key),
                            RegistryCreateKey(RegistryRoot::CurrentUser, path, key));
    return std::make_pair(status, status);
  };
  RegKey key = nullptr;
  const auto [machine, user] = open_for_settings(&key);
  EXPECT_EQ(machine, ERROR_ACCESS_DENIED);
  EXPECT_EQ(user, ERROR_SUCCESS);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(RegistrySetValue(key, "Saved", RegistryValue::Dword(7)), ERROR_SUCCESS);
  RegistryCloseKey(key);
  // Reading HKLM stays allowed.
  ASSERT_EQ(RegistryOpenKey(RegistryRoot::LocalMachine, path, RegistryAccess::Read, &key),
            ERROR_SUCCESS);
  RegistryCloseKey(key);

  PSECURITY_DESCRIPTOR open = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;;KA;;;WD)", SDDL_REVISION_1, &open, nullptr));
  RegSetKeySecurity(native, DACL_SECURITY_INFORMATION, open);
  LocalFree(open);
  RegCloseKey(native);
  EXPECT_EQ(RegistryDeleteKey(RegistryRoot::LocalMachine, path), ERROR_SUCCESS);
  EXPECT_EQ(RegistryDeleteKey(RegistryRoot::CurrentUser, path), ERROR_SUCCESS);
}

} // namespace
