// One block through filters, flattening, value conversion and row completion.
#include "fake_parser_module.h"
#include "parser/block_processing.h"
#include "parser/data_source_cfg.h"
#include "parser/serial_port_dm.h"
#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

using namespace kestrel;
using namespace kestrel::parser;
using kestrel::testing::FakeParserModule;

class Extraction : public ::testing::Test {
protected:
  // Settings as the options dialog would leave them.
  void Configure(const std::string& items, const std::string& filters = "") {
    cfg_.lstJSON_Hint = items;
    cfg_.Filters_Hint = filters;
    cfg_.ApplySettings(TDataSourceCfg::kApplyAll);
  }

  // Runs one framed block through the pipeline; returns the delivered list->
  std::unique_ptr<TParsedDataList> Block(const std::string& framed, uint32_t client_id = 3) {
    TPacketInfo packet;
    packet.ClientId = client_id;
    packet.ClientName = "10.1.2.3:99";
    TKestrelClient client(nullptr, packet);
    client.OpenText = framed.substr(0, 1);
    client.CloseText = framed.substr(framed.size() - 1);
    auto list = std::make_unique<TParsedDataList>();
    ProcessBlock(dm_, client, std::string_view(framed).substr(1, framed.size() - 2), *list,
                 *cfg_.Setup());
    return list;
  }

  static Variant Value(const std::unique_ptr<TParsedDataList>& list, const char* name) {
    return list->GetValue(name);
  }

  FakeParserModule module_;
  TDataSourceCfg cfg_;
  TSerialPortDM dm_{module_, 12, "COM1", "Serial COM1"};
};

TEST_F(Extraction, FiltersOfBothMethodsAndConditions) {
  EXPECT_GT(Block("{\"m\":\"error\"}")->Count(), 0); // no rules: accepted
  Configure("", "1||0||error||0");
  EXPECT_EQ(Block("{\"m\":\"error\"}")->Count(), 0);
  EXPECT_GT(Block("{\"m\":\"Error\"}")->Count(), 0); // substring search is case-sensitive
  Configure("", "1||1||error||0");
  EXPECT_EQ(Block("{\"m\":\"Error\"}")->Count(), 0); // expressions match caseless

  Configure("", "2||0||temp||0\n1||0||temp||1");
  EXPECT_EQ(Block("{\"m\":1}")->Count(), 0);
  EXPECT_GT(Block("{\"temp\":1}")->Count(), 0);

  Configure("", "2||1||^\\{||0");
  EXPECT_GT(Block("{\"m\":1}")->Count(), 0);
  EXPECT_EQ(Block("[{\"m\":1}]")->Count(), 0);
  Configure("", "2||1||^\\{||1");
  EXPECT_GT(Block("[{\"m\":1}]")->Count(), 0); // a rule that does not apply leaves acceptance

  // An expression that does not compile finds nothing, silently.
  Configure("", "1||1||(||0");
  EXPECT_GT(Block("{\"m\":1}")->Count(), 0);
  Configure("", "2||1||(||0");
  EXPECT_EQ(Block("{\"m\":1}")->Count(), 0);
  // Unknown methods never find; unknown conditions never apply.
  Configure("", "2||5||m||0");
  EXPECT_EQ(Block("{\"m\":1}")->Count(), 0);
  Configure("", "7||0||m||0");
  EXPECT_GT(Block("{\"m\":1}")->Count(), 0);
  EXPECT_TRUE(module_.Log().empty());
  // The raw text of an accepted block is the framed block.
  EXPECT_EQ(Block("{\"m\":1}")->RawText, "{\"m\":1}");
}

