// Client streams: blocks cut out of packets in any split, the sign time-out, client look-up
// and the idle sweep.
#include "failing_allocator.h"
#include "fake_parser_module.h"
#include "message_pump.h"
#include "parser/serial_port_dm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <random>
#include <thread>
#include <tuple>

namespace {

using namespace kestrel;
using namespace kestrel::parser;
using kestrel::testing::FakeParserModule;
using kestrel::testing::PumpUntil;

std::atomic<uint64_t> g_now{1'000'000};
uint64_t FakeTicks() {
  return g_now.load();
}

class Streams : public ::testing::Test {
protected:
  void SetUp() override {
    TTickWatch::SetTickSource(&FakeTicks);
    setup_ = TParserSetup::Defaults();
  }
  void TearDown() override { TTickWatch::SetTickSource(nullptr); }

  // Feeds one packet; returns the raw texts of the blocks delivered for it.
  std::vector<std::string> Feed(TSerialPortDM& dm, std::string_view bytes, uint32_t client = 1,
                                std::string_view name = "10.0.0.7:5000",
                                int failing_deliveries = 0) {
    TPacketInfo packet;
    packet.DataSourceId = dm.DataSourceId;
    packet.ClientId = client;
    packet.ClientName = name;
    packet.Data = reinterpret_cast<const uint8_t*>(bytes.data());
    packet.Size = static_cast<int32_t>(bytes.size());
    std::vector<std::string> blocks;
    dm.ReceivePacket(packet, *setup_, [&](TParsedDataList& list) {
      if (failing_deliveries-- > 0)
        throw std::bad_alloc();
      blocks.push_back(list.RawText);
    });
    return blocks;
  }
  static int32_t Buffered(TSerialPortDM& dm, uint32_t client = 1) {
    return dm.Clients.Find(client)->Buffer->Count();
  }

  FakeParserModule module_;
  std::shared_ptr<const TParserSetup> setup_;
};

using Blocks = std::vector<std::string>;

TEST_F(Streams, BlocksAcrossAndWithinPackets) {
  TSerialPortDM dm(module_, 4, "Port", "Serial port 4");
  EXPECT_EQ(Feed(dm, "xx{\"a\":1"), Blocks{});
  EXPECT_EQ(Feed(dm, "}yy"), Blocks{"{\"a\":1}"});
  EXPECT_EQ(Buffered(dm), 0); // trailing "yy" discarded in the same call
  EXPECT_EQ(Feed(dm, "{\"a\":2}z"), Blocks{"{\"a\":2}"});
  EXPECT_EQ(Buffered(dm), 1); // a single trailing byte waits

  // The array starts first, then the object: two blocks into the one result of the packet.
  EXPECT_EQ(Feed(dm, "[{\"x\":1}]{\"b\":2}"), (Blocks{"[{\"x\":1}]", "{\"b\":2}"}));
  EXPECT_EQ(Feed(dm, "{\"s\":\"}\"}"), Blocks{"{\"s\":\"}\"}"});
  EXPECT_EQ(Feed(dm, R"({"s":"a\"}"})"), Blocks{R"({"s":"a\"}"})"});
  EXPECT_EQ(Feed(dm, R"({"a":[1,{"b":2}]})"), Blocks{R"({"a":[1,{"b":2}]})"});
  EXPECT_EQ(Feed(dm, R"([{"a":"]"}])"), Blocks{R"([{"a":"]"}])"});
  // Split inside an escape and inside a string.
  EXPECT_EQ(Feed(dm, R"({"s":"x\)"), Blocks{});
  EXPECT_EQ(Feed(dm, R"("}"})"), Blocks{R"({"s":"x\"}"})"});
  EXPECT_EQ(Feed(dm, R"("})"), Blocks{}); // no start: both bytes dropped
  EXPECT_EQ(Buffered(dm), 0);
}

