// The settings object: defaults, published properties, rule texts and what ApplySettings
// rebuilds.
#include "parser/data_source_cfg.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using namespace kestrel;
using namespace kestrel::parser;

class FakeOwner : public IDataSourceCfgOwner {
public:
  bool LoadSettingsFromStore(TDataSourceCfg& settings) override {
    ++loads;
    if (store_items)
      settings.lstJSON_Hint = *store_items;
    return true;
  }
  bool SaveSettingsToStore(const TDataSourceCfg&) override { return true; }
  bool ParserTypeEnabled() const override { return enabled; }
  void ReportConfigurationError(const std::string& message) override { errors.push_back(message); }

  int loads = 0;
  bool enabled = true;
  const std::string* store_items = nullptr;
  std::vector<std::string> errors;
};

TEST(DataSourceCfg, DefaultsAndProperties) {
  TDataSourceCfg cfg;
  EXPECT_EQ(cfg.Left, 839);
  EXPECT_EQ(cfg.Top, 242);
  EXPECT_EQ(cfg.Height, 420);
  EXPECT_EQ(cfg.Width, 464);
  EXPECT_EQ(cfg.OpenDialog_FilterIndex, 1);
  EXPECT_EQ(cfg.SaveDialog_FilterIndex, 1);
  EXPECT_EQ(cfg.FmtDate_Text, "YYYY-MM-DD");
  EXPECT_EQ(cfg.FmtTime_Text, "HH\":\"NN\":\"SS");
  EXPECT_EQ(cfg.FmtDateTime_Text, "YYYY-MM-DD\"T\"HH\":\"NN\":\"SS");
  EXPECT_EQ(cfg.spLocaleID_Value, 1033);
  EXPECT_EQ(cfg.spSignTimeout_Value, 5000);
  EXPECT_EQ(cfg.spDepth_Value, 0);
  EXPECT_FALSE(cfg.LeftTrim_Checked || cfg.RightTrim_Checked || cfg.chkAddNodeName_Checked ||
               cfg.chkNameUpper_Checked || cfg.chkUseNowDate_Checked || cfg.chkUseNowTime_Checked);
  EXPECT_TRUE(cfg.MapTransl0_Strings.empty());

  const auto& properties = cfg.PublishedProperties();
  ASSERT_EQ(properties.size(), 30u);
  EXPECT_EQ(properties.front().Name, "Left");
  EXPECT_EQ(properties[8].Name, "BegSign_Text");
  EXPECT_EQ(properties.back().Name, "comboChar_Tag");

  EXPECT_TRUE(cfg.SetPropertyValue("begsign_text", Variant("data")));
  EXPECT_EQ(cfg.BegSign_Text, "data");
  EXPECT_TRUE(cfg.SetPropertyValue("spSignTimeout_Value", Variant(std::string("250"))));
  EXPECT_EQ(cfg.spSignTimeout_Value, 250);
  EXPECT_TRUE(cfg.SetPropertyValue("LeftTrim_Checked", Variant(true)));
  EXPECT_TRUE(cfg.LeftTrim_Checked);
  EXPECT_FALSE(cfg.SetPropertyValue("Top", Variant("north"))); // does not convert: kept
  EXPECT_EQ(cfg.Top, 242);
  EXPECT_FALSE(cfg.SetPropertyValue("Name", Variant("x"))); // not published
  EXPECT_FALSE(cfg.SetPropertyValue("MapTransl0_Strings", Variant("x")));
  ASSERT_NE(cfg.StringsProperty("MapTransl2_Strings"), nullptr);
  EXPECT_EQ(cfg.StringsProperty("Left"), nullptr);
  EXPECT_EQ(cfg.GetPropertyValue("Width"), Variant(464));
  EXPECT_EQ(cfg.GetPropertyValue("spLocaleID_Value"), Variant(1033.0));
}

