#include "convert/value_pattern.h"

#include "convert/pcre_limits.h"
#include "convert/pcre_regex.h"

#include <climits>
#include <pcre.h>

namespace kestrel::convert {

struct TValuePattern::Compiled {
  pcre* code = nullptr;
  pcre_extra* extra = nullptr;
  ~Compiled() {
    if (extra)
      pcre_free_study(extra);
    if (code)
      pcre_free(code);
  }
};

TValuePattern::TValuePattern(std::string pattern, std::shared_ptr<const Compiled> compiled)
    : pattern_(std::move(pattern)), compiled_(std::move(compiled)) {}

std::optional<TValuePattern> TValuePattern::Compile(const std::string& pattern,
                                                    std::string* error) {
  const char* message = nullptr;
  int offset = 0;
  auto compiled = std::make_shared<Compiled>();
  compiled->code = pcre_compile(pattern.c_str(),
                                static_cast<int>(PcreRegex::TPcreRegex::kDefaultCompileOptionBits),
                                &message, &offset, nullptr);
  if (!compiled->code) {
    if (error)
      *error = std::string(message ? message : "error") + " at offset " + std::to_string(offset);
    return std::nullopt;
  }
  compiled->extra = pcre_study(compiled->code, 0, &message);
  if (!compiled->extra) {
    // pcre_free_study frees what pcre_study allocates; an own block is made the same way.
    compiled->extra = static_cast<pcre_extra*>(pcre_malloc(sizeof(pcre_extra)));
    if (!compiled->extra)
      throw std::bad_alloc();
    *compiled->extra = pcre_extra{};
  }
  compiled->extra->flags |= PCRE_EXTRA_MATCH_LIMIT | PCRE_EXTRA_MATCH_LIMIT_RECURSION;
  compiled->extra->match_limit = PcreRegex::kReceivedDataMatchLimit;
  compiled->extra->match_limit_recursion = PcreRegex::StackSafeRecursionLimit();
  return TValuePattern(pattern, std::move(compiled));
}

std::optional<std::string_view> TValuePattern::Extract(std::string_view text, bool* limited) const {
  if (limited)
    *limited = false;
  // Groups 0 and 1 and PCRE's work space: a pattern with more groups still reports these two.
  int captures[6] = {};
  const int length =
      text.size() > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(text.size());
  const int result =
      pcre_exec(compiled_->code, compiled_->extra, text.data(), length, 0, 0, captures, 6);
  if (result < 0) {
    if (limited)
      *limited = PcreRegex::IsLimitResult(result);
    return std::nullopt;
  }
  const bool group = (result == 0 || result > 1) && captures[2] >= 0;
  const int begin = group ? captures[2] : captures[0];
  const int end = group ? captures[3] : captures[1];
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

} // namespace kestrel::convert
