// Code pages and casing on Windows: the system's own conversions and 8-bit casing.
#include "platform/text.h"

#include <windows.h>

namespace kestrel::platform {

namespace {

UINT Resolve(uint32_t code_page) { return code_page ? code_page : GetACP(); }

WideString ToWide(std::string_view text, UINT code_page) {
  if (text.empty())
    return {};
  const int n = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
  WideString out(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
  if (n > 0)
    MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string FromWide(WideStringView text, UINT code_page) {
  if (text.empty())
    return {};
  const int n = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0)
    WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

} // namespace

uint32_t AnsiCodePage() { return GetACP(); }

WideString AnsiToWide(std::string_view text, uint32_t code_page) {
  return ToWide(text, Resolve(code_page));
}

std::string WideToAnsi(WideStringView text, uint32_t code_page) {
  return FromWide(text, Resolve(code_page));
}

WideString Utf8ToWide(std::string_view text) { return ToWide(text, CP_UTF8); }

std::string WideToUtf8(WideStringView text) { return FromWide(text, CP_UTF8); }

std::string AnsiToUtf8(std::string_view text) { return WideToUtf8(AnsiToWide(text)); }

std::string Utf8ToAnsi(std::string_view text) { return WideToAnsi(Utf8ToWide(text)); }

std::string AnsiUpperCase(std::string_view text) {
  std::string out(text);
  if (!out.empty())
    CharUpperBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::string AnsiLowerCase(std::string_view text) {
  std::string out(text);
  if (!out.empty())
    CharLowerBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                        b.data(), static_cast<int>(b.size())) -
         CSTR_EQUAL;
}

} // namespace kestrel::platform