TEST_F(Extraction, ValueConversions) {
  Configure("f||1||1||Float\n"
            "g||1||1||Float\n"
            "h||1||1||Float\n"
            "i||1||1||Integer\n"
            "b||1||1||Boolean\n"
            "c||1||1||Boolean\n"
            "w||1||1||DWord\n"
            "v||1||1||DWord\n"
            "l||1||1||Int64\n"
            "s||1||1||String\n"
            "m||1||1||Memo\n"
            "d||1||1||Date\n"
            "t||1||1||Time\n"
            "x||1||1||Smallint\n");
  const auto list = Block(R"({"f":"3,5","g":3.5,"h":"1,234.5","i":" 42 ","b":1,"c":"no",)"
                          R"("w":"4294967295","v":"4294967296","l":"-9000000000","s":"  pad  ",)"
                          R"("m":"  memo ","d":"2024-05-01","t":"23:59:58","x":"12.5"})");
  EXPECT_EQ(Value(list, "f"), Variant(3.5));
  EXPECT_EQ(Value(list, "g"), Variant(3.5));
  EXPECT_EQ(Value(list, "h"), Variant("1,234.5"));
  EXPECT_EQ(Value(list, "i"), Variant(42));
  EXPECT_EQ(Value(list, "b"), Variant(true));
  EXPECT_EQ(Value(list, "c"), Variant("no"));
  EXPECT_EQ(Value(list, "w"), Variant::UInt32(4294967295u));
  EXPECT_EQ(Value(list, "v"), Variant("4294967296"));
  EXPECT_EQ(Value(list, "l"), Variant(int64_t{-9000000000}));
  EXPECT_EQ(Value(list, "s"), Variant("  pad  "));
  EXPECT_EQ(Value(list, "m"), Variant("  memo "));
  EXPECT_EQ(Value(list, "d"), Variant::DateTime(45413)); // 1 May 2024
  EXPECT_NEAR(Value(list, "t").Raw().date, (23 * 3600 + 59 * 60 + 58) / 86400.0, 1e-9);
  EXPECT_EQ(Value(list, "x"), Variant("12.5"));
  const auto log = module_.Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], "0:Error occurred while parameter formatting ('1.234.5' is not a valid "
                    "floating point value)");
  EXPECT_EQ(log[1], "0:Error occurred while parameter formatting ('no' is not a valid boolean "
                    "value)");
  EXPECT_EQ(log[2], "0:Error occurred while parameter formatting ('4294967296' is not a valid "
                    "integer value)");
  EXPECT_EQ(log[3], "0:Error occurred while parameter formatting ('12.5' is not a valid integer "
                    "value)");
}

TEST_F(Extraction, NumbersReachTheirRulesWithEveryDigit) {
  Configure("l||1||1||Int64\nm||1||1||Int64\nf||1||1||Float\ng||1||1||Float");
  const auto list =
      Block(R"({"l":1234567890123456,"m":-9007199254740993,"f":1234567890123456,"g":0.1})");
  EXPECT_EQ(Value(list, "l"), Variant(int64_t{1234567890123456}));
  EXPECT_EQ(Value(list, "m"), Variant(int64_t{-9007199254740993})); // beyond a double's 53 bits
  EXPECT_EQ(Value(list, "f"), Variant(1234567890123456.0));
  EXPECT_EQ(Value(list, "g"), Variant(0.1));
  EXPECT_TRUE(module_.Log().empty());
}

TEST_F(Extraction, NumbersBeyondTheDoubleRangeAreDeliveredAsWritten) {
  Configure("r||1||1||Float");
  const auto list = Block(R"({"a":-2E+308,"c":1.7976931348623157e308,"r":1e400})");
  EXPECT_EQ(Value(list, "a"), Variant("-2E+308"));
  EXPECT_EQ(Value(list, "c"), Variant(1.7976931348623157e308)); // the largest double stays one
  EXPECT_EQ(Value(list, "r"), Variant("1e400")); // a Float rule cannot take it either
  const auto log = module_.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "1:The number -2E+308 is beyond the range of a floating-point value and is "
                    "delivered as text");
  EXPECT_TRUE(log[1].starts_with("0:Error occurred while parameter formatting ('1e400'")) << log[1];
}

TEST_F(Extraction, StringTrimAndTranslation) {
  cfg_.LeftTrim_Checked = true;
  cfg_.RightTrim_Checked = true;
  // Map1 lowers the whole text first.
  cfg_.MapTransl1_Strings = {"N", "N", "2"};
  Configure("s||1||1||0");
  EXPECT_EQ(Value(Block(R"({"s":"  MiXed\t "})"), "s"), Variant("mixed"));
}

