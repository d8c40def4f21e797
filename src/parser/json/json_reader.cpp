// TJson::Parse: the lenient, all-or-nothing JSON reader.
//
// The reader is iterative: open arrays and objects sit on an explicit stack, so nesting costs
// no native stack and is bounded by TJson::kMaxDepth. Every container is attached to its
// parent as soon as it opens, so the root owns everything built so far and a failure anywhere
// only has to drop the root. Failures are plain return values, never exceptions.
//
// A document whose root is an array or an object is built in one arena (json_arena.h) that the
// root owns; a lone scalar is a single heap node.
#include "common/ascii_text.h"
#include "parser/json/json_arena.h"
#include "parser/json/json_document.h"
#include "parser/json/json_large_number.h"
#include "parser/json/json_utf8.h"
#include "platform/number.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <vector>

namespace kestrel::json {

namespace {

using Byte = unsigned char;

constexpr bool IsSpace(Byte c) {
  return c <= 0x20;
}
constexpr bool IsDigit(Byte c) {
  return static_cast<Byte>(c - '0') < 10;
}

// Powers of ten that an 80-bit extended value holds exactly (5^27 < 2^64).
constexpr int kExactPowers = 27;
constexpr long double kPow10[kExactPowers + 1] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                                  1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                                  1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L,
                                                  1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};

// A document takes several times the bytes of its text; the first block holds a small one
// whole, later blocks grow for large ones.
size_t FirstBlockSize(size_t text_size) {
  constexpr size_t kBytesPerTextByte = 8;
  return std::clamp<size_t>(text_size, 128, 8 * 1024) * kBytesPerTextByte;
}

class Reader {
public:
  Reader(const char* text, size_t size)
      : p_(reinterpret_cast<const Byte*>(text)), end_(p_ + size) {}

  TJsonPtr Run();

private:
  struct Frame {
    TJsonCustomList* container;
    TJsonMember* member; // objects: the member whose value is being read
    size_t first;        // where the container's children start in pending_
    bool object;
  };

  void SkipSpace() {
    while (p_ < end_ && IsSpace(*p_))
      ++p_;
  }
  bool Literal(const char* word, size_t length) {
    if (static_cast<size_t>(end_ - p_) < length || std::memcmp(p_, word, length) != 0)
      return false;
    p_ += length;
    return true;
  }
  // A node in the document's arena, or on the heap while there is none (a scalar root).
  template <typename T, typename... Args> TJsonPtr New(Args&&... args) {
    if (arena_)
      return TJsonPtr(arena_->Make<T>(std::forward<Args>(args)...));
    return std::make_unique<T>(std::forward<Args>(args)...);
  }

  bool ReadString(WideString& out);
  bool DecodeEscaped(const Byte* first, const Byte* last, WideString& out);
  bool ReadNumber(long double& value);

