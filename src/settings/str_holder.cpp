#include "settings/str_holder.h"
#include "common/ascii_text.h"

#include "platform/text.h"

#include <algorithm>
#include <stdexcept>

namespace kestrel::settings {

namespace {

constexpr char kLowerHex[] = "0123456789abcdef";

std::string Xor(std::string bytes, std::string_view key) {
  if (!key.empty())
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<char>(bytes[i] ^ key[i % key.size()]);
  return bytes;
}

// Pairs of hexadecimal digits to bytes; a pair that is not two digits gives a space.
std::string FromHex(std::string_view text, std::string_view key) {
  std::string bytes;
  bytes.reserve(text.size() / 2 + 1);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = AsciiHexValue(text[i]);
    const int low = i + 1 < text.size() ? AsciiHexValue(text[i + 1]) : -1;
    const std::size_t at = bytes.size();
    if (high < 0 || low < 0)
      bytes += ' ';
    else
      bytes += static_cast<char>((high << 4 | low) ^ (key.empty() ? 0 : key[at % key.size()]));
  }
  return bytes;
}

} // namespace

void TorvStrHolder::Changing() {
  if (!reading_ && OnChanging)
    OnChanging(*this);
}

void TorvStrHolder::Changed() {
  if (!reading_ && OnChange)
    OnChange(*this);
}

void TorvStrHolder::Insert(std::string line) {
  if (!sorted_) {
    lines_.push_back(std::move(line));
    return;
  }
  const auto less = [](const std::string& a, const std::string& b) {
    return platform::AnsiCompareText(a, b) < 0;
  };
  const auto at = std::lower_bound(lines_.begin(), lines_.end(), line, less);
  if (at != lines_.end() && platform::AnsiCompareText(*at, line) == 0) {
    if (Duplicates == TDuplicates::dupIgnore)
      return;
    if (Duplicates == TDuplicates::dupError)
      throw std::invalid_argument("String list does not allow duplicates");
  }
  lines_.insert(at, std::move(line));
}

void TorvStrHolder::SetStrings(const std::vector<std::string>& lines) {
  Changing();
  lines_.clear();
  for (const std::string& line : lines)
    Insert(line);
  Changed();
}

void TorvStrHolder::Add(std::string line) {
  Changing();
  Insert(std::move(line));
  Changed();
}

void TorvStrHolder::Clear() {
  Changing();
  lines_.clear();
  Changed();
}

void TorvStrHolder::SetSorted(bool sorted) {
  if (sorted == sorted_)
    return;
  sorted_ = sorted;
  if (sorted_)
    SetStrings(std::vector<std::string>(lines_));
}

bool TorvStrHolder::StrDataNeeded(const TorvStrHolder* ancestor) const {
  if (ancestor && ancestor->lines_.size() == lines_.size() && ancestor->KeyString == KeyString) {
    for (std::size_t i = 0; i < lines_.size(); ++i)
      if (platform::AnsiCompareText(lines_[i], ancestor->lines_[i]) != 0)
        return true;
    return false;
  }
  return !lines_.empty() || !KeyString.empty();
}

std::vector<std::string> TorvStrHolder::WriteStrData() const {
  const std::string key = platform::AnsiToUtf8(KeyString);
  std::vector<std::string> items;
  items.reserve(lines_.size() + 1);
  items.push_back(KeyString);
  for (const std::string& line : lines_) {
    const std::string bytes = Xor(platform::AnsiToUtf8(line), key);
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
      hex += kLowerHex[static_cast<unsigned char>(c) >> 4];
      hex += kLowerHex[static_cast<unsigned char>(c) & 0x0F];
    }
    items.push_back(std::move(hex));
  }
  return items;
}

void TorvStrHolder::ReadStrData(int32_t internal_version, const std::vector<std::string>& items) {
  reading_ = true;
  struct EndReading {
    bool& flag;
    ~EndReading() { flag = false; }
  } end{reading_};
  lines_.clear();
  KeyString = items.empty() ? std::string() : items.front();
  const std::string utf8_key = platform::AnsiToUtf8(KeyString);
  for (std::size_t i = 1; i < items.size(); ++i) {
    if (internal_version <= 0)
      Insert(Xor(items[i].substr(0, 255), KeyString));
    else if (internal_version == 1)
      Insert(FromHex(items[i], KeyString));
    else
      Insert(platform::Utf8ToAnsi(FromHex(items[i], utf8_key)));
  }
}

} // namespace kestrel::settings
