#include "common/live_lists.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_set>

namespace kestrel::live_lists {

namespace {

// Set when the table is destroyed (at exit, or when the library is unloaded), so lists that
// are destroyed after it find it gone instead of touching a dead object. Trivially
// destructible, so it stays readable to the end.
std::atomic<bool> g_table_gone{false};

struct Table {
  std::mutex lock;
  std::unordered_set<const void*> lists;
  ~Table() { g_table_gone = true; }
};

Table* TheTable() {
  static Table table;
  return g_table_gone ? nullptr : &table;
}

thread_local int t_work_depth = 0;

// How many listed lists fall in each bucket of their address. Contains answers "no" from a
// bucket at 0 without taking the lock: the pointer a host hands over (most often a variable
// of its own, not a list) rarely shares a bucket with a list. A stale count can only send a
// caller to the locked look-up or to the memory probe, both of which stay correct.
constexpr std::size_t kBuckets = 1024;
std::array<std::atomic<uint32_t>, kBuckets> g_bucket_counts{};

std::atomic<uint32_t>& BucketOf(const void* list) {
  // Objects are at least 8-byte aligned: the low bits carry nothing.
  const auto address = reinterpret_cast<uintptr_t>(list) >> 3;
  return g_bucket_counts[(address ^ (address >> 10) ^ (address >> 20)) % kBuckets];
}

} // namespace

void Enter(const void* list) {
  if (Table* table = TheTable()) {
    const std::lock_guard guard(table->lock);
    if (table->lists.insert(list).second)
      BucketOf(list).fetch_add(1, std::memory_order_relaxed);
  }
}

void Leave(const void* list) noexcept {
  if (Table* table = TheTable()) {
    const std::lock_guard guard(table->lock);
    if (table->lists.erase(list) != 0)
      BucketOf(list).fetch_sub(1, std::memory_order_relaxed);
  }
}

bool Contains(const void* list) noexcept {
  Table* table = TheTable();
  if (!table)
    return false; // the caller probes instead
  if (BucketOf(list).load(std::memory_order_relaxed) == 0)
    return false;
  const std::lock_guard guard(table->lock);
  return table->lists.count(list) != 0;
}

bool Listing() noexcept {
  return t_work_depth == 0;
}

WorkScope::WorkScope() noexcept {
  ++t_work_depth;
}

WorkScope::~WorkScope() {
  --t_work_depth;
}

} // namespace kestrel::live_lists
