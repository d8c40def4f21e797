// A guarded list that owns its objects. Readers and writers take the list's
// multi-reader/single-writer lock (TThreadObject) for as long as they use the elements.
// Elements are held by shared ownership so that a reader may keep one alive past its removal
// (a packet in flight keeps the object it works on while the list drops it).
#pragma once

#include "common/thread_object.h"

#include <memory>
#include <utility>
#include <vector>

namespace kestrel {

template <class T> class TThreadObjectList : public TThreadObject {
public:
  using Element = std::shared_ptr<T>;
  using Items = std::vector<Element>;

  TThreadObjectList() : TThreadObject(nullptr) {}

  // The elements under the read or write lock; release with UnlockRead / UnlockWrite.
  const Items& LockList() {
    LockRead();
    return items_;
  }
  Items& LockListWrite() {
    LockWrite();
    return items_;
  }

  // Each a single step under the write lock.
  void Add(Element item) {
    LockWrite();
    items_.push_back(std::move(item));
    UnlockWrite();
  }
  void Clear() {
    Items dropped;
    LockWrite();
    dropped.swap(items_);
    UnlockWrite();
    // The elements are released outside the lock.
  }
  // Replaces the whole content at once: a reader sees the old elements or the new, never a mix.
  void Assign(Items items) {
    LockWrite();
    items_.swap(items);
    UnlockWrite();
  }
  // Removes an element (by identity); returns it, or nothing when it is not in the list.
  Element Remove(const T* item) {
    Element removed;
    LockWrite();
    for (auto it = items_.begin(); it != items_.end(); ++it)
      if (it->get() == item) {
        removed = std::move(*it);
        items_.erase(it);
        break;
      }
    UnlockWrite();
    return removed;
  }
  int Count() {
    LockRead();
    const int count = static_cast<int>(items_.size());
    UnlockRead();
    return count;
  }
  // A copy of the element references, taken under the read lock.
  Items Snapshot() {
    LockRead();
    Items copy = items_;
    UnlockRead();
    return copy;
  }

private:
  Items items_;
};

} // namespace kestrel
