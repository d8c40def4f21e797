// A text that one thread may set while others read it: each read takes a copy under a lock, so
// a reader never sees a string half-replaced.
#pragma once

#include <mutex>
#include <string>
#include <utility>

namespace kestrel {

class TGuardedText {
public:
  TGuardedText() = default;
  explicit TGuardedText(std::string text) : text_(std::move(text)) {}
  TGuardedText(const TGuardedText&) = delete;
  TGuardedText& operator=(const TGuardedText&) = delete;

  std::string Get() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return text_;
  }
  void Set(std::string text) {
    std::lock_guard<std::mutex> guard(mutex_);
    text_ = std::move(text);
  }
  bool Empty() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return text_.empty();
  }

private:
  mutable std::mutex mutex_;
  std::string text_;
};

} // namespace kestrel
