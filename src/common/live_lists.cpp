#include "common/live_lists.h"

#include <atomic>
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

} // namespace

void Enter(const void* list) {
  if (Table* table = TheTable()) {
    const std::lock_guard guard(table->lock);
    table->lists.insert(list);
  }
}

void Leave(const void* list) noexcept {
  if (Table* table = TheTable()) {
    const std::lock_guard guard(table->lock);
    table->lists.erase(list);
  }
}

bool Contains(const void* list) noexcept {
  Table* table = TheTable();
  if (!table)
    return false; // the caller probes instead
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
