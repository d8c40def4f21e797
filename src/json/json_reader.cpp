// TJson::Parse: the lenient, all-or-nothing JSON reader.
//
// The reader is iterative: open arrays and objects sit on an explicit stack, so nesting costs
// no native stack and is bounded by TJson::kMaxDepth. Every container is attached to its
// parent as soon as it opens; the other children of open containers wait in the reader until
// their container closes. A failure anywhere only has to drop those and the root. Failures
// are plain return values, never exceptions.
//
// A document whose root is an array or an object is built in one arena (json_arena.h) that the
// root owns, string values included; a lone scalar is a single heap node.
#include "common/ascii_text.h"
#include "platform/number.h"
#include "json/json_arena.h"
#include "json/json_document.h"
#include "json/json_large_number.h"
#include "json/json_utf8.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <utility>
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

// A document takes about ten times the bytes of its text; the first block holds a small one
// whole, and large ones continue in blocks of the arena's largest size.
size_t FirstBlockSize(size_t text_size) {
  constexpr size_t kBytesPerTextByte = 12;
  constexpr size_t kLargest = 64 * 1024;
  return std::clamp<size_t>(std::min(text_size, kLargest) * kBytesPerTextByte, 2 * 1024, kLargest);
}

// Plain bytes are told apart eight at a time: a mask has the high bit of a byte set where the
// byte matches. Bytes above a match may be marked too (a borrow runs upwards), but the lowest
// marked byte is always a true match, and the loads put the first byte lowest.
static_assert(std::endian::native == std::endian::little, "the byte masks assume little-endian");
constexpr uint64_t kOnes = 0x0101010101010101u;
constexpr uint64_t kHigh = 0x8080808080808080u;

uint64_t Load8(const Byte* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}
constexpr uint64_t BytesEqual(uint64_t word, Byte c) {
  const uint64_t x = word ^ (kOnes * c);
  return (x - kOnes) & ~x & kHigh;
}
// Offset of the first byte a non-zero mask marks.
int FirstMarked(uint64_t mask) {
  return std::countr_zero(mask) / 8;
}

// Unescapes and decodes UTF-8 in one pass. An escape always yields a complete sequence whose
// first byte is never a continuation byte, so decoding escapes straight to code units gives
// the same text as unescaping to bytes first and decoding afterwards. The text between `first`
// and `last` never ends in the middle of an escape (the closing quote is never escaped).
//
// Writes to `out`, which has room for one code unit per byte (never more units than bytes),
// and returns the number of units; -1 for a bad \u escape.
ptrdiff_t DecodeEscaped(const Byte* first, const Byte* last, OLECHAR* const out) {
  OLECHAR* o = out;
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
            return -1;
          value = value * 16 + static_cast<unsigned>(h);
        }
        if (digits == 0)
          return -1;
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
  return malformed ? 0 : o - out;
}

// The ASCII bytes [first, first + length) as code units.
void Widen(const Byte* first, size_t length, OLECHAR* out) {
  for (size_t i = 0; i < length; ++i)
    out[i] = first[i];
}

class Reader {
public:
  Reader(const char* text, size_t size)
      : begin_(reinterpret_cast<const Byte*>(text)), end_(begin_ + size) {}

