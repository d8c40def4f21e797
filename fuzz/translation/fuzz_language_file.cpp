// Language files: the first byte picks the target language, the rest is the file. Every entry
// stored is found again under its source text (also case-blind), the count returned is the
// number of sources reported, and the language list and file list hold only trimmed,
// non-empty names.
#include "translation/language_dictionary.h"
#include "translation/language_file.h"

#include "common/ascii_text.h"
#include "platform/locale.h"

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

bool Trimmed(std::string_view text) {
  return TrimBlanks(text) == text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  static const char* const kTargets[] = {"DE", "RU", "JA", "AR", "EN", ""};
  const std::string target = kTargets[data[0] % 6];
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  // A "Locale=" line changes the thread's locale; each input starts from the same one.
  const uint32_t locale = platform::GetThreadLocale();
  translation::TLanguageFileOptions options;
  translation::TLanguageDictionary dictionary;
  std::vector<std::string> sources;
  const std::size_t stored = translation::ReadLanguageText(text, "EN", target, options, dictionary,
                                                      (data[0] & 0x80) ? nullptr : &sources);
  platform::SetThreadLocale(locale);

  Check(dictionary.Count() <= stored);
  if (!(data[0] & 0x80)) {
    Check(sources.size() == stored);
    for (const std::string& source : sources) {
      Check(!source.empty() && source.find_first_of("\r\n") == std::string::npos);
      const platform::WideString* exact = dictionary.FindExact(source);
      Check(exact && !exact->empty());
      if (translation::TLanguageDictionary::LowerCase(source) != source)
        Check(dictionary.FindLowerCase(source) != nullptr);
    }
  }

  const translation::TLanguageList list = translation::ReadLanguageList(text);
  Check(Trimmed(list.Default));
  for (const auto& [code, name] : list.Languages)
    Check(!code.empty() && Trimmed(name));
  for (const std::string& file : translation::LanguageFileList(text))
    Check(!file.empty() && Trimmed(file));
  return 0;
}
