#include "framework/call_record.h"

#include "common/live_lists.h"
#include "common/orv_param_lst.h"
#include "common/orv_param_lst_wrap.h"
#include "platform/system.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace kestrel {

namespace {

// The record copies open on this thread, innermost last. Their slots are variables of this
// library holding interfaces it made itself or checked when the record was opened, so reading
// one needs no probe of its memory (a probe is a system call on POSIX).
constexpr std::size_t kTrackedCopies = 8;
thread_local const TPluginCallRecIntf* t_open_copies[kTrackedCopies];
thread_local std::size_t t_open_count = 0;

bool IsOpenCopySlot(const void* variable) noexcept {
  const std::size_t tracked = t_open_count < kTrackedCopies ? t_open_count : kTrackedCopies;
  for (std::size_t i = tracked; i-- > 0;) {
    const TPluginCallRecIntf* copy = t_open_copies[i];
    if (variable == &copy->params || variable == &copy->data || variable == &copy->result)
      return true;
  }
  return false;
}

// Records close in the reverse order of opening; the copy is looked for all the same, so no
// closed copy's slots are ever trusted.
void ForgetOpenCopy(const TPluginCallRecIntf* copy) noexcept {
  const std::size_t tracked = t_open_count < kTrackedCopies ? t_open_count : kTrackedCopies;
  for (std::size_t i = tracked; i-- > 0;) {
    if (t_open_copies[i] == copy) {
      for (std::size_t j = i + 1; j < tracked; ++j)
        t_open_copies[j - 1] = t_open_copies[j];
      break;
    }
  }
  --t_open_count;
}

// As InterfaceInVariable, for a variable whose bytes the caller has found readable.
IorvParamsListA* InterfaceInReadableVariable(const void* variable) {
  IorvParamsListA* face = nullptr;
  std::memcpy(&face, variable, sizeof(face));
  if (face && (!platform::IsReadableMemory(face, sizeof(void*)) ||
               !platform::IsReadableMemory(face->lpVtbl, sizeof(IorvParamsListAVtbl))))
    throw std::runtime_error("The parameter interface of the call record cannot be read");
  return face;
}

// A list interface the host put in a variable: the variable, the interface and its table must
// be readable before anything calls through them.
IorvParamsListA* InterfaceInVariable(const void* variable) {
  if (IsOpenCopySlot(variable)) {
    IorvParamsListA* face = nullptr;
    std::memcpy(&face, variable, sizeof(face));
    return face;
  }
  if (!platform::IsReadableMemory(variable, sizeof(void*)))
    throw std::runtime_error("The parameter list of the call record cannot be read");
  return InterfaceInReadableVariable(variable);
}

IorvParamsListA* WrapPlainList(void* list) {
  IorvParamsListA* face =
      TorvParamsListWrap::Create(static_cast<TorvParamsList*>(list), false)->InterfaceA();
  face->lpVtbl->AddRef(face);
  return face;
}

void OpenDescriptor(TPluginCallData& descriptor, IorvParamsListA*& slot) {
  if (!HoldsPlainList(descriptor))
    return;
  slot = WrapPlainList(reinterpret_cast<void*>(descriptor.Payload));
  descriptor.Kind = KESTREL_KIND_INTERFACE;
  descriptor.Payload = reinterpret_cast<uintptr_t>(&slot);
}

void CloseDescriptor(TPluginCallData& descriptor, const TPluginCallData& original,
                     IorvParamsListA*& slot) {
  if (!slot)
    return;
  // The variable dies with the copy: a descriptor still pointing at it gets the host's list
  // back rather than a dangling address.
  if (descriptor.Kind == KESTREL_KIND_INTERFACE &&
      descriptor.Payload == reinterpret_cast<uintptr_t>(&slot)) {
    descriptor.Kind = original.Kind;
    descriptor.Payload = original.Payload;
  }
  slot->lpVtbl->Release(slot);
  slot = nullptr;
}

} // namespace

