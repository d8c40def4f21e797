// Translation maps: the input up to the first zero byte is a map setting (lines split at line
// breaks), the rest is the text to translate. Checks what a translation may produce: removed
// bytes never appear where only removals and single-byte entries apply, and the output of a
// table without entries or case change is the input minus the removed bytes.
#include "convert/orv_trans_table.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace kestrel::convert::orvTransTable;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string_view map = input.substr(0, split);
  const std::string_view text =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  TorvTranslationTable table;
  table.LoadMapText(map);
  const std::string out = Translate(table, text);

  Check(table.Count() <= 256);
  Check(table.LongestReplacement >= 1);
  std::size_t longest = 1;
  for (int code = 0; code < 256; ++code)
    if (const TorvTransItem* item = table.Entry(static_cast<uint8_t>(code))) {
      Check(item->Action >= taReplace && item->Action <= taString);
      if (item->Action == taReplace)
        Check(item->Text.size() == 1);
      if (item->Action == taString && item->Text.size() > longest)
        longest = item->Text.size();
    }
  Check(static_cast<std::size_t>(table.LongestReplacement) >= longest);
  Check(out.size() <= text.size() * longest);

  // Without entries and case change, the output is the input with the removed bytes dropped.
  TorvTranslationTable plain;
  plain.RemoveControl = table.RemoveControl;
  plain.Remove8Bit = table.Remove8Bit;
  std::string expected;
  for (const char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    if (!((byte < 0x20 && plain.RemoveControl) || (byte >= 0x80 && plain.Remove8Bit)))
      expected += c;
  }
  Check(Translate(plain, text) == expected);

  Check(DecodeHashEscapes(map).size() <= map.size());
  return 0;
}
