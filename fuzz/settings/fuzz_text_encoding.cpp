// The settings text encoding: arbitrary bytes decode without a fault, every stored form is
// printable ASCII without blanks an INI file would trim, and any text the ANSI code page can
// carry comes back unchanged from its stored form.
#include "settings/text_encoding.h"

#include "platform/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace kestrel;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

void CheckRoundTrip(const std::string& ansi) {
  const std::string stored = settings::EncodeSettingsText(ansi);
  for (const char c : stored)
    Check(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) <= 0x7F);
  Check(stored.empty() || (stored.front() != ' ' && stored.back() != ' '));
  // Bytes the code page cannot represent ('?' on the way back) are the only loss allowed.
  if (platform::Utf8ToAnsi(platform::AnsiToUtf8(ansi)) == ansi)
    Check(settings::DecodeSettingsText(stored) == ansi);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // The input as a stored text someone else wrote, and as a text to store.
  const std::string decoded = settings::DecodeSettingsText(input);
  CheckRoundTrip(decoded);
  CheckRoundTrip(input);
  return 0;
}
