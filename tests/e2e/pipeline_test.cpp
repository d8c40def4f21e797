// The JSON parser driven through the loaded library's exports, as a data logger drives it.
#include "pipeline_host.h"
#include "plugin_library.h"

#include <gtest/gtest.h>

namespace {

using kestrel::Variant;
using kestrel::testing::PacketResult;
using kestrel::testing::PipelineHost;
using kestrel::testing::RawAfterPacket;

class Pipeline : public ::testing::Test {
protected:
  static void SetUpTestSuite() { library_ = new kestrel::testing::PluginLibrary; }
  static void TearDownTestSuite() { delete library_; }
  void SetUp() override { ASSERT_TRUE(library_->Loaded()) << library_->Error(); }

  static std::unique_ptr<PipelineHost> LoadedHost(const std::string& path,
                                                  const std::string& sources) {
    auto host = std::make_unique<PipelineHost>(library_->Entry());
    EXPECT_TRUE(host->Created());
    EXPECT_EQ(host->Load(path), 0);
    EXPECT_EQ(host->SetState(sources, true), 0);
    return host;
  }

  static kestrel::testing::PluginLibrary* library_;
};

kestrel::testing::PluginLibrary* Pipeline::library_ = nullptr;

TEST_F(Pipeline, BlocksComeBackInTheCallThatCompletesThem) {
  auto host = LoadedHost("\\Software\\Kestrel\\E2E1", "1;COM1;Serial port 1\r\n2;NET;Network");
  PacketResult first = host->Send(1, 5, "10.0.0.7:5000", "xx{\"a\":1");
  EXPECT_EQ(first.code, 0);
  EXPECT_EQ(first.rows->Count(), 0);
  EXPECT_EQ(first.deliveries, 0u);
  EXPECT_TRUE(first.raw.empty());

  PacketResult second = host->Send(1, 5, "10.0.0.7:5000", "}yy");
  EXPECT_EQ(second.code, 0);
  ASSERT_EQ(second.Rows(), 1);
  EXPECT_EQ(second.deliveries, 1u);
  EXPECT_EQ(second.rows->GetValue("a"), Variant(1));
  EXPECT_EQ(second.rows->GetValue("FULL_DATA_PACKET"), Variant("{\"a\":1}"));
  EXPECT_EQ(second.rows->GetValue("DATA_PACKET"), Variant("{\"a\":1}"));
  EXPECT_EQ(second.rows->GetValue("DATA_SOURCE_ID"), Variant(1));
  EXPECT_EQ(second.rows->GetValue("DATA_SOURCE_FULL_NAME"), Variant("Serial port 1"));
  EXPECT_EQ(second.rows->GetValue("CLIENTID"), Variant(5));
  EXPECT_EQ(second.rows->GetValue("DATA_SOURCE_NAME"), Variant("10.0.0.7"));
  EXPECT_EQ(second.rows->GetValue("DATE_TIME_STAMP").Type(), VT_DATE);
  EXPECT_EQ(RawAfterPacket("}yy", second.raw), "{\"a\":1}");

  // Several blocks in one packet, with brackets and escaped quotes inside strings; the array
  // gives one row per element and only the first carries the packet texts.
  const std::string packet = R"([{"x":1},{"x":2}] {"s":"a\"}]"})";
  PacketResult both = host->Send(1, 5, "10.0.0.7:5000", packet);
  EXPECT_EQ(both.deliveries, 2u);
  EXPECT_EQ(both.Rows(), 3);
  EXPECT_EQ(both.All("x"), (std::vector<Variant>{Variant(1), Variant(2)}));
  EXPECT_EQ(both.All("s"), std::vector<Variant>{Variant("a\"}]")});
  EXPECT_EQ(both.All("FULL_DATA_PACKET"),
            (std::vector<Variant>{Variant(R"([{"x":1},{"x":2}])"), Variant(R"({"s":"a\"}]"})")}));
  EXPECT_EQ(RawAfterPacket(packet, both.raw), R"([{"x":1},{"x":2}]<{[::]}>{"s":"a\"}]"})");

  // The other data source and a packet without a client id.
  PacketResult net = host->Send(2, 0, "", "{\"n\":true}");
  EXPECT_EQ(net.rows->GetValue("n"), Variant(true));
  EXPECT_EQ(net.rows->GetValue("DATA_SOURCE_NAME"), Variant("NET"));
  EXPECT_EQ(net.rows->IndexOf("CLIENTID"), -1);
  // A data source the module does not serve is ignored.
  EXPECT_EQ(host->Send(3, 0, "", "{\"n\":1}").rows->Count(), 0);
}

TEST_F(Pipeline, StateChangesCreateAndDestroyDataModules) {
  auto host = LoadedHost("\\Software\\Kestrel\\E2E2", "1;COM1;Serial port 1");
  EXPECT_EQ(host->Send(1, 1, "a", "{\"t\":1}").Rows(), 1);
  EXPECT_EQ(host->Items().size(), 8u); // seven standard items and t

  ASSERT_EQ(host->SetState("1;COM1;Serial port 1", false), 0);
  EXPECT_EQ(host->Send(1, 1, "a", "{\"t\":1}").Rows(), 0);
  EXPECT_TRUE(host->Items().empty()); // no data module: nothing at all

  // A new data module starts afresh: the names seen before went with the old one.
  ASSERT_EQ(host->SetState("1;COM1;Serial port 1\r\n2;NET;Network", true), 0);
  EXPECT_EQ(host->Items().size(), 7u);
  EXPECT_EQ(host->Send(2, 1, "a", "{\"u\":1}").Rows(), 1);
  // Only the data sources of the latest configuration are served.
  ASSERT_EQ(host->SetState("2;NET;Network", true), 0);
  EXPECT_EQ(host->Send(1, 1, "a", "{\"t\":1}").Rows(), 0);
  EXPECT_EQ(host->Send(2, 1, "a", "{\"u\":2}").Rows(), 1);

  // After UNLOAD the module has no settings: the packet handler says so.
  ASSERT_EQ(host->Command("UNLOAD"), 0);
  EXPECT_EQ(host->Send(2, 1, "a", "{\"u\":3}").code, -1);
}

TEST_F(Pipeline, ItemsMergeEveryInstanceOfTheSameSettings) {
  auto a = LoadedHost("\\Software\\Kestrel\\Shared", "1;COM1;Serial port 1");
  auto b = LoadedHost("\\Software\\Kestrel\\Shared", "2;NET;Network");
  auto other = LoadedHost("\\Software\\Kestrel\\Other", "3;USB;USB port");
  a->Send(1, 1, "c", R"({"temp":21.5,"Data_Source_Id":9})");
  b->Send(2, 1, "c", R"({"hum":40,"TEMP":"x","when":"2024-05-01T10:00:00","l":[1,2]})");
  other->Send(3, 1, "c", R"({"volt":5})");

  const std::vector<std::string> expected = {
      "Full data packet|FULL_DATA_PACKET|String|",
      "Data packet|DATA_PACKET|String|",
      "Datetime stamp|DATE_TIME_STAMP|DateTime|",
      "Data source ID|DATA_SOURCE_ID|Integer|",
      "Data source name|DATA_SOURCE_NAME|String|",
      "Data source long name|DATA_SOURCE_FULL_NAME|String|",
      "Client ID|CLIENTID|Integer|",
      "XML item|hum|Integer|",
      "XML item|l||",
      "XML item|temp|Float|",
      "XML item|when|DateTime|",
  };
  EXPECT_EQ(a->Items(), expected);
  EXPECT_EQ(b->Items(), expected);
  EXPECT_EQ(other->Items().size(), 8u);
}

} // namespace