TEST_F(Streams, AnySplitGivesTheSameBlocks) {
  std::mt19937 random(7);
  std::string stream;
  Blocks expected;
  for (int i = 0; i < 60; ++i) {
    std::string value;
    for (int j = 0; j < 20; ++j)
      value += "ab{}[]\" \\"[random() % 9];
    std::string escaped;
    for (char c : value) {
      if (c == '"' || c == '\\')
        escaped += '\\';
      escaped += c;
    }
    const std::string block =
        i % 3 == 0 ? "[{\"k\":\"" + escaped + "\"}]" : "{\"k\":\"" + escaped + "\"}";
    expected.push_back(block);
    stream += (i % 2 ? "\r\n" : "") + block;
  }
  for (const std::size_t split : {1u, 2u, 7u, 64u, 1500u, 100000u}) {
    TSerialPortDM dm(module_, 1, "Net", "Network");
    Blocks got;
    for (std::size_t at = 0; at < stream.size(); at += split)
      for (auto& block : Feed(dm, std::string_view(stream).substr(at, split)))
        got.push_back(block);
    EXPECT_EQ(got, expected) << "split " << split;
  }
}

TEST_F(Streams, APacketLargerThanTheRoomLeftLosesNoWholeBlock) {
  TSerialPortDM dm(module_, 1, "Net", "Network");
  std::string stream;
  Blocks expected;
  for (int i = 0; stream.size() < 3 * 16384; ++i) {
    expected.push_back("{\"n\":" + std::to_string(i) + ",\"pad\":\"" + std::string(100, 'p') +
                       "\"}");
    stream += expected.back();
  }
  Blocks got;
  for (std::size_t at = 0; at < stream.size(); at += 16384)
    for (auto& block : Feed(dm, std::string_view(stream).substr(at, 16384)))
      got.push_back(block);
  EXPECT_EQ(got, expected);

  // One block longer than the buffer: its oldest bytes go, and the buffer never holds more
  // than its capacity.
  const std::string huge = "{\"big\":\"" + std::string(40000, 'x') + "\"}";
  EXPECT_EQ(Feed(dm, huge), Blocks{});
  EXPECT_LE(Buffered(dm), 16384);
}

TEST_F(Streams, AFailedDeliveryLosesOnlyItsOwnBlock) {
  TSerialPortDM dm(module_, 1, "Net", "Network");
  EXPECT_EQ(Feed(dm, "{\"a\":1}{\"b\":2}", 1, "c", 1), Blocks{"{\"b\":2}"});
  EXPECT_EQ(Feed(dm, "{\"c\":3}"), Blocks{"{\"c\":3}"});
  // A packet larger than the buffer: its rest is still appended and cut after the failure.
  std::string packet;
  Blocks expected;
  for (int n = 0; packet.size() < 20000; ++n) {
    const std::string block =
        "{\"n\":" + std::to_string(n) + ",\"p\":\"" + std::string(80, 'p') + "\"}";
    packet += block;
    if (n > 0)
      expected.push_back(block);
  }
  EXPECT_EQ(Feed(dm, packet, 1, "c", 1), expected);
  EXPECT_EQ(Buffered(dm), 0);
  EXPECT_EQ(module_.Log().size(), 2u); // one line per lost block
}

TEST_F(Streams, AFailedPacketIsLoggedOncePerClientAndCounted) {
  TSerialPortDM dm(module_, 1, "Net", "Network");
  auto cfg = std::make_shared<TParserSetup>(*setup_);
  auto raw = std::make_shared<TorvTranslationTable>();
  raw->RemoveControl = true; // the packet is translated into a text of its own
  cfg->RawTable = raw;
  setup_ = cfg;
  EXPECT_EQ(Feed(dm, "{\"a\":1}", 1), Blocks{"{\"a\":1}"});
  const std::string large(100000, ' ');
  {
    kestrel::testing::FailLargeAllocations fail(large.size());
    EXPECT_EQ(Feed(dm, large, 1), Blocks{});
    EXPECT_EQ(Feed(dm, large, 1), Blocks{});
    // A client that cannot be made: its buffer is the allocation that fails.
    kestrel::testing::FailLargeAllocations fail_buffer(16384);
    EXPECT_EQ(Feed(dm, "{\"b\":2}", 2), Blocks{});
    EXPECT_EQ(Feed(dm, "{\"b\":2}", 3), Blocks{});
  }
  EXPECT_EQ(dm.Statistics.FailedPackets.Get(), 4u);
  const auto log = module_.Log();
  ASSERT_EQ(log.size(), 2u); // once for client 1, once for the packets without a client
  EXPECT_EQ(log[0].rfind("0:A packet of client 1 (10.0.0.7:5000) on data source Net failed", 0), 0u)
      << log[0];
  EXPECT_EQ(log[1].rfind("0:A packet on data source Net failed", 0), 0u) << log[1];
  EXPECT_EQ(Feed(dm, "{\"c\":3}", 1), Blocks{"{\"c\":3}"}); // the stream goes on
}

