// ProcessData through the export: flags, outcome messages, delivery into the host's record.
#include "module_host.h"

#include "platform/host_memory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace kestrel {
namespace {

using testing::ModuleHost;

// A packet handler as the parser module's: one delivered list per "block" of the packet text
// (blocks separated by ";"), each with its text as raw text.
class ParsingModule : public TorvPlugin {
public:
  explicit ParsingModule(TPluginCallRec* rec) : TorvPlugin(rec) {
    OnPacket = [this](TorvPlugin&, TPluginCallRec* rec, int32_t& result) {
      ++calls;
      if (answer == kThrow)
        throw std::runtime_error("parser broke");
      if (rec->DataDesc.Kind == KESTREL_KIND_MEMORY && rec->DataDesc.Payload) {
        const std::string packet(reinterpret_cast<const char*>(rec->DataDesc.Payload),
                                 rec->DataDesc.Size);
        std::size_t start = 0;
        int block = 0;
        while (start < packet.size()) {
          std::size_t end = packet.find(';', start);
          if (end == std::string::npos)
            end = packet.size();
          TParsedDataList list;
          list.AppendRaw(packet.substr(start, end - start));
          list.Add("block", Variant(block++));
          DeliverResults(rec, list, true);
          start = end + 1;
        }
      }
      result = answer;
    };
  }
  static constexpr int32_t kThrow = -100;
  std::atomic<int32_t> answer{0};
  std::atomic<int> calls{0};
};

std::unique_ptr<TorvPlugin> CreateParsing(TPluginCallRec* rec) {
  return CreateModule<ParsingModule>(rec);
}

// One ProcessData call of the host: a packet in a block of the shared allocator, a result list.
struct Packet {
  explicit Packet(ModuleHost& host, const std::string& bytes, uint8_t flags) : rec(host.Record()) {
    params.Add("X", 0);
    rec.Params = &params;
    rec.DataFlags = flags;
    if (!bytes.empty()) {
      rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
      rec.DataDesc.Size = static_cast<uint32_t>(bytes.size());
      void* block = platform::HostAllocate(bytes.size());
      std::memcpy(block, bytes.data(), bytes.size());
      rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(block);
      owned = block;
    }
    rec.ResultDesc.Kind = KESTREL_KIND_LIST;
    rec.ResultDesc.Payload = reinterpret_cast<uintptr_t>(&results);
  }
  ~Packet() { platform::HostFree(owned); }
  std::string Text() const {
    return rec.DataDesc.Payload
               ? std::string(reinterpret_cast<const char*>(rec.DataDesc.Payload), rec.DataDesc.Size)
               : std::string();
  }
  // The host takes over the block a call leaves in DataDesc (its own may have been grown).
  int32_t Run() {
    const int32_t result = ProcessData(&rec);
    if (rec.DataDesc.Kind == KESTREL_KIND_MEMORY && rec.DataDesc.Payload)
      owned = reinterpret_cast<void*>(rec.DataDesc.Payload);
    return result;
  }

  TorvParamsList params;
  TorvParamsList results;
  TPluginCallRec rec;
  void* owned = nullptr;
};

TEST(ProcessData, DeliveriesAppendRowsAndJoinRawTexts) {
  ModuleHost host(&CreateParsing);
  auto& module = host.Module<ParsingModule>();
  module.answer = 5;
  Packet packet(host, "{a};{b}", KESTREL_DATA_PACKET);
  packet.results.Add("kept", 1);
  EXPECT_EQ(packet.Run(), 5);
  // The packet bytes stay in front, each block text follows, joined.
  EXPECT_EQ(packet.Text(), "{a};{b}<{[::]}>{a}<{[::]}>{b}");
  EXPECT_EQ(+packet.rec.DataDesc.Kind, KESTREL_KIND_MEMORY);
  EXPECT_EQ(+packet.rec.ResultDesc.Counter, 2);
  ASSERT_EQ(packet.results.Count(), 3);
  EXPECT_EQ(packet.results.Items(0)->Name, "kept");
  EXPECT_EQ(packet.results.Items(2)->Value, Variant(1));
  EXPECT_EQ(packet.results.Items(2)->State, 2);
  EXPECT_EQ(+packet.rec.ResultDesc.Kind, KESTREL_KIND_LIST); // the host's list, as given
}

TEST(ProcessData, DeliveryWithoutAppendReplacesAndEmptyTextsStillCount) {
  ModuleHost host(&CreateParsing);
  TorvPlugin& module = host.Module();
  TorvParamsList results;
  results.Add("old", 1);
  TPluginCallRec rec = testing::NewRecord();
  rec.ResultDesc.Kind = KESTREL_KIND_LIST_UNCHECKED;
  rec.ResultDesc.Payload = reinterpret_cast<uintptr_t>(&results);
  TParsedDataList list;
  list.Add("new", 2);
  module.DeliverResults(&rec, list, false); // no raw text: no block
  EXPECT_EQ(+rec.DataDesc.Payload, 0u);
  EXPECT_EQ(+rec.ResultDesc.Counter, 1);
  ASSERT_EQ(results.Count(), 1);
  EXPECT_EQ(results.Items(0)->Name, "new");

  list.AppendRaw("one");
  module.DeliverResults(&rec, list, true);
  list.RawText = "two";
  module.DeliverResults(&rec, list, false); // the block's old bytes are dropped
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rec.DataDesc.Payload), rec.DataDesc.Size), "two");
  list.RawText = "three<{[::]}>";
  module.DeliverResults(&rec, list, true);
  list.RawText = "four";
  module.DeliverResults(&rec, list, true); // the bytes end with the joiner already
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rec.DataDesc.Payload), rec.DataDesc.Size),
            "two<{[::]}>three<{[::]}>four");
  platform::HostFree(reinterpret_cast<void*>(rec.DataDesc.Payload));
  EXPECT_EQ(+rec.ResultDesc.Counter, 5);

  // Without a result list nothing is delivered, not even the text.
  TPluginCallRec none = testing::NewRecord();
  module.DeliverResults(&none, list, true);
  EXPECT_EQ(+none.DataDesc.Payload, 0u);
  EXPECT_EQ(+none.ResultDesc.Counter, 0);
}

