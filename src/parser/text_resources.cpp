#include "parser/text_resources.h"

#include <utility>

namespace kestrel::parser {

std::vector<std::string> TMessageTexts::OriginalTexts() const {
  TTextResources originals;
  std::vector<std::string> texts;
  for (const std::string* text : originals.Texts())
    texts.push_back(*text);
  return texts;
}

void TMessageTexts::SetTexts(std::vector<std::string> texts) {
  auto translated = std::make_shared<TTextResources>();
  const std::vector<std::string*> targets = translated->Texts();
  for (std::size_t i = 0; i < targets.size() && i < texts.size(); ++i)
    *targets[i] = std::move(texts[i]);
  std::shared_ptr<const TTextResources> previous;
  std::lock_guard lock(mutex_);
  previous = std::exchange(current_, std::move(translated));
}

std::string FormatMessageText(std::string_view pattern,
                              std::initializer_list<std::string_view> args) {
  std::string text;
  text.reserve(pattern.size() + 64);
  auto next = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      if (pattern[i + 1] == 's') {
        if (next != args.end())
          text.append(*next++);
        ++i;
        continue;
      }
      if (pattern[i + 1] == '%') {
        text.push_back('%');
        ++i;
        continue;
      }
    }
    text.push_back(pattern[i]);
  }
  return text;
}

} // namespace kestrel::parser
