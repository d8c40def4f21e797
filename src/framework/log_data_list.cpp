#include "framework/log_data_list.h"

#include "common/readable_block.h"

#include <cstring>

namespace kestrel::framework {

std::string TLogDataList::EntryText(LogLevel level, bool flag, std::string_view title,
                                    std::string_view message) {
  std::string text;
  text.reserve(1 + title.size() + 2 + message.size());
  text += static_cast<char>(static_cast<uint8_t>(level) + 1 + (flag ? 128 : 0));
  if (!title.empty()) {
    text += title;
    text += ". ";
  }
  const std::size_t start = text.size();
  text += message;
  for (std::size_t i = start; i < text.size(); ++i)
    if (text[i] == '\r' || text[i] == '\n')
      text[i] = ' ';
  return text;
}

void TLogDataList::FoldRepeat(Entry& entry) {
  if (entry.count > 0) {
    entry.text += " x" + std::to_string(uint64_t{entry.count} + 1);
    entry.count = 0;
  }
}

void TLogDataList::Add(std::string text) {
  auto locked = Lock();
  auto& entries = locked.entries();
  if (!entries.empty()) {
    Entry& last = entries.back();
    if (last.text == text) {
      ++last.count;
      return;
    }
    FoldRepeat(last);
  }
  locked.Append(std::move(text));
}

std::string TLogDataList::RenderLocked(std::deque<Entry>& entries) {
  if (!entries.empty())
    FoldRepeat(entries.back());
  std::size_t size = 0;
  for (const Entry& e : entries)
    size += e.text.size() + 2;
  std::string text;
  text.reserve(size);
  for (const Entry& e : entries) {
    text += e.text;
    text += "\r\n";
  }
  return text;
}

std::string TLogDataList::Render() {
  auto locked = Lock();
  return RenderLocked(locked.entries());
}

uint32_t TLogDataList::Collect(char* buffer, uint32_t capacity, uint32_t& length) {
  auto locked = Lock();
  auto& entries = locked.entries();
  const std::string text = RenderLocked(entries);
  length = static_cast<uint32_t>(text.size());
  if (text.empty())
    return 0;
  if (capacity == 0) {
    entries.clear();
    return 0;
  }
  if (capacity < text.size() || !IsReadableBlock(buffer, text.size()))
    return 0;
  std::memcpy(buffer, text.data(), text.size());
  entries.clear();
  return length;
}

} // namespace kestrel::framework
