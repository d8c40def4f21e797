// The per-instance log: entries of one level byte plus a message, identical consecutive
// entries folded into one with a repeat count, bounded to 51200 entries, collected by the
// host as one CR LF separated text.
#pragma once

#include "common/thread_string_list.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::framework {

enum class LogLevel : uint8_t { Failure = 0, Warning = 1, Information = 2 };

class TLogDataList : public TThreadStringList {
public:
  static constexpr std::size_t kMaxEntries = 51200;

  TLogDataList() : TThreadStringList(kMaxEntries) {}

  // The stored form of an entry: the level byte (level + 1, plus 128 with `flag`), then
  // `title` and ". " when the title is not empty, then the message with CR and LF as spaces.
  static std::string EntryText(LogLevel level, bool flag, std::string_view title,
                               std::string_view message);

  // Appends an entry, folding it into the last one when the texts are identical.
  void Add(std::string text);

  // Delivers the log into a host buffer of `capacity` bytes at `buffer`. `length` receives
  // the size of the whole text. With a large enough buffer the text is copied, the list is
  // cleared and the length returned; with capacity 0 the list is cleared and 0 returned; with
  // a smaller buffer nothing changes and 0 is returned.
  uint32_t Collect(char* buffer, uint32_t capacity, uint32_t& length);

  // The delivered form of all entries (pending repeat counts folded in first).
  std::string Render();

private:
  static void FoldRepeat(Entry& entry);
  static std::string RenderLocked(std::deque<Entry>& entries);
};

} // namespace kestrel::framework
