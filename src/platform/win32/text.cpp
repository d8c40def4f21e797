// Code pages and casing on Windows: the system's own conversions and 8-bit casing.
#include <windows.h>

#include "platform/text.h"

#include <map>
#include <mutex>

namespace kestrel::platform {

namespace {

UINT Resolve(uint32_t code_page) {
  return code_page ? code_page : GetACP();
}

// UTF-8 decoded by ourselves so that every Windows release (and Wine) gives the same result:
// each maximal invalid subsequence becomes one U+FFFD, as Unicode recommends.
WideString DecodeUtf8(std::string_view text) {
  WideString out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<uint8_t>(text[i]);
    if (b < 0x80) {
      out.push_back(static_cast<OLECHAR>(b));
      ++i;
      continue;
    }
    std::size_t length = 0;
    uint32_t code = 0;
    uint8_t low = 0x80, high = 0xBF; // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
      code = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      code = b & 0x0F;
      low = b == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
      high = b == 0xED ? 0x9F : 0xBF; // no encoded surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      code = b & 0x07;
      low = b == 0xF0 ? 0x90 : 0x80;
      high = b == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    std::size_t j = 1;
    for (; j < length && i + j < text.size(); ++j) {
      const auto c = static_cast<uint8_t>(text[i + j]);
      if (c < (j == 1 ? low : 0x80) || c > (j == 1 ? high : 0xBF))
        break;
      code = code << 6 | (c & 0x3F);
    }
    i += j;
    if (j < length) {
      out.push_back(0xFFFD);
    } else if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<OLECHAR>(0xD800 + (code >> 10)));
      out.push_back(static_cast<OLECHAR>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<OLECHAR>(code));
    }
  }
  return out;
}

WideString ToWide(std::string_view text, UINT code_page) {
  if (text.empty())
    return {};
  if (code_page == CP_UTF8)
    return DecodeUtf8(text);
  const int n =
      MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  WideString out(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
  if (n > 0)
    MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// Code pages that take no flags in WideCharToMultiByte.
bool TakesNoFlags(UINT code_page) {
  return code_page == 42 || code_page == CP_UTF7 || code_page == CP_UTF8 || code_page == 52936 ||
         code_page == 54936 || (code_page >= 50220 && code_page <= 50229) ||
         (code_page >= 57002 && code_page <= 57011);
}

// A character the code page cannot hold becomes one '?': no best-fit look-alikes (which would
// turn "\u00E9" into "e" in 1251), and a surrogate pair counts as one character.
std::string FromWide(WideStringView text, UINT code_page) {
  if (text.empty())
    return {};
  WideString single;
  if (code_page != CP_UTF8 && code_page != 54936) {
    single.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
      single.push_back(pair ? OLECHAR(0xFFFD) : text[i]);
      i += pair;
    }
    text = single;
  }
  const DWORD flags = TakesNoFlags(code_page) ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n = WideCharToMultiByte(code_page, flags, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0)
    WideCharToMultiByte(code_page, flags, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

WideString CaseWide(WideString text, bool upper) {
  if (!text.empty()) {
    if (upper)
      CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    else
      CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  }
  return text;
}

// The case table of a single-byte code page: each byte cased on its own; a byte whose other case
// the code page cannot hold stays as it is, so the length never changes. Made once per code page.
struct CaseTables {
  char upper[256];
  char lower[256];
};

const CaseTables& TablesFor(UINT code_page) {
  static std::mutex mutex;
  static std::map<UINT, CaseTables> tables;
  std::lock_guard lock(mutex);
  auto [it, made] = tables.try_emplace(code_page);
  if (made) {
    for (int i = 0; i < 256; ++i) {
      const char byte = static_cast<char>(i);
      const WideString wide = ToWide(std::string_view(&byte, 1), code_page);
      for (int upper = 0; upper < 2; ++upper) {
        const std::string cased = FromWide(CaseWide(wide, upper != 0), code_page);
        const bool kept = cased.size() == 1 && (cased[0] != '?' || byte == '?');
        (upper ? it->second.upper : it->second.lower)[i] = kept ? cased[0] : byte;
      }
    }
  }
  return it->second;
}

// Casing through UTF-16; multi-byte texts whose cased form has another length stay as they are.
std::string CaseText(std::string_view text, UINT code_page, bool upper) {
  CPINFO info{};
  if (!GetCPInfo(code_page, &info))
    return std::string(text);
  if (info.MaxCharSize != 1) {
    const std::string cased = FromWide(CaseWide(ToWide(text, code_page), upper), code_page);
    return cased.size() == text.size() ? cased : std::string(text);
  }
  const CaseTables& tables = TablesFor(code_page);
  const char* map = upper ? tables.upper : tables.lower;
  std::string out(text);
  for (char& c : out)
    c = map[static_cast<uint8_t>(c)];
  return out;
}

} // namespace

uint32_t AnsiCodePage() {
  return GetACP();
}

WideString AnsiToWide(std::string_view text, uint32_t code_page) {
  return ToWide(text, Resolve(code_page));
}

std::string WideToAnsi(WideStringView text, uint32_t code_page) {
  return FromWide(text, Resolve(code_page));
}

WideString Utf8ToWide(std::string_view text) {
  return ToWide(text, CP_UTF8);
}

std::string WideToUtf8(WideStringView text) {
  return FromWide(text, CP_UTF8);
}

std::string AnsiToUtf8(std::string_view text) {
  return WideToUtf8(AnsiToWide(text));
}

std::string Utf8ToAnsi(std::string_view text) {
  return WideToAnsi(Utf8ToWide(text));
}

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

std::string CodePageUpperCase(std::string_view text, uint32_t code_page) {
  return CaseText(text, Resolve(code_page), true);
}

std::string CodePageLowerCase(std::string_view text, uint32_t code_page) {
  return CaseText(text, Resolve(code_page), false);
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                        b.data(), static_cast<int>(b.size())) -
         CSTR_EQUAL;
}

} // namespace kestrel::platform
