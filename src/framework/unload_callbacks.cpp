#include "framework/unload_callbacks.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace kestrel {

namespace {

struct CallbackList {
  std::mutex lock;
  std::vector<UnloadProc> procedures;
};

std::atomic<CallbackList*> g_callbacks{nullptr};
std::mutex g_create_lock;

} // namespace

void RegisterUnloadCallback(UnloadProc procedure) {
  if (!procedure)
    return;
  std::lock_guard create(g_create_lock);
  CallbackList* list = g_callbacks.load();
  if (!list) {
    list = new CallbackList();
    g_callbacks.store(list);
  }
  std::lock_guard guard(list->lock);
  list->procedures.push_back(procedure);
}

void RunUnloadCallbacks() noexcept {
  CallbackList* list = nullptr;
  {
    std::lock_guard create(g_create_lock);
    list = g_callbacks.exchange(nullptr);
  }
  if (!list)
    return;
  {
    std::lock_guard guard(list->lock);
    for (UnloadProc procedure : list->procedures) {
      try {
        procedure();
      } catch (...) {
        // A failing procedure must not keep the others from running at library unload.
      }
    }
  }
  delete list;
}

void DiscardUnloadCallbacks() noexcept {
  std::lock_guard create(g_create_lock);
  delete g_callbacks.exchange(nullptr);
}

} // namespace kestrel
