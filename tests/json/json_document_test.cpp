#include "json/json_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kestrel::json;
using kestrel::platform::WideString;

struct Variant {
  Variant() { VariantInit(&v); }
  ~Variant() { VariantClear(&v); }
  VARIANT v;
};

TEST(JsonModel, KindsAndVariants) {
  const TJsonPtr doc = TJson::Parse(R"([1.5,"s",true,null,[],{}])");
  ASSERT_NE(doc, nullptr);
  const TJsonKind kinds[] = {jsNumber, jsString, jsBoolean, jsNull, jsList, jsObject};
  const char* names[] = {"jsNumber", "jsString", "jsBoolean", "jsNull", "jsList", "jsObject"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(doc->GetItem(i)->Kind(), kinds[i]);
    EXPECT_STREQ(doc->GetItem(i)->KindName(), names[i]);
  }
  Variant v;
  doc->GetItem(0)->GetVariant(v.v);
  EXPECT_EQ(v.v.vt, VT_R8);
  EXPECT_EQ(v.v.dblVal, 1.5);
  doc->GetItem(1)->GetVariant(v.v);
  ASSERT_EQ(v.v.vt, VT_BSTR);
  EXPECT_EQ(WideString(v.v.bstrVal), OLESTR("s"));
  doc->GetItem(2)->GetVariant(v.v);
  EXPECT_EQ(v.v.vt, VT_BOOL);
  EXPECT_EQ(v.v.boolVal, VARIANT_TRUE);
  for (int i = 3; i < 6; ++i) {
    doc->GetItem(i)->GetVariant(v.v);
    EXPECT_EQ(v.v.vt, VT_NULL);
  }
  EXPECT_EQ(doc->GetItem(6), nullptr);
  EXPECT_EQ(doc->GetItem(-1), nullptr);

  TJsonMember member(OLESTR("m"), nullptr);
  EXPECT_EQ(member.Kind(), jsBase);
  TJsonNumber number;
  v.v.vt = VT_I4; // SysFree of the old string happened in GetVariant's clear
  v.v.lVal = 7;
  number.SetVariant(v.v);
  EXPECT_EQ(number.Value(), 7);
}

TEST(JsonModel, GetItemByKey) {
  const TJsonPtr doc = TJson::Parse(R"({"a":10,"b":[5,6]})");
  Variant key;
  key.v.vt = VT_BSTR;
  key.v.bstrVal = SysAllocString(OLESTR("b"));
  TJsonBase* b = doc->GetItemByKey(key.v);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Kind(), jsList);
  Variant index;
  index.v.vt = VT_I4;
  index.v.lVal = 1;
  EXPECT_EQ(dynamic_cast<TJsonNumber&>(*b->GetItemByKey(index.v)).Value(), 6);
  EXPECT_EQ(b->GetItemByKey(key.v), nullptr); // a list ignores string keys
  // A numeric key on an object yields the member itself.
  EXPECT_NE(dynamic_cast<TJsonMember*>(doc->GetItemByKey(index.v)), nullptr);
}

TEST(JsonModel, DecimalKeysSelectByTheirRoundedValue) {
  const TJsonPtr doc = TJson::Parse("[10,20,30]");
  ASSERT_NE(doc, nullptr);
  auto decimal = [&doc](uint8_t scale, bool negative, uint32_t high, uint64_t low) {
    Variant key;
    key.v.vt = VT_DECIMAL;
    key.v.decVal.scale = scale;
    key.v.decVal.sign = negative ? 0x80 : 0;
    key.v.decVal.Hi32 = high;
    key.v.decVal.Lo64 = low;
    const auto* number = dynamic_cast<const TJsonNumber*>(doc->GetItemByKey(key.v));
    return number ? number->Value() : -1.0L;
  };
  EXPECT_EQ(decimal(1, false, 0, 15), 30); // 1.5 rounds to 2
  EXPECT_EQ(decimal(0, true, 0, 1), -1);   // -1: outside
  EXPECT_EQ(decimal(0, false, 1, 0), -1);  // 2^64: outside
}

