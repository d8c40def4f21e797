// The call record as the module sees it. OpenCallRecord turns every list the host handed over
// (parameters, data and result descriptors) into an IorvParamsListA interface, so that the
// module reads them all one way; CloseCallRecord puts the record back as the host gave it.
#pragma once

#include "common/variant.h"

#include <kestrel/kestrel.h>

#include <cstddef>
#include <string_view>

namespace kestrel {

// The size a host puts in RecSize: 102 on 32-bit targets, wider where pointers are.
inline constexpr uint32_t kCallRecordSize = sizeof(TPluginCallRec);

// The module's working copy of a call record and the interfaces it took.
struct TPluginCallRecIntf {
  TPluginCallRec record{}; // the record as the host passed it
  IorvParamsListA* params = nullptr;
  bool opened = false;
  bool params_wrapped = false;
  IorvParamsListA* data = nullptr;   // DataDesc list, when it was a plain list
  IorvParamsListA* result = nullptr; // ResultDesc list, when it was a plain list

  // What the test at opening found readable, so that readers later in the same call need no
  // probe of their own: host variables and the interfaces they held (Params, ResultDesc), and
  // the packet's bytes.
  struct CheckedVariable {
    const void* variable = nullptr;
    IorvParamsListA* face = nullptr;
  };
  CheckedVariable checked[2];
  const void* checked_block = nullptr;
  std::size_t checked_block_size = 0;
};

// Prepares `rec` for the module (see the header comment). Throws when Params cannot be read;
// the copy is then left closed and the record unchanged. For a packet (`packet`) the bytes
// DataDesc names are tested in the same go as the parameters (see IsCheckedBlock).
void OpenCallRecord(TPluginCallRec* rec, TPluginCallRecIntf& copy, bool packet = false);
// Restores CallFlags and Params, releases the wrappers, and gives descriptors that still
// point into the copy their original kind and payload back. Does nothing unless opened.
void CloseCallRecord(TPluginCallRec* rec, TPluginCallRecIntf& copy) noexcept;

// Opens on construction and always closes on destruction.
class CallRecordScope {
public:
  CallRecordScope(TPluginCallRec* rec, TPluginCallRecIntf& copy, bool packet = false)
      : rec_(rec), copy_(copy) {
    OpenCallRecord(rec, copy, packet);
  }
  ~CallRecordScope() { CloseCallRecord(rec_, copy_); }
  CallRecordScope(const CallRecordScope&) = delete;
  CallRecordScope& operator=(const CallRecordScope&) = delete;

private:
  TPluginCallRec* rec_;
  TPluginCallRecIntf& copy_;
};

// The record check of ExecutePluginCommand and ProcessData: a record of the right size that
// carries parameters.
bool IsValidCallRecord(const TPluginCallRec* rec) noexcept;

// Whether a descriptor holds a plain list object: kind 1 with a valid signature, or kind 8 (its
// signature is not checked) whose header can at least be read.
bool HoldsPlainList(const TPluginCallData& descriptor) noexcept;

// The parameter interface of an opened record (the variable Params points to), or nullptr.
IorvParamsListA* ParamsInterface(const TPluginCallRec* rec);
// A parameter read over the whole list; Empty when there is none or no parameter list.
Variant ReadParam(const TPluginCallRec* rec, std::string_view name);
// Whether a parameter is given: present and neither Empty nor Null.
bool HasParam(const TPluginCallRec* rec, std::string_view name);

// The list interface a descriptor of an opened record holds (kind 9), or nullptr.
IorvParamsListA* DescriptorInterface(const TPluginCallData& descriptor);

// Whether a record open on this thread found exactly this block readable when it was opened
// (the packet bytes of its DataDesc). False says nothing: the caller tests the block itself.
bool IsCheckedBlock(const void* address, std::size_t size) noexcept;

} // namespace kestrel
