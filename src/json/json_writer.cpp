// TJson::Serialize: compact JSON text of a document.
#include "json/json_document.h"
#include "json/json_number_text.h"

#include <charconv>
#include <limits>
#include <typeinfo>

namespace kestrel::json {

namespace {

// The text grows geometrically from a small start: most values written are small objects
// inside arrays, and a large first buffer would cost more than the few regrowths it saves.
constexpr size_t kInitialCapacity = 256;

// Writes into 8-bit UTF-8 text (Char = char) or straight into UTF-16 code units
// (Char = OLECHAR). The UTF-16 form is the UTF-8 form decoded the way the reader decodes it:
// every code unit of a string, lone surrogate halves included, comes out as it went in, and
// everything else the writer makes is ASCII.
template <typename Char> class Writer {
public:
  Writer() { out_.reserve(kInitialCapacity); }

  void Value(const TJsonBase* value);
  std::basic_string<Char> Take() { return std::move(out_); }

private:
  void Number(long double value);
  void String(WideStringView text);
  void Unit(uint32_t cp); // one code point of a string, outside the ASCII range
  void Byte(unsigned char c);
  void Ascii(const char* text, size_t length) {
    if constexpr (sizeof(Char) == 1) {
      out_.append(text, length);
    } else {
      const size_t at = out_.size();
      out_.resize(at + length);
      for (size_t i = 0; i < length; ++i)
        out_[at + i] = static_cast<Char>(text[i]);
    }
  }
  void List(const TJsonBase& list, char open, char close);

  std::basic_string<Char> out_;
};

template <typename Char> void Writer<Char>::Number(long double value) {
  char buffer[kNumberTextSize];
  Ascii(buffer, static_cast<size_t>(GeneralNumberChars(value, buffer) - buffer));
}

// One byte of a string's UTF-8 form, escaped where JSON needs it.
template <typename Char> void Writer<Char>::Byte(unsigned char c) {
  switch (c) {
  case '"':
    Ascii("\\\"", 2);
    return;
  case '/':
    Ascii("\\/", 2);
    return;
  case '\\':
    Ascii("\\\\", 2);
    return;
  case 0x08:
    Ascii("\\b", 2);
    return;
  case 0x09:
    Ascii("\\t", 2);
    return;
  case 0x0A:
    Ascii("\\n", 2);
    return;
  case 0x0C:
    Ascii("\\f", 2);
    return;
  case 0x0D:
    Ascii("\\r", 2);
    return;
  default:
    break;
  }
  if (c < 0x20) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
    Ascii(escape, 6);
  } else {
    out_.push_back(static_cast<Char>(c));
  }
}

template <> void Writer<char>::Unit(uint32_t cp) {
  if (cp < 0x800) {
    out_.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out_.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out_.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out_.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

template <> void Writer<OLECHAR>::Unit(uint32_t cp) {
  if (cp < 0x10000) {
    out_.push_back(static_cast<OLECHAR>(cp));
  } else {
    out_.push_back(static_cast<OLECHAR>(0xD800 + ((cp - 0x10000) >> 10)));
    out_.push_back(static_cast<OLECHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
  }
}

// Code units a string writes as they are, in runs: no escape, no surrogate, and for 8-bit text
// nothing beyond ASCII.
template <typename Char> constexpr bool PlainUnit(OLECHAR u) {
  const bool in_range = sizeof(Char) == 1 ? u < 0x80 : (u < 0xD800 || u > 0xDFFF);
  return u >= 0x20 && in_range && u != '"' && u != '/' && u != '\\';
}

template <typename Char> void Writer<Char>::String(WideStringView text) {
  out_.push_back('"');
  for (size_t i = 0; i < text.size(); ++i) {
    if (PlainUnit<Char>(text[i])) {
      size_t end = i + 1;
      while (end < text.size() && PlainUnit<Char>(text[end]))
        ++end;
      if constexpr (sizeof(Char) == sizeof(OLECHAR))
        out_.append(text.data() + i, end - i);
      else
        out_.append(text.begin() + static_cast<ptrdiff_t>(i),
                    text.begin() + static_cast<ptrdiff_t>(end));
      i = end - 1;
      continue;
    }
    uint32_t cp = text[i];
    // A valid surrogate pair is one code point of four bytes; a lone half is written as its
    // own three-byte form, which the reader turns back into the same code unit.
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    }
    if (cp < 0x80)
      Byte(static_cast<unsigned char>(cp));
    else
      Unit(cp);
  }
  out_.push_back('"');
}

template <typename Char> void Writer<Char>::Value(const TJsonBase* value) {
  if (!value)
    return; // a member without value writes nothing
  // The kind identifies the value classes; only kind jsBase needs a closer look.
  switch (value->Kind()) {
  case jsNumber:
    Number(static_cast<const TJsonNumber*>(value)->Value());
    return;
  case jsString:
    String(static_cast<const TJsonString*>(value)->Text());
    return;
  case jsBoolean:
    if (static_cast<const TJsonBoolean*>(value)->Value())
      Ascii("true", 4);
    else
      Ascii("false", 5);
    return;
  case jsNull:
    Ascii("null", 4);
    return;
  case jsList:
    List(*value, '[', ']');
    return;
  case jsObject:
    List(*value, '{', '}');
    return;
  case jsBase:
    break;
  }
  // Most nodes of kind jsBase are exactly members, which need no search of the class tree.
  const auto* member = typeid(*value) == typeid(TJsonMember)
                           ? static_cast<const TJsonMember*>(value)
                           : dynamic_cast<const TJsonMember*>(value);
  if (member) {
    String(member->Name());
    out_.push_back(':');
    Value(member->Value());
  } else if (dynamic_cast<const TJsonCustomList*>(value)) {
    List(*value, '[', ']');
  }
}

template <typename Char> void Writer<Char>::List(const TJsonBase& list, char open, char close) {
  out_.push_back(open);
  const int32_t count = list.ItemCount();
  for (int32_t i = 0; i < count; ++i) {
    if (i > 0)
      out_.push_back(',');
    Value(list.GetItem(i));
  }
  out_.push_back(close);
}

} // namespace

std::string TJson::Serialize(const TJsonBase* value) {
  Writer<char> writer;
  writer.Value(value);
  return writer.Take();
}

WideString TJson::SerializeWide(const TJsonBase* value) {
  Writer<OLECHAR> writer;
  writer.Value(value);
  return writer.Take();
}

} // namespace kestrel::json
