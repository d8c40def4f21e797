// Code pages and casing on POSIX, through ICU.
//
// Single-byte code pages (the usual ANSI code pages 874 and 1250-1258) are turned into tables
// once: 256 characters for decoding, a sparse reverse table for encoding, and 256-entry upper
// and lower case tables. Conversions and casing on them are then table look-ups. Multi-byte
// code pages (932, 936, 949, 950, 65001) go through an ICU converter per thread.
#include "platform/text.h"

#include "platform/posix/icu_text.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <array>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace kestrel::platform {

namespace icu {

std::string LocaleForLcid(uint32_t lcid) {
  char name[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
  if (U_FAILURE(status) || length <= 0)
    return {};
  return std::string(name, static_cast<std::size_t>(length));
}

uint32_t UserDefaultLcid() {
  static const uint32_t lcid = [] {
    if (const char* text = std::getenv("KESTREL_LCID")) {
      char* end = nullptr;
      const unsigned long value = std::strtoul(text, &end, 0);
      if (end != text && *end == '\0' && value > 0 && value <= 0xFFFFFFFFul &&
          !LocaleForLcid(static_cast<uint32_t>(value)).empty())
        return static_cast<uint32_t>(value);
    }
    return uint32_t{1033};
  }();
  return lcid;
}

const std::string& UserLocaleName() {
  static const std::string name = LocaleForLcid(UserDefaultLcid());
  return name;
}

} // namespace icu

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr uint32_t kUtf8CodePage = 65001;

// The ICU converter names a Windows code page number may go by, most specific first.
std::vector<std::string> ConverterNames(uint32_t code_page) {
  const std::string number = std::to_string(code_page);
  if (code_page == kUtf8CodePage)
    return {"UTF-8"};
  if (code_page == 20127)
    return {"US-ASCII"};
  if (code_page == 20866)
    return {"KOI8-R"};
  if (code_page == 21866)
    return {"KOI8-U"};
  if (code_page >= 28591 && code_page <= 28605)
    return {"ISO-8859-" + std::to_string(code_page - 28590)};
  return {"windows-" + number, "cp" + number, "ibm-" + number};
}

// Opens a converter that writes U+FFFD for undecodable input and '?' for unrepresentable
// characters, or returns null when ICU knows no converter for the code page.
UConverter* OpenConverter(uint32_t code_page) {
  for (const std::string& name : ConverterNames(code_page)) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name.c_str(), &status);
    if (U_FAILURE(status) || !converter)
      continue;
    // ICU would write U+001A for some unassigned bytes; U+FFFD is what the callers expect.
    status = U_ZERO_ERROR;
    ucnv_setToUCallBack(
        converter,
        [](const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
           UConverterCallbackReason reason, UErrorCode* error) {
          if (reason > UCNV_IRREGULAR)
            return;
          *error = U_ZERO_ERROR;
          const UChar replacement = kReplacement;
          ucnv_cbToUWriteUChars(args, &replacement, 1, 0, error);
        },
        nullptr, nullptr, nullptr, &status);
    status = U_ZERO_ERROR;
    ucnv_setSubstChars(converter, "?", 1, &status);
    return converter;
  }
  return nullptr;
}

// One code page as tables, built once and never changed afterwards.
struct CodePageTables {
  uint32_t number = 0;
  bool single_byte = false;
  // Single-byte code pages only.
  std::array<char16_t, 256> to_wide{};
  std::array<std::unique_ptr<std::array<int16_t, 256>>, 256> from_wide; // -1: not mapped
  std::array<uint8_t, 256> upper{};
  std::array<uint8_t, 256> lower{};

  int FromWide(char16_t c) const {
    const auto& page = from_wide[c >> 8];
    return page ? (*page)[c & 0xFF] : -1;
  }
};

// Maps one UTF-16 character through ICU's full case mapping; returns 0 when the result is not
// a single UTF-16 unit (ß -> SS, for instance), which keeps the character as it is.
char16_t CaseOne(char16_t c, bool upper) {
  UChar out[4];
  UErrorCode status = U_ZERO_ERROR;
  const UChar in = c;
  const char* locale = icu::UserLocaleName().c_str();
  const int32_t length = upper ? u_strToUpper(out, 4, &in, 1, locale, &status)
                               : u_strToLower(out, 4, &in, 1, locale, &status);
  if (U_FAILURE(status) || length != 1 || U16_IS_SURROGATE(out[0]))
    return 0;
  return out[0];
}

