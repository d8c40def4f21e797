#include "json/json_document.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <string>

namespace {

using kestrel::json::TJson;
using kestrel::json::TJsonBase;
using kestrel::json::TJsonBoolean;
using kestrel::json::TJsonList;
using kestrel::json::TJsonMember;
using kestrel::json::TJsonNumber;
using kestrel::json::TJsonObject;
using kestrel::json::TJsonPtr;
using kestrel::json::TJsonString;
using kestrel::platform::WideString;

long double NumberOf(const TJsonPtr& doc) {
  const auto* n = dynamic_cast<const TJsonNumber*>(doc.get());
  EXPECT_NE(n, nullptr);
  return n ? n->Value() : -12345;
}

WideString StringOf(const TJsonBase* value) {
  const auto* s = dynamic_cast<const TJsonString*>(value);
  EXPECT_NE(s, nullptr);
  return s ? s->Value() : OLESTR("<not a string>");
}

WideString StringDoc(const std::string& text) {
  const TJsonPtr doc = TJson::Parse(text);
  EXPECT_NE(doc, nullptr) << text;
  return doc ? StringOf(doc.get()) : OLESTR("<no document>");
}

TEST(JsonReader, CommasAreOptionalAndTrailingCommasAccepted) {
  const TJsonPtr obj = TJson::Parse(R"({"a":1 "b":2})");
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->ItemCount(), 2);
  const TJsonPtr list = TJson::Parse("[1,2,]");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Kind(), kestrel::json::jsList);
  EXPECT_EQ(list->ItemCount(), 2);
  EXPECT_EQ(TJson::Parse("[1 -2 true\"x\"null[]{}]")->ItemCount(), 7);
  EXPECT_EQ(TJson::Parse("[ ]")->ItemCount(), 0);
  EXPECT_EQ(TJson::Parse(R"({"a":1,})")->ItemCount(), 1);
  EXPECT_EQ(TJson::Parse("[,1]"), nullptr);
  EXPECT_EQ(TJson::Parse("[1,,2]"), nullptr);
  EXPECT_EQ(TJson::Parse("{,}"), nullptr);
  EXPECT_EQ(TJson::Parse(R"({"a" 1})"), nullptr);
  EXPECT_EQ(TJson::Parse(R"({a:1})"), nullptr);
}

TEST(JsonReader, UnclosedOrMalformedContainersYieldNoDocument) {
  for (const char* text : {"[1,2", "{\"a\":1", "{\"a\":}", "[tru]", "[truex]", "[1.]", "[\"a]",
                           "{\"a\":[1,{\"b\":2]}}", "]", "}", ""})
    EXPECT_EQ(TJson::Parse(text), nullptr) << text;
}

TEST(JsonReader, TrailingTextAndWhitespace) {
  const TJsonPtr doc = TJson::Parse("{\"a\":1} trailing words");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->Kind(), kestrel::json::jsObject);
  EXPECT_EQ(TJson::Parse("   "), nullptr);
  // Every byte up to 0x20, NUL included, is whitespace.
  EXPECT_NE(TJson::Parse(std::string("\x01\x00\x1f[\x02]", 6)), nullptr);
  // A literal is matched without looking at the byte after it.
  const TJsonPtr yes = TJson::Parse("truest");
  ASSERT_NE(yes, nullptr);
  EXPECT_TRUE(dynamic_cast<TJsonBoolean&>(*yes).Value());
  EXPECT_EQ(TJson::Parse("TRUE"), nullptr);
  EXPECT_EQ(TJson::Parse("nul"), nullptr);
}

TEST(JsonReader, ByteOrderMark) {
  EXPECT_EQ(TJson::Parse("\xEF\xBB\xBF"), nullptr);
  const TJsonPtr doc = TJson::Parse("\xEF\xBB\xBF{}");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->Kind(), kestrel::json::jsObject);
  EXPECT_EQ(TJson::Parse("\xEF\xBB{}"), nullptr); // a partial mark is not skipped
}

