// Property: for generated texts t, Parse(Serialize(Parse(t))) equals Parse(t).
#include "json/json_document.h"
#include "json/json_utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using namespace kestrel::json;

// Structural equality: same classes, values, names and order.
bool SameDocument(const TJsonBase* a, const TJsonBase* b) {
  if (!a || !b)
    return a == b;
  if (a->Kind() != b->Kind())
    return false;
  if (const auto* n = dynamic_cast<const TJsonNumber*>(a))
    return n->Value() == dynamic_cast<const TJsonNumber&>(*b).Value();
  if (const auto* s = dynamic_cast<const TJsonString*>(a))
    return s->Value() == dynamic_cast<const TJsonString&>(*b).Value();
  if (const auto* f = dynamic_cast<const TJsonBoolean*>(a))
    return f->Value() == dynamic_cast<const TJsonBoolean&>(*b).Value();
  if (const auto* m = dynamic_cast<const TJsonMember*>(a)) {
    const auto* other = dynamic_cast<const TJsonMember*>(b);
    return other && m->Name() == other->Name() && SameDocument(m->Value(), other->Value());
  }
  if (a->ItemCount() != b->ItemCount())
    return false;
  for (int32_t i = 0; i < a->ItemCount(); ++i)
    if (!SameDocument(a->GetItem(i), b->GetItem(i)))
      return false;
  return true;
}

class Generator {
public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  std::string Document() {
    std::string out;
    Value(out, 0);
    return out;
  }

private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  void Space(std::string& out) {
    static const char* kSpaces[] = {"", "", "", " ", "\n\t", "\r\n  "};
    out += kSpaces[Pick(6)];
  }

  void Number(std::string& out) {
    // At most 15 significant digits, which the writer reproduces exactly.
    if (Pick(2))
      out += Pick(4) ? "-" : "+";
    const int digits = 1 + Pick(15);
    const int point = Pick(digits + 1);
    out += static_cast<char>('1' + Pick(9));
    for (int i = 1; i < digits; ++i) {
      if (i == point)
        out += '.';
      out += static_cast<char>('0' + Pick(10));
    }
    if (Pick(3) == 0) {
      out += Pick(2) ? 'e' : 'E';
      out += Pick(2) ? "-" : "";
      out += std::to_string(Pick(300));
    }
  }

  void String(std::string& out) {
    out += '"';
    const int length = Pick(12);
    for (int i = 0; i < length; ++i) {
      switch (Pick(10)) {
      case 0:
        out += "\\n\\t\\\"\\\\\\/";
        break;
      case 1:
        out += "\\u00e9\\u20AC";
        break;
      case 2:
        out += "\\ud83d\\ude00";
        break; // a pair written as two escapes
      case 3:
        out += "\\udc00"; // a lone surrogate
        break;
      case 4:
        out += "\xC3\xA9\xE2\x82\xAC";
        break;
      case 5:
        out += "\xF0\x9F\x8E\x89";
        break; // four-byte UTF-8
      case 6:
        out += "\\u0001\\u001f\x7f";
        break;
      default:
        out += static_cast<char>('a' + Pick(26));
        break;
      }
    }
    out += '"';
  }

  void Value(std::string& out, int depth) {
    Space(out);
    const int kind = depth >= 6 ? Pick(5) : Pick(8);
    switch (kind) {
    case 0:
      Number(out);
      break;
    case 1:
      String(out);
      break;
    case 2:
      out += Pick(2) ? "true" : "false";
      break;
    case 3:
      out += "null";
      break;
    case 4:
      Number(out);
      break;
    case 5:
    case 6: {
      out += '[';
      const int count = Pick(5);
      for (int i = 0; i < count; ++i) {
        Value(out, depth + 1);
        Space(out);
        if (i + 1 < count || Pick(4) == 0)
          out += Pick(5) ? "," : " "; // commas are optional, a trailing one allowed
      }
      Space(out);
      out += ']';
      break;
    }
    default: {
      out += '{';
      const int count = Pick(5);
      for (int i = 0; i < count; ++i) {
        Space(out);
        if (Pick(5) == 0)
          out += "\"dup\"";
        else
          String(out);
        Space(out);
        out += ':';
        Value(out, depth + 1);
        Space(out);
        if (i + 1 < count)
          out += Pick(5) ? "," : " ";
      }
      out += '}';
      break;
    }
    }
  }

  std::mt19937 random_;
};

TEST(JsonRoundTrip, SerializedDocumentsReadBackEqual) {
  Generator generator(20240501);
  for (int i = 0; i < 3000; ++i) {
    const std::string text = generator.Document();
    const TJsonPtr first = TJson::Parse(text);
    ASSERT_NE(first, nullptr) << text;
    const std::string compact = TJson::Serialize(first.get());
    const TJsonPtr second = TJson::Parse(compact);
    ASSERT_NE(second, nullptr) << compact;
    ASSERT_TRUE(SameDocument(first.get(), second.get())) << text << "\n" << compact;
    // The compact text is a fixed point of the writer.
    ASSERT_EQ(TJson::Serialize(second.get()), compact);
  }
}

TEST(JsonRoundTrip, WideTextIsTheDecodedCompactText) {
  Generator generator(917);
  for (int i = 0; i < 3000; ++i) {
    const std::string text = generator.Document();
    const TJsonPtr document = TJson::Parse(text);
    ASSERT_NE(document, nullptr) << text;
    const std::string compact = TJson::Serialize(document.get());
    ASSERT_EQ(TJson::SerializeWide(document.get()), json_utf8::Decode(compact)) << compact;
  }
}

} // namespace