std::unique_ptr<CodePageTables> BuildTables(uint32_t code_page) {
  UConverter* converter = OpenConverter(code_page);
  if (!converter)
    return nullptr;
  auto tables = std::make_unique<CodePageTables>();
  tables->number = code_page;
  tables->single_byte = ucnv_getMaxCharSize(converter) == 1;
  if (tables->single_byte) {
    for (int b = 0; b < 256; ++b) {
      const char byte = static_cast<char>(b);
      UChar out[4];
      UErrorCode status = U_ZERO_ERROR;
      ucnv_reset(converter);
      const int32_t length = ucnv_toUChars(converter, out, 4, &byte, 1, &status);
      tables->to_wide[b] = (U_SUCCESS(status) && length == 1) ? out[0] : kReplacement;
    }
    // Only mappings that come back to the same byte are used for encoding, so encoding a
    // decoded text gives the original bytes.
    for (int b = 0; b < 256; ++b) {
      const char16_t c = tables->to_wide[b];
      if (c == kReplacement)
        continue;
      char back[4];
      UErrorCode status = U_ZERO_ERROR;
      ucnv_reset(converter);
      const UChar in = c;
      const int32_t length = ucnv_fromUChars(converter, back, 4, &in, 1, &status);
      if (U_FAILURE(status) || length != 1 || static_cast<uint8_t>(back[0]) != b)
        continue;
      auto& page = tables->from_wide[c >> 8];
      if (!page) {
        page = std::make_unique<std::array<int16_t, 256>>();
        page->fill(-1);
      }
      (*page)[c & 0xFF] = static_cast<int16_t>(b);
    }
    for (int b = 0; b < 256; ++b) {
      tables->upper[b] = tables->lower[b] = static_cast<uint8_t>(b);
      const char16_t c = tables->to_wide[b];
      if (c == kReplacement)
        continue;
      if (const char16_t u = CaseOne(c, true); u && tables->FromWide(u) >= 0)
        tables->upper[b] = static_cast<uint8_t>(tables->FromWide(u));
      if (const char16_t l = CaseOne(c, false); l && tables->FromWide(l) >= 0)
        tables->lower[b] = static_cast<uint8_t>(tables->FromWide(l));
    }
  }
  ucnv_close(converter);
  return tables;
}

// The tables of a code page (0 = ANSI), or null when the code page is unknown.
const CodePageTables* Tables(uint32_t code_page) {
  static std::mutex lock;
  static std::map<uint32_t, std::unique_ptr<CodePageTables>> known;
  if (code_page == 0 || code_page == AnsiCodePage()) {
    // The ANSI code page is the common case; its tables are looked up once, without a lock.
    static const CodePageTables* const ansi = [] {
      std::lock_guard<std::mutex> guard(lock);
      auto it = known.find(AnsiCodePage());
      if (it == known.end())
        it = known.emplace(AnsiCodePage(), BuildTables(AnsiCodePage())).first;
      return it->second.get();
    }();
    return ansi;
  }
  std::lock_guard<std::mutex> guard(lock);
  auto it = known.find(code_page);
  if (it == known.end())
    it = known.emplace(code_page, BuildTables(code_page)).first;
  return it->second.get();
}

// Multi-byte code pages: one converter per thread and code page.
class ThreadConverters {
public:
  ~ThreadConverters() {
    for (auto& [number, converter] : converters_)
      ucnv_close(converter);
  }
  UConverter* Get(uint32_t code_page) {
    auto it = converters_.find(code_page);
    if (it == converters_.end())
      it = converters_.emplace(code_page, OpenConverter(code_page)).first;
    if (it->second)
      ucnv_reset(it->second);
    return it->second;
  }

private:
  std::unordered_map<uint32_t, UConverter*> converters_;
};

UConverter* ThreadConverter(uint32_t code_page) {
  thread_local ThreadConverters converters;
  return converters.Get(code_page);
}

