// TJson::Serialize: compact JSON text of a document.
#include "parser/json/json_document.h"
#include "parser/json/json_number_text.h"

#include <charconv>
#include <limits>

namespace kestrel::json {

namespace {

// The text grows geometrically from a small start: most values written are small objects
// inside arrays, and a large first buffer would cost more than the few regrowths it saves.
constexpr size_t kInitialCapacity = 256;

class Writer {
public:
  Writer() { out_.reserve(kInitialCapacity); }

  void Value(const TJsonBase* value);
  std::string Take() { return std::move(out_); }

private:
  void Number(long double value);
  void String(WideStringView text);
  void Byte(unsigned char c);
  void List(const TJsonBase& list, char open, char close);

  std::string out_;
};

void Writer::Number(long double value) {
  out_ += GeneralNumberText(value);
}

// One byte of a string's UTF-8 form, escaped where JSON needs it.
void Writer::Byte(unsigned char c) {
  switch (c) {
  case '"':
    out_ += "\\\"";
    return;
  case '/':
    out_ += "\\/";
    return;
  case '\\':
    out_ += "\\\\";
    return;
  case 0x08:
    out_ += "\\b";
    return;
  case 0x09:
    out_ += "\\t";
    return;
  case 0x0A:
    out_ += "\\n";
    return;
  case 0x0C:
    out_ += "\\f";
    return;
  case 0x0D:
    out_ += "\\r";
    return;
  default:
    break;
  }
  if (c < 0x20) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
    out_.append(escape, 6);
  } else {
    out_.push_back(static_cast<char>(c));
  }
}

void Writer::String(WideStringView text) {
  out_.push_back('"');
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    // A valid surrogate pair is one code point of four bytes; a lone half is written as its
    // own three-byte form, which the reader turns back into the same code unit.
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    }
    if (cp < 0x80) {
      Byte(static_cast<unsigned char>(cp));
    } else if (cp < 0x800) {
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
  out_.push_back('"');
}

void Writer::Value(const TJsonBase* value) {
  if (!value)
    return; // a member without value writes nothing
  // The kind identifies the value classes; only kind jsBase needs a closer look.
  switch (value->Kind()) {
  case jsNumber:
    Number(static_cast<const TJsonNumber*>(value)->Value());
    return;
  case jsString:
    String(static_cast<const TJsonString*>(value)->Value());
    return;
  case jsBoolean:
    out_ += static_cast<const TJsonBoolean*>(value)->Value() ? "true" : "false";
    return;
  case jsNull:
    out_ += "null";
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
  if (const auto* member = dynamic_cast<const TJsonMember*>(value)) {
    String(member->Name());
    out_.push_back(':');
    Value(member->Value());
  } else if (dynamic_cast<const TJsonCustomList*>(value)) {
    List(*value, '[', ']');
  }
}

void Writer::List(const TJsonBase& list, char open, char close) {
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
  Writer writer;
  writer.Value(value);
  return writer.Take();
}

} // namespace kestrel::json
