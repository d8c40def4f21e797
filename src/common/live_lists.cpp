#include "common/live_lists.h"

#include <mutex>
#include <unordered_set>

namespace kestrel::live_lists {

namespace {

struct Table {
  std::mutex lock;
  std::unordered_set<const void*> lists;
};

// Never destroyed: lists with static storage may outlive any other static object.
Table& TheTable() {
  static Table* table = new Table;
  return *table;
}

thread_local int t_work_depth = 0;

} // namespace

void Enter(const void* list) {
  Table& table = TheTable();
  const std::lock_guard guard(table.lock);
  table.lists.insert(list);
}

void Leave(const void* list) noexcept {
  Table& table = TheTable();
  const std::lock_guard guard(table.lock);
  table.lists.erase(list);
}

bool Contains(const void* list) noexcept {
  Table& table = TheTable();
  const std::lock_guard guard(table.lock);
  return table.lists.count(list) != 0;
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
