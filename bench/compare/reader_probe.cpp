// Reads one of the reader benchmark's inputs once, inside MeasuredParse, so a callgrind run
// (--toggle-collect=MeasuredParse*) counts the instructions of the reading alone.
//
//   reader_probe kestrel|rapidjson small|medium|large      prints the bytes read
#include "../json/json_bench_inputs.h"
#include "json/json_document.h"

#if KESTREL_BENCH_RAPIDJSON
#include <rapidjson/document.h>
#endif

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Input(const std::string& name) {
  if (name == "small")
    return kestrel::bench::SmallBlocks(256);
  if (name == "medium")
    return kestrel::bench::MediumRecords(64);
  return {kestrel::bench::LargeDocument(1 << 20)};
}

[[gnu::noinline]] bool MeasuredParse(const std::string& reader, const std::string& text) {
  if (reader == "kestrel")
    return kestrel::json::TJson::Parse(text) != nullptr;
#if KESTREL_BENCH_RAPIDJSON
  if (reader == "rapidjson") {
    rapidjson::Document doc;
    doc.Parse(text.data(), text.size());
    return !doc.HasParseError();
  }
#endif
  return false;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: reader_probe kestrel|rapidjson small|medium|large\n");
    return 2;
  }
  std::size_t bytes = 0;
  for (const std::string& text : Input(argv[2])) {
    if (!MeasuredParse(argv[1], text)) {
      std::fprintf(stderr, "reader_probe: %s did not read the input\n", argv[1]);
      return 1;
    }
    bytes += text.size();
  }
  std::printf("%zu\n", bytes);
  return 0;
}
