// Registry roots on the POSIX store, where HKEY_LOCAL_MACHINE is read-only as for a user
// without administrator rights.
#include "config/settings_store.h"

#include "common/variant_convert.h"
#include "settings_scratch.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using kestrel::config::ISettingsTarget;
using kestrel::config::TRegistryRoot;
using kestrel::config::TSettingKind;
using kestrel::config::TSettingsStore;

class OneText : public ISettingsTarget {
public:
  std::string text = "value";
  TSettingKind PropertyKind(std::string_view name) const override {
    return name == "Title" ? TSettingKind::Text : TSettingKind::Unknown;
  }
  kestrel::Variant GetProperty(std::string_view) const override { return kestrel::Variant(text); }
  void SetProperty(std::string_view, const kestrel::Variant& value) override {
    text = kestrel::VariantToAnsi(value);
  }
  std::vector<std::string> GetStrings(std::string_view) const override { return {}; }
  void SetStrings(std::string_view, std::vector<std::string>) override {}
};

TEST(SettingsStoreRoots, DeniedLocalMachineFallsBackToCurrentUser) {
  unsetenv("KESTREL_HKLM_WRITABLE");
  kestrel::testing::ScratchRegistryKey key;
  TSettingsStore store;
  store.RegistryPath = key.Path();
  store.Components = {"Title,Title"};
  OneText target;
  ASSERT_TRUE(store.SaveValues(target));
  EXPECT_EQ(store.RootInUse(), TRegistryRoot::rrHKEY_CURRENT_USER);
  target.text.clear();
  ASSERT_TRUE(store.LoadValues(target));
  EXPECT_EQ(target.text, "value");
  EXPECT_EQ(store.RootInUse(), TRegistryRoot::rrHKEY_CURRENT_USER);
}

} // namespace
