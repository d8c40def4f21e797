// The standard fields of a result row and the standard parser items.
#include "module_host.h"

#include "framework/standard_fields.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using testing::ModuleHost;

TEST(StandardFields, WithAndWithoutClient) {
  TorvParamsList list;
  EXPECT_EQ(
      AddStandardFields(
          &list,
          {.ClientName = "client", .SourceName = "Short", .SourceLongName = "Long", .SourceId = 3}),
      4);
  EXPECT_EQ(list.Items(0)->Name, "DATE_TIME_STAMP");
  EXPECT_EQ(list.Items(0)->Value.Type(), VT_DATE);
  EXPECT_EQ(list.GetValue("DATA_SOURCE_ID"), Variant(3));
  EXPECT_EQ(list.GetValue("DATA_SOURCE_FULL_NAME"), Variant("Long"));
  EXPECT_EQ(list.GetValue("DATA_SOURCE_NAME"), Variant("Short"));
  EXPECT_TRUE(list.GetValue("CLIENTID").IsEmpty());

  TorvParamsList full;
  EXPECT_EQ(AddStandardFields(&full, {.FullText = "{a}{b}",
                                      .BlockText = "a",
                                      .ClientName = "client",
                                      .SourceName = "Short",
                                      .SourceLongName = "Long",
                                      .ClientId = 7,
                                      .SourceId = 3}),
            7);
  const char* order[] = {"FULL_DATA_PACKET", "DATA_PACKET",           "DATE_TIME_STAMP",
                         "DATA_SOURCE_ID",   "DATA_SOURCE_FULL_NAME", "CLIENTID",
                         "DATA_SOURCE_NAME"};
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(full.Items(i)->Name, order[i]);
  EXPECT_EQ(full.GetValue("DATA_SOURCE_NAME"), Variant("client"));
  EXPECT_EQ(full.GetValue("CLIENTID"), Variant(7));
  EXPECT_EQ(
      AddStandardFields(nullptr, {.FullText = "x", .BlockText = "x", .ClientId = 1, .SourceId = 1}),
      0);

  // The time stamp is today's local date: a day count in this century.
  const double stamp = full.GetValue("DATE_TIME_STAMP").Raw().date;
  EXPECT_GT(stamp, 36526.0); // 1 January 2000
  EXPECT_LT(stamp, 73051.0); // 1 January 2100
}

TEST(StandardFields, PublishedItems) {
  ModuleHost host(&CreateTorvPlugin);
  TorvPlugin& module = host.Module();
  AddStandardItems(module, false);
  EXPECT_EQ(module.ParserItems.size(), 6u);
  AddStandardItems(module, true);
  ASSERT_EQ(module.ParserItems.size(), 13u);
  EXPECT_EQ(module.ParserItems[12].Name, "CLIENTID");
  EXPECT_EQ(ParserItemsText({module.ParserItems[2]}),
            "Datetime stamp|DATE_TIME_STAMP|DateTime|\r\n");
  EXPECT_TRUE(IsStandardItem("clientid"));
  EXPECT_TRUE(IsStandardItem("Data_Source_Full_Name"));
  EXPECT_FALSE(IsStandardItem("CLIENT"));
}

} // namespace
} // namespace kestrel
