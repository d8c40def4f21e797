#include "json/json_to_list.h"

#include "common/variant_convert.h"

#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <vector>

namespace {

using namespace kestrel;
using namespace kestrel::json::JsonToList;

struct Row {
  int index;
  std::vector<std::string> names;
  std::vector<Variant> values;
};

// Flattens `text`, collecting what OnObjectDone receives.
std::vector<Row> Flatten(std::string_view text, TParserOptions options = kDefaultParserOptions,
                         const TParserItemList* rules = nullptr) {
  std::vector<Row> rows;
  options.OnObjectDone = [&rows](int index, TorvParamsList& list, const TParserOptions&) {
    Row row{index, {}, {}};
    for (int i = 0; i < list.Count(); ++i) {
      row.names.push_back(list.Items(i)->Name);
      row.values.push_back(list.Items(i)->Value);
    }
    rows.push_back(std::move(row));
  };
  FlattenJsonText(text, options, rules);
  return rows;
}

std::vector<std::string> Names(std::string_view text,
                               TParserOptions options = kDefaultParserOptions,
                               const TParserItemList* rules = nullptr) {
  const auto rows = Flatten(text, std::move(options), rules);
  std::vector<std::string> names;
  for (const auto& row : rows)
    names.insert(names.end(), row.names.begin(), row.names.end());
  return names;
}

Variant Single(std::string_view text) {
  const auto rows = Flatten(text);
  EXPECT_EQ(rows.size(), 1u);
  if (rows.size() != 1 || rows[0].values.size() != 1)
    return Variant();
  return rows[0].values[0];
}

using Strings = std::vector<std::string>;

TEST(JsonToList, LevelValuesComeBeforeNestedObjects) {
  const char* doc = R"({"a":{"b":1,"c":{"d":2}},"e":3})";
  TParserOptions options;
  options.AddNodeName = true;
  options.Separator = '_';
  EXPECT_EQ(Names(doc, options), (Strings{"e", "a_b", "a_c_d"}));
  options.AddNodeName = false;
  EXPECT_EQ(Names(doc, options), (Strings{"e", "b", "d"}));
  options.AddNodeName = true;
  options.Separator = 0;
  EXPECT_EQ(Names(doc, options), (Strings{"e", "ab", "acd"}));
  options.Separator = '.';
  options.TopPrefix = "top";
  EXPECT_EQ(Names(doc, options), (Strings{"top.e", "top.a.b", "top.a.c.d"}));
  options.TopPrefix.clear();
  options.UpperCase = true;
  options.Separator = '_';
  EXPECT_EQ(Names(R"({"ab":{"cd":1},"\u00e9x":2})", options), (Strings{"\xE9X", "AB_CD"}));
  // Names beyond ASCII under a prefix, and as the prefix.
  EXPECT_EQ(Names(R"({"a\u00e9":{"b\u00e9":1}})", options), (Strings{"A\xE9_B\xE9"}));
}

TEST(JsonToList, DepthLimitAndEmptyNestedObjects) {
  TParserOptions options;
  options.MaxDepth = 1;
  EXPECT_EQ(Names(R"({"a":1,"b":{"c":2}})", options), (Strings{"a"}));
  options.MaxDepth = 2;
  EXPECT_EQ(Names(R"({"a":1,"b":{"c":2,"d":{"e":3}}})", options), (Strings{"a", "c"}));
  options.MaxDepth = -1;
  EXPECT_EQ(Names(R"({"a":1,"b":{"c":2,"d":{"e":3}}})", options), (Strings{"a", "c", "e"}));
  // An empty nested object adds nothing and does not hide the objects after it.
  EXPECT_EQ(Names(R"({"x":{}, "y":{"z":1}})"), Strings{"z"});
  EXPECT_EQ(Names(R"({"y":{"z":1}, "x":{}, "w":{"v":2}})"), (Strings{"z", "v"}));
}

TEST(JsonToList, TopLevelArrayGivesOneRowPerObject) {
  const auto rows = Flatten(R"([{"a":1},{"a":2},5,{},{"b":true}])");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].index, 0);
  EXPECT_EQ(rows[1].index, 1);
  EXPECT_EQ(rows[2].index, 4);
  EXPECT_EQ(rows[1].names, (Strings{"a"}));
  EXPECT_EQ(rows[1].values[0], Variant(int32_t{2}));
  EXPECT_EQ(rows[2].names, (Strings{"b"}));
}