  ~Reader() {
    // Children not yet adopted when reading stopped early; they live in the root's arena.
    for (TJsonBase* node : pending_)
      delete node; // the destroying delete of TJsonBase
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  TJsonPtr Run();

private:
  struct Frame {
    TJsonCustomList* container;
    TJsonMember* member; // objects: the member whose value is being read
    size_t first;        // where the container's children start in pending_
    bool object;
  };

  // The first byte at or after p that is not whitespace (every byte up to 0x20), or end_.
  const Byte* SkipSpace(const Byte* p) const {
    while (p < end_ && IsSpace(*p))
      ++p;
    return p;
  }
  // p past the literal at p; null when the text there is not that literal.
  const Byte* Literal(const Byte* p, const char* word, size_t length) const {
    if (static_cast<size_t>(end_ - p) < length || std::memcmp(p, word, length) != 0)
      return nullptr;
    return p + length;
  }
  // The closing quote of the string that opens at p (a double quote); null when it does not
  // close. `plain` says whether the text is ASCII without escapes.
  const Byte* FindStringEnd(const Byte* p, bool& plain) const;
  // The closing quote of a short plain string (most member names) whose text starts at
  // `first`: one within the next eight bytes with no byte before it that needs decoding. Null
  // for any other string.
  const Byte* ShortPlainEnd(const Byte* first) const {
    if (end_ - first < 8)
      return nullptr;
    const uint64_t word = Load8(first);
    const uint64_t mask = BytesEqual(word, '"') | BytesEqual(word, '\\') | (word & kHigh);
    if (mask == 0)
      return nullptr;
    const Byte* const q = first + FirstMarked(mask);
    return *q == '"' ? q : nullptr;
  }
  // Reads the string that opens at p into `out` and returns the position past it. Null when
  // it does not close or holds a bad \u escape. Malformed UTF-8 leaves `out` empty but is not
  // a failure.
  const Byte* ReadString(const Byte* p, WideString& out) const;
  // As ReadString, for text that goes into the arena (member names and string values).
  const Byte* ReadText(const Byte* p, JsonArena& arena, const OLECHAR*& text, size_t& length) const;
  const Byte* ReadString(const Byte* p, JsonArena& arena, TJsonPtr& node) const;
  // `plain` says whether the value came from the short form (at most 19 digits, no exponent),
  // which a double always holds.
  const Byte* ReadNumber(const Byte* p, long double& value, bool& plain) const;
  const Byte* ReadNumberExactly(const Byte* p, long double& value) const;
  // The scalar at p (a literal, string or number) as a node in the arena, or on the heap
  // without one; p moves past it. No node when the text there is none of them.
  TJsonPtr ReadScalar(const Byte*& p, JsonArena* arena) const;
  // Reads the array or object that opens at p into root_, built in a new arena.
  TJsonPtr ReadDocument(const Byte* p);
  void Pend(TJsonPtr node) {
    pending_.push_back(node.get());
    node.release();
  }

  const Byte* const begin_;
  const Byte* const end_;
  // The document read so far. Children not yet adopted live in the root's arena, so they go
  // before the root does on a failure (see ~Reader).
  TJsonPtr root_;
  // Children of the open containers, innermost last, owned by the reader until their container
  // closes. A container receives its children in one exactly sized step when it closes, which
  // spares the repeated growth of its list.
  std::vector<TJsonBase*> pending_;
};

const Byte* Reader::FindStringEnd(const Byte* p, bool& plain) const {
  const Byte* q = p + 1;
  // Plain ASCII up to the closing quote, the common case: no backslash, no byte of 0x80 or up.
  for (;;) {
    if (end_ - q >= 8) {
      const uint64_t word = Load8(q);
      const uint64_t mask = BytesEqual(word, '"') | BytesEqual(word, '\\') | (word & kHigh);
      if (mask == 0) {
        q += 8;
        continue;
      }
      q += FirstMarked(mask);
    } else {
      while (q < end_ && *q != '"' && *q != '\\' && *q < 0x80)
        ++q;
      if (q >= end_)
        return nullptr;
    }
    break;
  }
  plain = *q == '"';
  if (plain)
    return q;
  // Escapes or non-ASCII bytes: find the closing quote, which a backslash hides.
  for (;;) {
    if (end_ - q >= 8) {
      const uint64_t word = Load8(q);
      const uint64_t mask = BytesEqual(word, '"') | BytesEqual(word, '\\');
      if (mask == 0) {
        q += 8;
        continue;
      }
      q += FirstMarked(mask);
    } else {
      while (q < end_ && *q != '"' && *q != '\\')
        ++q;
      if (q >= end_)
        return nullptr;
    }
    if (*q == '"')
      return q;
    if (end_ - q < 2)
      return nullptr;
    q += 2;
  }
}

const Byte* Reader::ReadString(const Byte* p, WideString& out) const {
  if (const Byte* const last = ShortPlainEnd(p + 1)) {
    out.resize(static_cast<size_t>(last - (p + 1)));
    Widen(p + 1, out.size(), out.data());
    return last + 1;
  }
  bool plain = false;
  const Byte* const last = FindStringEnd(p, plain);
  if (!last)
    return nullptr;
  const Byte* const first = p + 1;
  out.resize(static_cast<size_t>(last - first));
  if (plain) {
    Widen(first, out.size(), out.data());
  } else {
    const ptrdiff_t length = DecodeEscaped(first, last, out.data());
    if (length < 0)
      return nullptr;
    out.resize(static_cast<size_t>(length));
  }
  return last + 1;
}

const Byte* Reader::ReadText(const Byte* p, JsonArena& arena, const OLECHAR*& text,
                             size_t& length) const {
  const Byte* const first = p + 1;
  if (const Byte* const last = ShortPlainEnd(first)) {
    length = static_cast<size_t>(last - first);
    auto* const out =
        static_cast<OLECHAR*>(arena.Allocate(length * sizeof(OLECHAR), alignof(OLECHAR)));
    Widen(first, length, out);
    text = out;
    return last + 1;
  }
  bool plain = false;
  const Byte* const last = FindStringEnd(p, plain);
  if (!last)
    return nullptr;
  const auto bytes = static_cast<size_t>(last - first);
  auto* const out =
      static_cast<OLECHAR*>(arena.Allocate(bytes * sizeof(OLECHAR), alignof(OLECHAR)));
  length = bytes;
  if (plain) {
    Widen(first, bytes, out);
  } else {
    const ptrdiff_t decoded = DecodeEscaped(first, last, out);
    if (decoded < 0)
      return nullptr;
    length = static_cast<size_t>(decoded);
  }
  text = out;
  return last + 1;
}

const Byte* Reader::ReadString(const Byte* p, JsonArena& arena, TJsonPtr& node) const {
  const OLECHAR* text = nullptr;
  size_t length = 0;
  p = ReadText(p, arena, text, length);
  if (p)
    node.reset(arena.MakeString(text, length));
  return p;
}

// Reads [+|-]digits[.digits][(e|E)[+|-]digits] at p and returns the position past it. Null
// when the pattern is incomplete or the value overflows the extended range.
//
// Most numbers in data have a few digits and no exponent: their digits make an exact 64-bit
// mantissa, and one correctly rounded division by an exact power of ten gives the value. Any
// other number is read again by ReadNumberExactly, which gives the same value for these.
const Byte* Reader::ReadNumber(const Byte* p, long double& value, bool& plain) const {
  const Byte* const start = p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-')
    ++p;
  const Byte* const digits = p;
  uint64_t mantissa = 0;
  for (; p < end_ && IsDigit(*p); ++p)
    mantissa = mantissa * 10 + (*p - '0'); // wraps beyond 19 digits, which are not used below
  if (p == digits)
    return nullptr;
  ptrdiff_t count = p - digits;
  ptrdiff_t scale = 0; // digits after the point
  if (p < end_ && *p == '.') {
    const Byte* const fraction = ++p;
    for (; p < end_ && IsDigit(*p); ++p)
      mantissa = mantissa * 10 + (*p - '0');
    if (p == fraction)
      return nullptr;
    scale = p - fraction;
    count += scale;
  }
  constexpr ptrdiff_t kExactDigits = 19; // 10^19 - 1 < 2^64
  if (count > kExactDigits || (p < end_ && (*p == 'e' || *p == 'E'))) {
    plain = false;
    return ReadNumberExactly(start, value);
  }
  plain = true;
  // Below 2^63 the signed conversion is the same value and needs no correction step.
  const long double m = mantissa <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                            ? static_cast<long double>(static_cast<int64_t>(mantissa))
                            : static_cast<long double>(mantissa);
  const long double v = scale == 0 ? m : m / kPow10[scale];
  value = negative ? -v : v;
  return p;
}

// The general reading of a number, for any number of digits and any exponent.
const Byte* Reader::ReadNumberExactly(const Byte* p, long double& value) const {
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  const Byte* const digits = p;
  if (p >= end_ || !IsDigit(*p))
    return nullptr;

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
      return nullptr;
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
      return nullptr;
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
        return nullptr; // beyond the largest extended value
      v = 0;            // below the smallest: underflows to zero
    } else if (ec != std::errc() || end != reinterpret_cast<const char*>(p)) {
      return nullptr;
    }
  }
  value = negative ? -v : v;
  return p;
}

