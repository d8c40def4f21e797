// Properties of the packet path that no list of cases covers: how a host cuts a client's stream
// into packets, and how it interleaves its clients, never changes the rows that come out.
#include "pipeline_host.h"
#include "plugin_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using kestrel::testing::PacketResult;
using kestrel::testing::PipelineHost;

using Rows = std::vector<std::string>;

// Every delivered item as "name=type:value"; the time stamp differs from call to call.
void AppendRows(const PacketResult& packet, Rows& rows) {
  for (int i = 0; i < packet.rows->Count(); ++i) {
    const kestrel::TorvParamsListItem* item = packet.rows->Items(i);
    if (item->Key == kestrel::ParamKey("DATE_TIME_STAMP"))
      continue;
    rows.push_back(item->Name + "=" + std::to_string(item->Value.Type()) + ":" +
                   kestrel::VariantToAnsi(item->Value));
  }
}

// A stream of JSON blocks with what a serial line puts between them, and strings full of
// brackets, quotes and escapes that a block scan must not mistake for structure.
std::string RandomStream(std::mt19937& random, int blocks) {
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const auto text = [&] {
    static constexpr char kAlphabet[] = "{}[]\\\" ,:abn";
    std::string quoted(1, '"');
    for (int i = pick(12); i > 0; --i) {
      const char c = kAlphabet[pick(static_cast<int>(sizeof(kAlphabet)) - 1)];
      if (c == '"' || c == '\\')
        quoted.push_back('\\');
      quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
  };
  const auto object = [&](int id) {
    std::string out = "{\"id\":" + std::to_string(id) + ",\"s\":" + text();
    if (pick(2))
      out += ",\"f\":" + std::to_string(pick(1000)) + ".25,\"b\":" + (pick(2) ? "true" : "null");
    if (pick(3) == 0)
      out += ",\"o\":{\"k\":" + text() + ",\"l\":[1," + text() + "]}";
    return out + "}";
  };
  const char* const gaps[] = {"", "\r\n", " ", "noise", "]}"};
  std::string stream;
  for (int id = 0; id < blocks; ++id) {
    stream += gaps[pick(5)];
    const bool array = pick(4) == 0;
    stream += array ? "[" : "";
    stream += object(id);
    if (array) {
      stream += ",";
      stream += object(id);
      stream += "]";
    }
  }
  return stream;
}

// Cut points: 1 to 12 packets, some of a single byte.
std::vector<std::string> RandomSplit(std::mt19937& random, const std::string& stream) {
  std::vector<std::size_t> cuts;
  for (int i = static_cast<int>(random() % 12); i > 0; --i)
    cuts.push_back(random() % (stream.size() + 1));
  if (random() % 4 == 0 && !cuts.empty())
    cuts.push_back(std::min(cuts.front() + 1, stream.size()));
  std::sort(cuts.begin(), cuts.end());
  std::vector<std::string> packets;
  std::size_t from = 0;
  for (std::size_t cut : cuts) {
    packets.push_back(stream.substr(from, cut - from));
    from = cut;
  }
  packets.push_back(stream.substr(from));
  return packets;
}

class StreamProperties : public ::testing::Test {
protected:
  static void SetUpTestSuite() { library_ = new kestrel::testing::PluginLibrary; }
  static void TearDownTestSuite() { delete library_; }

  void SetUp() override {
    ASSERT_TRUE(library_->Loaded()) << library_->Error();
    host_ = std::make_unique<PipelineHost>(library_->Entry());
    ASSERT_EQ(host_->Load("\\Software\\Kestrel\\Properties"), 0);
    ASSERT_EQ(host_->SetState("1;COM1;Serial port 1", true), 0);
  }

  Rows SendAll(int client, const std::vector<std::string>& packets) {
    Rows rows;
    for (const std::string& packet : packets)
      AppendRows(host_->Send(1, client, "c", packet), rows);
    return rows;
  }

  static kestrel::testing::PluginLibrary* library_;
  std::unique_ptr<PipelineHost> host_;
};

kestrel::testing::PluginLibrary* StreamProperties::library_ = nullptr;

TEST_F(StreamProperties, AnySplitGivesTheRowsOfTheWholeStream) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 random(seed);
    const std::string stream = RandomStream(random, 1 + static_cast<int>(random() % 8));
    // Each stream ends with a whole block, so the client's buffer is empty between cases.
    const Rows whole = SendAll(1, {stream});
    ASSERT_FALSE(whole.empty()) << "seed " << seed;
    ASSERT_EQ(SendAll(1, RandomSplit(random, stream)), whole) << "seed " << seed << ": " << stream;
  }
}

TEST_F(StreamProperties, AnyInterleavingKeepsEachClientsRows) {
  constexpr int kClients = 4;
  for (uint32_t seed = 1; seed <= 100; ++seed) {
    std::mt19937 random(seed);
    std::vector<std::vector<std::string>> packets(kClients);
    std::vector<Rows> alone(kClients);
    for (int c = 0; c < kClients; ++c) {
      const std::string stream = RandomStream(random, 1 + static_cast<int>(random() % 6));
      alone[c] = SendAll(100 + c, {stream});
      packets[c] = RandomSplit(random, stream);
    }
    // Take each client's next packet in a random order of clients.
    std::vector<int> order;
    for (int c = 0; c < kClients; ++c)
      order.insert(order.end(), packets[c].size(), c);
    std::shuffle(order.begin(), order.end(), random);
    std::vector<Rows> mixed(kClients);
    std::vector<std::size_t> next(kClients, 0);
    for (int c : order)
      AppendRows(host_->Send(1, 100 + c, "c", packets[c][next[c]++]), mixed[c]);
    for (int c = 0; c < kClients; ++c)
      ASSERT_EQ(mixed[c], alone[c]) << "seed " << seed << ", client " << c;
  }
}

} // namespace
