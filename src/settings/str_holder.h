// TorvStrHolder: a component that owns a list of lines (the property map, translation tables)
// and streams it with the module's form in an encoded form: the extra streamed properties
// "InternalVer" (the encoding version) and "StrData" (the key string in clear, then one item
// per line encoded with the key).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::settings {

enum class TDuplicates : uint8_t { dupIgnore, dupAccept, dupError };

class TorvStrHolder {
public:
  // The version written whenever the holder has no ancestor.
  static constexpr int32_t kInternalVersion = 2;

  std::string Name;
  int32_t Tag = 0;
  int32_t Capacity = 0;
  TDuplicates Duplicates = TDuplicates::dupIgnore;
  std::string KeyString;
  // Called before and after every change of the lines, except while the holder is read from
  // its stream.
  std::function<void(TorvStrHolder& sender)> OnChanging;
  std::function<void(TorvStrHolder& sender)> OnChange;

  const std::vector<std::string>& Strings() const { return lines_; }
  // Copies the lines (sorted, and duplicates handled, when Sorted).
  void SetStrings(const std::vector<std::string>& lines);
  void Add(std::string line);
  void Clear();

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);

  void Assign(const TorvStrHolder& source) { SetStrings(source.Strings()); }
  void Assign(const std::vector<std::string>& lines) { SetStrings(lines); }
  void AssignTo(std::vector<std::string>& lines) const { lines = lines_; }

  // ---- Streaming ----------------------------------------------------------------------------
  // Whether "StrData" is written: against an ancestor with the same line count and key only
  // when some line differs from the ancestor's ignoring case; otherwise when there is a line
  // or a key.
  bool StrDataNeeded(const TorvStrHolder* ancestor) const;
  // The "StrData" items of version 2: the key, then each line as lower-case hexadecimal of
  // its UTF-8 bytes XORed with the key's UTF-8 bytes.
  std::vector<std::string> WriteStrData() const;
  // Reads "StrData" items written in `internal_version` (0 or less: raw text XORed with the
  // key; 1: hexadecimal XORed with the key's bytes; 2 or more: hexadecimal of UTF-8 XORed
  // with the key's UTF-8 bytes). OnChanging / OnChange are not called.
  void ReadStrData(int32_t internal_version, const std::vector<std::string>& items);

private:
  void Changing();
  void Changed();
  void Insert(std::string line);

  std::vector<std::string> lines_;
  bool sorted_ = false;
  bool reading_ = false;
};

} // namespace kestrel::settings
