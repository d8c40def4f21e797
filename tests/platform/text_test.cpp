#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using namespace kestrel::platform;

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b)
    bytes.push_back(static_cast<char>(b));
  return bytes;
}

TEST(Text, AnsiCodePageDefaultsTo1252) {
  if (std::getenv("KESTREL_ACP"))
    GTEST_SKIP() << "KESTREL_ACP is set";
  EXPECT_EQ(AnsiCodePage(), 1252u);
}

TEST(Text, Cp1252RoundTripsEveryByte) {
  const std::string bytes = AllBytes();
  const WideString wide = AnsiToWide(bytes, 1252);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(wide[0x41], u'A');
  EXPECT_EQ(wide[0x80], u'\u20AC'); // euro sign
  EXPECT_EQ(wide[0x9F], u'\u0178'); // Y with diaeresis
  EXPECT_EQ(wide[0xE9], u'\u00E9');
  EXPECT_EQ(wide[0x81], u'\u0081'); // the holes of 1252 map to C1 controls, as on Windows
  EXPECT_EQ(WideToAnsi(wide, 1252), bytes);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(bytes)), bytes);
}

TEST(Text, Cp1251RoundTripsEveryMappedByte) {
  const std::string bytes = AllBytes();
  const WideString wide = AnsiToWide(bytes, 1251);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(wide[0xC0], u'\u0410'); // А
  EXPECT_EQ(wide[0xFF], u'\u044F'); // я
  EXPECT_EQ(wide[0xA8], u'\u0401'); // Ё
  EXPECT_EQ(wide[0x88], u'\u20AC');
  std::string mapped;
  for (std::size_t i = 0; i < wide.size(); ++i)
    if (wide[i] != u'\uFFFD')
      mapped.push_back(bytes[i]);
  EXPECT_GE(mapped.size(), 255u);
  EXPECT_EQ(WideToAnsi(AnsiToWide(mapped, 1251), 1251), mapped);
}

TEST(Text, UnrepresentableCharactersBecomeQuestionMarks) {
  // Cyrillic in 1252, Latin accents in 1251, CJK and a character outside the BMP in both.
  EXPECT_EQ(WideToAnsi(OLESTR("a\u0416b"), 1252), "a?b");
  EXPECT_EQ(WideToAnsi(OLESTR("\u00E9\u0416"), 1251), "?\xC6");
  EXPECT_EQ(WideToAnsi(OLESTR("x\u4E00y"), 1252), "x?y");
  EXPECT_EQ(WideToAnsi(OLESTR("\U0001F600"), 1252), "?"); // one character, one '?'
  EXPECT_EQ(WideToAnsi(OLESTR("\xD800z"), 1252), "?z");   // a lone surrogate
  EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC \xD0\x96"), "\x80 ?");
}

TEST(Text, MultiByteCodePagesConvert) {
  // UTF-8 as a code page, and a double-byte code page through ICU's converter.
  EXPECT_EQ(AnsiToWide("\xC3\xA9", 65001), OLESTR("\u00E9"));
  EXPECT_EQ(WideToAnsi(OLESTR("\u00E9\u4E00"), 65001), "\xC3\xA9\xE4\xB8\x80");
  const WideString sjis = AnsiToWide("a\x88\xEA"
                                     "b",
                                     932);
  EXPECT_EQ(sjis, OLESTR("a\u4E00b"));
  EXPECT_EQ(WideToAnsi(sjis, 932), "a\x88\xEA"
                                   "b");
  EXPECT_EQ(WideToAnsi(OLESTR("\u0416"), 936).size(), 2u); // Cyrillic exists in GBK
  EXPECT_EQ(WideToAnsi(OLESTR("\u00E9\U0001F600"), 932), "??");
  // An unknown code page converts nothing, as the system call fails.
  EXPECT_EQ(AnsiToWide("abc", 4711), WideString());
  EXPECT_EQ(WideToAnsi(OLESTR("abc"), 4711), std::string());
}

TEST(Text, Utf8InvalidSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xC3\xA9z"), OLESTR("a\u00E9z"));
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), OLESTR("\U0001F600"));
  EXPECT_EQ(Utf8ToWide("a\xFFz"), OLESTR("a\uFFFDz"));       // a byte that never starts a sequence
  EXPECT_EQ(Utf8ToWide("a\xC3"), OLESTR("a\uFFFD"));         // truncated at the end
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), OLESTR("\uFFFD\uFFFD")); // overlong encoding of '/'
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), OLESTR("\uFFFD\uFFFD\uFFFD")); // encoded surrogate
  EXPECT_EQ(WideToUtf8(OLESTR("\xD800")), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(OLESTR("\U0001F600\u00E9")), "\xF0\x9F\x98\x80\xC3\xA9");
  EXPECT_EQ(AnsiToUtf8("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(Utf8ToWide(std::string_view("a\0b", 3)), WideString(OLESTR("a\0b"), 3));
}

TEST(Text, CasingOf1252KeepsTheLength) {
  EXPECT_EQ(AnsiUpperCase("caf\xE9 \xE0\xF6\xFF"), "CAF\xC9 \xC0\xD6\x9F");
  EXPECT_EQ(AnsiLowerCase("CAF\xC9 \xC0\xD6\x9F"), "caf\xE9 \xE0\xF6\xFF");
  // ß has no one-character upper case, µ's upper case (Greek Mu) is not in 1252: both stay.
  EXPECT_EQ(AnsiUpperCase("stra\xDF"
                          "e \xB5"),
            "STRA\xDF"
            "E \xB5");
  // Digits, punctuation, control and 8-bit symbols are untouched; the euro sign too.
  const std::string symbols("1,\x80\x01\xA7\xD7\xF7", 7);
  EXPECT_EQ(AnsiUpperCase(symbols), symbols);
  EXPECT_EQ(AnsiLowerCase(symbols), symbols);
  EXPECT_EQ(AnsiUpperCase(std::string_view("a\0b", 3)), std::string("A\0B", 3));
}

TEST(Text, CasingOfCyrillicIn1251) {
  // "привет ёж" <-> "ПРИВЕТ ЁЖ"
  const std::string lower = "\xEF\xF0\xE8\xE2\xE5\xF2 \xB8\xE6";
  const std::string upper = "\xCF\xD0\xC8\xC2\xC5\xD2 \xA8\xC6";
  EXPECT_EQ(CodePageUpperCase(lower, 1251), upper);
  EXPECT_EQ(CodePageLowerCase(upper, 1251), lower);
  // Double-byte text: full-width Latin letters change case in place, the rest stays.
  EXPECT_EQ(CodePageUpperCase("a\x82\x81\x88\xEA", 932), "A\x82\x60\x88\xEA");
}

TEST(Text, CompareTextIgnoresCaseButNotLetters) {
  EXPECT_EQ(AnsiCompareText("Hello", "hELLO"), 0);
  EXPECT_EQ(AnsiCompareText("\xC9t\xE9", "\xE9T\xC9"), 0);
  EXPECT_LT(AnsiCompareText("apple", "Banana"), 0);
  EXPECT_GT(AnsiCompareText("banana", "Apple"), 0);
  EXPECT_NE(AnsiCompareText("e", "\xE9"), 0);
  EXPECT_LT(AnsiCompareText("", "a"), 0);
}

} // namespace
