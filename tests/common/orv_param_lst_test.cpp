#include "common/assertion.h"
#include "common/orv_param_lst.h"
#include "common/variant_convert.h"

#include <gtest/gtest.h>

#include <cctype>

namespace kestrel {
namespace {

TEST(ParamsList, BlankNamesAreRejectedAndPaddedNamesKept) {
  TorvParamsList list;
  EXPECT_EQ(list.Add(" \t\x01 ", 1), nullptr);
  EXPECT_EQ(list.Add("", 1), nullptr);
  EXPECT_EQ(list.Count(), 0);

  TorvParamsListItem* item = list.Add(" a ", 5);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Name, " a ");
  EXPECT_EQ(item->State, kItemStateAssigned);
  EXPECT_EQ(list.IndexOf(" A "), 0);
  EXPECT_EQ(list.IndexOf("a"), -1);
}

TEST(ParamsList, LookUpIgnoresLetterCaseIncludingAnsiLetters) {
  TorvParamsList list;
  list.Add("Alpha", 1);
  list.Add("\xC4RGER", 2); // "ÄRGER" in code page 1252
  list.Add("ALPHA", 3);    // duplicates allowed; the first match wins
  EXPECT_EQ(list.IndexOf("alpha"), 0);
  EXPECT_EQ(list.IndexOf("alpha", 1), 2);
  EXPECT_EQ(list.IndexOf("\xE4rger"), 1);
  EXPECT_EQ(list.Items(1)->Key, "\xE4rger");
}

TEST(ParamsList, RangesClampAndStopAtRowMarkers) {
  TorvParamsList list;
  list.Add("a", 1);
  list.AddNewRow();
  list.Add("X", 2);
  EXPECT_EQ(list.IndexOf("X", 0, kStopAtRowEnd), -1);
  EXPECT_EQ(list.IndexOf("X", 2, kStopAtRowEnd), 2);
  EXPECT_EQ(list.IndexOf(kRowMarkerName, 0, kStopAtRowEnd), 1); // the marker is compared
  EXPECT_EQ(list.IndexOf("X", -5, 99), 2);
  EXPECT_EQ(list.IndexOf("X", 0, 1), -1);
  EXPECT_EQ(list.IndexOf("a", 3), -1);
  EXPECT_EQ(list.Find("nothing"), nullptr);
  TorvParamsList empty;
  EXPECT_EQ(empty.IndexOf("a"), -1);
}

TEST(ParamsList, GetAndSetValue) {
  TorvParamsList list;
  EXPECT_TRUE(list.GetValue("missing").IsEmpty());
  EXPECT_EQ(VariantToInt64(list.GetValueDef("missing", 7)), 7);
  EXPECT_EQ(list.SetValue("missing", 1, false), nullptr);
  EXPECT_EQ(list.Count(), 0);

  TorvParamsListItem* added = list.SetValue("RESULT", std::string("text"), true);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->State, kItemStateAssigned);
  added->State = 9;
  EXPECT_EQ(list.SetValue("result", 4, false), added);
  EXPECT_EQ(added->State, 9); // kept
  EXPECT_EQ(VariantToInt64(list.GetValue("Result")), 4);
  EXPECT_EQ(list.SetValue("  ", 1, true), nullptr);

  EXPECT_THROW(list.GetValueStrict("nope"), EAssertionFailed);
  EXPECT_THROW(list.SetValueStrict("nope", 1), EAssertionFailed);
  list.SetValueStrict("RESULT", 5);
  EXPECT_EQ(VariantToInt64(list.GetValueStrict("RESULT")), 5);
}

TEST(ParamsList, TextIsStoredAsBstr) {
  TorvParamsList list;
  list.Add("s", std::string("caf\xE9")); // é in code page 1252
  const Variant value = list.GetValue("s");
  ASSERT_EQ(value.Type(), VT_BSTR);
  EXPECT_EQ(VariantToWide(value), platform::WideString(OLESTR("caf\u00e9")));
}

TEST(ParamsList, DirectItemsStartUnassignedWhenEmptyOrNull) {
  EXPECT_EQ(TorvParamsListItem("a", Variant()).State, 0);
  EXPECT_EQ(TorvParamsListItem("a", Variant::Null()).State, 0);
  EXPECT_EQ(TorvParamsListItem("a", 0).State, 2);
}

TEST(ParamsList, DeleteInsertAndSlotRules) {
  TorvParamsList list;
  list.Add("a", 1);
  list.Add("b", 2);
  list.Delete(5); // past the end: ignored
  EXPECT_EQ(list.Count(), 2);
  EXPECT_THROW(list.Delete(-1), EAssertionFailed);
  list.Delete(0);
  EXPECT_EQ(list.Items(0)->Name, "b");
  EXPECT_EQ(list.Insert(0, "z", 0)->Name, "z");
  EXPECT_EQ(list.Items(0)->Name, "z");
  EXPECT_EQ(list.Insert(0, " ", 0), nullptr);
  EXPECT_THROW(list.Insert(9, "q", 0), EAssertionFailed);
  EXPECT_THROW(list.PutItem(2, CreateParamsListItem("n", 1)), EAssertionFailed);
  list.PutItem(1, CreateParamsListItem("n", 1));
  EXPECT_EQ(list.Items(1)->Name, "n");
  EXPECT_EQ(list.Items(-1), nullptr);
  EXPECT_EQ(list.Items(2), nullptr);
}

