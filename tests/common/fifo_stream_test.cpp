#include "common/fifo_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>

namespace {

using namespace kestrel;

TEST(FIFOStream, AppendsDiscardsAndSearchesInPlace) {
  TFIFOStream fifo(16, 4);
  EXPECT_EQ(fifo.Count(), 0);
  fifo.Write("abc{de[f", 8);
  EXPECT_EQ(fifo.Count(), 8);
  EXPECT_EQ(fifo.FreeSpace(), 8);
  EXPECT_EQ(fifo.IndexOf("{", 1), 3);
  EXPECT_EQ(fifo.IndexOf("[", 1, 4), 6);
  EXPECT_EQ(fifo.IndexOf("de", 2), 4);
  EXPECT_EQ(fifo.IndexOf("{", 1, 4), -1);
  EXPECT_EQ(fifo.IndexOf("", 0), -1);
  EXPECT_EQ(fifo.IndexOf("fg", 2), -1); // would reach past the end
  const uint64_t generation = fifo.FrontGeneration();
  fifo.Discard(4);
  EXPECT_NE(fifo.FrontGeneration(), generation);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(fifo.LockData()), 4), "de[f");
  fifo.UnlockWrite();
  fifo.Discard(100); // reduced to Count
  EXPECT_EQ(fifo.Count(), 0);
}

TEST(FIFOStream, ResizingKeepsTheBytesAndTheirOffsets) {
  TFIFOStream fifo(8, 4);
  fifo.Write("01{abcde", 8);
  fifo.Discard(2);
  const uint64_t generation = fifo.FrontGeneration();
  fifo.LockWrite();
  fifo.ResizeHeld(20);
  fifo.UnlockWrite();
  EXPECT_EQ(fifo.Capacity(), 20);
  EXPECT_EQ(fifo.FrontGeneration(), generation); // a resumed scan stays valid
  fifo.Write("fghijklmnopqrs", 14);
  EXPECT_EQ(fifo.Count(), 20);
  EXPECT_EQ(fifo.IndexOf("s", 1), 19);
  fifo.Discard(15);
  fifo.LockWrite();
  fifo.ResizeHeld(2); // never below what it holds
  EXPECT_EQ(fifo.Capacity(), 5);
  fifo.UnlockWrite();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(fifo.LockData()), 5), "opqrs");
  fifo.UnlockWrite();
}

TEST(FIFOStream, AppendAfterDiscardsMovesTheRestToTheFrontOnce) {
  TFIFOStream fifo(16, 4);
  fifo.Write("0123456789{ab", 13);
  fifo.Discard(10);
  const uint64_t generation = fifo.FrontGeneration();
  fifo.Write("cdefghijk}", 10); // fits the capacity, not behind the discarded bytes
  EXPECT_EQ(fifo.Count(), 13);
  EXPECT_EQ(fifo.FreeSpace(), 3);
  // Offsets from the front hold across the move, so a resumed scan stays valid.
  EXPECT_EQ(fifo.FrontGeneration(), generation);
  EXPECT_EQ(fifo.IndexOf("}", 1), 12);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(fifo.LockData()), 13), "{abcdefghijk}");
  fifo.UnlockWrite();
  fifo.Write("xyzw", 4); // one byte too many: the oldest MinDiscard bytes go
  EXPECT_EQ(std::string(reinterpret_cast<char*>(fifo.LockData()), 13), "defghijk}xyzw");
  fifo.UnlockWrite();
}

TEST(FIFOStream, OverrunDropsTheOldestBytes) {
  std::string all(16384, '\0');
  for (std::size_t i = 0; i < all.size(); ++i)
    all[i] = static_cast<char>('a' + i % 26);
  TFIFOStream fifo(16384, 64);
  fifo.Write(all.data(), 16384);
  EXPECT_EQ(fifo.Count(), 16384); // exactly full
  fifo.Write("!", 1);             // drops the 64 oldest bytes first
  EXPECT_EQ(fifo.Count(), 16384 - 64 + 1);
  const auto* data = reinterpret_cast<const char*>(fifo.LockData());
  EXPECT_EQ(std::string(data, 10), all.substr(64, 10));
  EXPECT_EQ(data[fifo.Count() - 1], '!');
  fifo.UnlockWrite();

  // A single write longer than the capacity keeps its own last bytes.
  std::string big(40000, 'x');
  std::iota(big.begin(), big.end(), 'A');
  fifo.Write(big.data(), static_cast<int32_t>(big.size()));
  ASSERT_EQ(fifo.Count(), 16384);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(fifo.LockData()), 16384),
            big.substr(40000 - 16384));
  fifo.UnlockWrite();

  TFIFOStream strict(8, 1, false);
  strict.Write("12345678", 8);
  EXPECT_THROW(strict.Write("9", 1), EFIFOStream);
  EXPECT_EQ(strict.Count(), 8);
}

} // namespace