TEST(ParserRules, ItemRuleLines) {
  const auto rules = ParseItemRules("Temp||1||1||Float\r\n"
                                    "Temp||7||1||5\n"
                                    "Temp||1||2||5\r"
                                    "Temp||1||1||\n"
                                    "Widget||1||1||Widget\n"
                                    "Count||2||0||integer\n"
                                    "||1||1||5\n"
                                    "Code||1||1||17\n"
                                    "x||1||1||18\n"
                                    "temp|Temperature||0||1||String\n");
  ASSERT_EQ(rules.size(), 7u);
  EXPECT_EQ(rules[0].Name, "temp");
  EXPECT_EQ(rules[0].Kind, 1);
  EXPECT_EQ(rules[0].Include, 1);
  EXPECT_EQ(rules[0].DataType, dtFloat);
  EXPECT_EQ(rules[1].Kind, 0); // kind out of range
  EXPECT_EQ(rules[2].Name, "widget");
  EXPECT_EQ(rules[2].DataType, dtUntyped);
  EXPECT_EQ(rules[3].Include, 0);
  EXPECT_EQ(rules[3].Kind, 2);
  EXPECT_EQ(rules[3].DataType, dtInteger);
  EXPECT_EQ(rules[4].DataType, 17);
  EXPECT_EQ(rules[5].Name, "x");
  EXPECT_EQ(rules[5].DataType, dtUntyped); // 18 is neither a code nor a name
  EXPECT_EQ(rules[6].Name, "temp|temperature");
  EXPECT_EQ(rules[6].DataType, dtString);

  EXPECT_EQ(DataTypeFromText("DWORD"), dtDWord);
  EXPECT_EQ(DataTypeFromText("16"), dtCurrency);
  EXPECT_EQ(DataTypeFromText("-1"), dtUntyped);
  EXPECT_EQ(ParserItemTypeName(dtInt64), "Int64");
}

TEST(ParserRules, FilterRuleLines) {
  const auto rules = ParseFilterRules(" 1 || 0 || error || 0 \n"
                                      "2||1||^\\{||1\n"
                                      "0||0||x||1\n"
                                      "1||-1||x||1\n"
                                      "1||a||x||1\n"
                                      "1||0||||1\n"
                                      "1||0||x||-2\n"
                                      "1||0||x\n"
                                      "3||9||a[7C][7C]b||5\n");
  ASSERT_EQ(rules.size(), 3u);
  EXPECT_EQ(rules[0].Condition, 1);
  EXPECT_EQ(rules[0].Method, 0);
  EXPECT_EQ(rules[0].Pattern, "error");
  EXPECT_EQ(rules[0].Verdict, 0);
  EXPECT_EQ(rules[1].Pattern, "^\\{");
  EXPECT_EQ(rules[1].Verdict, 1);
  EXPECT_EQ(rules[2].Condition, 3);
  EXPECT_EQ(rules[2].Method, 9);
  EXPECT_EQ(rules[2].Pattern, "a||b");
  EXPECT_NE(rules[2].Verdict, 1);
}

TEST(DataSourceCfg, ApplySettingsRebuildsOnlyWithItsFlag) {
  FakeOwner owner;
  TDataSourceCfg cfg(&owner);
  cfg.lstJSON_Hint = "a||1||1||Integer";
  cfg.Filters_Hint = "1||0||x||0";
  cfg.MapTransl2_Strings = {"Y", "N", "0"};
  cfg.BegSign_Text = "root";
  const auto before = cfg.Setup();

  cfg.ApplySettings(1);
  EXPECT_EQ(owner.loads, 1);
  auto setup = cfg.Setup();
  EXPECT_EQ(setup->StartNodeName, "root"); // options follow at once
  EXPECT_TRUE(setup->ItemRules->empty());  // rules and tables as they were
  EXPECT_EQ(setup->RawTable, before->RawTable);

  cfg.ApplySettings(2);
  setup = cfg.Setup();
  ASSERT_EQ(setup->ItemRules->size(), 1u);
  EXPECT_EQ(setup->FilterRules->size(), 1u);
  EXPECT_TRUE(setup->RawTable->RemoveControl);
  EXPECT_TRUE(before->ItemRules->empty()); // a holder of the old setup keeps it unchanged

  // While module type 1 is not enabled the item rules stay empty; filters are still built.
  owner.enabled = false;
  cfg.ApplySettings(TDataSourceCfg::kApplyAll);
  EXPECT_TRUE(cfg.Setup()->ItemRules->empty());
  EXPECT_EQ(cfg.Setup()->FilterRules->size(), 1u);
  EXPECT_TRUE(BuildItemRules(&cfg, false, true).size() == 1u); // publication reads them anyway
  owner.enabled = true;

  // Values the store holds replace the object's; a value above 255 counts as all types.
  const std::string stored = "b||1||1||String\nc||1||1||Float";
  owner.store_items = &stored;
  cfg.ApplySettings(0x10000);
  EXPECT_EQ(cfg.Setup()->ItemRules->size(), 2u);
  EXPECT_TRUE(owner.errors.empty());
  EXPECT_EQ(cfg.Setup()->SignTimeout, 5000);
  cfg.spSignTimeout_Value = -3.7;
  cfg.spDepth_Value = 2.9;
  cfg.ApplySettings(0);
  EXPECT_EQ(cfg.Setup()->SignTimeout, -3);
  EXPECT_EQ(cfg.Setup()->MaxDepth, 2);
}

} // namespace