TEST(JsonModel, TypedAccessors) {
  const TJsonPtr doc = TJson::Parse(R"({"i":-7.9,"s":"x","b":true,"n":null})");
  auto& obj = dynamic_cast<TJsonObject&>(*doc);
  EXPECT_EQ(obj.ItemAsInteger(0), -7);
  EXPECT_DOUBLE_EQ(obj.ItemAsFloat(0), -7.9);
  EXPECT_EQ(obj.ItemAsWideString(1), OLESTR("x"));
  EXPECT_EQ(obj.ItemAsString(1), "x");
  EXPECT_TRUE(obj.ItemAsBoolean(2));
  EXPECT_THROW(obj.ItemAsInteger(1), EInvalidCast);
  EXPECT_THROW(obj.ItemAsBoolean(3), EInvalidCast);
  EXPECT_EQ(obj.ItemAsInteger(9), 0); // no child
  EXPECT_EQ(obj.ItemAsString(9), "");
  std::string name;
  EXPECT_EQ(obj.GetItemAndName(2, name), obj.ValueByName(OLESTR("b")));
  EXPECT_EQ(name, "b");

  const TJsonPtr list = TJson::Parse("[3,\"t\"]");
  auto& l = dynamic_cast<TJsonList&>(*list);
  EXPECT_EQ(l.GetItemAndName(1, name), l.GetItem(1));
  EXPECT_EQ(name, "1");
  EXPECT_EQ(l.ItemAsInteger(0), 3);
  EXPECT_THROW(l.ItemAsFloat(1), EInvalidCast);
}

TEST(JsonModel, AppendRemoveFind) {
  TJsonList list;
  EXPECT_EQ(list.AppendItem(nullptr), -1);
  TJsonBase* items[4];
  for (int i = 0; i < 4; ++i) {
    auto n = std::make_unique<TJsonNumber>(i);
    items[i] = n.get();
    EXPECT_EQ(list.AppendItem(std::move(n)), i);
  }
  EXPECT_EQ(list.FindItem(items[2]), 2);
  list.RemoveItem(0, false); // the last child moves into the hole
  EXPECT_EQ(list.GetItem(0), items[3]);
  EXPECT_EQ(list.ItemCount(), 3);
  list.RemoveItem(0, true); // later children move down
  EXPECT_EQ(list.GetItem(0), items[1]);
  EXPECT_EQ(list.GetItem(1), items[2]);
  list.RemoveItem(1, false);
  EXPECT_EQ(list.ItemCount(), 1);
  list.RemoveItem(5, true);
  EXPECT_EQ(list.ItemCount(), 1);
  list.SetItem(0, std::make_unique<TJsonNull>());
  EXPECT_EQ(list.GetItem(0)->Kind(), jsNull);
  EXPECT_EQ(list.FindItem(items[1]), -1);
}

TEST(JsonModel, ObjectWithoutIndexScansMembers) {
  TJsonObject obj(false);
  obj.AppendItem(std::make_unique<TJsonMember>(OLESTR("k"), std::make_unique<TJsonNumber>(1)));
  obj.AppendItem(std::make_unique<TJsonMember>(OLESTR("k"), std::make_unique<TJsonNumber>(2)));
  EXPECT_EQ(obj.Index().Count(), 0u);
  EXPECT_EQ(obj.IndexByName(OLESTR("k")), 0);
  EXPECT_EQ(obj.NameAt(1), OLESTR("k"));
  // Without the index the second member's value resolves by name to the first.
  EXPECT_EQ(dynamic_cast<TJsonNumber&>(*obj.ValueAt(1)).Value(), 1);

  TJsonObject indexed(true);
  indexed.AppendItem(std::make_unique<TJsonMember>(OLESTR("k"), std::make_unique<TJsonNumber>(1)));
  indexed.AppendItem(std::make_unique<TJsonMember>(OLESTR("k"), std::make_unique<TJsonNumber>(2)));
  EXPECT_EQ(indexed.Index().Count(), 1u);
  EXPECT_EQ(indexed.ValueAt(1), nullptr);
}

