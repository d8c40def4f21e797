// A host list held for the length of one call, and the values a host adds to it: the helpers
// every C++ host of this project (the reference host, the test and benchmark host kit) builds
// its parameter and result lists with.
#pragma once

#include "host_list.h"

#include <cstdint>
#include <string>

namespace kestrel::host {

// A new host list, released when it goes out of scope. The call record's Params points at
// `list`; the plug-in first probes that address for the signature of a plain list object, so
// the bytes after the variable are kept zero and can never look like one.
struct HostListRef {
  HostListRef() = default;
  ~HostListRef() { list->lpVtbl->Release(list); }
  HostListRef(const HostListRef&) = delete;
  HostListRef& operator=(const HostListRef&) = delete;

  IorvParamsListA* list = host_list_create();
  unsigned char zeros[32] = {};
};

// Appends a text as a wide string (BSTR); the command line and files give UTF-8.
void AddText(IorvParamsListA* list, const char* name, const std::string& utf8);
// Appends a 64-bit integer (VT_I8), as a host passes a window handle.
void AddInt64(IorvParamsListA* list, const char* name, int64_t number);

} // namespace kestrel::host
