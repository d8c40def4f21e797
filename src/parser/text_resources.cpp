#include "parser/text_resources.h"

namespace kestrel::parser {

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