// Random blocks of every size up to `largest` bytes, their strings full of brackets, quotes
// and escapes, with blanks and noise between them.
std::vector<std::string> RandomBlocks(std::mt19937& random, int count, std::size_t largest) {
  std::vector<std::string> blocks;
  for (int i = 0; i < count; ++i) {
    const std::size_t size = 2 + random() % largest;
    static constexpr std::string_view kAlphabet = "ab{}[] \\\"";
    std::string text;
    while (text.size() < size) {
      const char c = kAlphabet[random() % kAlphabet.size()];
      if (c == '"' || c == '\\')
        text += '\\';
      text += c;
    }
    const std::string object = "{\"k\":\"" + text + "\"}";
    blocks.push_back(i % 3 == 0 ? "[" + object + "]" : object);
  }
  return blocks;
}

TEST_F(Streams, AnySplitDropsExactlyTheBlocksOverTheMaximum) {
  std::mt19937 random(11);
  // A maximum below the buffer's size, and one above it that the buffer grows to.
  for (const auto& [maximum, largest, count] :
       {std::tuple{100, std::size_t{300}, 150}, std::tuple{40000, std::size_t{60000}, 12}}) {
    auto cfg = std::make_shared<TParserSetup>(*setup_);
    cfg->MaxBlockSize = maximum;
    setup_ = cfg;
    const std::vector<std::string> blocks = RandomBlocks(random, count, largest);
    std::string stream;
    Blocks expected;
    int oversize = 0;
    for (const std::string& block : blocks) {
      stream += random() % 2 ? "\r\n" : "";
      stream += block;
      // The bytes after the opening bracket count.
      if (block.size() - 1 <= static_cast<std::size_t>(maximum))
        expected.push_back(block);
      else
        ++oversize;
    }
    ASSERT_GT(oversize, 0);
    for (const std::size_t split : {1u, 2u, 7u, 99u, 100u, 101u, 1500u, 16384u, 1000000u}) {
      TSerialPortDM dm(module_, 1, "Net", "Network");
      Blocks got;
      for (std::size_t at = 0; at < stream.size(); at += split)
        for (auto& block : Feed(dm, std::string_view(stream).substr(at, split)))
          got.push_back(block);
      EXPECT_EQ(got, expected) << "maximum " << maximum << ", split " << split;
      EXPECT_EQ(dm.Statistics.Oversize.Get(), static_cast<uint64_t>(oversize));
      EXPECT_EQ(dm.Statistics.DiscardedBytes.Get(), 0u); // blanks between blocks are no loss
      // A buffer grown for a long block is back to its usual size.
      EXPECT_EQ(dm.Clients.Find(1)->Buffer->Capacity(), TCustomParserClient::kDefaultCapacity);
    }
  }
}

