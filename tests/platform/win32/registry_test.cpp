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
  ASSERT_EQ(RegistryCreateKey(GetParam(), path_ + "\\Settings", &key), kErrorSuccess);
  const unsigned char bytes[] = {0, 1, 0xFF, 0, 0x80};
  const std::vector<std::pair<std::string, RegistryValue>> values = {
      {"Text", RegistryValue::String("h\xC3\xA9llo \"quoted\" C:\\path\\ \xE2\x82\xAC")},
      {"Empty", RegistryValue::String("")},
      {"Count", RegistryValue::Dword(0xDEADBEEF)},
      {"Bytes", RegistryValue::Binary(bytes, sizeof bytes)},
      {"", RegistryValue::String("the default")},
  };
  for (const auto& [name, value] : values)
    ASSERT_EQ(RegistrySetValue(key, name, value), kErrorSuccess) << name;
  RegistryCloseKey(key);

  // Read back through a new handle, with names in another case.
  ASSERT_EQ(RegistryOpenKey(GetParam(), path_ + "\\SETTINGS", RegistryAccess::Read, &key),
            kErrorSuccess);
  for (const auto& [name, value] : values) {
    RegistryValue got;
    ASSERT_EQ(RegistryQueryValue(key, name, &got), kErrorSuccess) << name;
    EXPECT_EQ(got, value) << name;
  }
  RegistryValue count;
  ASSERT_EQ(RegistryQueryValue(key, "count", &count), kErrorSuccess);
  EXPECT_EQ(count.AsDword(), 0xDEADBEEFu);
  RegistryValue missing;
  EXPECT_EQ(RegistryQueryValue(key, "Missing", &missing), kErrorFileNotFound);
  // A key opened for reading takes no writes.
  EXPECT_EQ(RegistrySetValue(key, "Text", RegistryValue::Dword(1)), kErrorAccessDenied);
  std::vector<std::string> names;
  ASSERT_EQ(RegistryEnumValueNames(key, &names), kErrorSuccess);
  EXPECT_EQ(names.size(), values.size());
  RegistryCloseKey(key);

  for (const char* sub : {"Zulu", "alpha", "Mike"}) {
    ASSERT_EQ(RegistryCreateKey(GetParam(), path_ + "\\" + sub, &key), kErrorSuccess);
    RegistryCloseKey(key);
  }
  ASSERT_EQ(RegistryOpenKey(GetParam(), path_, RegistryAccess::ReadWrite, &key), kErrorSuccess);
  ASSERT_EQ(RegistryEnumSubKeyNames(key, &names), kErrorSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Mike", "Settings", "Zulu"}));
  RegistryCloseKey(key);

  // Deleting a key takes its subkeys and values; a handle still open sees it gone.
  ASSERT_EQ(RegistryOpenKey(GetParam(), path_ + "\\Settings", RegistryAccess::ReadWrite, &key),
            kErrorSuccess);
  ASSERT_EQ(RegistryDeleteValue(key, "Count"), kErrorSuccess);
  EXPECT_EQ(RegistryDeleteValue(key, "Count"), kErrorFileNotFound);
  ASSERT_EQ(RegistryDeleteKey(GetParam(), path_), kErrorSuccess);
  RegistryValue gone;
  EXPECT_EQ(RegistryQueryValue(key, "Text", &gone), kErrorKeyDeleted);
  RegistryCloseKey(key);
  EXPECT_EQ(RegistryOpenKey(GetParam(), path_, RegistryAccess::Read, &key), kErrorFileNotFound);
  EXPECT_EQ(RegistryDeleteKey(GetParam(), path_), kErrorFileNotFound);
  EXPECT_EQ(RegistryDeleteKey(GetParam(), ""), kErrorAccessDenied);
}

INSTANTIATE_TEST_SUITE_P(BothRoots, Registry,
                         testing::Values(RegistryRoot::CurrentUser, RegistryRoot::LocalMachine));

// Where a user may not write HKEY_LOCAL_MACHINE, opening a key there for writing and creating
// one give kErrorAccessDenied, and the settings go to the same path under HKEY_CURRENT_USER.
// The key is made with security that lets everyone read (and delete) it only, as
// HKLM\Software is for users.
TEST(RegistryAccess, LocalMachineDeniedFallsBackToCurrentUser) {
  // Wine grants every access to registry keys whatever their security says (and its 32-bit
  // build under QEMU crashes after making a key with a security descriptor).
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
    GTEST_SKIP() << "Wine does not enforce the security of registry keys";
  const std::string path = "Software\\KestrelTests\\Locked" + GuidToText(CreateGuid());
  const std::wstring wide(path.begin(), path.end());
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;KR;;;WD)(A;;SD;;;WD)", SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr));
  HKEY native = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide.c_str(), 0, nullptr, 0, KEY_READ, &security,
                            &native, nullptr),
            kErrorSuccess);
  LocalFree(security.lpSecurityDescriptor);
  RegCloseKey(native);

  // What a settings store does: HKLM first, HKCU when HKLM refuses.
  RegKey key = nullptr;
  RegStatus machine =
      RegistryOpenKey(RegistryRoot::LocalMachine, path, RegistryAccess::ReadWrite, &key);
  if (machine == kErrorSuccess) {
    RegistryCloseKey(key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, wide.c_str());
    GTEST_SKIP() << "this system does not enforce the security of registry keys";
  }
  EXPECT_EQ(machine, kErrorAccessDenied);
  EXPECT_EQ(RegistryCreateKey(RegistryRoot::LocalMachine, path + "\\Sub", &key),
            kErrorAccessDenied);
  EXPECT_EQ(key, nullptr);
  ASSERT_EQ(RegistryCreateKey(RegistryRoot::CurrentUser, path, &key), kErrorSuccess);
  EXPECT_EQ(RegistrySetValue(key, "Saved", RegistryValue::Dword(7)), kErrorSuccess);
  RegistryCloseKey(key);
  // Reading HKLM stays allowed.
  ASSERT_EQ(RegistryOpenKey(RegistryRoot::LocalMachine, path, RegistryAccess::Read, &key),
            kErrorSuccess);
  RegistryValue none;
  EXPECT_EQ(RegistryQueryValue(key, "Saved", &none), kErrorFileNotFound);
  RegistryCloseKey(key);

  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, wide.c_str()), kErrorSuccess);
  EXPECT_EQ(RegistryDeleteKey(RegistryRoot::CurrentUser, path), kErrorSuccess);
}

} // namespace
