// A pattern that picks the part of a value a rule converts: the first capture group when the
// pattern has one and it took part in the match, else the whole match. Compiled once when the
// rules are read and shared by every thread that converts values (matching keeps its state on
// the caller's stack). Compiled as block filter patterns are (caseless, the dot matching line
// breaks) and matched under the same match and recursion limits.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::convert {

class TValuePattern {
public:
  // The compiled pattern; none when it does not compile, and then `error` (when given) says
  // why, with PCRE's message and offset.
  static std::optional<TValuePattern> Compile(const std::string& pattern, std::string* error);

  // The part of `text` to convert; none when the pattern does not match (or a limit stopped
  // the match, which `limited` then says).
  std::optional<std::string_view> Extract(std::string_view text, bool* limited = nullptr) const;

  const std::string& Pattern() const { return pattern_; }

private:
  struct Compiled;
  TValuePattern(std::string pattern, std::shared_ptr<const Compiled> compiled);
  std::string pattern_;
  std::shared_ptr<const Compiled> compiled_;
};

} // namespace kestrel::convert
