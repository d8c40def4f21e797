// Language files (".lng"): text files of entry blocks, one block per English text with its
// translations, each line "CODE:>text", blocks ended by an empty line. The first lines may set
// options (encoding, reading order, locale, character set, collection of texts), and a
// "[Languages]" section names the languages the file holds and its default one.
#pragma once

#include "translation/language_dictionary.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel::translation {

// Reading order given to components that have one (the run-time's TBiDiMode values).
enum class TBiDiMode : int32_t {
  LeftToRight = 0,
  RightToLeft = 1,
  RightToLeftNoAlign = 2,
  RightToLeftReadingOnly = 3
};

// How the file of collected texts is written.
enum class TCollectFileMode { Rewrite, NewNumbered, Append };

inline constexpr int32_t kDefaultCharset = 1;
inline constexpr int32_t kSymbolCharset = 2;

// Options set by the header lines of the language files read so far; one file's options stay
// in force for the files after it.
struct TLanguageFileOptions {
  bool Utf8 = false;
  TBiDiMode BiDiMode = TBiDiMode::LeftToRight;
  int32_t Charset = kDefaultCharset;
  uint32_t CodePage = 0; // 0: the system's ANSI code page
  uint32_t Locale = 0;   // the locale a "Locale=" line set for the thread, 0 when none
  TCollectFileMode FileMode = TCollectFileMode::Rewrite;
  bool SaveUntranslated = false;
  bool SaveUntranslatedWithPath = false;
  bool SaveUnused = false;
  bool SaveAll = false; // recognised, collects nothing

  bool Collecting() const { return SaveUntranslated || SaveUntranslatedWithPath || SaveUnused; }
};

// The character set and code page a "Charset=" value selects, or none for an unknown name.
std::optional<std::pair<int32_t, uint32_t>> CharsetByName(std::string_view name);

// Reads the text of one language file into the dictionary: for each complete block the text
// of the `source` line and the translation of the `target` line (decoded by the options).
// Header lines among the first 19 lines change `options`; a "Locale=" line sets the calling
// thread's locale. Returns the number of entries stored; with `sources` the source text of
// each stored entry is appended to it in file order.
std::size_t ReadLanguageText(std::string_view text, const std::string& source,
                             const std::string& target, TLanguageFileOptions& options,
                             TLanguageDictionary& dictionary,
                             std::vector<std::string>* sources = nullptr);

// The "[Languages]" section of a language file: the default language ("Default") and the
// languages listed as "$CODE = display name", in file order.
struct TLanguageList {
  std::string Default;
  std::vector<std::pair<std::string, std::string>> Languages; // code, display name
};
TLanguageList ReadLanguageList(std::string_view text);

// The whole content of a file, or none when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// The entries of a "|"-separated list of language files, empty ones left out.
std::vector<std::string> LanguageFileList(std::string_view setting);

} // namespace kestrel::translation
