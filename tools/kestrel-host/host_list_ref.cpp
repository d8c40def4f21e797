#include "host_list_ref.h"

#include "platform/text.h"

namespace kestrel::host {

void AddText(IorvParamsListA* list, const char* name, const std::string& utf8) {
  const platform::WideString wide = platform::Utf8ToWide(utf8);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                                    static_cast<UINT>(wide.size()));
  host_list_add_value(list, name, &value);
  VariantClear(&value);
}

void AddInt64(IorvParamsListA* list, const char* name, int64_t number) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I8;
  value.llVal = number;
  host_list_add_value(list, name, &value);
}

} // namespace kestrel::host
