// The item rule forms for device data, through the exports: a rule's own format (template,
// pattern, boolean words), epoch times, rules by path and arrays of objects expanded.
#include "pipeline_host.h"
#include "plugin_library.h"
#include "settings_scratch.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kestrel::Variant;
using kestrel::testing::PipelineHost;
using kestrel::testing::ScratchFolder;

class ItemRuleForms : public ::testing::Test {
protected:
  static void SetUpTestSuite() { library_ = new kestrel::testing::PluginLibrary; }
  static void TearDownTestSuite() { delete library_; }

  // An instance whose [Common] section holds `rules` (one per line) and the `extra` entries.
  std::unique_ptr<PipelineHost> Loaded(const std::string& rules, const std::string& extra = "") {
    std::string stored; // the INI file's encoding of a text value
    for (const char c : rules)
      stored += c == '\n' ? "%0D%0A" : c == '+' ? "%2B" : std::string(1, c);
    const std::string file = folder_.File("settings.ini");
    kestrel::testing::WriteText(file, "[Common]\r\nAdd node name=True\r\nJSON items=" + stored +
                                          "\r\n" + extra);
    auto host = std::make_unique<PipelineHost>(library_->Entry());
    EXPECT_EQ(host->Command("LOAD", {{"REGISTRY-PATH", Variant("\\Software\\Kestrel\\Forms")},
                                     {"INI-FILE", Variant(file)}}),
              0);
    EXPECT_EQ(host->SetState("1;NET;Network", true), 0);
    return host;
  }

  static kestrel::testing::PluginLibrary* library_;
  ScratchFolder folder_;
};

kestrel::testing::PluginLibrary* ItemRuleForms::library_ = nullptr;

// 9 December 2024 10:26:40 UTC as a date-time: 1733740000 s after 1970-01-01.
constexpr double kMoment = 25569 + 1733740000.0 / 86400;

TEST_F(ItemRuleForms, FormatsEpochTimesAndPaths) {
  auto host = Loaded("temp||1||1||Float||([-+0-9.,]+)\n"
                     "/probe/temp||1||1||String\n"
                     "seen||1||1||DateTime||DD.MM.YYYY HH:NN\n"
                     "ts||1||1||DateTime||UNIX UTC\n"
                     "ms||1||1||DateTime||unixms utc\n"
                     "state||1||1||Boolean||on,yes,1/off,no,0\n"
                     "relay||1||1||Boolean||on,yes,1/off,no,0\n"
                     "code||1||1||Integer||#(\\d+)",
                     "Date and time format=YYYY\r\n");
  const auto result = host->Send(
      1, 1, "c",
      R"({"site":{"temp":"21,5 °C"},"probe":{"temp":"19.0 C"},"seen":"09.12.2026 07:05",)"
      R"("ts":1733740000,"ms":"1733740000250","state":"ON","relay":"no","code":"x#42"})"
      R"({"code":"none","relay":"maybe"})");
  const auto& rows = *result.rows;
  EXPECT_EQ(rows.GetValue("site_temp"), Variant(21.5));
  EXPECT_EQ(rows.GetValue("probe_temp"), Variant("19.0 C")); // the path rule wins
  EXPECT_EQ(rows.GetValue("seen"), Variant::DateTime(46365 + (7 * 60 + 5) / 1440.0));
  EXPECT_EQ(rows.GetValue("ts"), Variant::DateTime(kMoment));
  EXPECT_NEAR(rows.GetValue("ms").Raw().date, kMoment + 0.25 / 86400, 1e-9);
  EXPECT_EQ(rows.GetValue("state"), Variant(true));
  EXPECT_EQ(rows.GetValue("relay"), Variant(false));
  EXPECT_EQ(rows.GetValue("code"), Variant(42));
  // The second block: a value the pattern does not match, and a word that is neither, keep
  // their texts and are logged and counted as failed conversions.
  ASSERT_EQ(result.Rows(), 2);
  const std::string log = host->Log();
  EXPECT_NE(log.find("'none' does not match the pattern '#(\\d+)'"), std::string::npos) << log;
  EXPECT_NE(log.find("'maybe' is not a valid boolean value"), std::string::npos) << log;
}

TEST_F(ItemRuleForms, ArraysOfObjectsExpandOnlyWhenAsked) {
  const std::string block =
      R"({"readings":[{"t":1,"v":"3.5"},{"t":2,"v":"4,25"}],"tags":["a",{"b":1}]})";
  auto plain = Loaded("v||1||1||Float");
  const auto before = plain->Send(1, 1, "c", block);
  EXPECT_EQ(before.rows->GetValue("readings").Type(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(before.rows->GetValue("readings_0_v").Type(), VT_EMPTY);
  plain.reset();

  auto expanded = Loaded("v||1||1||Float\n/readings/1/t||1||1||String", "Expand arrays=True\r\n");
  const auto after = expanded->Send(1, 1, "c", block);
  EXPECT_EQ(after.rows->GetValue("readings").Type(), VT_EMPTY);
  EXPECT_EQ(after.rows->GetValue("readings_0_t"), Variant(1));
  EXPECT_EQ(after.rows->GetValue("readings_0_v"), Variant(3.5));
  EXPECT_EQ(after.rows->GetValue("readings_1_t"), Variant("2")); // by its path
  EXPECT_EQ(after.rows->GetValue("readings_1_v"), Variant(4.25));
  // An array that holds anything but objects stays one value.
  EXPECT_EQ(after.rows->GetValue("tags").Type(), VT_ARRAY | VT_VARIANT);
}

} // namespace
