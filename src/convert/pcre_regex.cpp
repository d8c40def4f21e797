// The PCRE 8 wrapper.
#include "convert/pcre_regex.h"

#include <pcre.h>

#include <climits>
#include <cstring>
#include <utility>

namespace kestrel::convert::PcreRegex {

namespace {

using CO = TPcreCompileOption;
using MO = TPcreMatchOption;

// Options that are one bit each. Newline and \R conventions are handled on their own.
constexpr std::pair<CO, uint32_t> kCompileBits[] = {
    {CO::coAnchored, PCRE_ANCHORED},
    {CO::coCaseless, PCRE_CASELESS},
    {CO::coDollarEndOnly, PCRE_DOLLAR_ENDONLY},
    {CO::coDotAll, PCRE_DOTALL},
    {CO::coExtended, PCRE_EXTENDED},
    {CO::coExtra, PCRE_EXTRA},
    {CO::coMultiLine, PCRE_MULTILINE},
    {CO::coUngreedy, PCRE_UNGREEDY},
    {CO::coUTF8, PCRE_UTF8},
    {CO::coNoAutoCapture, PCRE_NO_AUTO_CAPTURE},
    {CO::coNoUTF8Check, PCRE_NO_UTF8_CHECK},
    {CO::coAutoCallout, PCRE_AUTO_CALLOUT},
    {CO::coFirstLine, PCRE_FIRSTLINE},
    {CO::coDupNames, PCRE_DUPNAMES},
    {CO::coBSRAnyCRLF, PCRE_BSR_ANYCRLF},
    {CO::coBSRUnicode, PCRE_BSR_UNICODE},
    {CO::coJavaScriptCompat, PCRE_JAVASCRIPT_COMPAT},
    {CO::coUCP, PCRE_UCP},
};
constexpr std::pair<CO, uint32_t> kCompileNewLines[] = {
    {CO::coNewLineCR, PCRE_NEWLINE_CR},           {CO::coNewLineLF, PCRE_NEWLINE_LF},
    {CO::coNewLineCRLF, PCRE_NEWLINE_CRLF},       {CO::coNewLineAny, PCRE_NEWLINE_ANY},
    {CO::coNewLineAnyCRLF, PCRE_NEWLINE_ANYCRLF},
};

constexpr std::pair<MO, uint32_t> kMatchBits[] = {
    {MO::moAnchored, PCRE_ANCHORED},
    {MO::moNotBOL, PCRE_NOTBOL},
    {MO::moNotEOL, PCRE_NOTEOL},
    {MO::moNotEmpty, PCRE_NOTEMPTY},
    {MO::moNoUTF8Check, PCRE_NO_UTF8_CHECK},
    {MO::moPartialSoft, PCRE_PARTIAL_SOFT},
    {MO::moPartialHard, PCRE_PARTIAL_HARD},
    {MO::moDfaShortest, PCRE_DFA_SHORTEST},
    {MO::moDfaRestart, PCRE_DFA_RESTART},
    {MO::moBSRAnyCRLF, PCRE_BSR_ANYCRLF},
    {MO::moBSRUnicode, PCRE_BSR_UNICODE},
    {MO::moNoStartOptimize, PCRE_NO_START_OPTIMIZE},
    {MO::moNotEmptyAtStart, PCRE_NOTEMPTY_ATSTART},
};
constexpr std::pair<MO, uint32_t> kMatchNewLines[] = {
    {MO::moNewLineCR, PCRE_NEWLINE_CR},           {MO::moNewLineLF, PCRE_NEWLINE_LF},
    {MO::moNewLineCRLF, PCRE_NEWLINE_CRLF},       {MO::moNewLineAny, PCRE_NEWLINE_ANY},
    {MO::moNewLineAnyCRLF, PCRE_NEWLINE_ANYCRLF},
};

constexpr uint32_t kNewLineMask = 0x00700000;

// Bits to a set: the single bits, and the newline field as one of its five conventions.
template <class E, std::size_t N, std::size_t L>
TSet<E> SetFromBits(uint32_t bits, const std::pair<E, uint32_t> (&singles)[N],
                    const std::pair<E, uint32_t> (&newlines)[L]) {
  TSet<E> set;
  for (const auto& [option, bit] : singles)
    if (bits & bit)
      set.Include(option);
  for (const auto& [option, value] : newlines)
    if ((bits & kNewLineMask) == value)
      set.Include(option);
  return set;
}

template <class E, std::size_t N, std::size_t L>
uint32_t BitsFromSet(TSet<E> set, const std::pair<E, uint32_t> (&singles)[N],
                     const std::pair<E, uint32_t> (&newlines)[L], E bsr_any_crlf, E bsr_unicode) {
  int newline_count = 0;
  uint32_t bits = 0;
  for (const auto& [option, value] : newlines)
    if (set.Contains(option)) {
      ++newline_count;
      bits |= value;
    }
  if (newline_count > 1)
    throw EPcreError("Invalid combination of newLine options");
  if (set.Contains(bsr_any_crlf) && set.Contains(bsr_unicode))
    throw EPcreError("Invalid combination of BSR options");
  for (const auto& [option, bit] : singles)
    if (set.Contains(option))
      bits |= bit;
  return bits;
}

// PCRE has one process-wide callout function; it hands each call to the object that matches.
int CalloutTrampoline(pcre_callout_block* block) {
  auto* self = static_cast<TPcreRegex*>(block->callout_data);
  if (!self || !self->OnCallOut())
    return 0;
  return self->OnCallOut()(*self, block);
}

} // namespace

TPcreRegex::~TPcreRegex() {
  FreeCompiled();
}

void TPcreRegex::FreeCompiled() {
  if (extra_)
    pcre_free_study(static_cast<pcre_extra*>(extra_));
  extra_ = nullptr;
  if (code_)
    pcre_free(code_);
  code_ = nullptr;
  if (tables_)
    pcre_free(const_cast<unsigned char*>(tables_));
  tables_ = nullptr;
  captures_.clear();
  mark_ = nullptr;
}

void TPcreRegex::Reset() {
  FreeCompiled();
  compile_bits_ = kDefaultCompileOptionBits;
  match_bits_ = 0;
  options_ = kDefaultOptions;
  match_limit_ = kDefaultLimit;
  match_limit_recursion_ = kDefaultLimit;
  pattern_.clear();
  last_result_ = -2;
}

void TPcreRegex::SetSubject(std::string_view text) {
  subject_.assign(text);
  last_result_ = -1;
}

TPcreCompileOptions TPcreRegex::CompileOptions() const {
  return SetFromBits(compile_bits_, kCompileBits, kCompileNewLines);
}

void TPcreRegex::SetCompileOptions(TPcreCompileOptions options) {
  compile_bits_ =
      BitsFromSet(options, kCompileBits, kCompileNewLines, CO::coBSRAnyCRLF, CO::coBSRUnicode);
}

TPcreMatchOptions TPcreRegex::MatchOptions() const {
  return SetFromBits(match_bits_, kMatchBits, kMatchNewLines);
}

void TPcreRegex::SetMatchOptions(TPcreMatchOptions options) {
  match_bits_ =
      BitsFromSet(options, kMatchBits, kMatchNewLines, MO::moBSRAnyCRLF, MO::moBSRUnicode);
}

void TPcreRegex::SetOptions(TPcreOptions options) {
  if (options == options_)
    return;
  options_ = options;
  BuildExtra();
}

void TPcreRegex::SetMatchLimit(uint32_t limit) {
  if (limit == match_limit_)
    return;
  match_limit_ = limit;
  BuildExtra();
}

void TPcreRegex::SetMatchLimitRecursion(uint32_t limit) {
  if (limit == match_limit_recursion_)
    return;
  match_limit_recursion_ = limit;
  BuildExtra();
}

void TPcreRegex::SetOnCallOut(TPcreCalloutEvent handler) {
  on_callout_ = std::move(handler);
  if (on_callout_)
    pcre_callout = CalloutTrampoline;
  BuildExtra();
}

void TPcreRegex::SetMatchPattern(std::string_view pattern) {
  pattern_.assign(pattern);
  Compile();
}

std::string TPcreRegex::CompileError(const std::string& pattern, uint32_t bits) {
  const char* error = nullptr;
  int error_offset = 0;
  pcre* code =
      pcre_compile(pattern.c_str(), static_cast<int>(bits), &error, &error_offset, nullptr);
  if (code) {
    pcre_free(code);
    return {};
  }
  return std::string(error ? error : "error") + " at offset " + std::to_string(error_offset);
}

void TPcreRegex::Compile() {
  FreeCompiled();
  last_result_ = -2;
  if (options_.Contains(TPcreOption::poUserLocale))
    tables_ = pcre_maketables();
  const char* error = nullptr;
  int error_offset = 0;
  // PCRE 8 reads the pattern up to its first zero byte.
  pcre* code = pcre_compile(pattern_.c_str(), static_cast<int>(compile_bits_), &error,
                            &error_offset, tables_);
  if (!code)
    return;
  code_ = code;
  if (options_.Contains(TPcreOption::poAutoStudy))
    extra_ = pcre_study(code, 0, &error);
  BuildExtra();
  if (options_.Contains(TPcreOption::poCaptureSubstrings)) {
    int groups = 0;
    pcre_fullinfo(code, static_cast<pcre_extra*>(extra_), PCRE_INFO_CAPTURECOUNT, &groups);
    captures_.assign(static_cast<std::size_t>(groups + 1) * 3, 0);
  }
}

void TPcreRegex::BuildExtra() {
  if (!code_)
    return;
  auto* extra = static_cast<pcre_extra*>(extra_);
  const bool mark = options_.Contains(TPcreOption::poMark);
  const bool needed = match_limit_ != kDefaultLimit || match_limit_recursion_ != kDefaultLimit ||
                      static_cast<bool>(on_callout_) || mark;
  constexpr unsigned long kOwnFlags = PCRE_EXTRA_MATCH_LIMIT | PCRE_EXTRA_MATCH_LIMIT_RECURSION |
                                      PCRE_EXTRA_CALLOUT_DATA | PCRE_EXTRA_MARK;
  if (extra)
    extra->flags &= ~kOwnFlags;
  if (!needed) {
    // Without study data the block has nothing left to say.
    if (extra && (extra->flags & (PCRE_EXTRA_STUDY_DATA | PCRE_EXTRA_EXECUTABLE_JIT)) == 0) {
      pcre_free_study(extra);
      extra_ = nullptr;
    }
    return;
  }
  if (!extra) {
    extra = static_cast<pcre_extra*>(pcre_malloc(sizeof(pcre_extra)));
    if (!extra)
      return;
    std::memset(extra, 0, sizeof(pcre_extra));
    extra_ = extra;
  }
  // A limit equal to the default is not passed, so PCRE's own built-in limit applies.
  if (match_limit_ != kDefaultLimit) {
    extra->flags |= PCRE_EXTRA_MATCH_LIMIT;
    extra->match_limit = match_limit_;
  }
  if (match_limit_recursion_ != kDefaultLimit) {
    extra->flags |= PCRE_EXTRA_MATCH_LIMIT_RECURSION;
    extra->match_limit_recursion = match_limit_recursion_;
  }
  if (on_callout_) {
    extra->flags |= PCRE_EXTRA_CALLOUT_DATA;
    extra->callout_data = this;
  }
  if (mark) {
    extra->flags |= PCRE_EXTRA_MARK;
    extra->mark = &mark_;
  }
}

int32_t TPcreRegex::Match(int32_t start_offset) {
  mark_ = nullptr;
  const int length = subject_.size() > static_cast<std::size_t>(INT_MAX)
                         ? INT_MAX
                         : static_cast<int>(subject_.size());
  last_result_ =
      pcre_exec(static_cast<const pcre*>(code_), static_cast<const pcre_extra*>(extra_),
                subject_.c_str(), length, start_offset, static_cast<int>(match_bits_),
                captures_.empty() ? nullptr : captures_.data(), static_cast<int>(captures_.size()));
  return last_result_;
}

std::string TPcreRegex::Mark() const {
  return mark_ ? std::string(reinterpret_cast<const char*>(mark_)) : std::string();
}

std::string TPcreRegex::Version() {
  return pcre_version();
}

} // namespace kestrel::convert::PcreRegex
