// A small object around PCRE 8: pattern, option bits, compiled pattern with its study data,
// subject text and the last match result. Used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::convert::PcreRegex {

// Raised by the option-set setters for contradictory newline or \R options.
class EPcreError : public std::runtime_error {
public:
  explicit EPcreError(const std::string& message) : std::runtime_error(message) {}
};

// A set of enumeration values (each below 64).
template <class E> class TSet {
public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> values) {
    for (E value : values)
      Include(value);
  }
  constexpr void Include(E value) { bits_ |= Bit(value); }
  constexpr void Exclude(E value) { bits_ &= ~Bit(value); }
  constexpr bool Contains(E value) const { return (bits_ & Bit(value)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool operator==(const TSet&) const = default;

private:
  static constexpr uint64_t Bit(E value) { return uint64_t{1} << static_cast<unsigned>(value); }
  uint64_t bits_ = 0;
};

enum class TPcreCompileOption {
  coAnchored,
  coCaseless,
  coDollarEndOnly,
  coDotAll,
  coExtended,
  coExtra,
  coMultiLine,
  coUngreedy,
  coUTF8,
  coNoAutoCapture,
  coNoUTF8Check,
  coAutoCallout,
  coFirstLine,
  coDupNames,
  coNewLineCR,
  coNewLineLF,
  coNewLineCRLF,
  coNewLineAny,
  coNewLineAnyCRLF,
  coBSRAnyCRLF,
  coBSRUnicode,
  coJavaScriptCompat,
  coUCP,
};
using TPcreCompileOptions = TSet<TPcreCompileOption>;

enum class TPcreMatchOption {
  moAnchored,
  moNotBOL,
  moNotEOL,
  moNotEmpty,
  moNoUTF8Check,
  moPartialSoft,
  moPartialHard,
  moDfaShortest,
  moDfaRestart,
  moNewLineCR,
  moNewLineLF,
  moNewLineCRLF,
  moNewLineAny,
  moNewLineAnyCRLF,
  moBSRAnyCRLF,
  moBSRUnicode,
  moNoStartOptimize,
  moNotEmptyAtStart,
};
using TPcreMatchOptions = TSet<TPcreMatchOption>;

enum class TPcreOption { poAutoStudy, poCaptureSubstrings, poMark, poUserLocale };
using TPcreOptions = TSet<TPcreOption>;

class TPcreRegex;
// Called for each PCRE callout; `block` is PCRE's pcre_callout_block. Its result is handed to
// PCRE (0 continues matching).
using TPcreCalloutEvent = std::function<int(TPcreRegex& sender, void* block)>;
// A formatting hook kept for callers that format captured values; no operation of this object
// calls it.
using TPcreFormatVariableEvent =
    std::function<void(TPcreRegex& sender, std::string_view name, std::string& text)>;

class TPcreRegex {
public:
  static constexpr uint32_t kDefaultCompileOptionBits = 5; // caseless + dot matches newline
  static constexpr uint32_t kDefaultLimit = 10000000;
  static constexpr TPcreOptions kDefaultOptions{
      TPcreOption::poAutoStudy, TPcreOption::poCaptureSubstrings, TPcreOption::poMark};

  TPcreRegex() = default;
  ~TPcreRegex();
  TPcreRegex(const TPcreRegex&) = delete;
  TPcreRegex& operator=(const TPcreRegex&) = delete;

  // Drops the compiled pattern and restores every property to its default; the subject stays.
  void Reset();
  // Stores the subject text; the last result becomes -1.
  void SetSubject(std::string_view text);
  // Runs PCRE's match on the subject from a byte offset and returns its result unchanged: above
  // 0 one more than the highest capturing group set, 0 when the capture vector was too small,
  // -1 no match, below -1 an error (no compiled pattern, a limit exceeded, a bad offset).
  int32_t Match(int32_t start_offset);

  uint32_t CompileOptionBits() const { return compile_bits_; }
  void SetCompileOptionBits(uint32_t bits) { compile_bits_ = bits; }
  TPcreCompileOptions CompileOptions() const;
  void SetCompileOptions(TPcreCompileOptions options);

  uint32_t MatchOptionBits() const { return match_bits_; }
  void SetMatchOptionBits(uint32_t bits) { match_bits_ = bits; }
  TPcreMatchOptions MatchOptions() const;
  void SetMatchOptions(TPcreMatchOptions options);

  TPcreOptions Options() const { return options_; }
  void SetOptions(TPcreOptions options);
  uint32_t MatchLimit() const { return match_limit_; }
  void SetMatchLimit(uint32_t limit);
  uint32_t MatchLimitRecursion() const { return match_limit_recursion_; }
  void SetMatchLimitRecursion(uint32_t limit);
  const TPcreCalloutEvent& OnCallOut() const { return on_callout_; }
  void SetOnCallOut(TPcreCalloutEvent handler);
  TPcreFormatVariableEvent OnFormatVariable;

  const std::string& MatchPattern() const { return pattern_; }
  // Stores the pattern and compiles it at once. A pattern that does not compile raises
  // nothing: every later match reports an error code.
  void SetMatchPattern(std::string_view pattern);

  // The linked PCRE library's version text.
  static std::string Version();

  const std::string& Subject() const { return subject_; }
  int32_t LastResult() const { return last_result_; }
  bool Compiled() const { return code_ != nullptr; }
  // Why `pattern` does not compile with `bits` (PCRE's message and offset), or empty when it
  // compiles. Settings checks use it; matching never needs it.
  static std::string CompileError(const std::string& pattern,
                                  uint32_t bits = kDefaultCompileOptionBits);
  // Byte offsets of the last match: pairs (start, end) per group, then PCRE's work space.
  const std::vector<int>& CaptureVector() const { return captures_; }
  // The name of the last (*MARK) passed on the way to a match, with poMark.
  std::string Mark() const;

private:
  void FreeCompiled();
  void Compile();
  void BuildExtra();

  std::string pattern_;
  std::string subject_;
  uint32_t compile_bits_ = kDefaultCompileOptionBits;
  uint32_t match_bits_ = 0;
  TPcreOptions options_ = kDefaultOptions;
  uint32_t match_limit_ = kDefaultLimit;
  uint32_t match_limit_recursion_ = kDefaultLimit;
  TPcreCalloutEvent on_callout_;
  int32_t last_result_ = -2;

  // PCRE's own objects (pcre*, pcre_extra*, table pointer), kept opaque here.
  void* code_ = nullptr;
  void* extra_ = nullptr;
  const unsigned char* tables_ = nullptr;
  unsigned char* mark_ = nullptr;
  std::vector<int> captures_;
};

} // namespace kestrel::convert::PcreRegex
