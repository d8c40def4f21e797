// A lock-protected list of texts, each with a counter beside it, bounded to a maximum
// number of entries (the oldest go first). Callers hold the lock through a `Locked` view for
// any sequence of operations that must appear atomic to other threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace kestrel {

class TThreadStringList {
public:
  struct Entry {
    std::string text;
    uint32_t count = 0;
  };

  // 0 means unbounded.
  explicit TThreadStringList(std::size_t max_count = 0) : max_count_(max_count) {}
  TThreadStringList(const TThreadStringList&) = delete;
  TThreadStringList& operator=(const TThreadStringList&) = delete;

  // The entries while the list's lock is held.
  class Locked {
  public:
    explicit Locked(TThreadStringList& list) : list_(list), guard_(list.mutex_) {}
    std::deque<Entry>& entries() { return list_.entries_; }
    // Appends an entry and drops the oldest ones beyond the maximum.
    void Append(std::string text, uint32_t count = 0) {
      list_.entries_.push_back(Entry{std::move(text), count});
      if (list_.max_count_)
        while (list_.entries_.size() > list_.max_count_)
          list_.entries_.pop_front();
    }

  private:
    TThreadStringList& list_;
    std::lock_guard<std::mutex> guard_;
  };

  Locked Lock() { return Locked(*this); }
  std::size_t MaxCount() const { return max_count_; }
  std::size_t Count() {
    std::lock_guard<std::mutex> guard(mutex_);
    return entries_.size();
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    entries_.clear();
  }

private:
  std::mutex mutex_;
  std::deque<Entry> entries_;
  const std::size_t max_count_;
};

} // namespace kestrel