WideString DecodeWithConverter(UConverter* converter, std::string_view text,
                               std::vector<int32_t>* offsets = nullptr) {
  // Two UTF-16 units per byte is more than any code page produces.
  WideString out(2 * text.size() + 1, u'\0');
  if (offsets)
    offsets->assign(out.size(), -1);
  UChar* target = reinterpret_cast<UChar*>(out.data());
  const char* source = text.data();
  UErrorCode status = U_ZERO_ERROR;
  ucnv_toUnicode(converter, &target, target + out.size(), &source, text.data() + text.size(),
                 offsets ? offsets->data() : nullptr, true, &status);
  const std::size_t written =
      static_cast<std::size_t>(target - reinterpret_cast<UChar*>(out.data()));
  out.resize(U_SUCCESS(status) ? written : 0);
  if (offsets)
    offsets->resize(out.size());
  return out;
}

std::string EncodeWithConverter(UConverter* converter, WideStringView text) {
  std::string out(text.size() * static_cast<std::size_t>(ucnv_getMaxCharSize(converter)) + 1, '\0');
  char* target = out.data();
  const UChar* source = reinterpret_cast<const UChar*>(text.data());
  UErrorCode status = U_ZERO_ERROR;
  ucnv_fromUnicode(converter, &target, target + out.size(), &source, source + text.size(), nullptr,
                   true, &status);
  out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(target - out.data()) : 0);
  return out;
}

// Casing of text in a multi-byte code page: each character whose case partner encodes to
// the same number of bytes is replaced in place; the others stay, so the length is kept.
std::string CaseMultiByte(std::string_view text, uint32_t code_page, bool upper) {
  std::string out(text);
  UConverter* converter = ThreadConverter(code_page);
  if (!converter || text.empty())
    return out;
  std::vector<int32_t> offsets;
  const WideString wide = DecodeWithConverter(converter, text, &offsets);
  std::size_t i = 0;
  while (i < wide.size()) {
    const std::size_t start = i;
    i += (U16_IS_LEAD(wide[i]) && i + 1 < wide.size() && U16_IS_TRAIL(wide[i + 1])) ? 2 : 1;
    if (offsets[start] < 0 || wide[start] == kReplacement)
      continue;
    const std::size_t from = static_cast<std::size_t>(offsets[start]);
    std::size_t to = text.size();
    for (std::size_t k = i; k < wide.size(); ++k)
      if (offsets[k] >= 0) {
        to = static_cast<std::size_t>(offsets[k]);
        break;
      }
    UChar mapped[8];
    UErrorCode status = U_ZERO_ERROR;
    const char* locale = icu::UserLocaleName().c_str();
    const auto* in = reinterpret_cast<const UChar*>(wide.data() + start);
    const int32_t count = static_cast<int32_t>(i - start);
    const int32_t length = upper ? u_strToUpper(mapped, 8, in, count, locale, &status)
                                 : u_strToLower(mapped, 8, in, count, locale, &status);
    if (U_FAILURE(status) || (length == count && u_strncmp(mapped, in, count) == 0))
      continue;
    const std::string bytes = EncodeWithConverter(
        ThreadConverter(code_page),
        WideStringView(reinterpret_cast<const OLECHAR*>(mapped), static_cast<std::size_t>(length)));
    if (bytes.size() == to - from && bytes.find('?') == std::string::npos)
      out.replace(from, bytes.size(), bytes);
  }
  return out;
}

std::string CaseText(std::string_view text, uint32_t code_page, bool upper) {
  const CodePageTables* tables = Tables(code_page);
  if (!tables)
    return std::string(text);
  if (!tables->single_byte)
    return CaseMultiByte(text, tables->number, upper);
  std::string out(text);
  const auto& map = upper ? tables->upper : tables->lower;
  for (char& c : out)
    c = static_cast<char>(map[static_cast<uint8_t>(c)]);
  return out;
}

// The user's collator, ignoring case but not accents, one per thread.
struct ThreadCollator {
  UCollator* collator = nullptr;
  ThreadCollator() {
    UErrorCode status = U_ZERO_ERROR;
    collator = ucol_open(icu::UserLocaleName().c_str(), &status);
    if (U_FAILURE(status)) {
      collator = nullptr;
      return;
    }
    ucol_setStrength(collator, UCOL_SECONDARY);
  }
  ~ThreadCollator() {
    if (collator)
      ucol_close(collator);
  }
};

} // namespace