TEST(ParamsList, RowMarkers) {
  TorvParamsList list;
  list.AddNewRow(); // an empty list also receives one
  list.AddNewRow();
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0)->Name, kRowMarkerName);
  EXPECT_EQ(list.Items(0)->DataType, kRowMarkerType);
  EXPECT_TRUE(list.Items(0)->Value.IsNull());

  list.Add("a", 1);
  list.Add("b", 2);
  int index = -1;
  bool marker = true;
  ASSERT_TRUE(list.FindRowEnd(1, index, marker));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(marker);
  list.AddNewRow();
  ASSERT_TRUE(list.FindRowEnd(-3, index, marker));
  EXPECT_EQ(index, 0);
  EXPECT_TRUE(marker);
  ASSERT_TRUE(list.FindRowEnd(1, index, marker));
  EXPECT_EQ(index, 3);
  EXPECT_TRUE(marker);
  EXPECT_FALSE(list.FindRowEnd(4, index, marker));
}

TEST(ParamsList, AppendCopiesItemsWithTheirAttributes) {
  TorvParamsList source;
  TorvParamsListItem* typed = source.Add("t", 1);
  typed->DataType = 8;
  typed->State = 5;
  source.Add("OLESTR(", std::string(")x"));

  TorvParamsList target;
  EXPECT_FALSE(target.AppendList(nullptr));
  TorvParamsList empty;
  EXPECT_FALSE(target.AppendList(&empty));
  EXPECT_TRUE(target.AppendList(&source));
  ASSERT_EQ(target.Count(), 2);
  EXPECT_EQ(target.Items(0)->DataType, 8);
  EXPECT_EQ(target.Items(0)->State, 5);

  EXPECT_TRUE(target.AppendRange(&source, 1, -1));
  EXPECT_EQ(target.Count(), 3);
  EXPECT_EQ(target.Items(2)->Name, "OLESTR(");
  EXPECT_TRUE(target.AppendRange(&source, 1, 0)); // empty range is still true
  EXPECT_EQ(target.Count(), 3);
  EXPECT_TRUE(target.AppendRange(&source, -4, 40));
  EXPECT_EQ(target.Count(), 5);
  EXPECT_FALSE(target.AppendRange(&empty, 0, 0));

  EXPECT_TRUE(target.AppendList(&target)); // appending to itself copies each item once
  EXPECT_EQ(target.Count(), 10);
}

TEST(ParamsList, AppendRowClosesRowsOnce) {
  TorvParamsList row;
  row.Add(")a", 1);
  TorvParamsList target;
  target.AppendRow(&row);
  target.AppendRow(&row);
  ASSERT_EQ(target.Count(), 4);
  EXPECT_TRUE(target.Items(1)->IsRowMarker());
  EXPECT_TRUE(target.Items(3)->IsRowMarker());
  row.AddNewRow();
  target.AppendRow(&row);
  EXPECT_EQ(target.Count(), 6);
  target.AppendRow(nullptr); // last item is a marker already
  EXPECT_EQ(target.Count(), 6);
}

TEST(ParamsList, IdentityAndSignature) {
  auto list = std::make_unique<TorvParamsList>();
  TorvParamsList other;
  // Registry text form: {8-4-4-4-12} upper-case hexadecimal digits.
  const std::string& id = list->InstanceId();
  ASSERT_EQ(id.size(), 38u);
  for (std::size_t i = 0; i < id.size(); ++i) {
    if (i == 0)
      EXPECT_EQ(id[i], '{');
    else if (i == 37)
      EXPECT_EQ(id[i], '}');
    else if (i == 9 || i == 14 || i == 19 || i == 24)
      EXPECT_EQ(id[i], '-');
    else
      EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(id[i])) && !std::islower(id[i])) << id;
  }
  EXPECT_NE(list->InstanceId(), other.InstanceId());
  EXPECT_EQ(list->SignatureAddress(),
            reinterpret_cast<const char*>(list.get()) + TorvParamsList::kSignatureOffset);
  EXPECT_TRUE(TorvParamsList::HasValidSignature(list.get()));
  EXPECT_FALSE(TorvParamsList::HasValidSignature(nullptr));
  const uint64_t zeros[4] = {};
  EXPECT_FALSE(TorvParamsList::HasValidSignature(zeros));
  EXPECT_FALSE(TorvParamsList::HasValidSignature(reinterpret_cast<void*>(0x10)));
}

TEST(ParsedDataList, AppendRawJoinsAndClearEmpties) {
  TParsedDataList list;
  list.AppendRaw("{\"a\":1}");
  EXPECT_EQ(list.RawText, "{\"a\":1}");
  list.AppendRaw("[2]");
  EXPECT_EQ(list.RawText, "{\"a\":1}<{[::]}>[2]");
  list.Add("a", 1);
  TorvParamsList& base = list;
  base.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(list.RawText.empty());
}

TEST(ThreadParamsList, WriterMayReenterAndReaderMayUpgrade) {
  TorvThreadParamsList shared;
  TorvParamsList& list = shared.LockWrite();
  list.Add("a", 1);
  EXPECT_EQ(&shared.LockRead(), &list);
  EXPECT_EQ(&shared.LockWrite(), &list);
  shared.UnlockWrite();
  shared.UnlockRead();
  shared.UnlockWrite();

  shared.LockRead();
  shared.LockWrite().Add("b", 2);
  shared.UnlockWrite();
  EXPECT_EQ(shared.LockRead().Count(), 2);
  shared.UnlockRead();
  shared.UnlockRead();
}

} // namespace
} // namespace kestrel
