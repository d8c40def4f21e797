#include "settings/str_holder.h"

#include <gtest/gtest.h>

namespace {

using kestrel::settings::TDuplicates;
using kestrel::settings::TorvStrHolder;

TEST(StrHolder, StreamsItsLinesInEveryVersion) {
  TorvStrHolder holder;
  holder.SetStrings({"Left,Left", "caf\xE9"});
  EXPECT_EQ(holder.WriteStrData(),
            (std::vector<std::string>{"", "4c6566742c4c656674", "636166c3a9"}));

  // A key XORs the UTF-8 bytes: "A" (0x41) ^ "a" (0x61) = 0x20.
  holder.KeyString.assign(1, 'a');
  holder.SetStrings({"A"});
  EXPECT_EQ(holder.WriteStrData(), (std::vector<std::string>{"a", "20"}));

  int changes = 0;
  TorvStrHolder read;
  read.OnChange = [&](TorvStrHolder&) { ++changes; };
  read.ReadStrData(2, {"", "4C6566742C4C656674", "636166c3a9", "zz41"});
  EXPECT_EQ(read.Strings(), (std::vector<std::string>{"Left,Left", "caf\xE9", " A"}));
  EXPECT_EQ(changes, 0);                  // reading from the stream is no change
  read.ReadStrData(1, {"a", "20", "88"}); // key bytes as they are, no UTF-8 step
  EXPECT_EQ(read.Strings(), (std::vector<std::string>{"A", "\xE9"}));
  read.ReadStrData(0, {"a", " ", std::string(300, 'a')}); // raw, at most 255 characters
  EXPECT_EQ(read.KeyString, "a");
  EXPECT_EQ(read.Strings(), (std::vector<std::string>{"A", std::string(255, '\0')}));
  read.Add("x");
  EXPECT_EQ(changes, 1);
}

TEST(StrHolder, WritesItsDataOnlyWhenItDiffersFromTheAncestor) {
  TorvStrHolder ancestor;
  ancestor.SetStrings({"One", "Two"});
  TorvStrHolder holder;
  EXPECT_FALSE(holder.StrDataNeeded(nullptr)); // nothing at all
  holder.SetStrings({"ONE", "two"});
  EXPECT_TRUE(holder.StrDataNeeded(nullptr));
  EXPECT_FALSE(holder.StrDataNeeded(&ancestor)); // differs only in case
  holder.SetStrings({"One", "Three"});
  EXPECT_TRUE(holder.StrDataNeeded(&ancestor));
  holder.SetStrings({"One"});
  EXPECT_TRUE(holder.StrDataNeeded(&ancestor));
}

TEST(StrHolder, SortedListsHandleDuplicates) {
  TorvStrHolder holder;
  holder.SetStrings({"b", "A", "a"});
  holder.SetSorted(true);
  EXPECT_EQ(holder.Strings(), (std::vector<std::string>{"A", "b"})); // duplicates ignored
  holder.Duplicates = TDuplicates::dupAccept;
  holder.Add("B");
  EXPECT_EQ(holder.Strings().size(), 3u);
  holder.Duplicates = TDuplicates::dupError;
  EXPECT_THROW(holder.Add("a"), std::invalid_argument);
  std::vector<std::string> copy;
  holder.AssignTo(copy);
  EXPECT_EQ(copy, holder.Strings());
}

} // namespace
