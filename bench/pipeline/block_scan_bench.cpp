// Block assembly alone: one 16 000-byte JSON block (strings with brackets, escapes and nested
// objects) appended to a client's buffer in pieces of 1, 64, 1500 and 16 000 bytes, with the
// resumable closing-bracket scan run after every piece, as the packet handler does. The scan
// keeps its place between pieces, so the cost per byte stays close to that of the whole block
// in one piece; a scan that started over for every piece would grow with the square of the
// block size.
#include "parser/block_cutting.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace kestrel::parser;

std::string LargeBlockBody() {
  std::string body;
  int serial = 0;
  while (body.size() < 15900) {
    body += "\"k" + std::to_string(++serial) + "\":{\"s\":\"a [b] {c} \\\"d\\\" \\\\\",\"n\":[1,2,";
    body += std::to_string(serial) + "]},";
  }
  body += "\"end\":true";
  return body; // the opening brace has been consumed already, as in the packet handler
}

void BM_BlockScan(benchmark::State& state) {
  static const std::string block = LargeBlockBody() + "}";
  const auto split = static_cast<std::size_t>(state.range(0));
  TPacketInfo packet;
  packet.ClientId = 1;
  packet.ClientName = "10.0.0.1:7";
  auto client = CreateKestrelClient(nullptr, packet);
  for (auto _ : state) {
    int32_t end = -1;
    for (std::size_t at = 0; at < block.size(); at += split) {
      client->AppendText(std::string_view(block).substr(at, split));
      end = FindBlockEnd(*client, '{', '}');
    }
    if (end != static_cast<int32_t>(block.size()) - 1) {
      state.SkipWithError("the block end was not found");
      break;
    }
    client->ClearBuffer();
    client->ResetBlock();
  }
  state.SetBytesProcessed(static_cast<int64_t>(block.size()) * state.iterations());
}

BENCHMARK(BM_BlockScan)->Arg(1)->Arg(64)->Arg(1500)->Arg(16000)->Unit(benchmark::kMicrosecond);

} // namespace