template <typename T, typename... Args> TJsonPtr New(JsonArena* arena, Args&&... args) {
  if (arena)
    return TJsonPtr(arena->Make<T>(std::forward<Args>(args)...));
  return std::make_unique<T>(std::forward<Args>(args)...);
}

TJsonPtr Reader::ReadScalar(const Byte*& p, JsonArena* arena) const {
  switch (*p) {
  case 't':
    p = Literal(p, "true", 4);
    return p ? New<TJsonBoolean>(arena, true) : nullptr;
  case 'f':
    p = Literal(p, "false", 5);
    return p ? New<TJsonBoolean>(arena, false) : nullptr;
  case 'n':
    p = Literal(p, "null", 4);
    return p ? New<TJsonNull>(arena) : nullptr;
  case '"': {
    TJsonPtr node;
    if (arena) {
      p = ReadString(p, *arena, node);
    } else {
      node = std::make_unique<TJsonString>();
      p = ReadString(p, static_cast<TJsonString*>(node.get())->MutableValue());
    }
    return p ? std::move(node) : nullptr;
  }
  default: {
    if (!(IsDigit(*p) || *p == '-' || *p == '+'))
      return nullptr;
    const Byte* const start = p;
    long double number = 0;
    bool plain = false;
    p = ReadNumber(p, number, plain);
    if (!p)
      return nullptr;
    if (!plain && TJsonLargeNumber::BeyondDouble(number)) {
      if (arena)
        arena->NoteOwner(); // the node keeps its text on the heap
      return New<TJsonLargeNumber>(
          arena, number,
          std::string(reinterpret_cast<const char*>(start), reinterpret_cast<const char*>(p)));
    }
    return New<TJsonNumber>(arena, number);
  }
  }
}