  const Byte* p_;
  const Byte* end_;
  JsonArena* arena_ = nullptr; // owned by the root once there is one
  // The document read so far. Declared before pending_: children not yet adopted live in the
  // root's arena, so they must go before the root does on a failure.
  TJsonPtr root_;
  // Children of the open containers, innermost last. A container receives its children in
  // one exactly sized step when it closes, which spares the repeated growth of its list.
  std::vector<TJsonPtr> pending_;
};

// Reads the string that opens at p_ (a double quote) into `out`. False when it does not close
// or holds a bad \u escape. Malformed UTF-8 leaves `out` empty but is not a failure.
bool Reader::ReadString(WideString& out) {
  const Byte* const first = p_ + 1;
  const Byte* q = first;
  Byte bits = 0;
  bool escaped = false;
  // A backslash hides the byte after it from the search for the closing quote.
  for (;;) {
    // Skip eight plain bytes at a time: no quote, no backslash, no byte of 0x80 or above.
    while (end_ - q >= 8) {
      uint64_t word;
      std::memcpy(&word, q, sizeof word);
      constexpr uint64_t kOnes = 0x0101010101010101u;
      constexpr uint64_t kHigh = 0x8080808080808080u;
      const uint64_t quote = word ^ (kOnes * '"');
      const uint64_t slash = word ^ (kOnes * '\\');
      if (((word | ((quote - kOnes) & ~quote) | ((slash - kOnes) & ~slash)) & kHigh) != 0)
        break;
      q += 8;
    }
    if (q >= end_)
      return false;
    const Byte c = *q;
    if (c == '"')
      break;
    if (c == '\\') {
      escaped = true;
      q += 2;
      continue;
    }
    bits |= c;
    ++q;
  }
  p_ = q + 1;
  if (!escaped && bits < 0x80) {
    // Plain ASCII, the common case: widen in one go.
    out.resize(static_cast<size_t>(q - first));
    OLECHAR* o = out.data();
    for (const Byte* i = first; i < q; ++i)
      *o++ = *i;
    return true;
  }
  return DecodeEscaped(first, q, out);
}

// Unescapes and decodes UTF-8 in one pass. An escape always yields a complete sequence whose
// first byte is never a continuation byte, so decoding escapes straight to code units gives
// the same text as unescaping to bytes first and decoding afterwards.
bool Reader::DecodeEscaped(const Byte* first, const Byte* last, WideString& out) {
  out.resize(static_cast<size_t>(last - first)); // never more units than bytes
  OLECHAR* const begin = out.data();
  OLECHAR* o = begin;
  bool malformed = false;
  const Byte* i = first;
  while (i < last) {
    const Byte c = *i;
    if (c == '\\') {
      const Byte e = i[1];
      i += 2;
      switch (e) {
      case '"':
      case '\'':
      case '/':
      case '\\':
        *o++ = e;
        break;
      case 'b':
        *o++ = 0x08;
        break;
      case 'f':
        *o++ = 0x0C;
        break;
      case 'n':
        *o++ = 0x0A;
        break;
      case 'r':
        *o++ = 0x0D;
        break;
      case 't':
        *o++ = 0x09;
        break;
      case 'u': {
        unsigned value = 0;
        int digits = 0;
        for (; digits < 4 && i < last; ++digits, ++i) {
          const int h = AsciiHexValue(*i);
          if (h < 0)
            return false;
          value = value * 16 + static_cast<unsigned>(h);
        }
        if (digits == 0)
          return false;
        *o++ = static_cast<OLECHAR>(value);
        break;
      }
      default:
        break; // an unknown escape is dropped with its letter
      }
      continue;
    }
    if (c < 0x80) {
      *o++ = c;
      ++i;
      continue;
    }
    if (malformed) {
      ++i; // keep scanning only for bad \u escapes, which fail the whole document
      continue;
    }
    if (!json_utf8::DecodeSequence(i, last, o)) {
      malformed = true;
      ++i;
    }
  }
  out.resize(malformed ? 0 : static_cast<size_t>(o - begin));
  return true;
}

// Reads [+|-]digits[.digits][(e|E)[+|-]digits] at p_. False when the pattern is incomplete or
// the value overflows the extended range.
bool Reader::ReadNumber(long double& value) {
  const Byte* p = p_;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  const Byte* const digits = p;
  if (p >= end_ || !IsDigit(*p))
    return false;

  constexpr uint64_t kMantissaLimit = (std::numeric_limits<uint64_t>::max() - 9) / 10;
  uint64_t mantissa = 0;
  int64_t exponent = 0;  // power of ten applied to the mantissa
  bool exact = true;     // the mantissa holds every significant digit
  int64_t magnitude = 0; // position of the first significant digit relative to the point
  bool significant = false;

  for (; p < end_ && IsDigit(*p); ++p) {
    const unsigned d = *p - '0';
    if (d != 0 || significant) {
      significant = true;
      ++magnitude;
    }
    if (mantissa <= kMantissaLimit)
      mantissa = mantissa * 10 + d;
    else
      exact = false;
  }
  if (p < end_ && *p == '.') {
    ++p;
    if (p >= end_ || !IsDigit(*p))
      return false;
    for (; p < end_ && IsDigit(*p); ++p) {
      const unsigned d = *p - '0';
      if (!significant) {
        if (d == 0) {
          --magnitude;
        } else {
          significant = true;
        }
      }
      if (mantissa <= kMantissaLimit) {
        mantissa = mantissa * 10 + d;
        --exponent;
      } else {
        exact = false;
      }
    }
  }
  if (p < end_ && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negative_exponent = false;
    if (p < end_ && (*p == '+' || *p == '-')) {
      negative_exponent = *p == '-';
      ++p;
    }
    if (p >= end_ || !IsDigit(*p))
      return false;
    int64_t e = 0;
    for (; p < end_ && IsDigit(*p); ++p)
      if (e < 1000000)
        e = e * 10 + (*p - '0');
    exponent += negative_exponent ? -e : e;
    magnitude += negative_exponent ? -e : e;
  }

  long double v;
  if (mantissa == 0 && exact) {
    v = 0;
  } else if (exact && exponent >= -kExactPowers && exponent <= kExactPowers) {
    // One correctly rounded operation on two exact operands.
    const auto m = static_cast<long double>(mantissa);
    v = exponent < 0 ? m / kPow10[-exponent] : m * kPow10[exponent];
  } else {
    const auto [end, ec] = platform::ParseLongDouble(reinterpret_cast<const char*>(digits),
                                                     reinterpret_cast<const char*>(p), v);
    if (ec == std::errc::result_out_of_range) {
      if (magnitude > 0)
        return false; // beyond the largest extended value
      v = 0;          // below the smallest: underflows to zero
    } else if (ec != std::errc() || end != reinterpret_cast<const char*>(p)) {
      return false;
    }
  }
  value = negative ? -v : v;
  p_ = p;
  return true;
}

TJsonPtr Reader::Run() {
  if (end_ - p_ >= 3 && p_[0] == 0xEF && p_[1] == 0xBB && p_[2] == 0xBF)
    p_ += 3;

  std::vector<Frame> stack;
  stack.reserve(16);
  pending_.reserve(64);

  // Attaches a finished or freshly opened value to where it belongs.
  auto attach = [&](TJsonPtr node) {
    if (stack.empty()) {
      root_ = std::move(node);
    } else if (stack.back().object) {
      stack.back().member->SetValue(std::move(node));
    } else {
      pending_.push_back(std::move(node));
    }
  };

  enum class Next { Value, Close };
  Next next = Next::Value;
  for (;;) {
    if (next == Next::Value) {
      SkipSpace();
      if (p_ >= end_)
        return nullptr;
      const Byte c = *p_;
      TJsonPtr node;
      switch (c) {
      case 't':
        if (!Literal("true", 4))
          return nullptr;
        node = New<TJsonBoolean>(true);
        break;
      case 'f':
        if (!Literal("false", 5))
          return nullptr;
        node = New<TJsonBoolean>(false);
        break;
      case 'n':
        if (!Literal("null", 4))
          return nullptr;
        node = New<TJsonNull>();
        break;
      case '"': {
        node = New<TJsonString>();
        if (!ReadString(static_cast<TJsonString*>(node.get())->MutableValue()))
          return nullptr;
        break;
      }
      case '[':
      case '{': {
        if (stack.size() >= static_cast<size_t>(TJson::kMaxDepth))
          return nullptr;
        ++p_;
        const bool object = c == '{';
        TJsonCustomList* raw;
        if (arena_) {
          raw = object ? static_cast<TJsonCustomList*>(arena_->Make<TJsonObject>(true, arena_))
                       : arena_->Make<TJsonList>(arena_);
        } else {
          // The root: it owns the arena everything below it is built in.
          arena_ = JsonArena::Create(FirstBlockSize(static_cast<size_t>(end_ - p_)));
          raw = object ? static_cast<TJsonCustomList*>(arena_->MakeRoot<TJsonObject>(true, arena_))
                       : arena_->MakeRoot<TJsonList>(arena_);
        }
        attach(TJsonPtr(raw));
        stack.push_back(Frame{raw, nullptr, pending_.size(), object});
        next = Next::Close; // an empty container may close at once
        continue;
      }
      default: {
        if (!(IsDigit(c) || c == '-' || c == '+'))
          return nullptr;
        long double number = 0;
        const Byte* const start = p_;
        if (!ReadNumber(number))
          return nullptr;
        if (TJsonLargeNumber::BeyondDouble(number))
          node = New<TJsonLargeNumber>(number, std::string(reinterpret_cast<const char*>(start),
                                                           reinterpret_cast<const char*>(p_)));
        else
          node = New<TJsonNumber>(number);
        break;
      }
      }
      attach(std::move(node));
      if (stack.empty())
        return std::move(root_);
      // After a value inside a container: an optional comma.
      SkipSpace();
      if (p_ < end_ && *p_ == ',')
        ++p_;
      next = Next::Close;
    }

    // Inside a container, after its opening bracket or after an element: either it closes
    // here or another element (a member for objects) follows.
    SkipSpace();
    if (p_ >= end_)
      return nullptr;
    Frame& top = stack.back();
    if (*p_ == (top.object ? '}' : ']')) {
      ++p_;
      TJsonPtr* const first = pending_.data() + top.first;
      const size_t count = pending_.size() - top.first;
      if (top.object)
        static_cast<TJsonObject*>(top.container)->AdoptMembers(first, count);
      else
        top.container->AdoptChildren(first, count);
      pending_.resize(top.first);
      stack.pop_back();
      if (stack.empty())
        return std::move(root_);
      SkipSpace();
      if (p_ < end_ && *p_ == ',')
        ++p_;
      continue; // next stays Close: the parent may close or continue
    }
    if (top.object) {
      if (*p_ != '"')
        return nullptr;
      TJsonPtr member = New<TJsonMember>();
      top.member = static_cast<TJsonMember*>(member.get());
      if (!ReadString(top.member->MutableName()))
        return nullptr;
      SkipSpace();
      if (p_ >= end_ || *p_ != ':')
        return nullptr;
      ++p_;
      pending_.push_back(std::move(member));
    }
    next = Next::Value;
  }
}

} // namespace

TJsonPtr TJson::Parse(std::string_view text) {
  if (text.empty())
    return nullptr;
  return Reader(text.data(), text.size()).Run();
}

} // namespace kestrel::json
