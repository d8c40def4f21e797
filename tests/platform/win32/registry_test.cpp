// The access denial of HKEY_LOCAL_MACHINE that callers answer by using HKEY_CURRENT_USER, on the
// system registry (the shared registry tests cover the rest).
#include "platform/registry.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <string>

namespace {

using namespace kestrel::platform;

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
