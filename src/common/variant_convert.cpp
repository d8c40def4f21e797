#include "common/variant_convert.h"

#include "platform/text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace kestrel {

namespace {

std::string Ascii(platform::WideStringView wide) {
  std::string out;
  out.reserve(wide.size());
  for (OLECHAR c : wide) {
    if (c > 0x7F)
      return {};
    out.push_back(static_cast<char>(c));
  }
  return out;
}

platform::WideString Widen(std::string_view ascii) {
  return platform::WideString(ascii.begin(), ascii.end());
}

std::string Trimmed(std::string text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos)
    return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

template <typename T> std::string NumberText(T number) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), number);
  return std::string(buffer, result.ptr);
}

platform::WideStringView StringOf(const VARIANT& raw) {
  static const OLECHAR none[1] = {0};
  return raw.bstrVal ? platform::WideStringView(raw.bstrVal, SysStringLen(raw.bstrVal))
                     : platform::WideStringView(none, 0);
}

} // namespace

platform::WideString VariantToWide(const Variant& value) {
  const VARIANT& raw = value.Raw();
  switch (raw.vt) {
  case VT_BSTR:
    return platform::WideString(StringOf(raw));
  case VT_BOOL:
    return Widen(raw.boolVal ? "True" : "False");
  case VT_I1:
    return Widen(NumberText(static_cast<int>(raw.cVal)));
  case VT_UI1:
    return Widen(NumberText(static_cast<unsigned>(raw.bVal)));
  case VT_I2:
    return Widen(NumberText(raw.iVal));
  case VT_UI2:
    return Widen(NumberText(raw.uiVal));
  case VT_I4:
  case VT_INT:
    return Widen(NumberText(raw.lVal));
  case VT_UI4:
  case VT_UINT:
    return Widen(NumberText(raw.ulVal));
  case VT_I8:
    return Widen(NumberText(raw.llVal));
  case VT_UI8:
    return Widen(NumberText(raw.ullVal));
  case VT_R4:
    return Widen(NumberText(raw.fltVal));
  case VT_R8:
  case VT_DATE:
    return Widen(NumberText(raw.dblVal));
  case VT_CY:
    return Widen(NumberText(static_cast<double>(raw.cyVal.int64) / 10000.0));
  default:
    return {};
  }
}

std::string VariantToAnsi(const Variant& value) {
  return platform::WideToAnsi(VariantToWide(value));
}

std::optional<double> VariantToDouble(const Variant& value) {
  const VARIANT& raw = value.Raw();
  switch (raw.vt) {
  case VT_R4:
    return raw.fltVal;
  case VT_R8:
  case VT_DATE:
    return raw.dblVal;
  case VT_CY:
    return static_cast<double>(raw.cyVal.int64) / 10000.0;
  case VT_BSTR: {
    const std::string text = Trimmed(Ascii(StringOf(raw)));
    double number = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
      return std::nullopt;
    return number;
  }
  default:
    if (auto integer = VariantToInt64(value))
      return static_cast<double>(*integer);
    return std::nullopt;
  }
}

std::optional<int64_t> VariantToInt64(const Variant& value) {
  const VARIANT& raw = value.Raw();
  switch (raw.vt) {
  case VT_BOOL:
    return raw.boolVal ? -1 : 0;
  case VT_I1:
    return raw.cVal;
  case VT_UI1:
    return raw.bVal;
  case VT_I2:
    return raw.iVal;
  case VT_UI2:
    return raw.uiVal;
  case VT_I4:
  case VT_INT:
    return raw.lVal;
  case VT_UI4:
  case VT_UINT:
    return raw.ulVal;
  case VT_I8:
    return raw.llVal;
  case VT_UI8:
    if (raw.ullVal > static_cast<uint64_t>(INT64_MAX))
      return std::nullopt;
    return static_cast<int64_t>(raw.ullVal);
  case VT_R4:
  case VT_R8:
  case VT_DATE:
  case VT_CY: {
    const double number = *VariantToDouble(value);
    if (!std::isfinite(number) || number != std::trunc(number) || number < -9.2e18 ||
        number > 9.2e18)
      return std::nullopt;
    return static_cast<int64_t>(number);
  }
  case VT_BSTR: {
    const std::string text = Trimmed(Ascii(StringOf(raw)));
    const char* first = text.data();
    if (!text.empty() && text[0] == '+')
      ++first;
    int64_t number = 0;
    const auto result = std::from_chars(first, text.data() + text.size(), number);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
      return std::nullopt;
    return number;
  }
  default:
    return std::nullopt;
  }
}

std::optional<bool> VariantToBool(const Variant& value) {
  if (value.Type() == VT_BOOL)
    return value.Raw().boolVal != 0;
  if (value.IsString()) {
    std::string text = Trimmed(Ascii(StringOf(value.Raw())));
    for (char& c : text)
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    if (text == "true")
      return true;
    if (text == "false")
      return false;
  }
  if (auto number = VariantToDouble(value))
    return *number != 0;
  return std::nullopt;
}

} // namespace kestrel
