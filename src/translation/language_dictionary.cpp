#include "translation/language_dictionary.h"

#include "platform/text.h"

namespace kestrel::translation {

std::string TLanguageDictionary::LowerCase(std::string_view text) {
  return platform::AnsiLowerCase(text);
}

void TLanguageDictionary::Add(const std::string& source, platform::WideString translation) {
  std::string lower = LowerCase(source);
  if (lower != source)
    lower_[std::move(lower)] = translation;
  exact_[source] = std::move(translation);
}

void TLanguageDictionary::Clear() {
  exact_.clear();
  lower_.clear();
}

const platform::WideString* TLanguageDictionary::FindExact(const std::string& source) const {
  const auto found = exact_.find(source);
  return found == exact_.end() ? nullptr : &found->second;
}

const platform::WideString* TLanguageDictionary::FindLowerCase(std::string_view source) const {
  const std::string lower = LowerCase(source);
  // An entry whose source is already lower case lives only in the exact map.
  if (const auto found = lower_.find(lower); found != lower_.end())
    return &found->second;
  const auto found = exact_.find(lower);
  return found == exact_.end() ? nullptr : &found->second;
}

} // namespace kestrel::translation
