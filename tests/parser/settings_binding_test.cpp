// The settings object through the module's property map: every option survives a save and a
// load under the keys existing configurations use.
#include "parser/settings_binding.h"

#include "common/variant_convert.h"
#include "parser/data_source_cfg.h"
#include "settings_scratch.h"

#include <gtest/gtest.h>

namespace {

using namespace kestrel;
using namespace kestrel::parser;
using kestrel::testing::ReadText;
using kestrel::testing::ScratchFolder;
using kestrel::testing::ScratchRegistryKey;

// Every option away from its default, with texts that need the encoding.
void ChangeEverything(TDataSourceCfg& cfg) {
  cfg.Left = -5;
  cfg.Top = 0x7FFFFFFF;
  cfg.Height = 1;
  cfg.Width = 2;
  cfg.OpenDialog_FileName = "C:\\data\\in file.json";
  cfg.OpenDialog_FilterIndex = 3;
  cfg.SaveDialog_FileName = " lead";
  cfg.SaveDialog_FilterIndex = 4;
  cfg.BegSign_Text = "root";
  cfg.LeftTrim_Checked = true;
  cfg.RightTrim_Checked = true;
  cfg.FmtDate_Text = "DD.MM.YYYY";
  cfg.FmtTime_Text = "HH-NN";
  cfg.FmtDateTime_Text = "YYYY MM  DD\"T\"HH";
  cfg.chkUseNowTime_Checked = true;
  cfg.chkUseNowDate_Checked = true;
  cfg.spLocaleID_Value = 1031;
  cfg.Filters_Hint = "1||0||error||0\r\n2||1||^\\{||0";
  cfg.lstJSON_Hint = "Temp||1||1||Float\r\nname||1||1||String";
  cfg.spSignTimeout_Value = 250.5;
  cfg.chkAddNodeName_Checked = true;
  cfg.chkNameUpper_Checked = true;
  cfg.spDepth_Value = 3;
  cfg.MapTransl0_Strings = {"a=b", "100%=+"};
  cfg.MapTransl1_Strings = {"\xE9=e"};
  cfg.MapTransl2_Strings = {"x=y", "", "z=w"};
  cfg.comboTransDirection_Tag = 2;
  cfg.comboChar_Tag = 65;
}

void ExpectSameOptions(TDataSourceCfg& a, TDataSourceCfg& b) {
  for (const TPublishedProperty& property : a.PublishedProperties()) {
    if (property.Kind == TPropertyKind::Strings) {
      EXPECT_EQ(*a.StringsProperty(property.Name), *b.StringsProperty(property.Name))
          << property.Name;
    } else {
      EXPECT_EQ(VariantToAnsi(*a.GetPropertyValue(property.Name)),
                VariantToAnsi(*b.GetPropertyValue(property.Name)))
          << property.Name;
    }
  }
}

TSettingsLocation Location(const std::string& registry_path, const std::string& ini_file) {
  return TSettingsLocation{kRootLocalMachine, kRootCurrentUser, registry_path, "", ini_file};
}

// Saves every option changed, loads them into a fresh object, and compares.
void ExpectRoundTrip(const TSettingsLocation& location) {
  TDataSourceCfg saved;
  ChangeEverything(saved);
  TDataSourceCfg loaded;
  for (const bool save : {true, false}) {
    settings::TSettingsStore store;
    ConfigureSettingsStore(store, location, nullptr);
    TSettingsTargetAdapter target(save ? saved : loaded);
    ASSERT_TRUE(save ? store.SaveValues(target) : store.LoadValues(target));
  }
  ExpectSameOptions(loaded, saved);
}

TEST(SettingsBinding, EveryOptionSurvivesTheRegistry) {
  ScratchRegistryKey key;
  ExpectRoundTrip(Location(key.Path(), ""));
}

TEST(SettingsBinding, EveryOptionSurvivesAnIniFileUnderItsKey) {
  ScratchFolder folder;
  const std::string file = folder.File("kestrel.ini");
  ExpectRoundTrip(Location("\\Software\\Unused", file));

  const std::string text = ReadText(file);
  for (const char* line : {"[Common]\r\n",
                           "Left=-5\r\n",
                           "Top=2147483647\r\n",
                           "Height=1\r\n",
                           "Width=2\r\n",
                           "Open files dir=C:\\data\\in file.json\r\n",
                           "Open files dir filter index=3\r\n",
                           "Save files dir=+lead\r\n",
                           "Save files dir filter index=4\r\n",
                           "Start string=root\r\n",
                           "Left trim=True\r\n",
                           "Right trim=True\r\n",
                           "Date format=DD.MM.YYYY\r\n",
                           "Time format=HH-NN\r\n",
                           "Date and time format=YYYY MM+ DD\"T\"HH\r\n",
                           "Use current time=True\r\n",
                           "Use current date=True\r\n",
                           "Locale ID=1031\r\n",
                           "Filter=1||0||error||0%0D%0A2||1||^\\{||0\r\n",
                           "JSON items=Temp||1||1||Float%0D%0Aname||1||1||String\r\n",
                           "Sign timeout=250.5\r\n",
                           "Add node name=True\r\n",
                           "Export upper case name=True\r\n",
                           "Max depth=3\r\n",
                           "[Translation]\r\n",
                           "Map0=a=b%0D%0A100%%=%2B\r\n",
                           "Map1=%C3%A9=e\r\n",
                           "Map2=x=y%0D%0A%0D%0Az=w\r\n",
                           "Type=2\r\n",
                           "Character=65\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

TEST(SettingsBinding, PropertiesHolderIsTheModuleMap) {
  const settings::TorvStrHolder& holder = ModuleProperties();
  EXPECT_EQ(holder.Tag, 9999);
  EXPECT_EQ(holder.Capacity, 44);
  // Every published option has exactly one map line; Name and Tag have none.
  TDataSourceCfg cfg;
  settings::TSettingsStore store;
  ConfigureSettingsStore(store, Location("", ""), nullptr);
  int mapped = 0;
  for (const std::string& line : store.Components)
    if (const auto entry = settings::ParsePropertyMapLine(line)) {
      EXPECT_NE(TSettingsTargetAdapter(cfg).PropertyKind(entry->PropertyName()),
                settings::TSettingKind::Unknown)
          << line;
      ++mapped;
    }
  EXPECT_EQ(mapped, static_cast<int>(cfg.PublishedProperties().size()));
}

} // namespace