TEST_F(Extraction, TextTheCodePageCannotHoldArrivesWhole) {
  // The ANSI code page is 1252 here: no Cyrillic, no CJK.
  const auto wide = [](const char* utf8) {
    return Variant(platform::WideStringView(platform::Utf8ToWide(utf8)));
  };
  cfg_.LeftTrim_Checked = true;
  cfg_.RightTrim_Checked = true;
  cfg_.MapTransl1_Strings = {"N", "N", "2"}; // lowers String values
  Configure("msg||1||1||String\nm||1||1||Memo\nn||1||1||Integer\nplain||1||1||String");
  const std::string block = "{\"msg\":\"  Привет 温度 \",\"m\":\"温度\",\"n\":\"４２\","
                            "\"plain\":\" ABC \",\"Привет\":1}";
  for (int round = 0; round < 2; ++round) {
    const auto list = Block(block);
    EXPECT_EQ(Value(list, "msg"), wide("Привет 温度"));
    EXPECT_EQ(Value(list, "m"), wide("温度"));
    EXPECT_EQ(Value(list, "n"), wide("４２"));       // no number: kept as the text it was
    EXPECT_EQ(Value(list, "plain"), Variant("abc")); // the map applies where the text converts
    EXPECT_EQ(Value(list, "??????"), Variant(1));
  }
  const auto log = module_.Log();
  ASSERT_EQ(log.size(), 4u); // the map and the name once, the failed number every time
  EXPECT_EQ(log[0], "1:The character map for String values is not applied to \"msg\" on data "
                    "source COM1: a value holds characters the system code page cannot represent "
                    "and is delivered as received.");
  EXPECT_EQ(log[1].rfind("0:Error occurred while parameter formatting ('?"
                         "?' is not a valid",
                         0),
            0u)
      << log[1];
  EXPECT_EQ(log[2], "1:The member name \"\\u041F\\u0440\\u0438\\u0432\\u0435\\u0442\" on data "
                    "source COM1 cannot be written in the system code page; its values are "
                    "delivered under the name \"??????\".");
  EXPECT_EQ(dm_.Statistics.ConversionErrors.Get(), 2u);
}

TEST_F(Extraction, ReportsOfNamesFromTheDataAreBounded) {
  // Every name is new, so each would be remembered; the data decide how many there are.
  std::string block = "{";
  for (int i = 0; i < 1100; ++i)
    block += (i ? ",\"\u0416" : "\"\u0416") + std::to_string(i) + "\":1";
  block += "}";
  Block(block);
  Block(block);
  const auto log = module_.Log();
  ASSERT_EQ(log.size(), TSerialPortDM::kReportedKeyLimit + 1);
  EXPECT_EQ(log.back(), "1:Data source COM1 has made 1000 different reports; further ones "
                        "(member names the code page cannot hold among them) are not logged.");
}

TEST_F(Extraction, DateAndTimeTemplates) {
  cfg_.FmtDate_Text = "DD.MM.YYYY";
  cfg_.FmtDateTime_Text = "";
  Configure("d||1||1||Date\ne||1||1||DateTime\nbad||1||1||Date");
  const auto list = Block(R"({"d":" 01.05.2024 ","e":"whatever","bad":"2024-05-01"})");
  EXPECT_EQ(Value(list, "d"), Variant::DateTime(45413));
  EXPECT_EQ(Value(list, "e"), Variant::DateTime(0)); // an empty template gives the zero date
  EXPECT_EQ(Value(list, "bad"), Variant("2024-05-01"));
  const auto log = module_.Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(log[0].starts_with("0:Failed to convert the date/time string '2024-05-01' using the "
                                 "template 'DD.MM.YYYY' ("))
      << log[0];
}