TEST_F(Streams, LossesAreLoggedOncePerClientAndCounted) {
  TSerialPortDM dm(module_, 1, "Net", "Network");
  EXPECT_EQ(Feed(dm, "noise{\"a\":1}\r\n junk{\"b\":2}"), (Blocks{"{\"a\":1}", "{\"b\":2}"}));
  EXPECT_EQ(Feed(dm, "{\"a\":"), Blocks{});
  g_now += 6000;
  EXPECT_EQ(Feed(dm, "1}{\"c\":"), Blocks{}); // the first half is dropped, "1}" discarded
  g_now += 6000;
  EXPECT_EQ(Feed(dm, "{\"d\":4}"), Blocks{"{\"d\":4}"});
  EXPECT_EQ(dm.Statistics.DiscardedBytes.Get(), 11u); // "noise", "junk", "1}"
  EXPECT_EQ(dm.Statistics.TimedOut.Get(), 2u);
  EXPECT_EQ(Feed(dm, "  ", 2), Blocks{}); // another client: blanks only
  EXPECT_EQ(Feed(dm, "garbage", 2), Blocks{});
  EXPECT_EQ(Feed(dm, "{not json}[neither]", 2), Blocks{});
  EXPECT_EQ(dm.Statistics.DiscardedBytes.Get(), 18u);
  EXPECT_EQ(dm.Statistics.Packets.Get(), 7u);
  EXPECT_EQ(dm.Statistics.Bytes.Get(), 73u);
  EXPECT_EQ(dm.Statistics.Blocks.Get(), 5u);
  EXPECT_EQ(dm.Statistics.Unparsable.Get(), 2u);

  const auto log = module_.Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].rfind("2:Bytes outside JSON blocks of client 1 (10.0.0.7:5000) on data source "
                         "Net were discarded: noise",
                         0),
            0u)
      << log[0];
  EXPECT_EQ(log[1].rfind("2:A half-received block of client 1 (10.0.0.7:5000) on data source "
                         "Net (5 bytes) was dropped",
                         0),
            0u)
      << log[1];
  EXPECT_EQ(log[2].rfind("2:Bytes outside JSON blocks of client 2", 0), 0u) << log[2];
  EXPECT_EQ(log[3].rfind("1:A block of client 2 (10.0.0.7:5000) on data source Net is not JSON "
                         "and gives no rows: {not json}",
                         0),
            0u)
      << log[3];
  const std::string line = dm.Statistics.Line(dm.DataSourceId);
  EXPECT_EQ(line, "source=1 packets=7 bytes=73 blocks=5 rows=3 filtered=0 unparsable=2 "
                  "oversize=0 timed_out=2 discarded_bytes=18 conversion_errors=0 clients_swept=0");
  dm.Statistics.Reset();
  EXPECT_EQ(dm.Statistics.Line(7), "source=7 packets=0 bytes=0 blocks=0 rows=0 filtered=0 "
                                   "unparsable=0 oversize=0 timed_out=0 discarded_bytes=0 "
                                   "conversion_errors=0 clients_swept=0");
}

TEST_F(Streams, SignTimeoutDropsAHalfBlock) {
  TSerialPortDM dm(module_, 1, "Net", "Network");
  EXPECT_EQ(Feed(dm, "{\"a\":"), Blocks{});
  g_now += 6000;
  EXPECT_EQ(Feed(dm, "1}{\"b\":2}"), Blocks{"{\"b\":2}"}); // the old half is gone

  auto cfg = std::make_shared<TParserSetup>(*setup_);
  cfg->SignTimeout = 0;
  setup_ = cfg;
  EXPECT_EQ(Feed(dm, "{\"a\":"), Blocks{});
  g_now += 6000;
  EXPECT_EQ(Feed(dm, "1}"), Blocks{"{\"a\":1}"}); // off: completed
}

TEST_F(Streams, ClientsAreKeptApartAndSweptWhenIdle) {
  TSerialPortDM dm(module_, 1, "Net", "Network");
  EXPECT_EQ(Feed(dm, "{\"a\":", 1), Blocks{});
  EXPECT_EQ(Feed(dm, "{\"b\":", 2), Blocks{});
  EXPECT_EQ(Feed(dm, "1}", 1), Blocks{"{\"a\":1}"});
  EXPECT_EQ(Feed(dm, "2}", 2), Blocks{"{\"b\":2}"});
  EXPECT_EQ(dm.Clients.Count(), 2);
  EXPECT_EQ(dm.Clients.Find(1)->ShortName, "10.0.0.7");

  g_now += 30000;
  Feed(dm, "", 2); // an empty packet counts as activity
  g_now += 30000;
  dm.CheckClientsTimer();
  EXPECT_EQ(dm.Clients.Count(), 1); // client 1 idle for a minute
  EXPECT_NE(dm.Clients.Find(2), nullptr);
  g_now += 120000;
  dm.CheckClientsTimer();
  // The sweep itself removes the last one too; it is the timer that only runs with two or more.
  EXPECT_EQ(dm.Clients.Count(), 0);
  EXPECT_EQ(dm.Statistics.ClientsSwept.Get(), 2u);

  // RemoveIdle without removal only marks.
  Feed(dm, "x", 5);
  g_now += 61000;
  RemoveIdle(dm.Clients, 60000, false);
  EXPECT_TRUE(dm.Clients.Find(5)->Stale);
}

