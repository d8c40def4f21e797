// What every registry backend must do, run against the one this build uses: typed values round
// trip under both roots, names ignore case, keys enumerate sorted and delete with their subtree,
// and a handle to a deleted key says so.
#include "platform/registry.h"

#include "platform/system.h"
#include "registry_sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace kestrel::platform;

class RegistryContract : public testing::TestWithParam<RegistryRoot> {
protected:
  void SetUp() override { path_ = "\\Software\\KestrelTests\\" + GuidToText(CreateGuid()); }
  void TearDown() override {
    RegistryDeleteKey(GetParam(), path_);
    RegistryDeleteKey(GetParam(), "Software\\KestrelTests");
  }
  kestrel::testing::RegistrySandbox sandbox_;
  std::string path_;
};

TEST_P(RegistryContract, TypedValuesRoundTripAndKeysEnumerateAndDelete) {
  RegKey key = nullptr;
  ASSERT_EQ(RegistryCreateKey(GetParam(), path_ + "\\Settings", &key), kErrorSuccess);
  const unsigned char bytes[] = {0, 1, 0xFF, 0, 0x80};
  const double ratio = 0.1;
  const std::vector<std::pair<std::string, RegistryValue>> values = {
      {"Text", RegistryValue::String("h\xC3\xA9llo \"quoted\" C:\\path\\ \xE2\x82\xAC")},
      {"Lines", RegistryValue::String("first\r\nsecond\tTab")},
      {"Empty", RegistryValue::String("")},
      {"Count", RegistryValue::Dword(0xDEADBEEF)},
      {"Bytes", RegistryValue::Binary(bytes, sizeof bytes)},
      {"Ratio", RegistryValue::Binary(&ratio, sizeof ratio)},
      {"", RegistryValue::String("the default")},
  };
  for (const auto& [name, value] : values)
    ASSERT_EQ(RegistrySetValue(key, name, value), kErrorSuccess) << name;
  // A write under another case replaces the value instead of adding one.
  ASSERT_EQ(RegistrySetValue(key, "COUNT", RegistryValue::Dword(0xDEADBEEF)), kErrorSuccess);
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

  for (const char* sub : {"Zulu", "alpha", "Mike\\Deep"}) {
    ASSERT_EQ(RegistryCreateKey(GetParam(), path_ + "\\" + sub, &key), kErrorSuccess);
    RegistryCloseKey(key);
  }
  ASSERT_EQ(RegistryOpenKey(GetParam(), path_, RegistryAccess::ReadWrite, &key), kErrorSuccess);
  ASSERT_EQ(RegistryEnumSubKeyNames(key, &names), kErrorSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Mike", "Settings", "Zulu"}));
  RegistryCloseKey(key);
  ASSERT_EQ(RegistryDeleteKey(GetParam(), path_ + "\\mike"), kErrorSuccess);
  EXPECT_EQ(RegistryOpenKey(GetParam(), path_ + "\\Mike\\Deep", RegistryAccess::Read, &key),
            kErrorFileNotFound);

  // Deleting a key takes its subkeys and values; a handle still open sees it gone.
  ASSERT_EQ(RegistryOpenKey(GetParam(), path_ + "\\Settings", RegistryAccess::ReadWrite, &key),
            kErrorSuccess);
  ASSERT_EQ(RegistryDeleteValue(key, "Count"), kErrorSuccess);
  EXPECT_EQ(RegistryDeleteValue(key, "Count"), kErrorFileNotFound);
  ASSERT_EQ(RegistryDeleteKey(GetParam(), path_), kErrorSuccess);
  RegistryValue gone;
  EXPECT_EQ(RegistryQueryValue(key, "Text", &gone), kErrorKeyDeleted);
  EXPECT_EQ(RegistrySetValue(key, "Text", RegistryValue::Dword(3)), kErrorKeyDeleted);
  RegistryCloseKey(key);
  EXPECT_EQ(RegistryOpenKey(GetParam(), path_, RegistryAccess::Read, &key), kErrorFileNotFound);
  EXPECT_EQ(RegistryDeleteKey(GetParam(), path_), kErrorFileNotFound);
  EXPECT_EQ(RegistryDeleteKey(GetParam(), ""), kErrorAccessDenied);
}

INSTANTIATE_TEST_SUITE_P(BothRoots, RegistryContract,
                         testing::Values(RegistryRoot::CurrentUser, RegistryRoot::LocalMachine));

} // namespace
