// The pattern rewriter shared by the locale backends (see locale_pattern.h).
#include "platform/locale_pattern.h"

#include "platform/text.h"

namespace kestrel::platform::locale_pattern {

namespace {

// Characters the date/time reader takes as literals without quotes.
bool IsBareLiteral(char c) {
  return std::string_view("\t\n\r `@.,~!#$%^&*()_-=+\\|]}[{?;").find(c) != std::string_view::npos;
}

std::string Ansi(OLECHAR c, uint32_t code_page) {
  return WideToAnsi(WideStringView(&c, 1), code_page);
}

} // namespace

bool IsPatternLetter(OLECHAR c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

OLECHAR FirstSeparator(const WideString& pattern, OLECHAR fallback) {
  bool seen_field = false;
  for (OLECHAR c : pattern) {
    if (IsPatternLetter(c)) {
      seen_field = true;
    } else if (seen_field && c != ' ' && c != '\'') {
      return c;
    }
  }
  return fallback;
}

char SeparatorByte(OLECHAR c, char fallback, uint32_t code_page) {
  const std::string byte = Ansi(c, code_page);
  return byte.size() == 1 && byte[0] != '?' ? byte[0] : fallback;
}

std::string PatternRewriter::Rewrite(const WideString& pattern, bool time_pattern) {
  time_pattern_ = time_pattern;
  out_.clear();
  quoted_.clear();
  last_quote_ = 0;
  token_since_quote_ = true;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const OLECHAR c = pattern[i];
    if (c == '\'') {
      // '' is an apostrophe; 'text' is literal text in which '' is an apostrophe.
      if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
        Literal('\'', true);
        i += 2;
        continue;
      }
      ++i;
      while (i < pattern.size()) {
        if (pattern[i] == '\'') {
          if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
            Literal('\'', true);
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        Literal(pattern[i++], true);
      }
      continue;
    }
    if (!IsPatternLetter(c)) {
      Literal(c, false);
      ++i;
      continue;
    }
    std::size_t count = 1;
    while (i + count < pattern.size() && pattern[i + count] == c)
      ++count;
    i += count;
    const std::string_view tokens = fields_(c, count);
    if (tokens.empty())
      Drop();
    else
      Emit(tokens);
  }
  FlushQuoted();
  while (!out_.empty() && out_.back() == ' ')
    out_.pop_back();
  return out_;
}

void PatternRewriter::Emit(std::string_view tokens) {
  FlushQuoted();
  out_ += tokens;
  token_since_quote_ = true;
}

void PatternRewriter::Drop() {
  FlushQuoted();
  while (!out_.empty() && out_.back() == ' ')
    out_.pop_back();
}

void PatternRewriter::Literal(OLECHAR c, bool quoted) {
  const std::string bytes = Ansi(c, code_page_);
  if (!quoted && bytes.size() == 1) {
    const char b = bytes[0];
    const bool date = b == date_separator_, time = b == time_separator_;
    if (date || time) {
      FlushQuoted();
      out_ += time && (time_pattern_ || !date) ? ':' : '/';
      return;
    }
    if (IsBareLiteral(b) && c < 0x80) {
      FlushQuoted();
      out_ += b;
      return;
    }
  }
  quoted_ += bytes;
}

// Quoted text goes in double quotes, or in single quotes when it holds a double quote (text
// holding both is split). The reader keeps a closing quote inside the literal when another
// quote of the same kind comes before the next letter or digit, so a literal that follows
// another with only separators between takes the other kind of quote.
void PatternRewriter::FlushQuoted() {
  std::string run;
  char kind = 0;
  auto close = [&] {
    if (run.empty())
      return;
    char quote = kind;
    if (!quote)
      quote = last_quote_ == '"' && !token_since_quote_ ? '\'' : '"';
    out_ += quote;
    out_ += run;
    out_ += quote;
    last_quote_ = quote;
    token_since_quote_ = false;
    run.clear();
    kind = 0;
  };
  for (char b : quoted_) {
    const char needs = b == '"' ? '\'' : b == '\'' ? '"' : 0;
    if (needs && kind && kind != needs)
      close();
    if (needs)
      kind = needs;
    run += b;
  }
  close();
  quoted_.clear();
}

} // namespace kestrel::platform::locale_pattern