TJsonPtr Reader::Run() {
  const Byte* p = begin_;
  if (end_ - p >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
    p += 3;
  p = SkipSpace(p);
  if (p >= end_)
    return nullptr;
  if (*p == '[' || *p == '{')
    return ReadDocument(p);
  // A lone scalar: one node of its own on the heap.
  return ReadScalar(p, nullptr);
}

TJsonPtr Reader::ReadDocument(const Byte* p) {
  JsonArena* const arena = JsonArena::Create(FirstBlockSize(static_cast<size_t>(end_ - p)));
  const bool root_object = *p == '{';
  ++p;
  if (root_object)
    root_.reset(arena->MakeRoot<TJsonObject>(true, arena));
  else
    root_.reset(arena->MakeRoot<TJsonList>(arena));

  std::vector<Frame> stack;
  stack.reserve(16);
  pending_.reserve(64);
  stack.push_back(Frame{static_cast<TJsonCustomList*>(root_.get()), nullptr, 0, root_object});

  for (;;) {
    // Inside a container, after its opening bracket or after an element: either it closes
    // here or another element (a member for objects) follows.
    p = SkipSpace(p);
    if (p >= end_)
      return nullptr;
    Frame* top = &stack.back();
    if (*p == (top->object ? '}' : ']')) {
      ++p;
      TJsonBase* const* const first = pending_.data() + top->first;
      const size_t count = pending_.size() - top->first;
      if (top->object)
        static_cast<TJsonObject*>(top->container)->AdoptMembers(first, count);
      else
        top->container->AdoptChildren(first, count);
      pending_.resize(top->first);
      stack.pop_back();
      if (stack.empty()) {
        arena->Seal();
        return std::move(root_);
      }
    } else {
      if (top->object) {
        if (*p != '"')
          return nullptr;
        const OLECHAR* name = nullptr;
        size_t length = 0;
        p = ReadText(p, *arena, name, length);
        if (!p)
          return nullptr;
        top->member = arena->MakeMember(name, length);
        pending_.push_back(top->member);
        p = SkipSpace(p);
        if (p >= end_ || *p != ':')
          return nullptr;
        p = SkipSpace(p + 1);
      } else {
        p = SkipSpace(p);
      }
      if (p >= end_)
        return nullptr;

      TJsonPtr node;
      if (*p == '[' || *p == '{') {
        if (stack.size() >= static_cast<size_t>(TJson::kMaxDepth))
          return nullptr;
        const bool object = *p == '{';
        ++p;
        TJsonCustomList* container;
        if (object)
          container = arena->Make<TJsonObject>(true, arena);
        else
          container = arena->Make<TJsonList>(arena);
        node.reset(container);
        // Attached at once, so that whatever is read below it belongs to the document.
        if (top->object)
          top->member->SetValue(std::move(node));
        else
          Pend(std::move(node));
        stack.push_back(Frame{container, nullptr, pending_.size(), object});
        continue; // an empty container may close at once
      }
      node = ReadScalar(p, arena);
      if (!node)
        return nullptr;
      if (top->object)
        top->member->SetValue(std::move(node));
      else
        Pend(std::move(node));
    }
    // After a value inside a container: an optional comma.
    p = SkipSpace(p);
    if (p < end_ && *p == ',')
      ++p;
  }
}

} // namespace

TJsonPtr TJson::Parse(std::string_view text) {
  if (text.empty())
    return nullptr;
  return Reader(text.data(), text.size()).Run();
}

} // namespace kestrel::json