// Checks the AA-tree invariants below `node` and returns the number of nodes.
size_t CheckAa(const TJsonBalTree& tree, int32_t node) {
  if (node == TJsonBalTree::kBottom)
    return 0;
  const TJsonBalNode& n = tree.Node(node);
  const TJsonBalNode& left = tree.Node(n.left);
  const TJsonBalNode& right = tree.Node(n.right);
  EXPECT_EQ(left.level + 1, n.level);
  EXPECT_TRUE(right.level == n.level || right.level + 1 == n.level);
  EXPECT_LT(tree.Node(right.right).level, n.level);
  if (n.left != TJsonBalTree::kBottom) {
    EXPECT_LT(tree.Name(n.left), tree.Name(node));
  }
  if (n.right != TJsonBalTree::kBottom) {
    EXPECT_GT(tree.Name(n.right), tree.Name(node));
  }
  return 1 + CheckAa(tree, n.left) + CheckAa(tree, n.right);
}

TEST(JsonModel, NameIndexStaysBalancedAndFindsEveryName) {
  std::mt19937 random(42);
  std::vector<int> keys(2000);
  for (size_t i = 0; i < keys.size(); ++i)
    keys[i] = static_cast<int>(i);
  std::shuffle(keys.begin(), keys.end(), random);
  TJsonBalTree tree;
  EXPECT_EQ(tree.Root(), TJsonBalTree::kBottom);
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::string s = std::to_string(keys[i]);
    EXPECT_TRUE(tree.Insert(WideString(s.begin(), s.end()), static_cast<int32_t>(i)));
  }
  EXPECT_FALSE(tree.Insert(OLESTR("7"), 99999));
  EXPECT_EQ(CheckAa(tree, tree.Root()), keys.size());
  EXPECT_LE(tree.Node(tree.Root()).level, 12); // about log2(n)
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::string s = std::to_string(keys[i]);
    const WideString name(s.begin(), s.end());
    EXPECT_EQ(tree.Search(name), static_cast<int32_t>(i));
    kestrel::platform::WideStringView found;
    ASSERT_TRUE(tree.FindPosition(static_cast<int32_t>(i), found));
    EXPECT_EQ(found, name);
  }
  EXPECT_EQ(tree.Search(OLESTR("x")), -1);
  tree.Clear();
  EXPECT_EQ(tree.Search(OLESTR("7")), -1);
  EXPECT_TRUE(tree.Insert(OLESTR("7"), 1));
}

TEST(JsonWriter, CompactTextAndEscapes) {
  TJsonString s(WideString(OLESTR("\t/")) + OLESTR("\x1f") + OLESTR("\"\\\u00e9\U0001F600"));
  EXPECT_EQ(TJson::Serialize(&s), "\"\\t\\/\\u001F\\\"\\\\\xC3\xA9\xF0\x9F\x98\x80\"");
  const TJsonPtr doc = TJson::Parse(R"( { "a" : [ 1 , 2.5 , -0.001 , 1e20 , true , null ] ,
                                          "b" : { } , "c":"x" } )");
  EXPECT_EQ(TJson::Serialize(doc.get()), R"({"a":[1,2.5,-0.001,1e+20,true,null],"b":{},"c":"x"})");
  TJsonNumber third(1.0L / 3);
  EXPECT_EQ(TJson::Serialize(&third), "0.333333333333333");
  TJsonMember bare(OLESTR("m"), nullptr);
  EXPECT_EQ(TJson::Serialize(&bare), "\"m\":");
  EXPECT_EQ(TJson::Serialize(nullptr), "");
}

} // namespace