TEST(ProcessData, FlagsDecideWhatRunsAndWhatIsLogged) {
  ModuleHost host(&CreateParsing);
  auto& module = host.Module<ParsingModule>();
  module.LogTitle.Set("K");
  {
    Packet packet(host, "{a}", 0); // no flags: the handler is not asked
    EXPECT_EQ(packet.Run(), 0);
    EXPECT_EQ(module.calls, 0);
    EXPECT_EQ(+packet.rec.DataDesc.Payload, 0u);
  }
  {
    // A write request whose list is empty: nothing to process.
    Packet packet(host, "", KESTREL_DATA_WRITE);
    TorvParamsList empty;
    auto hand_in_empty = [&](uint8_t flags) {
      packet.rec.DataDesc.Kind = KESTREL_KIND_LIST;
      packet.rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(&empty);
      packet.rec.DataFlags = flags;
    };
    hand_in_empty(KESTREL_DATA_WRITE);
    EXPECT_EQ(packet.Run(), 0);
    EXPECT_EQ(module.calls, 0);
    EXPECT_EQ(host.CollectLog(), "\x02K. No data for processing\r\n");
    // Not a write request: the handler runs, but its positive answer without data counts 0.
    module.answer = 3;
    hand_in_empty(KESTREL_DATA_PACKET);
    EXPECT_EQ(packet.Run(), 0);
    EXPECT_EQ(module.calls, 1);
    // Keeping empty lists, the list is data.
    hand_in_empty(KESTREL_DATA_WRITE | KESTREL_DATA_KEEP_EMPTY);
    EXPECT_EQ(packet.Run(), 3);
    EXPECT_EQ(module.calls, 2);
    EXPECT_EQ(+packet.rec.DataDesc.Payload, 0u); // nothing delivered: no block for the host
    EXPECT_EQ(host.CollectLog(), "\x03K. Data have been processed successfully\r\n");
  }
  {
    Packet packet(host, "{a}", KESTREL_DATA_PACKET | KESTREL_DATA_REPORT);
    module.answer = -1;
    EXPECT_EQ(packet.Run(), -1);
    module.answer = ParsingModule::kThrow;
    EXPECT_EQ(packet.Run(), KESTREL_RESULT_FAILED);
    EXPECT_EQ(host.CollectLog(), "\x02K. Data have been processed with errors\r\n"
                                 "\x02K. Data have been processed with errors: parser broke\r\n");
  }
  {
    // Empty outcome texts write nothing.
    module.MsgWriteComplete.Set("");
    module.answer = 0;
    Packet packet(host, "{a}", KESTREL_DATA_PACKET | KESTREL_DATA_WRITE);
    EXPECT_EQ(packet.Run(), 0);
    EXPECT_EQ(host.CollectLog(), "");
  }
}