bool HoldsPlainList(const TPluginCallData& descriptor) noexcept {
  const auto* object = reinterpret_cast<const void*>(descriptor.Payload);
  if (descriptor.Kind == KESTREL_KIND_LIST)
    return TorvParamsList::HasValidSignature(object);
  // A host that skips the check still cannot hand over an address that points nowhere.
  return descriptor.Kind == KESTREL_KIND_LIST_UNCHECKED &&
         platform::IsReadableMemory(object, TorvParamsList::kSignatureOffset + sizeof(uint32_t));
}

bool IsValidCallRecord(const TPluginCallRec* rec) noexcept {
  return rec && rec->RecSize == kCallRecordSize && rec->Params;
}

void OpenCallRecord(TPluginCallRec* rec, TPluginCallRecIntf& copy) {
  copy = TPluginCallRecIntf();
  std::memcpy(&copy.record, rec, sizeof(TPluginCallRec));
  if (void* params = rec->Params) {
    // Params is a plain list or a variable holding an interface. The bytes up to a list's
    // signature word cover the variable as well, so one probe serves both; only when they
    // cannot all be read is the variable probed on its own (it may end a readable region).
    constexpr std::size_t kSpan = TorvParamsList::kSignatureOffset + sizeof(uint32_t);
    static_assert(kSpan >= sizeof(void*));
    const bool readable = live_lists::Contains(params) || platform::IsReadableMemory(params, kSpan);
    if (!readable || !TorvParamsList::HasSignatureWord(params)) {
      copy.params = readable ? InterfaceInReadableVariable(params) : InterfaceInVariable(params);
      rec->CallFlags |= KESTREL_CALL_PARAMS_INTERFACE;
    } else {
      copy.params = WrapPlainList(rec->Params);
      copy.params_wrapped = true;
      rec->Params = &copy.params;
    }
  }
  copy.opened = true;
  if (t_open_count < kTrackedCopies)
    t_open_copies[t_open_count] = &copy;
  ++t_open_count;
  try {
    OpenDescriptor(rec->DataDesc, copy.data);
    OpenDescriptor(rec->ResultDesc, copy.result);
  } catch (...) {
    CloseCallRecord(rec, copy);
    throw;
  }
}

void CloseCallRecord(TPluginCallRec* rec, TPluginCallRecIntf& copy) noexcept {
  if (!copy.opened)
    return;
  copy.opened = false;
  ForgetOpenCopy(&copy);
  rec->CallFlags = copy.record.CallFlags;
  if (copy.params_wrapped) {
    copy.params->lpVtbl->Release(copy.params);
    copy.params = nullptr;
    copy.params_wrapped = false;
    rec->Params = copy.record.Params;
  }
  CloseDescriptor(rec->DataDesc, copy.record.DataDesc, copy.data);
  CloseDescriptor(rec->ResultDesc, copy.record.ResultDesc, copy.result);
}

IorvParamsListA* ParamsInterface(const TPluginCallRec* rec) {
  if (!rec || !rec->Params)
    return nullptr;
  return InterfaceInVariable(rec->Params);
}

Variant ReadParam(const TPluginCallRec* rec, std::string_view name) {
  IorvParamsListA* params = ParamsInterface(rec);
  if (!params)
    return Variant();
  VARIANT raw;
  std::memset(&raw, 0, sizeof(raw));
  const std::string text(name);
  const HRESULT hr = params->lpVtbl->GetValue(params, text.c_str(), 0, -1, &raw);
  if (hr != S_OK)
    throw std::runtime_error("Reading parameter " + text + " failed");
  return Variant::Adopt(raw);
}

bool HasParam(const TPluginCallRec* rec, std::string_view name) {
  return !ReadParam(rec, name).IsEmptyOrNull();
}

IorvParamsListA* DescriptorInterface(const TPluginCallData& descriptor) {
  if (descriptor.Kind != KESTREL_KIND_INTERFACE || !descriptor.Payload)
    return nullptr;
  return InterfaceInVariable(reinterpret_cast<const void*>(descriptor.Payload));
}

} // namespace kestrel
