// A fixed amount of reading for instruction counts: parses one of the benchmark inputs a given
// number of times, with no timing loop around it, so that callgrind runs of two builds compare
// exactly. Usage: kestrel_json_drive small|medium|large [repetitions] [rapidjson]
#include "json_bench_inputs.h"
#include "json/json_document.h"

#if KESTREL_BENCH_RAPIDJSON
#include <rapidjson/document.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Each input read the same way, so that the two readers' counts compare.
bool ReadKestrel(const std::string& text) {
  return kestrel::json::TJson::Parse(text) != nullptr;
}

#if KESTREL_BENCH_RAPIDJSON
bool ReadRapidJson(const std::string& text) {
  rapidjson::Document doc;
  doc.Parse(text.data(), text.size());
  return !doc.HasParseError();
}
#endif

} // namespace

int main(int argc, char** argv) {
  const std::string_view input = argc > 1 ? argv[1] : "small";
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 1;
  const bool rapidjson = argc > 3 && std::string_view(argv[3]) == "rapidjson";
  std::vector<std::string> texts;
  if (input == "small")
    texts = kestrel::bench::SmallBlocks(256);
  else if (input == "medium")
    texts = kestrel::bench::MediumRecords(64);
  else
    texts.push_back(kestrel::bench::LargeDocument(1 << 20));

  bool (*read)(const std::string&) = ReadKestrel;
#if KESTREL_BENCH_RAPIDJSON
  if (rapidjson)
    read = ReadRapidJson;
#else
  if (rapidjson) {
    std::fprintf(stderr, "built without RapidJSON\n");
    return 2;
  }
#endif
  size_t bytes = 0;
  for (int r = 0; r < repetitions; ++r)
    for (const std::string& text : texts) {
      if (!read(text)) {
        std::fprintf(stderr, "input not read\n");
        return 1;
      }
      bytes += text.size();
    }
  std::printf("%zu bytes read\n", bytes);
  return 0;
}
