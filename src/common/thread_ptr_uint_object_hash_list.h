// A guarded table from an unsigned 32-bit key to an object it owns. Adding under a key first
// destroys whatever that key held; removing a key destroys its object. Iteration follows the
// order in which keys were first added. Lookups by key use a hash index; the table's
// multi-reader/single-writer lock (TThreadObject) guards both.
#pragma once

#include "common/thread_object.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestrel {

template <class T> class TThreadPtrUIntObjectHashList : public TThreadObject {
public:
  struct Entry {
    uint32_t Key;
    std::unique_ptr<T> Object;
  };

  TThreadPtrUIntObjectHashList() : TThreadObject(nullptr) {}

  // The entries in iteration order. Callers hold the read or write lock while they use them.
  const std::vector<Entry>& Entries() const { return entries_; }

  // Under the write lock: stores `object` under `key`, destroying what the key held.
  T* Add(uint32_t key, std::unique_ptr<T> object) {
    std::unique_ptr<T> old;
    LockWrite();
    T* stored = object.get();
    const auto found = index_.find(key);
    if (found != index_.end()) {
      old = std::move(entries_[found->second].Object);
      entries_[found->second].Object = std::move(object);
    } else {
      index_.emplace(key, entries_.size());
      entries_.push_back(Entry{key, std::move(object)});
    }
    UnlockWrite();
    return stored;
  }

  // Under the read lock: the object stored under `key`, or null.
  T* Find(uint32_t key) {
    LockRead();
    const auto found = index_.find(key);
    T* object = found == index_.end() ? nullptr : entries_[found->second].Object.get();
    UnlockRead();
    return object;
  }

  // For a caller that holds the read or write lock: the object stored under `key`, or null.
  T* FindHeld(uint32_t key) const {
    const auto found = index_.find(key);
    return found == index_.end() ? nullptr : entries_[found->second].Object.get();
  }

  // Under the write lock: destroys the object of `key`. False when the key is absent.
  bool Remove(uint32_t key) {
    std::unique_ptr<T> old;
    LockWrite();
    const auto found = index_.find(key);
    const bool present = found != index_.end();
    if (present) {
      const std::size_t position = found->second;
      old = std::move(entries_[position].Object);
      entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
      index_.erase(found);
      for (auto& [k, p] : index_)
        if (p > position)
          --p;
    }
    UnlockWrite();
    return present;
  }

  // Under the write lock: files the object of `from` under `to`, keeping its place in the
  // iteration order; an object `to` held before is destroyed. False when `from` is absent.
  bool Rekey(uint32_t from, uint32_t to) {
    std::unique_ptr<T> old;
    LockWrite();
    const bool present = index_.count(from) != 0;
    if (present && from != to) {
      const auto taken = index_.find(to);
      if (taken != index_.end()) {
        const std::size_t position = taken->second;
        old = std::move(entries_[position].Object);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
        index_.erase(taken);
        for (auto& [k, p] : index_)
          if (p > position)
            --p;
      }
      const auto found = index_.find(from);
      const std::size_t position = found->second;
      index_.erase(found);
      entries_[position].Key = to;
      index_.emplace(to, position);
    }
    UnlockWrite();
    return present;
  }

  void Clear() {
    std::vector<Entry> old;
    LockWrite();
    old.swap(entries_);
    index_.clear();
    UnlockWrite();
  }

  int Count() {
    LockRead();
    const int count = static_cast<int>(entries_.size());
    UnlockRead();
    return count;
  }

private:
  std::vector<Entry> entries_;
  std::unordered_map<uint32_t, std::size_t> index_;
};

} // namespace kestrel
