// Code-page conversions: the first byte chooses the code page, the rest is the 8-bit text.
// Checks that decoding never fails, that single-byte code pages keep one character per byte
// and give back the original bytes, that a second round trip changes nothing, that casing
// keeps the length, and that UTF-8 decoded once survives a round trip.
#include "platform/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace kestrel::platform;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  static constexpr uint32_t kCodePages[] = {1252, 1251, 1250, 1253, 874, 932, 936, 65001};
  const uint32_t code_page = kCodePages[data[0] % (sizeof kCodePages / sizeof kCodePages[0])];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const bool single_byte = code_page != 932 && code_page != 936 && code_page != 65001;

  const WideString wide = AnsiToWide(text, code_page);
  const std::string back = WideToAnsi(wide, code_page);
  if (single_byte) {
    Check(wide.size() == text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
      Check(wide[i] == u'\uFFFD' ? back[i] == '?' : back[i] == text[i]);
  }
  Check(WideToAnsi(AnsiToWide(back, code_page), code_page) == back);

  Check(CodePageUpperCase(text, code_page).size() == text.size());
  Check(CodePageLowerCase(text, code_page).size() == text.size());

  const WideString from_utf8 = Utf8ToWide(text);
  Check(Utf8ToWide(WideToUtf8(from_utf8)) == from_utf8);
  return 0;
}
