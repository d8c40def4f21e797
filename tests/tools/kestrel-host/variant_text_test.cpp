// Value texts must read the same on every system, since Linux and Windows runs are compared.
#include "variant_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using kestrel::host::DescribeValue;

VARIANT Of(VARTYPE type) {
  VARIANT value;
  std::memset(&value, 0, sizeof(value));
  value.vt = type;
  return value;
}

std::string DateText(double date) {
  VARIANT value = Of(VT_DATE);
  value.date = date;
  return DescribeValue(value).text;
}

TEST(VariantText, DatesInIsoFormWithTheTimeAsTheFractionsMagnitude) {
  EXPECT_EQ(DateText(0), "1899-12-30 00:00:00");
  EXPECT_EQ(DateText(46364.385416666664), "2026-12-08 09:15:00");
  EXPECT_EQ(DateText(-1.25), "1899-12-29 06:00:00"); // before the epoch the time still counts up
  EXPECT_EQ(DateText(36526.5 + 0.0000123), "2000-01-01 12:00:01.063");
  EXPECT_EQ(DateText(59.999999999), "1900-02-28 00:00:00"); // rounding carries into the next day
  EXPECT_EQ(DescribeValue([] {
              VARIANT value = Of(VT_DATE);
              value.date = 0;
              return value;
            }())
                .json,
            "\"1899-12-30 00:00:00\"");
}

TEST(VariantText, NumbersReadBackExactly) {
  VARIANT real = Of(VT_R8);
  real.dblVal = 0.1 + 0.2;
  EXPECT_EQ(DescribeValue(real).text, "0.30000000000000004");
  real.dblVal = 12.5;
  EXPECT_EQ(DescribeValue(real).type, "Float");
  EXPECT_EQ(DescribeValue(real).json, "12.5");
  VARIANT money = Of(VT_CY);
  money.cyVal.int64 = -12345;
  EXPECT_EQ(DescribeValue(money).text, "-1.2345");
  money.cyVal.int64 = 50000;
  EXPECT_EQ(DescribeValue(money).text, "5");
  VARIANT big = Of(VT_I8);
  big.llVal = -9223372036854775807LL - 1;
  EXPECT_EQ(DescribeValue(big).text, "-9223372036854775808");
  EXPECT_EQ(DescribeValue(Of(VT_NULL)).json, "null");
}

TEST(VariantText, StringsAndArraysAsUtf8AndJson) {
  const OLECHAR text[] = {'a', '"', 0xE9, 0xD83D, 0xDE00, 0xD800, '\n', 0};
  VARIANT value = Of(VT_BSTR);
  value.bstrVal = SysAllocString(text);
  EXPECT_EQ(DescribeValue(value).text, "a\"\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD\n");
  EXPECT_EQ(DescribeValue(value).json, "\"a\\\"\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD\\n\"");

  VARIANT array = Of(VT_ARRAY | VT_VARIANT);
  array.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  auto* items = static_cast<VARIANT*>(array.parray->pvData);
  items[0] = value;
  items[1] = Of(VT_I4);
  items[1].lVal = 7;
  items[2] = Of(VT_BOOL);
  items[2].boolVal = VARIANT_TRUE;
  const auto described = DescribeValue(array);
  EXPECT_EQ(described.type, "Array");
  EXPECT_EQ(described.json, "[\"a\\\"\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD\\n\",7,true]");
  VariantClear(&array); // frees the string too
}

} // namespace
