// Linked into the 32-bit Windows test executable only (see kestrel_finish_tests): every thread
// start waits until the new thread runs before the next one may start.
//
// 32-bit Wine under QEMU user emulation crashes (SIGSEGV in the emulator) when two threads start
// at the same moment; threads that started one after another run concurrently without trouble.
// Tests that start several threads at once would otherwise never get to run there. The linker
// redirects pthread_create (which std::thread uses) here with --wrap.
#include <condition_variable>
#include <mutex>

extern "C" int __real_pthread_create(void* thread, const void* attributes, void* (*routine)(void*),
                                     void* argument);

namespace {

struct Start {
  void* (*routine)(void*);
  void* argument;
  std::mutex mutex;
  std::condition_variable running;
  bool started = false;
};

void* Trampoline(void* pointer) {
  auto* start = static_cast<Start*>(pointer);
  void* (*routine)(void*) = start->routine;
  void* argument = start->argument;
  {
    std::lock_guard lock(start->mutex);
    start->started = true;
    start->running.notify_one();
  }
  return routine(argument);
}

std::mutex& Serial() {
  static std::mutex serial;
  return serial;
}

} // namespace

extern "C" int __wrap_pthread_create(void* thread, const void* attributes, void* (*routine)(void*),
                                     void* argument) {
  std::lock_guard one_at_a_time(Serial());
  Start start{routine, argument, {}, {}, false};
  const int result = __real_pthread_create(thread, attributes, Trampoline, &start);
  if (result == 0) {
    std::unique_lock lock(start.mutex);
    start.running.wait(lock, [&] { return start.started; });
  }
  return result;
}
