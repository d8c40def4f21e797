// The string holder's streamed form: the first byte picks the version read and whether the
// lists are sorted, the rest is a key and lines separated by zero bytes. Items of any version
// read without a fault, hexadecimal items give one byte per digit pair, and lines written in
// the current version read back unchanged when the code page can carry them.
#include "settings/str_holder.h"

#include "platform/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace kestrel;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

bool Representable(const std::string& ansi) {
  return platform::Utf8ToAnsi(platform::AnsiToUtf8(ansi)) == ansi;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  const uint8_t flags = data[0];
  std::vector<std::string> items;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  while (true) {
    const std::size_t end = rest.find('\0');
    items.emplace_back(rest.substr(0, end));
    if (end == std::string_view::npos)
      break;
    rest.remove_prefix(end + 1);
  }

  // Reading whatever a stream holds.
  const int32_t version = static_cast<int32_t>(flags % 4) - 1;
  settings::TorvStrHolder read;
  read.ReadStrData(version, items);
  Check(read.KeyString == items.front());
  Check(read.Strings().size() == items.size() - 1);
  if (version == 1)
    for (std::size_t i = 1; i < items.size(); ++i)
      Check(read.Strings()[i - 1].size() == (items[i].size() + 1) / 2);

  // Writing lines and reading them back.
  settings::TorvStrHolder written;
  written.SetSorted(flags & 0x10);
  written.Duplicates = settings::TDuplicates::dupAccept;
  written.KeyString = items.front();
  std::vector<std::string> lines(items.begin() + 1, items.end());
  bool representable = Representable(written.KeyString);
  for (const std::string& line : lines)
    representable = representable && Representable(line);
  written.SetStrings(lines);
  const std::vector<std::string> stream = written.WriteStrData();
  Check(stream.size() == lines.size() + 1 && stream.front() == written.KeyString);
  settings::TorvStrHolder back;
  back.SetSorted(written.Sorted());
  back.Duplicates = written.Duplicates;
  back.ReadStrData(settings::TorvStrHolder::kInternalVersion, stream);
  Check(back.KeyString == written.KeyString);
  // Sorting keeps lines that differ only in case in either order.
  if (representable && !written.Sorted())
    Check(back.Strings() == written.Strings());
  if (representable && written.Sorted()) {
    Check(back.Strings().size() == written.Strings().size());
    for (std::size_t i = 0; i < back.Strings().size(); ++i)
      Check(platform::AnsiCompareText(back.Strings()[i], written.Strings()[i]) == 0);
  }
  Check(!back.StrDataNeeded(&written) || !representable);
  return 0;
}