TEST(JsonReader, Numbers) {
  EXPECT_EQ(NumberOf(TJson::Parse("+5")), 5);
  EXPECT_EQ(NumberOf(TJson::Parse("-0012.5e1")), -125);
  EXPECT_EQ(NumberOf(TJson::Parse("1E+2")), 100);
  EXPECT_EQ(NumberOf(TJson::Parse("0.1")), 0.1L);
  EXPECT_EQ(NumberOf(TJson::Parse("123456789012345678901234567890")),
            123456789012345678901234567890.0L);
  EXPECT_EQ(NumberOf(TJson::Parse("1.7976931348623157e308")), 1.7976931348623157e308L);
  EXPECT_EQ(NumberOf(TJson::Parse("2.5e-300")), 2.5e-300L);
  EXPECT_EQ(NumberOf(TJson::Parse("1e4000")), 1e4000L); // beyond double, within extended
  EXPECT_EQ(NumberOf(TJson::Parse("1e-99999")), 0);     // underflows to zero
  for (const char* text : {"1.", ".5", "-", "+", "1e", "1e+", "-.5", "1e99999", "[1e99999]"})
    EXPECT_EQ(TJson::Parse(text), nullptr) << text;
}

TEST(JsonReader, EscapesAndUnicode) {
  EXPECT_EQ(StringDoc(R"("a\qb")"), OLESTR("ab"));
  EXPECT_EQ(StringDoc(R"("\"\'\/\\\b\f\n\r\t")"), OLESTR("\"'/\\\b\f\n\r\t"));
  EXPECT_EQ(StringDoc(R"("\u00e9")"), OLESTR("\u00e9"));
  EXPECT_EQ(StringDoc(R"("\u20AC\u0041")"), OLESTR("\u20ac") OLESTR("A"));
  EXPECT_EQ(StringDoc(R"("x\u41")"), OLESTR("xA")); // fewer digits when the string ends
  EXPECT_EQ(StringDoc(R"("\ud83d\ude00")"), OLESTR("\U0001F600"));
  EXPECT_EQ(StringDoc(R"("\"}")"), OLESTR("\"}"));
  EXPECT_EQ(TJson::Parse(R"("\u12G4")"), nullptr);
  EXPECT_EQ(TJson::Parse(R"(["ok", {"k": "\uZZZZ"}])"), nullptr);
  EXPECT_EQ(TJson::Parse(R"("\u")"), nullptr);
  EXPECT_EQ(TJson::Parse(R"("abc\")"), nullptr);              // the escaped quote does not close
  EXPECT_EQ(StringDoc("\"tab\there\""), OLESTR("tab\there")); // raw control bytes stay
}

TEST(JsonReader, Utf8Decoding) {
  EXPECT_EQ(StringDoc("\"caf\xC3\xA9 \xE2\x82\xAC\""), OLESTR("caf\u00e9 \u20ac"));
  // Four-byte sequences become surrogate pairs.
  EXPECT_EQ(StringDoc("\"\xF0\x9F\x98\x80!\""), OLESTR("\U0001F600!"));
  EXPECT_EQ(StringDoc("\"\xF4\x8F\xBF\xBF\""), OLESTR("\U0010FFFF"));
  // Malformed UTF-8 empties only that string.
  EXPECT_EQ(StringDoc("\"\xE9\""), OLESTR(""));
  EXPECT_EQ(StringDoc("\"ab\xC3\""), OLESTR(""));
  EXPECT_EQ(StringDoc("\"\xE2\x82\x41\""), OLESTR(""));
  EXPECT_EQ(StringDoc("\"\xC3\\n\""), OLESTR(""));          // an escape is not a continuation
  EXPECT_EQ(StringDoc("\"\xF0\x9F\x98\""), OLESTR(""));     // truncated four-byte form
  EXPECT_EQ(StringDoc("\"\xF0\x80\x80\x80\""), OLESTR("")); // overlong four-byte form
  const TJsonPtr doc = TJson::Parse("{\"a\":\"\xE9\",\"b\":\"ok\"}");
  ASSERT_NE(doc, nullptr);
  auto& obj = dynamic_cast<TJsonObject&>(*doc);
  EXPECT_EQ(StringOf(obj.ValueByName(OLESTR("a"))), OLESTR(""));
  EXPECT_EQ(StringOf(obj.ValueByName(OLESTR("b"))), OLESTR("ok"));
  // Still a bad \u escape after malformed bytes fails the document.
  EXPECT_EQ(TJson::Parse("\"\xE9\\uXYZW\""), nullptr);
}