TEST(ProcessData, PassThroughWithoutHandler) {
  ModuleHost host(&CreateTorvPlugin);
  {
    Packet packet(host, "raw", KESTREL_DATA_PASS_THROUGH);
    const TPluginCallData input = packet.rec.DataDesc;
    EXPECT_EQ(packet.Run(), 0);
    EXPECT_EQ(std::memcmp(&packet.rec.ResultDesc, &input, sizeof(input)), 0);
    EXPECT_EQ(+packet.rec.DataDesc.Payload, 0u);
  }
  {
    // A list handed in comes out as the host's list, not as a wrapper of the finished call.
    Packet packet(host, "", KESTREL_DATA_PASS_THROUGH);
    TorvParamsList input;
    input.Add("a", 1);
    packet.rec.DataDesc.Kind = KESTREL_KIND_LIST;
    packet.rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(&input);
    EXPECT_EQ(packet.Run(), 0);
    EXPECT_EQ(+packet.rec.ResultDesc.Kind, KESTREL_KIND_LIST);
    EXPECT_EQ(+packet.rec.ResultDesc.Payload, reinterpret_cast<uintptr_t>(&input));
    EXPECT_EQ(+packet.rec.DataDesc.Payload, 0u);
  }
}

// Commands on one thread, packets on others: the log, the texts and the counters stay whole.
TEST(ProcessData, PacketsAndCommandsOnDifferentThreads) {
  testing::HostWindow window;
  ModuleHost host(&CreateParsing);
  auto& module = host.Module<ParsingModule>();
  module.answer = 1;
  ASSERT_EQ(host.Command("LOAD", {{"MSG-PROC-HANDLE", window.Handle()}}), 0);
  std::atomic<int> rounds{0}; // command rounds done
  // A fixed number of packets: every one notifies the host window, and packet threads that ran
  // until told to stop could post faster than this thread pumps.
  constexpr int kPacketsPerThread = 200;
  // The packets start once commands run, and each packet thread waits half-way until commands
  // ran since its start; the commands go on until the packets are done. So both sides run side
  // by side however the threads are scheduled; the deadline only ends a run in which they don't.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const auto wait_for_commands = [&](int more_than) {
    while (rounds.load() <= more_than && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    return rounds.load() > more_than;
  };
  std::atomic<int> finished{0};
  std::atomic<int> unmet{0};
  std::vector<std::thread> packets;
  for (int t = 0; t < 2; ++t)
    packets.emplace_back([&] {
      const int at_start = wait_for_commands(0) ? rounds.load() : 0;
      for (int i = 0; i < kPacketsPerThread; ++i) {
        if (i == kPacketsPerThread / 2 && !wait_for_commands(at_start))
          ++unmet;
        Packet packet(host, "{x};{y}", KESTREL_DATA_PACKET | KESTREL_DATA_REPORT);
        EXPECT_EQ(packet.Run(), 1);
        EXPECT_EQ(packet.results.Count(), 2);
      }
      ++finished;
    });
  // The packet threads post to this thread's window: it pumps until they are done.
  std::string log;
  int last = -1;
  for (int i = 0; i < 200 || finished.load() < 2; ++i) {
    if (std::chrono::steady_clock::now() >= deadline)
      break;
    EXPECT_TRUE(host.Set("LogTitle", Variant(i % 2 ? "A" : "B")));
    EXPECT_TRUE(host.Set("Custom:n", Variant(i)));
    last = i;
    log += host.CollectLog();
    window.Pump();
    ++rounds;
  }
  for (auto& thread : packets)
    thread.join();
  EXPECT_EQ(unmet.load(), 0) << "no command ran while packets were being processed";
  log += host.CollectLog();
  EXPECT_EQ(module.calls.load(), 2 * kPacketsPerThread);
  // Every packet wrote its outcome line; repeats fold into one line with " xN".
  int outcomes = 0;
  for (std::size_t at = 0;
       (at = log.find("Data have been processed successfully", at)) != std::string::npos;) {
    const std::size_t end = log.find("\r\n", at);
    const std::size_t times = log.rfind(" x", end);
    outcomes += times != std::string::npos && times > at ? std::stoi(log.substr(times + 2)) : 1;
    at = end;
  }
  EXPECT_EQ(outcomes, 2 * kPacketsPerThread) << log;
  EXPECT_EQ(host.Get("Custom:n"), Variant(last));
}

TEST(ProcessData, ACallWithoutParametersIsRefusedAndLoggedOnce) {
  ModuleHost host(&CreateParsing);
  auto& module = host.Module<ParsingModule>();
  Packet packet(host, "{a}", KESTREL_DATA_PACKET);
  packet.rec.Params = nullptr;
  EXPECT_EQ(packet.Run(), -1);
  EXPECT_EQ(packet.Run(), -1);
  EXPECT_EQ(module.calls, 0);
  const std::string log = host.CollectLog();
  EXPECT_EQ(log.rfind("\x01{PROCESS} The call record holds no parameter list", 0), 0u) << log;
  EXPECT_EQ(log.find("\r\n"), log.size() - 2) << log; // one line
}

} // namespace
} // namespace kestrel
