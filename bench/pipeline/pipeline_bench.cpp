// About 10 MB of mixed JSON blocks (flat and nested objects, arrays of objects, strings with
// brackets and escaped quotes, line breaks between blocks), split into packets of 1, 64, 1500
// and 16384 bytes and handed to ProcessData the way a host does. Reports MB/s and rows/s per
// split. A second family runs only the block assembly (no JSON parsing: a filter drops every
// block after it is cut out), to show that small packets cost linear time.
#include "parser/plugin_dm.h"
#include "pipeline_host.h"
#include "settings_module.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

using namespace kestrel;
using namespace kestrel::parser;
using kestrel::testing::PipelineHost;
using kestrel::testing::PluginEntryPoints;

struct Stream {
  std::string bytes;
  int64_t rows = 0;
};

// Blocks like those a logger records from devices: readings, nested status, arrays of
// samples, free text with brackets and quotes.
const Stream& RecordedStream() {
  static const Stream stream = [] {
    Stream s;
    std::mt19937 random(42);
    const std::size_t target = 10u << 20;
    int serial = 0;
    while (s.bytes.size() < target) {
      ++serial;
      switch (random() % 4) {
      case 0:
        s.bytes += "{\"id\":" + std::to_string(serial) +
                   ",\"temp\":" + std::to_string(20 + static_cast<int>(random() % 150) / 10.0) +
                   ",\"ok\":true,\"at\":\"2024-05-01T12:00:00\"}\r\n";
        s.rows += 1;
        break;
      case 1:
        s.bytes += "{\"dev\":{\"name\":\"pump-" + std::to_string(random() % 50) +
                   "\",\"state\":{\"on\":false,\"rpm\":" + std::to_string(random() % 3000) +
                   "}},\"seq\":" + std::to_string(serial) + "}";
        s.rows += 1;
        break;
      case 2: {
        const int count = 2 + static_cast<int>(random() % 6);
        s.bytes += "[";
        for (int i = 0; i < count; ++i)
          s.bytes += (i ? ",{\"t\":" : "{\"t\":") + std::to_string(i) +
                     ",\"v\":" + std::to_string(random() % 1000) + "}";
        s.bytes += "]\n";
        s.rows += count;
        break;
      }
      default:
        s.bytes += "{\"msg\":\"alarm {level} [3] said \\\"stop\\\" \\\\ now\",\"code\":" +
                   std::to_string(random() % 100) + ",\"tags\":[\"a\",\"b]\",\"{c\"]}";
        s.rows += 1;
        break;
      }
    }
    return s;
  }();
  return stream;
}

std::atomic<bool> g_drop_all{false};

void BenchSettings(TDataSourceCfg& settings) {
  settings.spSignTimeout_Value = 0;
  settings.Filters_Hint = g_drop_all ? "2||0||~absent~||0" : "";
}

void FeedStream(benchmark::State& state, bool parse) {
  SetModuleClass(&kestrel::testing::CreateSettingsModule<&BenchSettings>);
  g_drop_all = !parse;
  const Stream& stream = RecordedStream();
  const auto split = static_cast<std::size_t>(state.range(0));
  const PluginEntryPoints entry = kestrel::testing::LinkedPluginEntryPoints();
  int64_t rows = 0;
  for (auto _ : state) {
    PipelineHost host(entry);
    host.Load("\\Software\\Kestrel\\Bench");
    host.SetState("1;NET;Network", true);
    for (std::size_t at = 0; at < stream.bytes.size(); at += split) {
      const auto result =
          host.Send(1, 1, "10.0.0.1:7", std::string_view(stream.bytes).substr(at, split));
      rows += result.Rows();
    }
  }
  if (parse && rows != stream.rows * static_cast<int64_t>(state.iterations()))
    state.SkipWithError(
        ("rows lost: " + std::to_string(rows) + " of " + std::to_string(stream.rows)).c_str());
  state.SetBytesProcessed(static_cast<int64_t>(stream.bytes.size()) * state.iterations());
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
  state.counters["packets"] = static_cast<double>((stream.bytes.size() + split - 1) / split);
}

void BM_ProcessData(benchmark::State& state) {
  FeedStream(state, true);
}
void BM_BlockAssemblyOnly(benchmark::State& state) {
  FeedStream(state, false);
}

BENCHMARK(BM_ProcessData)
    ->Arg(1)
    ->Arg(64)
    ->Arg(1500)
    ->Arg(16384)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockAssemblyOnly)
    ->Arg(1)
    ->Arg(64)
    ->Arg(1500)
    ->Arg(16384)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
