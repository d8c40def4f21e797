#include "common/thread_object.h"

namespace kestrel {

TThreadObject::TThreadObject(void* guarded) : guarded_(guarded ? guarded : this) {}

TThreadObject::~TThreadObject() {
  delete sync_.load();
}

TMultiReadSync& TThreadObject::Synchronizer() {
  TMultiReadSync* sync = sync_.load(std::memory_order_acquire);
  if (!sync) {
    std::lock_guard lock(critical_section_);
    sync = sync_.load(std::memory_order_relaxed);
    if (!sync) {
      sync = new TMultiReadSync();
      sync_.store(sync, std::memory_order_release);
    }
  }
  return *sync;
}

void* TThreadObject::LockRead() {
  Synchronizer().BeginRead();
  return guarded_;
}

void TThreadObject::UnlockRead() {
  Synchronizer().EndRead();
}

void* TThreadObject::LockWrite() {
  Synchronizer().BeginWrite();
  return guarded_;
}

void TThreadObject::UnlockWrite() {
  Synchronizer().EndWrite();
}

} // namespace kestrel
