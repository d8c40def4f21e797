#include "settings/property_map.h"

#include <gtest/gtest.h>

namespace {

using kestrel::settings::ParsePropertyMapLine;

TEST(PropertyMap, SplitsEntriesAtTheirSeparatorAndIgnoresComments) {
  EXPECT_FALSE(ParsePropertyMapLine("   "));
  EXPECT_FALSE(ParsePropertyMapLine(";---short---"));
  EXPECT_FALSE(ParsePropertyMapLine("Lonely.Path")); // no value spec
  EXPECT_FALSE(ParsePropertyMapLine(",Value name")); // no property path

  const auto comma = ParsePropertyMapLine("  BegSign.Text , Start string ; note, more ");
  ASSERT_TRUE(comma);
  EXPECT_EQ(comma->PropertyPath, "BegSign.Text");
  EXPECT_EQ(comma->PropertyName(), "BegSign_Text");
  EXPECT_EQ(comma->SubKey, "");
  EXPECT_EQ(comma->ValueName, "Start string");

  const auto semicolon = ParsePropertyMapLine("Left;Left");
  ASSERT_TRUE(semicolon);
  EXPECT_EQ(semicolon->PropertyPath, "Left");
  EXPECT_EQ(semicolon->ValueName, "Left");
}

TEST(PropertyMap, NormalizesTheSubKeyPath) {
  const auto plain = ParsePropertyMapLine("MapTransl0.Strings,Translation\\Map0");
  const auto doubled = ParsePropertyMapLine("MapTransl0.Strings,\\\\Translation\\\\Map0");
  ASSERT_TRUE(plain && doubled);
  EXPECT_EQ(doubled->SubKey, "Translation");
  EXPECT_EQ(doubled->ValueName, "Map0");
  EXPECT_EQ(plain->SubKey, doubled->SubKey);
  const auto deep = ParsePropertyMapLine("a.b,A\\B\\Name");
  ASSERT_TRUE(deep);
  EXPECT_EQ(deep->SubKey, "A\\B");
  EXPECT_EQ(deep->ValueName, "Name");
}

} // namespace
