// Parse throughput of the JSON reader against RapidJSON (DOM), nlohmann::json, simdjson (DOM)
// and yajl (tree) on the same generated inputs. Run with --benchmark_counters_tabular=true.
#include "json_bench_inputs.h"
#include "json/json_document.h"
#include "json/json_to_list.h"

#include <benchmark/benchmark.h>

#if KESTREL_BENCH_RAPIDJSON
#include <rapidjson/document.h>
#endif
#if KESTREL_BENCH_NLOHMANN
#include <nlohmann/json.hpp>
#endif
#if KESTREL_BENCH_SIMDJSON
#include <simdjson.h>
#endif
#if KESTREL_BENCH_YAJL
#include <yajl/yajl_tree.h>
#endif

#include <string>
#include <vector>

namespace {

using kestrel::json::TJson;

enum Input { kSmall, kMedium, kLarge };

const std::vector<std::string>& Inputs(Input input) {
  static const std::vector<std::string> small = kestrel::bench::SmallBlocks(256);
  static const std::vector<std::string> medium = kestrel::bench::MediumRecords(64);
  static const std::vector<std::string> large{kestrel::bench::LargeDocument(1 << 20)};
  return input == kSmall ? small : input == kMedium ? medium : large;
}

// Runs `parse` over the inputs in turn; `parse` returns false when a text was not read.
template <typename Parse> void Run(benchmark::State& state, Input input, Parse parse) {
  const auto& texts = Inputs(input);
  size_t next = 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    const std::string& text = texts[next];
    next = next + 1 == texts.size() ? 0 : next + 1;
    if (!parse(text, next)) {
      state.SkipWithError("input not read");
      return;
    }
    bytes += static_cast<int64_t>(text.size());
  }
  state.SetBytesProcessed(bytes);
}

void Kestrel(benchmark::State& state, Input input) {
  Run(state, input, [](const std::string& text, size_t) {
    const auto doc = TJson::Parse(text);
    benchmark::DoNotOptimize(doc.get());
    return doc != nullptr;
  });
}

#if KESTREL_BENCH_RAPIDJSON
void RapidJson(benchmark::State& state, Input input) {
  Run(state, input, [](const std::string& text, size_t) {
    rapidjson::Document doc;
    doc.Parse(text.data(), text.size());
    benchmark::DoNotOptimize(&doc);
    return !doc.HasParseError();
  });
}
#endif

#if KESTREL_BENCH_NLOHMANN
void Nlohmann(benchmark::State& state, Input input) {
  Run(state, input, [](const std::string& text, size_t) {
    const auto doc = nlohmann::json::parse(text, nullptr, false);
    benchmark::DoNotOptimize(&doc);
    return !doc.is_discarded();
  });
}
#endif

#if KESTREL_BENCH_SIMDJSON
void Simdjson(benchmark::State& state, Input input) {
  // simdjson wants padded input; the copies are made before timing. The parser is reused, as
  // simdjson is meant to be used.
  std::vector<simdjson::padded_string> padded;
  for (const auto& text : Inputs(input))
    padded.emplace_back(text);
  simdjson::dom::parser parser;
  Run(state, input, [&](const std::string&, size_t next) {
    const size_t at = next == 0 ? padded.size() - 1 : next - 1;
    simdjson::dom::element doc;
    const auto error = parser.parse(padded[at]).get(doc);
    benchmark::DoNotOptimize(&doc);
    return error == simdjson::SUCCESS;
  });
}
#endif

#if KESTREL_BENCH_YAJL
void Yajl(benchmark::State& state, Input input) {
  // yajl's tree parser wants a terminated text.
  Run(state, input, [](const std::string& text, size_t) {
    yajl_val doc = yajl_tree_parse(text.c_str(), nullptr, 0);
    benchmark::DoNotOptimize(doc);
    yajl_tree_free(doc);
    return doc != nullptr;
  });
}
#endif

// Flattening as the item extraction runs it: node names with "_", no rules, default typing.
// Reports values emitted per second.
void Flatten(benchmark::State& state, Input input) {
  namespace jtl = kestrel::json::JsonToList;
  jtl::TParserOptions options;
  options.AddNodeName = true;
  options.Separator = '_';
  int64_t values = 0;
  options.OnObjectDone = [&values](int, kestrel::TorvParamsList& list, const jtl::TParserOptions&) {
    values += list.Count();
  };
  Run(state, input, [&](const std::string& text, size_t) {
    const int64_t before = values;
    jtl::FlattenJsonText(text, options, nullptr);
    return values > before;
  });
  state.SetItemsProcessed(values);
}
BENCHMARK_CAPTURE(Flatten, small_200B, kSmall);
BENCHMARK_CAPTURE(Flatten, medium_2KB, kMedium);
BENCHMARK_CAPTURE(Flatten, large_1MB, kLarge);

#define KESTREL_JSON_BENCH(fn)                                                                     \
  BENCHMARK_CAPTURE(fn, small_200B, kSmall);                                                       \
  BENCHMARK_CAPTURE(fn, medium_2KB, kMedium);                                                      \
  BENCHMARK_CAPTURE(fn, large_1MB, kLarge)

KESTREL_JSON_BENCH(Kestrel);
#if KESTREL_BENCH_RAPIDJSON
KESTREL_JSON_BENCH(RapidJson);
#endif
#if KESTREL_BENCH_NLOHMANN
KESTREL_JSON_BENCH(Nlohmann);
#endif
#if KESTREL_BENCH_SIMDJSON
KESTREL_JSON_BENCH(Simdjson);
#endif
#if KESTREL_BENCH_YAJL
KESTREL_JSON_BENCH(Yajl);
#endif

} // namespace

BENCHMARK_MAIN();
