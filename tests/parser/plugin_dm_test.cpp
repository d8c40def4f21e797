// The parser module driven through the exports linked into this test, with its settings
// supplied by a test store: filters, conversions with their log texts, date/time rules, the
// sign time-out, the idle sweep on the state thread, unassigned clients, and packets on two
// data sources while the settings are reapplied.
#include "common/tick_watch.h"
#include "common/variant_convert.h"
#include "message_pump.h"
#include "parser/plugin_dm.h"
#include "pipeline_host.h"
#include "platform/messages.h"
#include "settings_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace kestrel;
using namespace kestrel::parser;
using kestrel::testing::PacketResult;
using kestrel::testing::PipelineHost;
using kestrel::testing::PluginEntryPoints;

// What the test store holds: property name -> value (string lists as lines).
std::mutex g_store_mutex;
std::map<std::string, Variant> g_store;
std::map<std::string, std::vector<std::string>> g_store_lists;

void LoadFromTestStore(TDataSourceCfg& settings) {
  std::lock_guard lock(g_store_mutex);
  for (const auto& [name, value] : g_store)
    settings.SetPropertyValue(name, value);
  for (const auto& [name, lines] : g_store_lists)
    if (auto* list = settings.StringsProperty(name))
      *list = lines;
}

void Store(const std::string& name, Variant value) {
  std::lock_guard lock(g_store_mutex);
  g_store[name] = std::move(value);
}

std::atomic<uint64_t> g_now{10'000'000};
uint64_t FakeTicks() {
  return g_now.load();
}

using kestrel::testing::PumpFor;

class PluginHost : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    SetModuleClass(&kestrel::testing::CreateSettingsModule<&LoadFromTestStore>);
  }
  static void TearDownTestSuite() { SetModuleClass(nullptr); }
  void SetUp() override {
    std::lock_guard lock(g_store_mutex);
    g_store.clear();
    g_store_lists.clear();
  }
  void TearDown() override { TTickWatch::SetTickSource(nullptr); }

  std::unique_ptr<PipelineHost> Host(const std::string& sources = "1;COM1;Serial port 1") {
    const PluginEntryPoints entry = kestrel::testing::LinkedPluginEntryPoints();
    auto host = std::make_unique<PipelineHost>(entry);
    EXPECT_EQ(host->Load("\\Software\\Kestrel\\InProcess"), 0);
    EXPECT_EQ(host->SetState(sources, true), 0);
    return host;
  }
};

TEST_F(PluginHost, FiltersConversionsAndTheirLogTexts) {
  Store("Filters_Hint", Variant("1||0||drop||0\n2||1||^\\{||0"));
  Store("lstJSON_Hint", Variant("f||1||1||Float\nb||1||1||Boolean\nd||1||1||Date\n"
                                "t||1||1||Time\ni||1||1||Int64\nskip||0||0||0"));
  Store("FmtDate_Text", Variant("DD.MM.YYYY"));
  Store("RightTrim_Checked", Variant(true));
  auto host = Host();

  PacketResult kept = host->Send(1, 1, "c",
                                 R"({"f":"3,5","b":"no","d":"01.05.2024","t":"25:00:00",)"
                                 R"("i":"12","skip":1,"s":"x "})");
  ASSERT_EQ(kept.Rows(), 1);
  EXPECT_EQ(kept.rows->GetValue("f"), Variant(3.5));
  EXPECT_EQ(kept.rows->GetValue("b"), Variant("no"));
  EXPECT_EQ(kept.rows->GetValue("d"), Variant::DateTime(45413));
  EXPECT_EQ(kept.rows->GetValue("t"), Variant("25:00:00"));
  EXPECT_EQ(kept.rows->GetValue("i"), Variant(int64_t{12}));
  EXPECT_EQ(kept.rows->IndexOf("skip"), -1);
  EXPECT_EQ(kept.rows->GetValue("s"), Variant("x ")); // no rule: no trimming
  EXPECT_EQ(host->Send(1, 1, "c", R"({"m":"drop me"})").Rows(), 0);
  EXPECT_EQ(host->Send(1, 1, "c", R"([{"m":1}])").Rows(), 0); // does not start with a brace

  const std::string log = host->Log();
  EXPECT_NE(log.find("Kestrel. Error occurred while parameter formatting ('no' is not a valid "
                     "boolean value)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Kestrel. Failed to convert the date/time string '25:00:00' using the "
                     "template 'HH\":\"NN\":\"SS' ("),
            std::string::npos)
      << log;
}