TEST(JsonReader, LeadBytesAboveF4EmptyTheString) {
  for (const char* text : {"\"\xF5\x80\x80\x80\"", "\"a\xF8\x88\x80\x80\x80\"",
                           "\"\xFC\x84\x80\x80\x80\x80\x62\"", "\"\xFF\x80\x80\""})
    EXPECT_EQ(StringDoc(text), OLESTR("")) << text;
}

TEST(JsonReader, DuplicateNamesKeepBothMembersAndIndexTheFirst) {
  const TJsonPtr doc = TJson::Parse(R"({"x":1,"x":2,"y":3})");
  ASSERT_NE(doc, nullptr);
  auto& obj = dynamic_cast<TJsonObject&>(*doc);
  ASSERT_EQ(obj.ItemCount(), 3);
  EXPECT_EQ(dynamic_cast<TJsonNumber&>(*obj.ValueByName(OLESTR("x"))).Value(), 1);
  EXPECT_EQ(obj.IndexByName(OLESTR("y")), 2);
  EXPECT_EQ(obj.IndexByName(OLESTR("X")), -1);
  const auto& second = dynamic_cast<TJsonMember&>(*obj.GetItem(1));
  EXPECT_EQ(second.Name(), OLESTR("x"));
  EXPECT_EQ(dynamic_cast<TJsonNumber&>(*second.Value()).Value(), 2);
  EXPECT_EQ(obj.NameAt(1), OLESTR("")); // not in the index
  EXPECT_EQ(obj.ValueAt(1), nullptr);
  EXPECT_EQ(obj.NameAt(2), OLESTR("y"));
}

std::string Nested(int depth) {
  return std::string(static_cast<size_t>(depth), '[') +
         std::string(static_cast<size_t>(depth), ']');
}

TEST(JsonReader, NestingDepthIsBounded) {
  EXPECT_NE(TJson::Parse(Nested(TJson::kMaxDepth)), nullptr);
  EXPECT_EQ(TJson::Parse(Nested(TJson::kMaxDepth + 1)), nullptr);
  std::string objects;
  for (int i = 0; i < TJson::kMaxDepth + 1; ++i)
    objects += "{\"a\":";
  EXPECT_EQ(TJson::Parse(objects + "1" + std::string(TJson::kMaxDepth + 1, '}')), nullptr);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TJson::Parse(std::string(1 << 20, '[')), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

} // namespace

namespace {

// Short decimals are read on a fast path; an exponent sends the same digits down the general
// path, and both must give the same extended value, digit for digit.
TEST(JsonReader, ShortDecimalsReadAsTheGeneralPathReadsThem) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const int digits = 1 + static_cast<int>(random() % 19);
    std::string text = std::to_string(random() % 10);
    for (int d = 1; d < digits; ++d)
      text += static_cast<char>('0' + random() % 10);
    const auto point = static_cast<size_t>(random() % (text.size() + 1));
    if (point > 0 && point < text.size())
      text.insert(point, 1, '.');
    if (random() % 2)
      text.insert(0, 1, '-');
    const long double fast = NumberOf(TJson::Parse(text));
    const long double general = NumberOf(TJson::Parse(text + "e0"));
    ASSERT_TRUE(fast == general && std::signbit(fast) == std::signbit(general)) << text;
  }
}

} // namespace
