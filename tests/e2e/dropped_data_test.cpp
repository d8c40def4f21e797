// What the plug-in drops, through its exports: a block longer than the maximum block size goes
// whole and the blocks after it come out as if it had never come, at every split of the
// stream; every loss is logged once per client and counted in the module parameter
// "Statistics".
#include "pipeline_host.h"
#include "platform/text.h"
#include "plugin_library.h"
#include "settings_scratch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kestrel::Variant;
using kestrel::VariantToAnsi;
using kestrel::testing::PipelineHost;
using kestrel::testing::ScratchFolder;

class DroppedData : public ::testing::Test {
protected:
  static void SetUpTestSuite() { library_ = new kestrel::testing::PluginLibrary; }
  static void TearDownTestSuite() { delete library_; }

  // An instance whose settings come from an INI file of `common` entries.
  std::unique_ptr<PipelineHost> Loaded(const std::string& common) {
    const std::string file = folder_.File("settings.ini");
    kestrel::testing::WriteText(file, "[Common]\r\n" + common);
    auto host = std::make_unique<PipelineHost>(library_->Entry());
    EXPECT_EQ(host->Command("LOAD", {{"REGISTRY-PATH", Variant("\\Software\\Kestrel\\Dropped")},
                                     {"INI-FILE", Variant(file)}}),
              0);
    EXPECT_EQ(host->SetState("1;NET;Network\r\n2;COM;Serial", true), 0);
    return host;
  }

  static std::string Statistics(PipelineHost& host) {
    Variant result;
    EXPECT_EQ(host.Command("GET-MODULE-PARAMETER", {{"PARAM", Variant("Statistics")}}, 0, &result),
              0);
    return VariantToAnsi(result);
  }

  // The ids of the rows a stream gives when a client sends it in packets of `split` bytes.
  static std::vector<std::string> Ids(PipelineHost& host, const std::string& stream,
                                      std::size_t split, int32_t client = 1) {
    std::vector<std::string> ids;
    for (std::size_t at = 0; at < stream.size(); at += split)
      for (const Variant& id :
           host.Send(1, client, "10.0.0.9:7", std::string_view(stream).substr(at, split)).All("id"))
        ids.push_back(VariantToAnsi(id));
    return ids;
  }

  static int CountLines(const std::string& log, const std::string& part) {
    int count = 0;
    for (std::size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1))
      ++count;
    return count;
  }

  static kestrel::testing::PluginLibrary* library_;
  ScratchFolder folder_;
};

kestrel::testing::PluginLibrary* DroppedData::library_ = nullptr;

const std::string kBig = R"({"id":"big","blob":")" + std::string(17000, 'x') + "\"}";
const std::string kSmall = R"({"id":1,"v":"a{"}
{"id":2,"v":"]"}
{"id":3,"v":"\""}
{"id":4,"v":[1,2]}
{"id":5,"v":{"w":"}"}}
)";
const std::vector<std::string> kFive = {"1", "2", "3", "4", "5"};

TEST_F(DroppedData, AnOversizeBlockGoesWholeAtEverySplit) {
  auto host = Loaded("Sign timeout=0\r\n");
  const std::string stream = kBig + "\n" + kSmall;
  for (std::size_t split = 1; split <= stream.size(); ++split)
    ASSERT_EQ(Ids(*host, stream, split), kFive) << "packets of " << split << " bytes";
  // A second client has its own line; every block is counted.
  ASSERT_EQ(Ids(*host, stream, 1500, 2), kFive);
  const std::string log = host->Log();
  EXPECT_EQ(CountLines(log, "is longer than the maximum block size"), 2) << log;
  EXPECT_NE(log.find("\x02Kestrel. A block of client 1 (10.0.0.9:7) on data source NET is longer "
                     "than the maximum block size (16385 bytes so far"),
            std::string::npos)
      << log;
  const std::string splits = std::to_string(stream.size() + 1);
  EXPECT_NE(Statistics(*host).find(" blocks=" + std::to_string(5 * (stream.size() + 1)) +
                                   " rows=" + std::to_string(5 * (stream.size() + 1)) +
                                   " filtered=0 unparsable=0 oversize=" + splits + " "),
            std::string::npos)
      << Statistics(*host);
}

TEST_F(DroppedData, ALargerMaximumKeepsTheBlock) {
  auto host = Loaded("Sign timeout=0\r\nMaximum block size=65536\r\n");
  const std::string stream = kBig + "\n" + kSmall;
  std::vector<std::string> six = {"big"};
  six.insert(six.end(), kFive.begin(), kFive.end());
  for (const std::size_t split : {1u, 7u, 1500u, 16384u, 17100u, 100000u})
    EXPECT_EQ(Ids(*host, stream, split), six) << "packets of " << split << " bytes";
  // A block that outgrows even that is dropped, and the stream goes on after it.
  const std::string huge = R"({"id":"huge","blob":")" + std::string(70000, 'y') + "\"}";
  EXPECT_EQ(Ids(*host, huge + kSmall, 4096), kFive);
  EXPECT_EQ(Ids(*host, stream, 64), six);
  EXPECT_EQ(CountLines(host->Log(), "is longer than the maximum block size"), 1);
}

TEST_F(DroppedData, TextOutsideTheCodePageArrivesWholeUnderAStringRule) {
  auto host = Loaded("JSON items=msg||1||1||String\r\n");
  const auto result = host->Send(1, 1, "c", "{\"msg\":\"Привет 温度\"}");
  EXPECT_EQ(result.rows->GetValue("msg"), Variant(kestrel::platform::WideStringView(
                                              kestrel::platform::Utf8ToWide("Привет 温度"))));
}

TEST_F(DroppedData, StatisticsAreReadAndResetThroughModuleParameters) {
  auto host = Loaded("Filter=1||0||drop||0\r\nJSON items=n||1||1||Integer\r\n");
  host->Send(2, 0, "", "x{\"n\":1}{\"n\":\"one\"}{\"m\":\"drop\"}{no json}");
  host->Send(1, 4, "10.0.0.1:4", "[{\"n\":2},{\"n\":3}]");
  const std::string zeros = " filtered=0 unparsable=0 oversize=0 timed_out=0 discarded_bytes=0 "
                            "conversion_errors=0 clients_swept=0";
  EXPECT_EQ(Statistics(*host),
            "source=1 packets=1 bytes=17 blocks=1 rows=2" + zeros +
                "\r\nsource=2 packets=1 bytes=40 blocks=4 rows=2 filtered=1 unparsable=1 "
                "oversize=0 timed_out=0 discarded_bytes=1 conversion_errors=1 clients_swept=0");
  Variant taken;
  EXPECT_EQ(host->Command("SET-MODULE-PARAMETER",
                          {{"PARAM", Variant("statistics")}, {"VALUE", Variant(0)}}, 0, &taken),
            0);
  EXPECT_EQ(taken, Variant(true));
  EXPECT_EQ(Statistics(*host), "source=1 packets=0 bytes=0 blocks=0 rows=0" + zeros +
                                   "\r\nsource=2 packets=0 bytes=0 blocks=0 rows=0" + zeros);
}

} // namespace