TEST_F(PluginHost, SignTimeoutOnAndOff) {
  TTickWatch::SetTickSource(&FakeTicks);
  auto host = Host();
  EXPECT_EQ(host->Send(1, 1, "c", "{\"a\":").Rows(), 0);
  g_now += 6000;
  EXPECT_EQ(host->Send(1, 1, "c", "1}").Rows(), 0); // the half block was dropped

  Store("spSignTimeout_Value", Variant(0));
  ASSERT_EQ(host->Command("LOAD-SETTINGS-NOW", {{"NO-SAVE", Variant(1)}}), -2);
  EXPECT_EQ(host->Send(1, 1, "c", "{\"a\":").Rows(), 0);
  g_now += 6000;
  EXPECT_EQ(host->Send(1, 1, "c", "1}").Rows(), 1);
}

TEST_F(PluginHost, IdleClientsAreSweptOnlyWhileTwoExist) {
  TTickWatch::SetTickSource(&FakeTicks);
  Store("spSignTimeout_Value", Variant(0));
  auto host = Host(); // the data module's timer belongs to this thread, which pumps below

  // One client: never swept, however long it stays quiet.
  host->Send(1, 1, "one", "{\"a\":");
  g_now += 120000;
  PumpFor(400);
  EXPECT_EQ(host->Send(1, 1, "one", "1}").Rows(), 1);

  // Two clients: the quiet one goes, with its half block.
  host->Send(1, 1, "one", "{\"a\":");
  host->Send(1, 2, "two", "{\"b\":");
  g_now += 30000;
  host->Send(1, 2, "two", "2");
  g_now += 31000;
  PumpFor(400);
  EXPECT_EQ(host->Send(1, 1, "one", "1}").Rows(), 0); // a new client object: no start seen
  EXPECT_EQ(host->Send(1, 2, "two", "}").Rows(), 1);
}

TEST_F(PluginHost, UnassignedClientIsTakenOverByTheNextNamedOne) {
  auto host = Host();
  EXPECT_EQ(host->Send(1, 0, "__UT__1", "{\"a\":").Rows(), 0);
  EXPECT_EQ(host->Send(1, 4, "__UT__2", "1,").Rows(), 0);
  PacketResult done = host->Send(1, 7, "192.168.1.9:4000", "\"b\":2}");
  ASSERT_EQ(done.Rows(), 1);
  EXPECT_EQ(done.rows->GetValue("a"), Variant(1));
  EXPECT_EQ(done.rows->GetValue("CLIENTID"), Variant(7));
  EXPECT_EQ(done.rows->GetValue("DATA_SOURCE_NAME"), Variant("192.168.1.9"));
}

TEST_F(PluginHost, RowsOfSeveralBlocksGoStraightIntoAPlainHostList) {
  // Items are handed over whole into a plain list; a name with a zero byte is cut at it, as
  // it is when it crosses the boundary as a C string.
  auto host = Host();
  PacketResult result =
      host->Send(1, 1, "c", R"({"a":"one"}{"b\u0000x":2}[{"c":3},{"d":4}]{"e":5})");
  ASSERT_EQ(result.Rows(), 5);
  EXPECT_EQ(result.deliveries, 4u);
  EXPECT_EQ(result.All("a"), std::vector<Variant>{Variant("one")});
  EXPECT_EQ(result.All("b"), std::vector<Variant>{Variant(2)});
  EXPECT_EQ(result.All("d"), std::vector<Variant>{Variant(4)});
  EXPECT_EQ(result.All("e"), std::vector<Variant>{Variant(5)});
  for (int i = 0; i < result.rows->Count(); ++i) {
    const TorvParamsListItem& item = *result.rows->Items(i);
    EXPECT_EQ(item.Key, ParamKey(item.Name)) << item.Name;
  }
}