namespace {

// Names go into an object's index on its first look-up; until then renaming, replacing or
// removing members must not change what the index finds.
TEST(JsonModel, IndexHoldsTheNamesMembersHadWhenRead) {
  const TJsonPtr renamed = TJson::Parse(R"({"a":1,"b":2,"a":3})");
  auto& object = dynamic_cast<TJsonObject&>(*renamed);
  dynamic_cast<TJsonMember&>(*object.GetItem(0)).MutableName() = WideString(OLESTR("z"));
  dynamic_cast<TJsonMember&>(*object.GetItem(1)).SetName(OLESTR("y"));
  EXPECT_EQ(object.IndexByName(OLESTR("a")), 0);
  EXPECT_EQ(object.IndexByName(OLESTR("b")), 1);
  EXPECT_EQ(object.IndexByName(OLESTR("z")), -1);
  EXPECT_EQ(object.NameAt(2), OLESTR(""));

  const TJsonPtr removed = TJson::Parse(R"({"a":1,"b":2,"c":3})");
  auto& shrunk = dynamic_cast<TJsonObject&>(*removed);
  shrunk.RemoveItem(0, true);
  EXPECT_EQ(shrunk.IndexByName(OLESTR("c")), 2); // positions as read
  EXPECT_EQ(shrunk.Index().Count(), 3u);

  const TJsonPtr replaced = TJson::Parse(R"({"a":1})");
  auto& swapped = dynamic_cast<TJsonObject&>(*replaced);
  swapped.SetItem(0, std::make_unique<TJsonMember>(OLESTR("n"), std::make_unique<TJsonNull>()));
  swapped.AppendItem(std::make_unique<TJsonMember>(OLESTR("a"), std::make_unique<TJsonNull>()));
  EXPECT_EQ(swapped.IndexByName(OLESTR("a")), 0);
  EXPECT_EQ(swapped.IndexByName(OLESTR("n")), -1);
}

TEST(JsonModel, ConcurrentLookUpsIndexOnce) {
  std::string text = "{";
  for (int i = 0; i < 200; ++i)
    text.append("\"m").append(std::to_string(i % 150)).append("\":").append(std::to_string(i)) +=
        ',';
  const TJsonPtr doc = TJson::Parse(text + "}");
  ASSERT_NE(doc, nullptr);
  const auto& object = dynamic_cast<const TJsonObject&>(*doc);
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  std::atomic<int> started{0}; // the first look-ups meet, however late each thread got going
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&object, &wrong, &started] {
      ++started;
      while (started.load() < 4)
        std::this_thread::yield();
      for (int i = 0; i < 150; ++i) {
        const std::string digits = std::to_string(i);
        WideString name(1, u'm');
        name.append(digits.begin(), digits.end());
        if (object.IndexByName(name) != i)
          ++wrong;
      }
    });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(object.Index().Count(), 150u);
}

} // namespace

namespace {

// A string read from text keeps it in the document until asked for a WideString; every way of
// reading and changing it must see one and the same text.
TEST(JsonModel, StringsReadFromTextBehaveAsAnyOther) {
  const TJsonPtr doc =
      TJson::Parse(R"(["a value longer than any short string", "\u00e9t\u00e9", ""])");
  ASSERT_NE(doc, nullptr);
  auto& first = dynamic_cast<TJsonString&>(*doc->GetItem(0));
  const WideString expected = OLESTR("a value longer than any short string");
  Variant v;
  first.GetVariant(v.v);
  ASSERT_EQ(v.v.vt, VT_BSTR);
  EXPECT_EQ(WideString(v.v.bstrVal, SysStringLen(v.v.bstrVal)), expected);
  EXPECT_EQ(first.Text(), expected);

  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  std::atomic<int> started{0}; // the first reads meet, however late each thread got going
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      ++started;
      while (started.load() < 4)
        std::this_thread::yield();
      if (first.Value() != expected || &first.Value() != &first.Value())
        ++wrong;
    });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, 0);

  auto& second = dynamic_cast<TJsonString&>(*doc->GetItem(1));
  second.MutableValue() += OLESTR("!");
  EXPECT_EQ(second.Text(), OLESTR("\u00e9t\u00e9!"));
  auto& empty = dynamic_cast<TJsonString&>(*doc->GetItem(2));
  VariantClear(&v.v);
  v.v.vt = VT_I4;
  v.v.lVal = 12;
  empty.SetVariant(v.v);
  EXPECT_EQ(empty.Text(), OLESTR("12"));
  EXPECT_EQ(dynamic_cast<TJsonList&>(*doc).ItemAsWideString(0), expected);
  EXPECT_EQ(TJson::Serialize(doc.get()),
            "[\"a value longer than any short string\",\"\xC3\xA9t\xC3\xA9!\",\"12\"]");
}

} // namespace
