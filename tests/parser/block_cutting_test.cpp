// Block cutting: the resumable closing-bracket scan against a full rescan.
#include "parser/block_cutting.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

namespace {

using namespace kestrel;
using namespace kestrel::parser;

// The closing-bracket scan in its plainest form, rescanning from the start every time.
int32_t NaiveBlockEnd(std::string_view bytes, char open, char close) {
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\\') {
      ++i;
      continue;
    }
    if (!in_string && c == open)
      ++depth;
    if (c == '"')
      in_string = !in_string;
    if (!in_string && c == close) {
      if (depth == 0)
        return static_cast<int32_t>(i);
      --depth;
    }
  }
  return -1;
}

// Feeds random streams over `alphabet` in random pieces of up to `max_chunk` bytes and checks
// the resumed scan against a full rescan after every piece and every block cut out.
void ExpectResumedScanMatchesRescan(std::string_view alphabet, uint32_t seed, int max_length,
                                    int max_chunk) {
  std::mt19937 random(seed);
  for (int round = 0; round < 300; ++round) {
    std::string stream;
    const int length = 1 + static_cast<int>(random() % static_cast<uint32_t>(max_length));
    for (int i = 0; i < length; ++i)
      stream += alphabet[random() % alphabet.size()];
    // The two usual pairs and one configured pair that has no byte in common with them.
    constexpr std::string_view kPairs[] = {"{}", "[]", "<>"};
    const std::string_view pair = kPairs[random() % 3];
    const char open = pair[0];
    const char close = pair[1];

    TPacketInfo packet;
    packet.ClientId = 1;
    TKestrelClient client(nullptr, packet);
    std::string mirror; // what the buffer holds
    std::size_t fed = 0;
    while (fed < stream.size()) {
      const std::size_t chunk = std::min<std::size_t>(
          1 + random() % static_cast<uint32_t>(max_chunk), stream.size() - fed);
      client.AppendText(std::string_view(stream).substr(fed, chunk));
      mirror += stream.substr(fed, chunk);
      fed += chunk;
      while (true) {
        const int32_t expected = NaiveBlockEnd(mirror, open, close);
        ASSERT_EQ(FindBlockEnd(client, open, close), expected) << stream << " round " << round;
        if (expected < 0)
          break;
        client.Buffer->Discard(expected + 1);
        mirror.erase(0, static_cast<std::size_t>(expected) + 1);
      }
    }
  }
}

TEST(BlockCutting, ResumedScanMatchesAFullRescan) {
  ExpectResumedScanMatchesRescan("{}[]\"\\a", 20240501, 400, 9);
  // Long runs of plain bytes between the few that count, some with the high bit set over a
  // quote's or a backslash's low bits, split anywhere inside the runs.
  ExpectResumedScanMatchesRescan("aaaaaaaaaaaaaaaaaaaaaaaaa\xA2\xDC\xFB{}[]\"\\", 77, 2000, 40);
  ExpectResumedScanMatchesRescan("aaaaaaaaaaaaaaaaaaaaaaaaa\xBC\xBE<>{}\"\\", 78, 2000, 40);
}

} // namespace