TEST_F(PluginHost, APacketLargerThanTheBufferGivesEveryBlock) {
  // Blocks delivered early in the call move the host's packet block (the raw texts are
  // appended to it); the rest of the packet must still be read intact.
  auto host = Host();
  std::string packet;
  int blocks = 0;
  while (packet.size() < 3 * 16384) {
    packet += "{\"n\":" + std::to_string(blocks++) + ",\"pad\":\"" + std::string(90, 'q') + "\"}";
  }
  PacketResult result = host->Send(1, 1, "c", packet);
  EXPECT_EQ(result.Rows(), blocks);
  const auto numbers = result.All("n");
  ASSERT_EQ(numbers.size(), static_cast<std::size_t>(blocks));
  EXPECT_EQ(numbers.back(), Variant(blocks - 1));
  EXPECT_TRUE(result.raw.starts_with(packet)); // the packet's own bytes come first
}

TEST_F(PluginHost, PacketsOnTwoSourcesWhileSettingsAreReapplied) {
  // The two filter lists drop the same blocks (those marked "drop") in different ways; a
  // block that saw part of one list, or parts of both, would be kept or dropped wrongly.
  const char* const filters[] = {"1||0||drop||0", "1||0||keep||1\n2||0||zzz||0"};
  Store("spSignTimeout_Value", Variant(0));
  Store("lstJSON_Hint", Variant("v||1||1||String\nw||1||1||String"));
  Store("Filters_Hint", Variant(filters[0]));
  auto host = Host("1;COM1;Serial port 1\r\n2;NET;Network");

  std::atomic<bool> stop{false};
  std::atomic<int> mixed{0};
  const auto feed = [&](int32_t source, std::vector<int>& kept, std::atomic<int>& sent) {
    while (!stop || sent < 50) {
      const int seq = sent.load();
      const std::string block = "{\"v\":\"7\",\"seq\":" + std::to_string(seq) + ",\"k\":\"" +
                                (seq % 2 ? "drop" : "keep") + "\",\"n\":{\"w\":\"7\"}}";
      for (std::size_t at = 0; at < block.size(); at += 5) {
        PacketResult result = host->Send(source, 1, "c", std::string_view(block).substr(at, 5));
        for (const Variant& seq : result.All("seq"))
          kept.push_back(VariantToInt64(seq).value_or(-1));
        const auto v = result.All("v");
        const auto w = result.All("w");
        for (std::size_t i = 0; i < v.size() && i < w.size(); ++i)
          if (v[i].Type() != w[i].Type())
            ++mixed;
      }
      ++sent;
    }
  };
  std::vector<int> kept_1, kept_2;
  std::atomic<int> sent_1{0}, sent_2{0};
  std::thread one([&] { feed(1, kept_1, sent_1); });
  std::thread two([&] { feed(2, kept_2, sent_2); });
  // The settings are reapplied once both sources send, and until each sent blocks meanwhile,
  // however the threads were scheduled. The deadline only ends a run in which that never happens.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((sent_1 == 0 || sent_2 == 0) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  const int before_1 = sent_1, before_2 = sent_2;
  int reapplied = 0;
  for (; reapplied < 40 || sent_1 - before_1 < 5 || sent_2 - before_2 < 5; ++reapplied) {
    if (std::chrono::steady_clock::now() >= deadline)
      break;
    const int i = reapplied;
    Store("lstJSON_Hint", Variant(i % 2 ? "v||1||1||String\nw||1||1||String"
                                        : "v||1||1||Integer\nw||1||1||Integer"));
    Store("Filters_Hint", Variant(filters[i % 2]));
    host->Command("LOAD-SETTINGS-NOW", {{"NO-SAVE", Variant(1)}});
    host->SetState("1;COM1;Serial port 1\r\n2;NET;Network", true);
    host->Items();
    PumpFor(2);
  }
  const int during_1 = sent_1 - before_1, during_2 = sent_2 - before_2;
  stop = true;
  one.join();
  two.join();
  EXPECT_GE(during_1, 5) << "blocks of source 1 during " << reapplied << " reapplications";
  EXPECT_GE(during_2, 5) << "blocks of source 2 during " << reapplied << " reapplications";
  EXPECT_EQ(mixed, 0); // every block saw one version of the item rules, whole
  // Exactly the "keep" blocks arrived, each once, in order.
  const auto expected = [](int sent) {
    std::vector<int> seqs;
    for (int seq = 0; seq < sent; seq += 2)
      seqs.push_back(seq);
    return seqs;
  };
  EXPECT_EQ(kept_1, expected(sent_1));
  EXPECT_EQ(kept_2, expected(sent_2));
}

} // namespace
