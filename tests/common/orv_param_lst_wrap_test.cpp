#include "common/interface_ref.h"
#include "common/orv_param_lst_wrap.h"
#include "common/variant_convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel {
namespace {

using ListA = InterfaceRef<IorvParamsListA>;
using ItemA = InterfaceRef<IorvParamsListItemA>;

VARIANT Raw(const Variant& value) {
  Variant copy = value;
  return copy.Detach();
}

// A VARIANT as a host run-time hands over its own string types: type and a text pointer.
VARIANT HostText(VARTYPE type, const void* text) {
  VARIANT raw;
  std::memset(&raw, 0, sizeof(raw));
  raw.vt = type;
  raw.byref = const_cast<void*>(text);
  return raw;
}

Variant ValueOf(IorvParamsListItemA* item) {
  VARIANT raw;
  std::memset(&raw, 0xAB, sizeof(raw));
  EXPECT_EQ(item->lpVtbl->GetValue(item, &raw), S_OK);
  return Variant::Adopt(raw);
}

TEST(ParamsListWrap, ReferenceCountsStartAtZeroAndAnswerTheirIdentifiers) {
  TorvParamsListWrap* wrap = TorvParamsListWrap::Create();
  IorvParamsListA* a = wrap->InterfaceA();
  EXPECT_EQ(a->lpVtbl->AddRef(a), 1u);
  void* out = reinterpret_cast<void*>(1);
  const KestrelGuid unknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  EXPECT_EQ(a->lpVtbl->QueryInterface(a, &unknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(a->lpVtbl->QueryInterface(a, &IID_IorvParamsListItemA, &out), E_NOINTERFACE);
  ASSERT_EQ(a->lpVtbl->QueryInterface(a, &IID_IorvParamsListW, &out), S_OK);
  auto* w = static_cast<IorvParamsListW*>(out);
  EXPECT_EQ(static_cast<void*>(w), static_cast<void*>(wrap->InterfaceW()));
  EXPECT_EQ(w->lpVtbl->GetSignature(w), static_cast<int32_t>(kListSignature));
  EXPECT_EQ(w->lpVtbl->Release(w), 1u);
  EXPECT_EQ(a->lpVtbl->Release(a), 0u); // freed here, with its list (ASan checks)
}

TEST(ParamsListWrap, ItemWrappersDoNotOwnTheirItems) {
  TorvParamsList list;
  list.Add("Name", 5);
  ListA a = ListA::Share(TorvParamsListWrap::Create(&list, false)->InterfaceA());
  {
    ItemA item;
    ASSERT_EQ(a->lpVtbl->GetItem(a.Get(), 0, item.Out()), S_OK);
    ASSERT_TRUE(item);
    EXPECT_STREQ(item->lpVtbl->GetName(item.Get()), "Name");
    EXPECT_STREQ(item->lpVtbl->GetKeyText(item.Get()), "name");
    EXPECT_EQ(VariantToInt64(ValueOf(item.Get())), 5);
    void* out = nullptr;
    ASSERT_EQ(item->lpVtbl->QueryInterface(item.Get(), &IID_IorvParamsListItemW, &out), S_OK);
    auto* w = static_cast<IorvParamsListItemW*>(out);
    EXPECT_EQ(platform::WideString(w->lpVtbl->GetNameW(w)), OLESTR("Name"));
    w->lpVtbl->Release(w);
  }
  a.Reset();
  ASSERT_EQ(list.Count(), 1); // the plain list and its item survive every wrapper
  EXPECT_EQ(list.Items(0)->Name, "Name");
}

TEST(ParamsListWrap, ReleaseOrderDoesNotMatter) {
  // Item wrappers outliving the owning list wrapper keep it (and its list) alive.
  TorvParamsListWrap* wrap = TorvParamsListWrap::Create();
  IorvParamsListA* a = wrap->InterfaceA();
  a->lpVtbl->AddRef(a);
  VARIANT one = Raw(Variant(1));
  IorvParamsListItemA* first = nullptr;
  IorvParamsListItemA* second = nullptr;
  ASSERT_EQ(a->lpVtbl->Add(a, "x", &one, &first), S_OK);
  ASSERT_EQ(a->lpVtbl->Find(a, "X", 0, -1, &second), S_OK);
  ASSERT_NE(second, nullptr);
  a->lpVtbl->Release(a);
  EXPECT_EQ(VariantToInt64(ValueOf(first)), 1);
  first->lpVtbl->Release(first);
  EXPECT_STREQ(second->lpVtbl->GetName(second), "x");
  second->lpVtbl->Release(second);
}

TEST(ParamsListWrap, HostStringVariantsAreReadAsText) {
  ListA a = ListA::Share(TorvParamsListWrap::Create()->InterfaceA());
  TorvParamsList& list = *TorvParamsListWrap::FromInterface(a.Get())->List();
  const VARIANT ansi = HostText(0x100, "caf\xE9");
  const OLECHAR wide_text[] = OLESTR("\u20ACuro");
  const VARIANT wide = HostText(0x102, wide_text);
  ASSERT_EQ(a->lpVtbl->Add(a.Get(), "a", &ansi, nullptr), S_OK);
  ASSERT_EQ(a->lpVtbl->Add(a.Get(), "w", &wide, nullptr), S_OK);
  EXPECT_EQ(list.GetValue("a"), Variant(platform::WideStringView(OLESTR("caf\u00e9"))));
  EXPECT_EQ(list.GetValue("w"), Variant(platform::WideStringView(OLESTR("\u20ACuro"))));

  // Through the wide interface type 0x100 is UTF-16 as well.
  IorvParamsListW* w = TorvParamsListWrap::FromInterface(a.Get())->InterfaceW();
  const VARIANT wide_as_100 = HostText(0x100, wide_text);
  IorvParamsListItemW* item = nullptr;
  ASSERT_EQ(w->lpVtbl->Add(w, OLESTR("\u00C4x"), &wide_as_100, &item), S_OK);
  EXPECT_EQ(list.Items(2)->Name, "\xC4x");
  EXPECT_EQ(list.Items(2)->Value, Variant(platform::WideStringView(OLESTR("\u20ACuro"))));
  VARIANT back;
  ASSERT_EQ(item->lpVtbl->GetValueW(item, &back), S_OK);
  EXPECT_EQ(back.vt, VT_BSTR);
  VariantClear(&back);
  item->lpVtbl->Release(item);

  // A host type without a pointer is not OLE: refused, nothing added.
  const VARIANT bad = HostText(0x100, nullptr);
  IorvParamsListItemA* none = reinterpret_cast<IorvParamsListItemA*>(8);
  EXPECT_EQ(a->lpVtbl->Add(a.Get(), "b", &bad, &none), E_UNEXPECTED);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(a->lpVtbl->Add(a.Get(), "b", nullptr, &none), E_UNEXPECTED);
  EXPECT_EQ(list.Count(), 3);
}

TEST(ParamsListWrap, ListOperationsAndFailures) {
  ListA a = ListA::Share(TorvParamsListWrap::Create()->InterfaceA());
  VARIANT value = Raw(Variant(std::string("v")));
  IorvParamsListItemA* item = reinterpret_cast<IorvParamsListItemA*>(8);
  EXPECT_EQ(a->lpVtbl->Add(a.Get(), "   ", &value, &item), S_OK);
  EXPECT_EQ(item, nullptr); // blank name: nothing added
  EXPECT_EQ(a->lpVtbl->Insert(a.Get(), 3, "n", &value, &item), E_UNEXPECTED);
  EXPECT_EQ(a->lpVtbl->SetValue(a.Get(), "RESULT", &value, 0, &item), S_OK);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(a->lpVtbl->SetValue(a.Get(), "RESULT", &value, 1, nullptr), S_OK);
  a->lpVtbl->AddNewRow(a.Get());
  a->lpVtbl->Delete(a.Get(), -1); // an assertion inside, not an exception out
  a->lpVtbl->SetTag(a.Get(), 77);
  EXPECT_EQ(a->lpVtbl->GetTag(a.Get()), 77);
  EXPECT_EQ(a->lpVtbl->GetCount(a.Get()), 2);

  int32_t index = 0;
  KestrelBool marker = 0;
  EXPECT_EQ(a->lpVtbl->FindRowEnd(a.Get(), 0, &index, &marker), 1);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(marker, 1);
  EXPECT_EQ(a->lpVtbl->IndexOf(a.Get(), "result", 0, -2, &index), S_OK);
  EXPECT_EQ(index, 0);

  VARIANT got;
  ASSERT_EQ(a->lpVtbl->GetValue(a.Get(), "missing", 0, -1, &got), S_OK);
  EXPECT_EQ(got.vt, VT_EMPTY);
  VARIANT fallback = Raw(Variant(9));
  ASSERT_EQ(a->lpVtbl->GetValueDef(a.Get(), "missing", &fallback, 0, -1, &got), S_OK);
  EXPECT_EQ(got.vt, VT_I4);
  EXPECT_EQ(got.lVal, 9);

  // Appending: plain lists through A, wrapper objects for rows and the W interface.
  TorvParamsList plain;
  plain.Add("p", 1);
  KestrelBool done = 0;
  EXPECT_EQ(a->lpVtbl->AppendList(a.Get(), &plain, &done), S_OK);
  EXPECT_EQ(done, 1);
  const uint64_t garbage[4] = {1, 2, 3, 4};
  EXPECT_EQ(a->lpVtbl->AppendList(a.Get(), const_cast<uint64_t*>(garbage), &done), E_UNEXPECTED);
  EXPECT_EQ(done, 0);
  EXPECT_EQ(a->lpVtbl->AppendList(a.Get(), reinterpret_cast<void*>(0x18), &done), E_UNEXPECTED);

  ListA other = ListA::Share(TorvParamsListWrap::Create()->InterfaceA());
  other->lpVtbl->AppendRow(other.Get(), a.Get());
  EXPECT_EQ(other->lpVtbl->GetCount(other.Get()), 4);
  IorvParamsListW* w = TorvParamsListWrap::FromInterface(other.Get())->InterfaceW();
  EXPECT_EQ(w->lpVtbl->AppendRange(w, TorvParamsListWrap::FromInterface(a.Get())->InterfaceW(), 2,
                                   2, &done),
            S_OK);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(w->lpVtbl->GetCount(w), 5);
  EXPECT_EQ(w->lpVtbl->AppendList(w, &plain, &done), E_UNEXPECTED); // W wants a wrapper

  a->lpVtbl->Clear(a.Get());
  EXPECT_EQ(a->lpVtbl->GetCount(a.Get()), 0);
  VariantClear(&value);
}

TEST(ParamsListWrap, ItemNamesKeysAndAddItem) {
  TorvParamsList list;
  TorvParamsListItem* raw_item = list.Add("Abc\xC4", 1);
  ListA a = ListA::Share(TorvParamsListWrap::Create(&list, false)->InterfaceA());
  ItemA item;
  ASSERT_EQ(a->lpVtbl->GetItem(a.Get(), 0, item.Out()), S_OK);
  // Key text: UTF-8 of the name lower-cased in the ASCII range only.
  EXPECT_STREQ(item->lpVtbl->GetKeyText(item.Get()), "abc\xC3\x84");
  item->lpVtbl->SetKeyText(item.Get(), nullptr);
  EXPECT_EQ(item->lpVtbl->GetKeyText(item.Get()), nullptr);
  EXPECT_EQ(raw_item->Key, "abc\xE4"); // the item itself keeps its key
  item->lpVtbl->SetName(item.Get(), "New");
  EXPECT_EQ(raw_item->Name, "New");
  EXPECT_EQ(raw_item->Key, "abc\xE4"); // not recomputed
  EXPECT_STREQ(item->lpVtbl->GetKeyText(item.Get()), "new");
  item->lpVtbl->SetDataType(item.Get(), kRowMarkerType);
  EXPECT_EQ(item->lpVtbl->IsNewRow(item.Get()), 1);
  item->lpVtbl->SetName(item.Get(), nullptr);
  EXPECT_EQ(item->lpVtbl->GetName(item.Get()), nullptr);
  item->lpVtbl->SetName(item.Get(), "Copied");

  ItemA copy;
  ASSERT_EQ(a->lpVtbl->AddItem(a.Get(), item.Get(), copy.Out()), S_OK);
  ASSERT_TRUE(copy);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(1)->Name, "Copied");
  EXPECT_EQ(VariantToInt64(list.Items(1)->Value), 1);
  EXPECT_EQ(a->lpVtbl->AddItem(a.Get(), nullptr, copy.Out()), E_UNEXPECTED);

  TorvParamsList target;
  target.AddFromItem(item.Get());
  EXPECT_EQ(target.Items(0)->Name, "Copied");
  EXPECT_EQ(target.Items(0)->Key, "copied");
  EXPECT_EQ(target.Items(0)->DataType, kRowMarkerType);
}

TEST(ParamsListWrap, RangeCopyCarriesKeyTypeAndState) {
  TorvParamsList source;
  source.Add("one", 1)->DataType = 8;
  source.Add("two", std::string("2"))->State = 7;
  source.AddNewRow();
  TorvParamsList target;
  ListA from = ListA::Share(TorvParamsListWrap::Create(&source, false)->InterfaceA());
  ListA to = ListA::Share(TorvParamsListWrap::Create(&target, false)->InterfaceA());
  CopyParamsRange(from.Get(), to.Get(), -1, 99);
  ASSERT_EQ(target.Count(), 3);
  EXPECT_EQ(target.Items(0)->DataType, 8);
  EXPECT_EQ(target.Items(1)->State, 7);
  EXPECT_EQ(target.Items(1)->Value, Variant(std::string("2")));
  EXPECT_TRUE(target.Items(2)->IsRowMarker());
  CopyParamsRange(from.Get(), to.Get(), 1, 1);
  EXPECT_EQ(target.Count(), 4);
}

// A host list that writes down every call made on it and on the items it hands back. Add hands
// back no item for a name starting with "skip" and fails for "fail".
struct RecordingHost {
  struct Item {
    const IorvParamsListItemAVtbl* vtbl;
    RecordingHost* host;
  };
  const IorvParamsListAVtbl* vtbl;
  std::vector<std::string> calls;
  Item item{&kItemTable, this};

  static RecordingHost& Of(const void* face) { return *static_cast<const Item*>(face)->host; }
  static HRESULT KESTREL_CALL Add(IorvParamsListA* self, const char* name, const VARIANT* value,
                                  IorvParamsListItemA** out) {
    auto& host = *reinterpret_cast<RecordingHost*>(self);
    const std::string text = name ? name : "(null)";
    host.calls.push_back("Add " + text + " = " + std::to_string(value->vt) + ":" +
                         VariantToAnsi(Variant(*value)));
    *out = nullptr;
    if (text == "fail")
      return E_UNEXPECTED;
    if (text.rfind("skip", 0) != 0)
      *out = reinterpret_cast<IorvParamsListItemA*>(&host.item);
    return S_OK;
  }
  static uint32_t KESTREL_CALL Release(IorvParamsListItemA* self) {
    Of(self).calls.push_back("Release");
    return 0;
  }
  static void KESTREL_CALL SetKeyText(IorvParamsListItemA* self, const char* key) {
    Of(self).calls.push_back(std::string("Key ") + (key ? key : "(null)"));
  }
  static void KESTREL_CALL SetDataType(IorvParamsListItemA* self, int32_t type) {
    Of(self).calls.push_back("Type " + std::to_string(type));
  }
  static void KESTREL_CALL SetState(IorvParamsListItemA* self, uint8_t state) {
    Of(self).calls.push_back("State " + std::to_string(state));
  }
  static constexpr IorvParamsListAVtbl kListTable = [] {
    IorvParamsListAVtbl table{};
    table.Add = &Add;
    return table;
  }();
  static constexpr IorvParamsListItemAVtbl kItemTable = [] {
    IorvParamsListItemAVtbl table{};
    table.Release = &Release;
    table.SetKeyText = &SetKeyText;
    table.SetDataType = &SetDataType;
    table.SetState = &SetState;
    return table;
  }();

  RecordingHost() : vtbl(&kListTable) {}
  IorvParamsListA* Face() { return reinterpret_cast<IorvParamsListA*>(this); }
};

TEST(ParamsListWrap, DirectCopyMakesTheCallsOfTheRangeCopy) {
  TorvParamsList source;
  source.Add("MiXed_Case", 1)->DataType = 8;
  source.Add("Abc\xC4", std::string("text \xE4"))->State = 7;
  source.Add(std::string_view("cut\0Here", 8), 2.5);
  source.Add("skip me", Variant::Null());
  source.Add("empty", Variant());
  source.Add("x", 0)->State = 0;
  source.PutItem(5, CreateParamsListItem("", Variant(3)));
  source.AddNewRow();
  source.Add("fail", 4);
  source.Add("after", 5);

  RecordingHost by_range;
  ListA wrap = ListA::Share(TorvParamsListWrap::Create(&source, false)->InterfaceA());
  EXPECT_THROW(CopyParamsRange(wrap.Get(), by_range.Face(), 0, kStopLast), std::runtime_error);
  RecordingHost direct;
  EXPECT_THROW(CopyListItems(source, direct.Face()), std::runtime_error);
  EXPECT_GT(direct.calls.size(), 30u);
  EXPECT_EQ(direct.calls, by_range.calls);

  source.Delete(7);
  RecordingHost whole;
  CopyListItems(source, whole.Face());
  EXPECT_EQ(whole.calls.back(), "Release");
  EXPECT_EQ(whole.calls[whole.calls.size() - 5], "Add after = 3:5");
}

} // namespace
} // namespace kestrel
