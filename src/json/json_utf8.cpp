#include "json/json_utf8.h"

namespace kestrel::json::json_utf8 {

platform::WideString Decode(std::string_view text) {
  platform::WideString out(text.size(), OLECHAR{0}); // never more units than bytes
  const auto* i = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const last = i + text.size();
  OLECHAR* o = out.data();
  while (i < last) {
    if (*i < 0x80)
      *o++ = *i++;
    else if (!DecodeSequence(i, last, o))
      return {};
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

} // namespace kestrel::json::json_utf8
