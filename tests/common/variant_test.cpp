#include "common/variant.h"
#include "common/variant_convert.h"
#include "platform/text.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(Variant, CopiesAreDeepAndMovesLeaveEmpty) {
  Variant text(std::string("abc"));
  Variant copy = text;
  EXPECT_NE(copy.Raw().bstrVal, text.Raw().bstrVal);
  EXPECT_EQ(copy, text);
  Variant moved = std::move(copy);
  EXPECT_TRUE(copy.IsEmpty()); // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(moved, text);
  moved = Variant::Null();
  EXPECT_TRUE(moved.IsNull());
  EXPECT_FALSE(Variant(1) == Variant(int64_t{1})); // different types
}

// 8-bit text is widened directly while it is ASCII; a byte above 0x7F anywhere (here after a
// long ASCII run) must send the whole text through the code page instead.
TEST(Variant, AnsiTextWidensThroughTheCodePage) {
  const std::string ascii(40, 'a');
  const std::string mixed = ascii + "\x80" + "z"; // the euro sign in Western code pages
  for (const std::string& text : {ascii, mixed, std::string()}) {
    const Variant value(text);
    ASSERT_EQ(value.Raw().vt, VT_BSTR);
    const BSTR bstr = value.Raw().bstrVal;
    EXPECT_EQ(platform::WideString(bstr, SysStringLen(bstr)), platform::AnsiToWide(text));
  }
}

TEST(Variant, UncopyableRawTypesThrow) {
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = 0x100; // 8-bit string of another run-time: not an OLE type
  EXPECT_THROW(Variant{raw}, std::runtime_error);
  raw.vt = VT_BYREF | VT_I4;
  raw.byref = nullptr;
  EXPECT_THROW(Variant{raw}, std::runtime_error);
}

TEST(Variant, ReferencesAreResolvedToTheirValue) {
  int32_t number = 17;
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_BYREF | VT_I4;
  raw.byref = &number;
  Variant copy(raw);
  number = 0;
  EXPECT_EQ(copy, Variant(17));

  Variant text(std::string("abc"));
  BSTR bstr = text.Raw().bstrVal;
  raw.vt = VT_BYREF | VT_BSTR;
  raw.byref = &bstr;
  Variant copied_text(raw);
  EXPECT_EQ(copied_text, text);
  EXPECT_NE(copied_text.Raw().bstrVal, bstr);
}

TEST(VariantConvert, NumbersAndTexts) {
  EXPECT_EQ(VariantToInt64(Variant(std::string(" 42 "))), 42);
  EXPECT_EQ(VariantToInt64(Variant(std::string("+7"))), 7);
  EXPECT_EQ(VariantToInt64(Variant(std::string("4x"))), std::nullopt);
  EXPECT_EQ(VariantToInt64(Variant(2.5)), std::nullopt);
  EXPECT_EQ(VariantToInt64(Variant(3.0)), 3);
  EXPECT_EQ(VariantToInt64(Variant(true)), -1);
  EXPECT_EQ(VariantToInt64(Variant()), std::nullopt);
  EXPECT_EQ(VariantToDouble(Variant(std::string("1.5"))), 1.5);
  EXPECT_EQ(VariantToDouble(Variant::Currency(12345)), 1.2345);
  EXPECT_EQ(VariantToBool(Variant(std::string("TRUE"))), true);
  EXPECT_EQ(VariantToBool(Variant(0)), false);
  EXPECT_EQ(VariantToBool(Variant::Null()), std::nullopt);
  EXPECT_EQ(VariantToAnsi(Variant(-12)), "-12");
  EXPECT_EQ(VariantToAnsi(Variant(0.25)), "0.25");
  EXPECT_EQ(VariantToAnsi(Variant(false)), "False");
  EXPECT_EQ(VariantToAnsi(Variant::Null()), "");
}

} // namespace
} // namespace kestrel
