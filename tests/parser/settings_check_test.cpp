// Warnings about settings a user got wrong: one per mistake, once per load, and the settings
// still load as they are.
#include "parser/data_source_cfg.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace kestrel::parser;

class WarningOwner : public IDataSourceCfgOwner {
public:
  bool LoadSettingsFromStore(TDataSourceCfg& settings) override {
    if (store)
      store(settings);
    return true;
  }
  bool SaveSettingsToStore(const TDataSourceCfg&) override { return true; }
  bool ParserTypeEnabled() const override { return true; }
  void ReportConfigurationError(const std::string&) override {}
  void ReportSettingsWarning(const std::string& message) override { warnings.push_back(message); }

  std::function<void(TDataSourceCfg&)> store;
  std::vector<std::string> warnings;
};

struct Mistake {
  const char* category;
  std::function<void(TDataSourceCfg&)> write;
  const char* expected; // a piece of the one warning
};

TEST(SettingsCheck, EachMistakeGivesOneWarningNamingIt) {
  const Mistake mistakes[] = {
      {"unknown type", [](auto& s) { s.lstJSON_Hint = "temp||1||1||Flaot"; },
       "line 1 \"temp||1||1||Flaot\": unknown type \"Flaot\"; the value stays untyped (did you "
       "mean Float?)"},
      {"three fields", [](auto& s) { s.lstJSON_Hint = "a||1||1||0\r\ntemp||1||1||"; },
       "line 2 \"temp||1||1||\" was skipped: it has 3 field(s)"},
      {"include yes", [](auto& s) { s.lstJSON_Hint = "temp||1||yes||Float"; },
       "skipped: include field \"yes\" is not 0 (ignore) or 1 (parse)"},
      {"kind out of range", [](auto& s) { s.lstJSON_Hint = "temp||7||1||Float"; },
       "kind field \"7\" is not 0 (all), 1 (property) or 2 (object)"},
      {"blanks", [](auto& s) { s.lstJSON_Hint = "temp ||1||1||Float"; },
       "blanks at the ends of field(s) 1 are kept (the member name \"temp \" is matched"},
      {"filter skipped", [](auto& s) { s.Filters_Hint = "1||0||||0"; },
       "\"Filter\" line 1 \"1||0||||0\" was skipped: its pattern is empty"},
      {"pattern", [](auto& s) { s.Filters_Hint = "1||1||(wx||0"; },
       "pattern \"(wx\" does not compile (missing ) at offset 3)"},
      {"locale", [](auto& s) { s.spLocaleID_Value = 99999; },
       "\"Locale ID\" 99999 is not a locale this system knows"},
      {"template stops", [](auto& s) { s.FmtDate_Text = "foo"; },
       "\"Date format\" \"foo\": the template stops at character 1"},
      {"month for minutes", [](auto& s) { s.FmtDateTime_Text = "YYYY-MM-DD HH:MM:SS"; },
       "gives the month (MM) after the hour; MM is always the month, minutes are NN"},
      {"field twice", [](auto& s) { s.FmtTime_Text = "HH:NN:NN"; }, "sets the minute twice (NN)"},
      {"rule pattern", [](auto& s) { s.lstJSON_Hint = "temp||1||1||Float||([0-9]"; },
       "format \"([0-9]\" is not used: the pattern does not compile (missing ) at offset 6); the "
       "rule converts as one without"},
      {"boolean words", [](auto& s) { s.lstJSON_Hint = "on||1||1||Boolean||on,yes"; },
       "the format of a Boolean rule is \"true words/false words\""},
      {"format for a type without one", [](auto& s) { s.lstJSON_Hint = "b||1||1||Blob||x"; },
       "type Blob takes no format"},
      {"rule template", [](auto& s) { s.lstJSON_Hint = "at||1||1||DateTime||DD.MM HH:MM"; },
       "line 1 \"at||1||1||DateTime||DD.MM HH:MM\" template \"DD.MM HH:MM\": gives the month"},
      {"empty path level", [](auto& s) { s.lstJSON_Hint = "/site//temp||1||1||Float"; },
       "the path \"/site//temp\" has an empty level"},
  };
  for (const Mistake& mistake : mistakes) {
    SCOPED_TRACE(mistake.category);
    WarningOwner owner;
    owner.store = mistake.write;
    TDataSourceCfg settings(&owner);
    settings.BeginLoad();
    settings.ApplySettings(TDataSourceCfg::kApplyAll);
    ASSERT_EQ(owner.warnings.size(), 1u) << (owner.warnings.empty() ? "" : owner.warnings[0]);
    EXPECT_NE(owner.warnings[0].find(mistake.expected), std::string::npos) << owner.warnings[0];
  }
}

TEST(SettingsCheck, CleanDefaultsAndTheShippedStyleGiveNoWarning) {
  WarningOwner owner;
  owner.store = [](TDataSourceCfg& s) {
    s.lstJSON_Hint = "temp||1||1||Float\r\nok||1||1||boolean\r\n\r\nwhen||1||1||11\r\n"
                     "/site/t||1||1||Float||([-+0-9.,]+)\r\non||1||1||Boolean||on/off\r\n"
                     "ts||1||1||DateTime||UNIXMS UTC";
    s.Filters_Hint = "2||1||^\\{||0\r\n1||0||error||0";
    s.FmtDate_Text = "DD.MM.YYYY";
    s.FmtTime_Text = "HH:NN AM/PM";
  };
  TDataSourceCfg settings(&owner);
  settings.BeginLoad();
  settings.ApplySettings(TDataSourceCfg::kApplyAll);
  EXPECT_TRUE(owner.warnings.empty()) << owner.warnings.front();
}

TEST(SettingsCheck, WarningsComeOncePerLoadAndAgainOnTheNextLoad) {
  WarningOwner owner;
  owner.store = [](TDataSourceCfg& s) { s.lstJSON_Hint = "temp||1||1||Flaot\r\nx||1||yes||0"; };
  TDataSourceCfg settings(&owner);
  settings.BeginLoad();
  settings.ApplySettings(TDataSourceCfg::kApplyAll);
  EXPECT_EQ(owner.warnings.size(), 2u);
  // A state change applies the settings again within the same load.
  settings.ApplySettings(0x02);
  EXPECT_EQ(owner.warnings.size(), 2u);
  // The settings load as they are: the untyped rule stays, the skipped one is skipped.
  ASSERT_EQ(settings.Setup()->ItemRules->size(), 1u);
  EXPECT_EQ(settings.Setup()->ItemRules->front().DataType, 17);
  // A reload repeats them, once each.
  settings.BeginLoad();
  settings.ApplySettings(TDataSourceCfg::kApplyAll);
  EXPECT_EQ(owner.warnings.size(), 4u);
  EXPECT_EQ(settings.LoadWarnings().size(), 2u);
}

} // namespace
