#include "json/json_arena.h"
#include "json/json_document.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

namespace {

using namespace kestrel::json;
using kestrel::platform::WideString;

TEST(JsonArena, AlignsEveryRequestAndGrowsPastOneBlock) {
  JsonArena* arena = JsonArena::Create(64);
  for (size_t align : {1u, 2u, 8u, 16u, 64u}) {
    void* p = arena->Allocate(3, align);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % align, 0u) << align;
  }
  // Larger than any block: a block of its own, fully writable.
  auto* big = static_cast<unsigned char*>(arena->Allocate(size_t{1} << 20, 8));
  big[0] = 1;
  big[(size_t{1} << 20) - 1] = 2;
  void* after = arena->Allocate(8, 8);
  EXPECT_NE(after, nullptr);
  JsonArena::Destroy(arena);
}

// Arenas made one after another may reuse the first block of one destroyed before; two alive
// at once never share memory, and a first block is never smaller than asked for.
TEST(JsonArena, ReusedFirstBlocksAreLargeEnoughAndNeverShared) {
  for (const size_t size : {64u, 40000u, 300u, 65536u, 2048u, 65536u}) {
    JsonArena* first = JsonArena::Create(size);
    JsonArena* second = JsonArena::Create(size);
    auto* a = static_cast<unsigned char*>(first->Allocate(size, 1));
    auto* b = static_cast<unsigned char*>(second->Allocate(size, 1));
    std::memset(a, 0xA5, size);
    std::memset(b, 0x5A, size);
    for (size_t i = 0; i < size; ++i)
      ASSERT_TRUE(a[i] == 0xA5 && b[i] == 0x5A) << size << " at " << i;
    JsonArena::Destroy(first);
    JsonArena::Destroy(second);
  }
}

// A document built in an arena can be changed with heap nodes and handed to a heap container;
// every node is freed exactly once (the sanitizer builds check that).
TEST(JsonArena, DocumentsMixArenaAndHeapNodes) {
  TJsonPtr doc =
      TJson::Parse(R"({"list":[1,2,3],"name":"a long string, beyond small-string size"})");
  ASSERT_NE(doc, nullptr);
  auto& object = dynamic_cast<TJsonObject&>(*doc);
  auto& list = dynamic_cast<TJsonList&>(*object.ValueByName(OLESTR("list")));
  list.SetItem(0, std::make_unique<TJsonString>(WideString(100, u'x')));
  list.RemoveItem(1, true);
  for (int i = 0; i < 100; ++i) // grows the child list inside the arena
    list.AppendItem(std::make_unique<TJsonNumber>(i));
  ASSERT_EQ(list.ItemCount(), 102);
  EXPECT_EQ(dynamic_cast<TJsonNumber&>(*list.GetItem(101)).Value(), 99);
  object.AppendItem(std::make_unique<TJsonMember>(OLESTR("extra"), TJson::Parse("[[],{}]")));

  TJsonList holder; // a heap list now owns the document, arena and all
  holder.AppendItem(std::move(doc));
  EXPECT_EQ(TJson::Serialize(&holder).size(), 1u + TJson::Serialize(holder.GetItem(0)).size() + 1u);
}

// A document read into an arena is freed without visiting its nodes only while none of them
// holds memory of its own. Each change below gives one node such memory, in a document of its
// own; the sanitizer builds check that it is freed with the document.
TEST(JsonArena, ChangesAfterReadingAreFreedWithTheDocument) {
  const WideString long_text(40, u'y'); // beyond any short-string buffer
  const auto member = [](const TJsonPtr& doc) -> TJsonMember& {
    return dynamic_cast<TJsonMember&>(*doc->GetItem(0));
  };
  const std::function<void(const TJsonPtr&)> changes[] = {
      [&](const TJsonPtr& doc) { member(doc).SetName(long_text); },
      [&](const TJsonPtr& doc) { member(doc).SetValue(std::make_unique<TJsonString>(long_text)); },
      [&](const TJsonPtr& doc) {
        EXPECT_EQ(dynamic_cast<TJsonString&>(*member(doc).Value()).Value().size(), 30u);
      },
      [&](const TJsonPtr& doc) {
        EXPECT_EQ(dynamic_cast<TJsonObject&>(*doc).IndexByName(OLESTR("o")), 1);
      },
  };
  for (const auto& change : changes) {
    const TJsonPtr doc = TJson::Parse(R"({"member":"a text of thirty characters...","o":{}})");
    ASSERT_NE(doc, nullptr);
    change(doc);
  }
  // A number beyond the double range keeps the text it was read from.
  const TJsonPtr large = TJson::Parse("[123456789012345678901234567890e4000]");
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(large->ItemCount(), 1);
}

TEST(JsonArena, LargeDocumentsSpanManyBlocks) {
  std::string text = "[";
  for (int i = 0; i < 10000; ++i)
    text += R"({"k":"value number )" + std::to_string(i) + R"(","n":)" + std::to_string(i) + "},";
  text += "]";
  const TJsonPtr doc = TJson::Parse(text);
  ASSERT_NE(doc, nullptr);
  ASSERT_EQ(doc->ItemCount(), 10000);
  const auto& last = dynamic_cast<const TJsonObject&>(*doc->GetItem(9999));
  EXPECT_EQ(dynamic_cast<const TJsonString&>(*last.ValueByName(OLESTR("k"))).Value(),
            OLESTR("value number 9999"));
  // A failure deep inside a large document frees what was built.
  text.back() = ' ';
  EXPECT_EQ(TJson::Parse(text), nullptr);
}

} // namespace
