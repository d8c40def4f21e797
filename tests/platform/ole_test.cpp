#include "platform/ole.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using kestrel::platform::WideString;

TEST(Ole, StringsKeepLengthAndEmbeddedNul) {
  const OLECHAR text[] = {OLECHAR('a'), 0, OLECHAR('b')};
  BSTR s = SysAllocStringLen(text, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(SysStringByteLen(s), 6u);
  EXPECT_EQ(s[3], 0); // always terminated
  EXPECT_EQ(WideString(s, 3), WideString(text, 3));
  SysFreeString(s);
  SysFreeString(nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(Ole, VariantCopyDeepCopiesStringsAndArrays) {
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_ARRAY | VT_VARIANT;
  source.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  ASSERT_NE(source.parray, nullptr);
  VARIANT element;
  VariantInit(&element);
  element.vt = VT_BSTR;
  element.bstrVal = SysAllocString(OLESTR("hello"));
  LONG index = 1;
  ASSERT_EQ(SafeArrayPutElement(source.parray, &index, &element), S_OK);
  VariantClear(&element);

  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_NE(copy.parray, source.parray);
  VariantClear(&source); // the copy must not depend on the source any more

  LONG lower = -1, upper = -1;
  EXPECT_EQ(SafeArrayGetLBound(copy.parray, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(copy.parray, 1, &upper), S_OK);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 1);
  VARIANT got;
  ASSERT_EQ(SafeArrayGetElement(copy.parray, &index, &got), S_OK);
  ASSERT_EQ(got.vt, VT_BSTR);
  EXPECT_EQ(WideString(got.bstrVal), WideString(OLESTR("hello")));
  VariantClear(&got);
  index = 2;
  EXPECT_EQ(SafeArrayGetElement(copy.parray, &index, &got), DISP_E_BADINDEX);
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(copy.vt, VT_EMPTY);
}

TEST(Ole, LockedArrayIsNotDestroyed) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 5, 3);
  ASSERT_NE(array, nullptr);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
  static_cast<LONG*>(data)[2] = 42;
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
  LONG index = 7, value = 0;
  EXPECT_EQ(SafeArrayGetElement(array, &index, &value), S_OK);
  EXPECT_EQ(value, 42);
  VARTYPE vt = 0;
  EXPECT_EQ(SafeArrayGetVartype(array, &vt), S_OK);
  EXPECT_EQ(vt, VT_I4);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(Ole, EmptyVectorHasUpperBoundBelowLower) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 0);
  ASSERT_NE(array, nullptr);
  LONG upper = 0;
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

} // namespace