TEST_F(Extraction, StandardFieldsOnTheFirstRowOnly) {
  const auto list = Block(R"([{"a":1},{"a":2}])");
  EXPECT_EQ(list->RawText, R"([{"a":1},{"a":2}])");
  // Row 1: a, the seven standard fields, the row marker; row 2 has no packet texts.
  ASSERT_EQ(list->Count(), 9 + 7);
  EXPECT_EQ(list->GetValue("FULL_DATA_PACKET", 0, kStopAtRowEnd), Variant(R"([{"a":1},{"a":2}])"));
  EXPECT_EQ(list->GetValue("DATA_PACKET", 0, kStopAtRowEnd), Variant(R"([{"a":1},{"a":2}])"));
  EXPECT_EQ(list->IndexOf("FULL_DATA_PACKET", 9), -1);
  EXPECT_EQ(list->GetValue("a", 9), Variant(2));
  EXPECT_EQ(list->GetValue("CLIENTID", 9), Variant(3));
  EXPECT_EQ(list->GetValue("DATA_SOURCE_NAME", 9), Variant("10.1.2.3"));
  EXPECT_EQ(list->GetValue("DATA_SOURCE_ID"), Variant(12));
  EXPECT_TRUE(list->Items(8)->IsRowMarker());
  // Without a client id the data source's own name is used.
  EXPECT_EQ(Block("{\"a\":1}", 0)->GetValue("DATA_SOURCE_NAME"), Variant("COM1"));
}

TEST_F(Extraction, SeenItemsAreRecordedForFiftyRows) {
  Block(R"({"Temp":1.5,"data_source_id":7,"name":"x"})");
  auto seen = dm_.SeenItems();
  ASSERT_EQ(seen.size(), 2u); // a standard name is delivered but not recorded
  EXPECT_EQ(seen[0].Name, "Temp");
  EXPECT_EQ(seen[0].Type, VT_R8);
  EXPECT_EQ(seen[1].Type, VT_BSTR);
  Block(R"({"TEMP":"text","other":1})"); // known names are not recorded twice
  EXPECT_EQ(dm_.SeenItems().size(), 3u);
  for (int i = 0; i < 60; ++i)
    Block("{\"late" + std::to_string(i) + "\":1}");
  EXPECT_EQ(dm_.SeenRows(), 50u);
  EXPECT_EQ(dm_.SeenItems().size(), 3u + 48u);
}

TEST_F(Extraction, NotJsonGivesNothingButALine) {
  EXPECT_EQ(Block("{not json at all}")->Count(), 0);
  const auto log = module_.Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("1:A block of client 3 (10.1.2.3:99) on data source COM1 is not JSON and "
                         "gives no rows: {not json at all}",
                         0),
            0u)
      << log[0];
}

TEST_F(Extraction, FilteredBlocksRowsAndFailedConversionsAreCounted) {
  Configure("i||1||1||Integer", "1||0||drop||0");
  EXPECT_EQ(Block(R"({"i":"x","m":"drop"})")->Count(), 0);
  EXPECT_GT(Block(R"([{"i":1},{"i":"y"}])")->Count(), 0);
  EXPECT_EQ(Block("{not json}")->Count(), 0);
  EXPECT_EQ(dm_.Statistics.Filtered.Get(), 1u);
  EXPECT_EQ(dm_.Statistics.Rows.Get(), 2u);
  EXPECT_EQ(dm_.Statistics.ConversionErrors.Get(), 1u);
  EXPECT_EQ(dm_.Statistics.Unparsable.Get(), 1u);
}

TEST_F(Extraction, StartNodeDepthAndNames) {
  cfg_.BegSign_Text = "payload";
  cfg_.chkAddNodeName_Checked = true;
  cfg_.chkNameUpper_Checked = true;
  cfg_.spDepth_Value = 2;
  Configure("");
  const auto list = Block(R"({"meta":{"v":1},"payload":{"a":1,"b":{"c":2,"d":{"e":3}}}})");
  EXPECT_EQ(list->GetValue("A"), Variant(1));
  EXPECT_EQ(list->GetValue("B_C"), Variant(2));
  EXPECT_EQ(list->IndexOf("B_D_E"), -1);
  EXPECT_EQ(list->IndexOf("V"), -1);
}

} // namespace
