// The dictionary of one source/target language pair: English text to translated (wide) text.
// The exact map holds the source texts as written in the language files; the lower-case map
// holds the lower-case form of those whose lower-case form differs, for a last, case-blind
// try. Both maps are filled and searched with the same lower-casing rule.
#pragma once

#include "platform/ole.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kestrel::translation {

class TLanguageDictionary {
public:
  // Stores an entry; an entry for a source already present replaces the earlier one.
  void Add(const std::string& source, platform::WideString translation);
  void Clear();

  const platform::WideString* FindExact(const std::string& source) const;
  // `source` as written; it is lower-cased here.
  const platform::WideString* FindLowerCase(std::string_view source) const;

  std::size_t Count() const { return exact_.size(); }
  bool Empty() const { return exact_.empty(); }

  // The lower-casing rule of both maps (the system code page's casing).
  static std::string LowerCase(std::string_view text);

  const std::unordered_map<std::string, platform::WideString>& Entries() const { return exact_; }

private:
  std::unordered_map<std::string, platform::WideString> exact_;
  std::unordered_map<std::string, platform::WideString> lower_;
};

} // namespace kestrel::translation
