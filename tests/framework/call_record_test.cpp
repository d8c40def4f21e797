// Opening and closing the call record: plain lists in, interfaces for the module, and back.
#include "module_host.h"

#include "common/orv_param_lst.h"
#include "framework/call_record.h"

#include <kestrel/kestrel.h>

#include <gtest/gtest.h>

#include <stdexcept>

namespace kestrel {
namespace {

using testing::NewRecord;

TEST(CallRecord, PlainListsBecomeInterfacesAndComeBack) {
  TorvParamsList params;
  params.Add("COMMAND", std::string("X"));
  TorvParamsList data;
  data.Add("d", 1);
  TorvParamsList result;
  TPluginCallRec rec = NewRecord();
  rec.Params = &params;
  rec.DataDesc.Kind = KESTREL_KIND_LIST;
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(&data);
  rec.ResultDesc.Kind = KESTREL_KIND_LIST_UNCHECKED;
  rec.ResultDesc.Payload = reinterpret_cast<uintptr_t>(&result);
  {
    TPluginCallRecIntf copy;
    CallRecordScope scope(&rec, copy);
    EXPECT_EQ(+rec.Params, &copy.params);
    EXPECT_EQ(+rec.CallFlags, 0);
    EXPECT_EQ(ReadParam(&rec, "command"), Variant(std::string("X")));
    EXPECT_TRUE(ReadParam(&rec, "missing").IsEmpty());
    EXPECT_EQ(+rec.DataDesc.Kind, KESTREL_KIND_INTERFACE);
    IorvParamsListA* face = DescriptorInterface(rec.DataDesc);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->lpVtbl->GetCount(face), 1);
    IorvParamsListA* target = DescriptorInterface(rec.ResultDesc);
    ASSERT_NE(target, nullptr);
    VARIANT one;
    VariantInit(&one);
    one.vt = VT_I4;
    one.lVal = 1;
    EXPECT_EQ(target->lpVtbl->Add(target, "r", &one, nullptr), S_OK);
  }
  EXPECT_EQ(+rec.Params, &params);
  EXPECT_EQ(+rec.DataDesc.Kind, KESTREL_KIND_LIST);
  EXPECT_EQ(+rec.DataDesc.Payload, reinterpret_cast<uintptr_t>(&data));
  EXPECT_EQ(+rec.ResultDesc.Kind, KESTREL_KIND_LIST_UNCHECKED);
  EXPECT_EQ(result.Count(), 1);
}

TEST(CallRecord, InterfacesAndUnknownPayloadsAreLeftAlone) {
  TorvParamsList host_list;
  IorvParamsListA* face = nullptr;
  {
    // Any IorvParamsListA serves; here one of the library's own over a list of the test.
    TPluginCallRec setup = NewRecord();
    setup.Params = &host_list;
    TPluginCallRecIntf copy;
    OpenCallRecord(&setup, copy);
    face = copy.params;
    face->lpVtbl->AddRef(face);
    CloseCallRecord(&setup, copy);
  }
  const uint64_t not_a_list[4] = {};
  TPluginCallRec rec = NewRecord();
  rec.Params = &face;
  rec.CallFlags = 0x01;
  rec.DataDesc.Kind = KESTREL_KIND_LIST; // no valid signature: stays as it is
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(not_a_list);
  TPluginCallRecIntf copy;
  OpenCallRecord(&rec, copy);
  EXPECT_EQ(+rec.CallFlags, 0x41);
  EXPECT_EQ(+rec.Params, &face);
  EXPECT_EQ(ParamsInterface(&rec), face);
  EXPECT_EQ(+rec.DataDesc.Kind, KESTREL_KIND_LIST);
  CloseCallRecord(&rec, copy);
  CloseCallRecord(&rec, copy); // closing twice does nothing more
  EXPECT_EQ(+rec.CallFlags, 0x01);
  face->lpVtbl->Release(face);

  rec.Params = reinterpret_cast<void*>(0x20);
  EXPECT_THROW(OpenCallRecord(&rec, copy), std::runtime_error);
  EXPECT_FALSE(copy.opened);
}

} // namespace
} // namespace kestrel
