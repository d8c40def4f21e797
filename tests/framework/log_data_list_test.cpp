#include "framework/log_data_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using kestrel::framework::LogLevel;
using kestrel::framework::TLogDataList;

std::string Entry(std::string_view message) {
  return TLogDataList::EntryText(LogLevel::Information, false, "Kestrel", message);
}

TEST(LogDataList, EntryTextCarriesLevelTitleAndOneLine) {
  EXPECT_EQ(Entry("Data have been processed successfully"),
            "\x03Kestrel. Data have been processed successfully");
  EXPECT_EQ(TLogDataList::EntryText(LogLevel::Failure, false, "", "a\r\nb"), "\x01"
                                                                             "a  b");
  EXPECT_EQ(static_cast<uint8_t>(TLogDataList::EntryText(LogLevel::Warning, true, "", "x")[0]),
            0x82);
}

TEST(LogDataList, RepeatsFoldIntoOneEntryWithTotalCount) {
  TLogDataList log;
  for (int i = 0; i < 3; ++i)
    log.Add(Entry("same"));
  log.Add(Entry("other"));
  EXPECT_EQ(log.Render(), Entry("same") + " x3\r\n" + Entry("other") + "\r\n");
  EXPECT_EQ(log.Count(), 2u);
}

TEST(LogDataList, SuffixIsAddedOnceAcrossATooSmallBuffer) {
  TLogDataList log;
  for (int i = 0; i < 3; ++i)
    log.Add(Entry("same"));
  const std::string expected = Entry("same") + " x3\r\n";

  char small[4];
  uint32_t length = 0;
  EXPECT_EQ(log.Collect(small, sizeof small, length), 0u);
  EXPECT_EQ(length, expected.size());
  EXPECT_EQ(log.Count(), 1u); // kept for the next call

  std::vector<char> big(length);
  EXPECT_EQ(log.Collect(big.data(), length, length), expected.size());
  EXPECT_EQ(std::string(big.data(), big.size()), expected);
  EXPECT_EQ(log.Count(), 0u);
  EXPECT_EQ(log.Collect(big.data(), length, length), 0u);
  EXPECT_EQ(length, 0u);
}

TEST(LogDataList, ZeroCapacityDiscardsTheLog) {
  TLogDataList log;
  log.Add(Entry("a"));
  uint32_t length = 0;
  EXPECT_EQ(log.Collect(nullptr, 0, length), 0u);
  EXPECT_EQ(length, Entry("a").size() + 2);
  EXPECT_EQ(log.Count(), 0u);
}

TEST(LogDataList, OldestEntryGivesWayBeyondTheBound) {
  TLogDataList log;
  for (std::size_t i = 0; i <= TLogDataList::kMaxEntries; ++i)
    log.Add(std::to_string(i));
  EXPECT_EQ(log.Count(), TLogDataList::kMaxEntries);
  const std::string text = log.Render();
  EXPECT_EQ(text.rfind("1\r\n", 0), 0u); // "0" was pushed out
}

TEST(LogDataList, ConcurrentWritersLoseNoEntry) {
  TLogDataList log;
  std::vector<std::thread> writers;
  std::atomic<int> started{0}; // all writers begin together, however late each thread got going
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&log, &started, t] {
      ++started;
      while (started.load() < 4)
        std::this_thread::yield();
      for (int i = 0; i < 1000; ++i)
        log.Add(std::to_string(t) + ":" + std::to_string(i));
    });
  for (auto& w : writers)
    w.join();
  EXPECT_EQ(log.Count(), 4000u);
}

} // namespace
