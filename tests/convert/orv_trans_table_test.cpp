#include "convert/orv_trans_table.h"

#include <gtest/gtest.h>

namespace {

using namespace kestrel::convert::orvTransTable;

// A map whose code lines start at `code`; earlier codes get empty lines.
std::vector<std::string> MapWith(std::string remove_control, std::string remove_8bit,
                                 std::string case_mode, int code, std::vector<std::string> lines) {
  std::vector<std::string> map{std::move(remove_control), std::move(remove_8bit),
                               std::move(case_mode)};
  map.resize(3 + static_cast<std::size_t>(code));
  map.insert(map.end(), lines.begin(), lines.end());
  return map;
}

TEST(OrvTransTable, WholesaleRemovalComesBeforeEntries) {
  TorvTranslationTable table;
  table.LoadMap({"Y"});
  EXPECT_EQ(Translate(table, "A\tB"), "AB");
  EXPECT_EQ(Translate(table, "\xE9\x01"), "\xE9");
  table.LoadMap(MapWith("N", "Y", "", 9, {"C65"})); // tab -> A
  EXPECT_EQ(Translate(table, "x\ty\xE9\x80z"), "xAyz");
  // An entry for a removed byte has no effect.
  table.LoadMap(MapWith("Y", "", "", 9, {"C65"}));
  EXPECT_EQ(Translate(table, "x\ty"), "xy");
}

TEST(OrvTransTable, CodeLines) {
  TorvTranslationTable table;
  auto map = MapWith("", "", "", 0, {"R"});
  map.resize(3 + 65);
  map.push_back("C66"); // code 65: A -> B
  table.LoadMap(map);
  EXPECT_EQ(Translate(table, std::string("A\0A\0C", 5)), "BBC");

  table.LoadMap(MapWith("", "", "", 36, {"Cxyz", "C", "C321", "C-1", "r", "c66"}));
  EXPECT_EQ(Translate(table, "$%&'()"), "$%A\xFF()"); // bad number: itself; lone C: none
  ASSERT_NE(table.Entry(36), nullptr);
  EXPECT_EQ(table.Entry(36)->Text, "$");
  EXPECT_EQ(table.Entry(37), nullptr);

  table.LoadMap(MapWith("", "", "", 10, {"S#0D#0A", "S##", "S#G1", "S", "S#4"}));
  EXPECT_EQ(Translate(table, "a\nb\x0B"
                             "c\x0C"
                             "d\x0D"
                             "e\x0E"),
            "a\r\nb#c#G1de#4");
  EXPECT_EQ(table.LongestReplacement, 3);
}

TEST(OrvTransTable, CaseModeComesFirst) {
  TorvTranslationTable table;
  table.LoadMap(MapWith("", "", "1", 97, {"C120"}));
  EXPECT_EQ(Translate(table, "a"), "A");
  EXPECT_EQ(Translate(table, "caf\xE9"), "CAF\xC9"); // the ANSI code page's own case rules
  table.LoadMap(MapWith("", "", "2", 97, {"C120"}));
  EXPECT_EQ(Translate(table, "ABC"), "xbc");
  table.LoadMap({"", "", "x"});
  EXPECT_EQ(table.CaseMode, cmNone);
}

TEST(OrvTransTable, LinesBeyondTheLastCodeWrapAround) {
  TorvTranslationTable table;
  auto map = MapWith("", "", "", 65, {"C66"});
  map.resize(3 + 256 + 65);
  map.push_back("C67"); // code 65 again: the later line wins
  table.LoadMap(map);
  EXPECT_EQ(Translate(table, "A"), "C");
  map.push_back("");
  map.resize(3 + 512 + 65);
  map.push_back("junk"); // a later line with no entry removes the earlier one
  table.LoadMap(map);
  EXPECT_EQ(Translate(table, "A"), "A");
}

TEST(OrvTransTable, EmptyMapAndReload) {
  TorvTranslationTable table;
  EXPECT_EQ(Translate(table, "a\tb\xFF"), "a\tb\xFF");
  table.LoadMap({});
  EXPECT_EQ(Translate(table, "a\tb\xFF"), "a\tb\xFF");
  EXPECT_EQ(Translate(table, ""), "");
  EXPECT_EQ(Translate(nullptr, "x"), "x");
  table.LoadMap(MapWith("Y", "Y", "1", 0, {"R"}));
  table.LoadMap({});
  EXPECT_FALSE(table.RemoveControl);
  EXPECT_FALSE(table.Remove8Bit);
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_EQ(Translate(table, "a\tb"), "a\tb");
}

TEST(OrvTransTable, SetEntryAndMapText) {
  TorvTranslationTable table;
  table.SetEntry(200, taString, "xyz");
  EXPECT_EQ(table.Count(), 201u);
  table.SetEntry(66, taReplace, "");
  EXPECT_EQ(Translate(table, "ABC\xC8"), "ACxyz"); // an empty replacement writes nothing
  table.SetEntry(200, taNone, "");
  EXPECT_EQ(table.Entry(200), nullptr);
  EXPECT_EQ(Translate(table, "\xC8"), "\xC8");

  table.LoadMapText("Y\r\n\r\n2\nR\rS#41#42\r\n");
  EXPECT_TRUE(table.RemoveControl);
  EXPECT_EQ(table.CaseMode, cmLower);
  EXPECT_EQ(Translate(table, std::string("Q\0\x01", 3)), "q");
  table.LoadMapText("\n\n\nC9");
  EXPECT_EQ(Translate(table, std::string(1, '\0')), "\t");
}

TEST(OrvTransTable, DecodeHashEscapes) {
  EXPECT_EQ(DecodeHashEscapes("#41#62c"), "Abc");
  EXPECT_EQ(DecodeHashEscapes("###41"), "#A");
  EXPECT_EQ(DecodeHashEscapes("#"), "#");
  EXPECT_EQ(DecodeHashEscapes("#4"), "#4");
  EXPECT_EQ(DecodeHashEscapes("#ff#00x"), std::string("\xFF\0x", 3));
  EXPECT_EQ(DecodeHashEscapes("#zz#"), "#zz#");
}

} // namespace
