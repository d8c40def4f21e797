// Rewriting a system date/time pattern (ICU's on POSIX, NLS's on Windows) into the template
// tokens of LocaleSettings. Both systems write fields as runs of one letter and literal text in
// single quotes ('' is an apostrophe); only the meaning of the letters differs, which the
// caller supplies.
#pragma once

#include "platform/ole.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::platform::locale_pattern {

// The template tokens for a run of `count` letters `letter`; empty to drop the field (and the
// spaces before it).
using FieldTokens = std::string_view (*)(OLECHAR letter, std::size_t count);

bool IsPatternLetter(OLECHAR c);

// The first separator between two fields of a pattern: what follows the first field.
OLECHAR FirstSeparator(const WideString& pattern, OLECHAR fallback);

// The separator as one byte of `code_page`, or `fallback` when it is not one.
char SeparatorByte(OLECHAR c, char fallback, uint32_t code_page);

class PatternRewriter {
public:
  PatternRewriter(FieldTokens fields, char date_separator, char time_separator, uint32_t code_page)
      : fields_(fields), date_separator_(date_separator), time_separator_(time_separator),
        code_page_(code_page) {}

  // In a time pattern a character that is both separators is the time separator.
  std::string Rewrite(const WideString& pattern, bool time_pattern);

private:
  void Emit(std::string_view tokens);
  void Drop();
  void Literal(OLECHAR c, bool quoted);
  void FlushQuoted();

  FieldTokens fields_;
  char date_separator_;
  char time_separator_;
  uint32_t code_page_;
  std::string out_;
  std::string quoted_;
  bool time_pattern_ = false;
  char last_quote_ = 0;
  bool token_since_quote_ = true;
};

} // namespace kestrel::platform::locale_pattern
