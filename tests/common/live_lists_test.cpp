#include "common/live_lists.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace kestrel {
namespace {

// Many more addresses than the table keeps quick-reject buckets, so several share each one:
// leaving one list, or leaving an address never entered, must not hide the others.
TEST(LiveLists, LeavingOneListKeepsTheOthersThatShareItsBucket) {
  constexpr std::size_t kCount = 4096;
  std::vector<double> slots(kCount); // distinct 8-byte-aligned addresses
  for (std::size_t i = 0; i < kCount; i += 2)
    live_lists::Enter(&slots[i]);
  for (std::size_t i = 1; i < kCount; i += 2)
    live_lists::Leave(&slots[i]); // never entered
  for (std::size_t i = 0; i < kCount; i += 4)
    live_lists::Leave(&slots[i]);
  for (std::size_t i = 0; i < kCount; ++i)
    ASSERT_EQ(live_lists::Contains(&slots[i]), i % 4 == 2) << i;
  for (std::size_t i = 2; i < kCount; i += 4)
    live_lists::Leave(&slots[i]);
  for (std::size_t i = 0; i < kCount; ++i)
    ASSERT_FALSE(live_lists::Contains(&slots[i])) << i;
}

} // namespace
} // namespace kestrel