TEST_F(Streams, UnassignedClientIsReused) {
  TSerialPortDM dm(module_, 1, "Net", "Network");
  EXPECT_EQ(Feed(dm, "{\"a\":", 0, "__UT__pending"), Blocks{});
  EXPECT_TRUE(dm.Clients.Find(0)->Unassigned);
  // Another unassigned packet uses it unchanged.
  EXPECT_EQ(Feed(dm, "1,", 9, "__UT__other"), Blocks{});
  EXPECT_EQ(dm.Clients.Count(), 1);
  EXPECT_TRUE(dm.Clients.Find(0)->Unassigned);
  // A named client takes it over, buffered bytes included.
  EXPECT_EQ(Feed(dm, "\"b\":2}", 7, "host.lan:80"), Blocks{"{\"a\":1,\"b\":2}"});
  // A later packet under the old id is a client of its own: the named client's half block
  // survives it.
  EXPECT_EQ(Feed(dm, "{\"c\":", 7, "host.lan:80"), Blocks{});
  EXPECT_EQ(Feed(dm, "{\"x\":", 0, "__UT__late"), Blocks{});
  EXPECT_EQ(Feed(dm, "3}", 7, "host.lan:80"), Blocks{"{\"c\":3}"});
  EXPECT_EQ(dm.Clients.Count(), 2);
  // The named client is filed under its own id.
  TCustomParserClient* client = dm.Clients.Find(7);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->ClientId, 7u);
  EXPECT_EQ(client->ShortName, "host.lan");
  EXPECT_FALSE(client->Unassigned);
  EXPECT_TRUE(dm.Clients.Find(0)->Unassigned);
}

TEST_F(Streams, IdleClientIsSweptWhileAnotherKeepsSending) {
  TSerialPortDM dm(module_, 1, "Net", "Network");
  Feed(dm, "{", 2); // goes quiet from here on
  std::atomic<int> sent{0};
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    while (!stop) {
      Feed(dm, "x", 1);
      ++sent;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  // Once client 1 has sent after the clock moved on, only client 2 has been quiet for too long;
  // this thread does not pump meanwhile, so no sweep comes before that. The limits only end a
  // run in which the awaited event never comes.
  const bool started = PumpUntil([&] { return sent > 0; }, 10000);
  g_now += TSerialPortDM::kIdleLimit + 1000;
  const int before = sent;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (sent == before && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const bool sent_since = sent > before;
  const bool swept = PumpUntil([&] { return !dm.Clients.Find(2); }, 10000);
  stop = true;
  sender.join();
  EXPECT_TRUE(started && sent_since) << "the other client stopped sending";
  EXPECT_TRUE(swept) << "the sweep did not remove the quiet client";
  EXPECT_NE(dm.Clients.Find(1), nullptr);
}

TEST_F(Streams, TheSweepTimerRunsOnlyWithTwoClients) {
  TSerialPortDM dm(module_, 1, "Net", "Network");
  Feed(dm, "{", 1);
  EXPECT_FALSE(dm.CheckClientsRunning());
  Feed(dm, "{", 2);
  EXPECT_TRUE(dm.CheckClientsRunning()); // same thread as the module: set at once
  dm.Shutdown();
  Feed(dm, "}", 2); // works on without its timer
  EXPECT_FALSE(dm.CheckClientsRunning());
}

} // namespace