TEST(JsonToList, ReturnsTheLastObjectsValuesOrNothing) {
  auto list = FlattenJsonText(R"([{"a":1},{"b":2,"c":3}])", kDefaultParserOptions, nullptr);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Items(0)->Name, "b");
  EXPECT_EQ(FlattenJsonText("not json", kDefaultParserOptions, nullptr), nullptr);
  EXPECT_EQ(FlattenJsonText("[1,2]", kDefaultParserOptions, nullptr), nullptr);
  EXPECT_EQ(FlattenJsonText(R"({"":1," ":2})", kDefaultParserOptions, nullptr), nullptr);
  EXPECT_TRUE(Flatten(R"({"a":1})").size() == 1);
  // Duplicated names are appended again, never merged.
  EXPECT_EQ(Names(R"({"a":1,"a":2})"), (Strings{"a", "a"}));
}

TEST(JsonToList, StartNode) {
  TParserOptions options;
  options.StartNodeName = "data";
  const char* doc = R"({"meta":{"n":1},"list":[{"data":{"x":1}}],"data":{"y":2}})";
  EXPECT_EQ(Names(doc, options), (Strings{"x"})); // depth first, document order
  EXPECT_EQ(Names(R"({"data":[{"a":1},{"a":2}]})", options), (Strings{"a", "a"}));
  options.StartNodeName = "Data";
  EXPECT_TRUE(Flatten(doc, options).empty()); // exact, case-sensitive
  // A member's own name is compared before its value is searched.
  options.StartNodeName = "k";
  EXPECT_EQ(Names(R"({"k":{"k":{"z":1},"w":2}})", options), (Strings{"w", "z"}));
}

TEST(JsonToList, DefaultTyping) {
  EXPECT_EQ(Single(R"({"v":2147483646})").Type(), VT_I4);
  EXPECT_EQ(Single(R"({"v":-2147483646})"), Variant(int32_t{-2147483646}));
  EXPECT_EQ(Single(R"({"v":2147483647})").Type(), VT_R8);
  EXPECT_EQ(Single(R"({"v":-2147483647})").Type(), VT_R8);
  EXPECT_EQ(Single(R"({"v":1.5})"), Variant(1.5));
  EXPECT_EQ(Single(R"({"v":3.0})"), Variant(int32_t{3}));
  EXPECT_EQ(Single(R"({"n":null})").Type(), VT_NULL);
  EXPECT_EQ(Single(R"({"b":false})"), Variant(false));
  EXPECT_EQ(Single(R"({"s":"caf\u00e9"})"), Variant(platform::WideStringView(OLESTR("caf\u00e9"))));
}

TEST(JsonToList, ArraysInsideObjects) {
  const Variant v = Single(R"({"l":[1,"a",{"k":"\u00e9"},null,[2],2.5]})");
  ASSERT_EQ(v.Type(), VT_ARRAY | VT_VARIANT);
  SAFEARRAY* array = v.Raw().parray;
  LONG lower = -1, upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  EXPECT_EQ(lower, 0);
  ASSERT_EQ(upper, 5);
  std::vector<Variant> elements;
  for (LONG i = 0; i <= upper; ++i) {
    VARIANT raw;
    VariantInit(&raw);
    SafeArrayGetElement(array, &i, &raw);
    elements.push_back(Variant::Adopt(raw));
  }
  EXPECT_EQ(elements[0], Variant(int32_t{1}));
  EXPECT_EQ(elements[1], Variant(platform::WideStringView(OLESTR("a"))));
  // An object or an array inside an array is its compact JSON text, characters intact.
  EXPECT_EQ(elements[2], Variant(platform::WideStringView(OLESTR("{\"k\":\"\u00e9\"}"))));
  EXPECT_EQ(elements[3].Type(), VT_NULL);
  EXPECT_EQ(elements[4], Variant(platform::WideStringView(OLESTR("[2]"))));
  EXPECT_EQ(elements[5], Variant(2.5));

  const Variant empty = Single(R"({"l":[]})");
  ASSERT_EQ(empty.Type(), VT_ARRAY | VT_VARIANT);
  SafeArrayGetUBound(empty.Raw().parray, 1, &upper);
  EXPECT_EQ(upper, -1);
}

TEST(JsonToList, ObjectsInsideArraysKeepLoneSurrogates) {
  const Variant v = Single(R"({"l":[{"k\udc01":"\ud800\u00e9\ud83d\ude00\udc00"}]})");
  ASSERT_EQ(v.Type(), VT_ARRAY | VT_VARIANT);
  VARIANT element;
  VariantInit(&element);
  LONG first = 0;
  SafeArrayGetElement(v.Raw().parray, &first, &element);
  const platform::WideString expected = {'{',    '"',    'k',    0xDC01, '"',    ':', '"',
                                         0xD800, 0x00E9, 0xD83D, 0xDE00, 0xDC00, '"', '}'};
  EXPECT_EQ(Variant::Adopt(element), Variant(platform::WideStringView(expected)));
}