uint32_t AnsiCodePage() {
  static const uint32_t code_page = [] {
    if (const char* text = std::getenv("KESTREL_ACP")) {
      char* end = nullptr;
      const unsigned long value = std::strtoul(text, &end, 10);
      if (end != text && *end == '\0' && value > 0 && value < 65536) {
        if (UConverter* converter = OpenConverter(static_cast<uint32_t>(value))) {
          ucnv_close(converter);
          return static_cast<uint32_t>(value);
        }
      }
    }
    return uint32_t{1252};
  }();
  return code_page;
}

WideString AnsiToWide(std::string_view text, uint32_t code_page) {
  if (text.empty())
    return {};
  const CodePageTables* tables = Tables(code_page);
  if (!tables)
    return {};
  if (tables->single_byte) {
    WideString out(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
      out[i] = static_cast<OLECHAR>(tables->to_wide[static_cast<uint8_t>(text[i])]);
    return out;
  }
  if (tables->number == kUtf8CodePage)
    return Utf8ToWide(text);
  UConverter* converter = ThreadConverter(tables->number);
  return converter ? DecodeWithConverter(converter, text) : WideString();
}

std::string WideToAnsi(WideStringView text, uint32_t code_page) {
  if (text.empty())
    return {};
  const CodePageTables* tables = Tables(code_page);
  if (!tables)
    return {};
  if (tables->single_byte) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char16_t c = static_cast<char16_t>(text[i]);
      // A surrogate pair is one character and becomes one '?'.
      if (U16_IS_LEAD(c) && i + 1 < text.size() && U16_IS_TRAIL(static_cast<char16_t>(text[i + 1])))
        ++i;
      const int byte = U16_IS_SURROGATE(c) ? -1 : tables->FromWide(c);
      out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
    }
    return out;
  }
  if (tables->number == kUtf8CodePage)
    return WideToUtf8(text);
  UConverter* converter = ThreadConverter(tables->number);
  return converter ? EncodeWithConverter(converter, text) : std::string();
}

WideString Utf8ToWide(std::string_view text) {
  if (text.empty())
    return {};
  WideString out(text.size(), u'\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                       &length, text.data(), static_cast<int32_t>(text.size()), kReplacement,
                       nullptr, &status);
  out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
  return out;
}

std::string WideToUtf8(WideStringView text) {
  if (text.empty())
    return {};
  std::string out(text.size() * 3, '\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
                     reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()),
                     kReplacement, nullptr, &status);
  out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
  return out;
}

std::string AnsiToUtf8(std::string_view text) {
  return WideToUtf8(AnsiToWide(text));
}

std::string Utf8ToAnsi(std::string_view text) {
  return WideToAnsi(Utf8ToWide(text));
}

std::string AnsiUpperCase(std::string_view text) {
  return CaseText(text, 0, true);
}

std::string AnsiLowerCase(std::string_view text) {
  return CaseText(text, 0, false);
}

std::string CodePageUpperCase(std::string_view text, uint32_t code_page) {
  return CaseText(text, code_page, true);
}

std::string CodePageLowerCase(std::string_view text, uint32_t code_page) {
  return CaseText(text, code_page, false);
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  thread_local ThreadCollator user;
  const WideString wa = AnsiToWide(a);
  const WideString wb = AnsiToWide(b);
  if (!user.collator) {
    // Without ICU's collation data, fall back to comparing the upper-cased texts.
    const int order = AnsiUpperCase(a).compare(AnsiUpperCase(b));
    return order < 0 ? -1 : (order == 0 ? 0 : 1);
  }
  const UCollationResult result = ucol_strcoll(
      user.collator, reinterpret_cast<const UChar*>(wa.data()), static_cast<int32_t>(wa.size()),
      reinterpret_cast<const UChar*>(wb.data()), static_cast<int32_t>(wb.size()));
  return result == UCOL_LESS ? -1 : (result == UCOL_EQUAL ? 0 : 1);
}

} // namespace kestrel::platform
