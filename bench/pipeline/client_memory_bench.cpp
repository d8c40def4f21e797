// Heap held per client: 10 000 clients of one data source, each sending one small block
// through ProcessData, counted with the C library's allocation statistics. The client's fixed
// buffer is 16 384 bytes; the counter "bytes/client" shows what a client costs in all.
#include "parser/plugin_dm.h"
#include "pipeline_host.h"
#include "settings_module.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

namespace {

using namespace kestrel;
using namespace kestrel::parser;
using kestrel::testing::PipelineHost;
using kestrel::testing::PluginEntryPoints;

void QuietSettings(TDataSourceCfg& settings) {
  settings.spSignTimeout_Value = 0;
}

void BM_ClientMemory(benchmark::State& state) {
  SetModuleClass(&kestrel::testing::CreateSettingsModule<&QuietSettings>);
  const PluginEntryPoints entry = kestrel::testing::LinkedPluginEntryPoints();
  const int clients = static_cast<int>(state.range(0));
  double per_client = 0;
  for (auto _ : state) {
    PipelineHost host(entry);
    host.Load("\\Software\\Kestrel\\Bench");
    host.SetState("1;NET;Network", true);
    host.Send(1, 1, "10.0.0.1:1", "{\"a\":1}"); // the first client warms the module up
    const std::size_t before = mallinfo2().uordblks;
    for (int id = 2; id <= clients + 1; ++id)
      host.Send(1, id, "10.0.0." + std::to_string(id % 250) + ":" + std::to_string(id),
                "{\"a\":1}");
    per_client = static_cast<double>(mallinfo2().uordblks - before) / clients;
  }
  state.counters["bytes/client"] = per_client;
}

BENCHMARK(BM_ClientMemory)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