TEST(JsonToList, IsoDatesAndTimes) {
  const double may1 = 45413; // 2024-05-01
  EXPECT_EQ(Single(R"({"d":"2024-05-01"})"), Variant::DateTime(may1));
  const Variant stamp = Single(R"({"d":"2024-05-01T12:59:59.250+02:00"})");
  ASSERT_EQ(stamp.Type(), VT_DATE);
  EXPECT_NEAR(stamp.Raw().date, may1 + (12 * 3600 + 59 * 60 + 59.25) / 86400, 1e-9);
  EXPECT_EQ(Single(R"({"d":"2024-13-01"})").Type(), VT_BSTR);
  EXPECT_EQ(Single(R"({"d":"2023-02-29"})").Type(), VT_BSTR);
  EXPECT_EQ(Single(R"({"d":"0000-01-01"})").Type(), VT_BSTR);
  const Variant time = Single(R"({"t":"12:30:00"})");
  ASSERT_EQ(time.Type(), VT_DATE);
  EXPECT_NEAR(time.Raw().date, 0.5 + 30.0 / 1440, 1e-9);

  auto millis = [](std::string_view text) {
    const auto value = TryIsoDateTime(text);
    EXPECT_TRUE(value.has_value()) << text;
    return value ? static_cast<int>(std::lround(*value * 86400000.0)) : -1;
  };
  EXPECT_EQ(millis("00:00:01.5"), 1500);
  EXPECT_EQ(millis("00:00:01.25"), 1250);
  EXPECT_EQ(millis("00:00:01.123456"), 1123);
  EXPECT_EQ(millis("00:00:01Z"), 1000);
  EXPECT_EQ(millis("1899-12-30 00:00:02"), 2000);
  EXPECT_NEAR(*TryIsoDateTime("2000-02-29"), 36585, 0);
  EXPECT_NEAR(*TryIsoDateTime("1899-12-29T06:00:00"), -1.25, 1e-12); // before the epoch
  for (const char* bad : {"2024-05-01X", "24:00:00", "12:60:00", "12:00:60", "1:00:00",
                          "2024-05-01T12:00", "2024/05/01", "ab:cd:ef", "2024-04-31"})
    EXPECT_FALSE(TryIsoDateTime(bad).has_value()) << bad;
}

TEST(JsonToList, RulesSelectSkipAndConvert) {
  TParserItemList rules(3);
  rules[0].Name = "a";
  rules[0].Kind = TParserItem::kObjectMember;
  rules[0].Include = 0;
  rules[1].Name = "skip";
  rules[1].Kind = TParserItem::kAnyMember;
  rules[1].Include = 0;
  rules[2].Name = "num";
  rules[2].Kind = TParserItem::kValueMember;
  rules[2].DataType = 8;

  // A kind 2 rule removes the object and everything below it, not a plain value named a.
  EXPECT_EQ(Names(R"({"a":{"b":1},"c":{"a":2}})", kDefaultParserOptions, &rules), (Strings{"a"}));
  EXPECT_EQ(Names(R"({"SKIP":1,"x":{"Skip":{"y":1}},"z":2})", kDefaultParserOptions, &rules),
            (Strings{"z"}));

  std::vector<std::string> texts;
  TParserOptions options;
  options.OnConvertValue = [&texts](const TParserItem& rule, const std::string& text,
                                    Variant& value) {
    texts.push_back(text);
    if (rule.DataType != 8 || text == "keep")
      return false;
    value = Variant(int32_t{42});
    return true;
  };
  const auto rows =
      Flatten(R"({"Num":"2024-05-01","x":"2024-05-01","num":"keep","NUM":[1.5,null,true]})",
              options, &rules);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].values[0], Variant(int32_t{42}));
  EXPECT_EQ(rows[0].values[1].Type(), VT_DATE); // no rule: default typing
  EXPECT_EQ(rows[0].values[2], Variant("keep"));
  EXPECT_EQ(texts, (Strings{"2024-05-01", "keep", "1.5", "", "True"}));

  // Objects and arrays inside a member with a rule reach the conversion as their JSON text.
  texts.clear();
  const auto nested = Flatten(R"({"num":[{"k":1},[2,[3]],"keep"]})", options, &rules);
  ASSERT_EQ(nested.size(), 1u);
  EXPECT_EQ(texts, (Strings{R"({"k":1})", "[2,[3]]", "keep"}));

  // With a rule but no conversion callback the value stays unassigned.
  const auto unset = Flatten(R"({"num":5})", kDefaultParserOptions, &rules);
  ASSERT_EQ(unset.size(), 1u);
  EXPECT_TRUE(unset[0].values[0].IsEmpty());
}

TEST(JsonToList, CallbackErrorsPropagate) {
  TParserOptions options;
  options.OnObjectDone = [](int, TorvParamsList&, const TParserOptions&) {
    throw std::runtime_error("callback failed");
  };
  EXPECT_THROW(FlattenJsonText(R"({"a":1})", options, nullptr), std::runtime_error);
}

} // namespace
