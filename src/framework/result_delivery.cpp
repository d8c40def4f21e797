// The delivery of a packet's parsed results into its call record (TorvPlugin::DeliverResults).
#include "framework/result_delivery.h"

#include "common/orv_param_lst_wrap.h"
#include "framework/orv_plugin_module.h"
#include "platform/host_memory.h"

#include <cstring>
#include <stdexcept>

namespace kestrel {

namespace {

constexpr std::string_view kJoiner = kRawTextJoiner;

thread_local DeliveryWatch* t_watch = nullptr;

DeliveryWatch* WatchOf(const TPluginCallRec* rec) {
  for (DeliveryWatch* watch = t_watch; watch; watch = watch->outer)
    if (watch->rec == rec)
      return watch;
  return nullptr;
}

void NoteTextDelivered(const TPluginCallRec* rec) {
  if (DeliveryWatch* watch = WatchOf(rec))
    watch->wrote_text = true;
}

// The result list of ResultDesc as an interface: a wrapper over a plain list (kind 1 with a
// valid signature, kind 8), or the interface the record already holds (kind 9).
InterfaceRef<IorvParamsListA> ResultInterface(const TPluginCallData& result) {
  switch (result.Kind) {
  case KESTREL_KIND_LIST:
  case KESTREL_KIND_LIST_UNCHECKED:
    if (!HoldsPlainList(result))
      return {};
    return InterfaceRef<IorvParamsListA>::Share(
        TorvParamsListWrap::Create(reinterpret_cast<TorvParamsList*>(result.Payload), false)
            ->InterfaceA());
  case KESTREL_KIND_INTERFACE:
    return InterfaceRef<IorvParamsListA>::Share(DescriptorInterface(result));
  default:
    return {};
  }
}

// The host's result list as the list object itself, when the host handed over a plain list
// (kind 1 or 8) that this call's record wrapped: rows then go straight into it instead of item
// by item through interfaces. Known from the record's own copy, so no pointer is probed.
TorvParamsList* PlainResultList(const TPluginCallRec* rec, const DeliveryWatch* watch) {
  if (!watch || !watch->copy || !watch->copy->result)
    return nullptr;
  const TPluginCallData& original = watch->copy->record.ResultDesc;
  const bool wrapped = rec->ResultDesc.Kind == KESTREL_KIND_INTERFACE &&
                       rec->ResultDesc.Payload == reinterpret_cast<uintptr_t>(&watch->copy->result);
  if (!wrapped ||
      (original.Kind != KESTREL_KIND_LIST && original.Kind != KESTREL_KIND_LIST_UNCHECKED))
    return nullptr;
  return reinterpret_cast<TorvParamsList*>(original.Payload);
}

// Whether every name crosses the boundary whole: a name is handed over as a C string there,
// so one holding a zero byte is cut at it.
bool NamesPassWhole(const TorvParamsList& list) {
  for (int i = 0; i < list.Count(); ++i)
    if (list.Items(i)->Name.find('\0') != std::string::npos)
      return false;
  return true;
}

// Writes `text` into the kind-4 block of `data`: after the bytes it holds (joined by the
// joiner unless they already end with it) when appending, else in place of them; a descriptor
// without a block gets a new one.
void StoreRawText(TPluginCallData& data, std::string_view text, bool append) {
  const bool holds_block = data.Kind == KESTREL_KIND_MEMORY && data.Size > 0 && data.Payload;
  char* block = holds_block ? reinterpret_cast<char*>(data.Payload) : nullptr;
  std::size_t kept = 0;
  bool joiner = false;
  if (holds_block && append) {
    kept = data.Size;
    joiner = !(kept >= kJoiner.size() &&
               std::memcmp(block + kept - kJoiner.size(), kJoiner.data(), kJoiner.size()) == 0);
  }
  const uint64_t size = uint64_t{kept} + (joiner ? kJoiner.size() : 0) + text.size();
  if (size > UINT32_MAX)
    throw std::length_error("The delivered text does not fit a data block");
  if (!holds_block)
    data.Size = 0;
  block = static_cast<char*>(holds_block ? platform::HostReallocate(block, size)
                                         : platform::HostAllocate(size));
  data.Payload = reinterpret_cast<uintptr_t>(block);
  data.Kind = KESTREL_KIND_MEMORY;
  char* end = block + kept;
  if (joiner) {
    std::memcpy(end, kJoiner.data(), kJoiner.size());
    end += kJoiner.size();
  }
  std::memcpy(end, text.data(), text.size());
  data.Size = static_cast<uint32_t>(size);
}

} // namespace

DeliveryScope::DeliveryScope(const TPluginCallRec* rec, const TPluginCallRecIntf& copy)
    : watch_{rec, &copy, false, t_watch, 0, 0, {}} {
  t_watch = &watch_;
}

DeliveryScope::~DeliveryScope() {
  t_watch = watch_.outer;
}

// ---- Delivery --------------------------------------------------------------------------------

void TorvPlugin::DeliverResults(TPluginCallRec* rec, const TParsedDataList& list, bool append) {
  DeliverList(rec, list, append, nullptr);
}

void TorvPlugin::DeliverResults(TPluginCallRec* rec, TParsedDataList&& list, bool append) {
  DeliverList(rec, list, append, &list);
}

void TorvPlugin::DeliverList(TPluginCallRec* rec, const TParsedDataList& list, bool append,
                             TParsedDataList* movable) {
  DeliveryWatch* watch = WatchOf(rec);
  if (TorvParamsList* plain = PlainResultList(rec, watch); plain && NamesPassWhole(list)) {
    if (!list.RawText.empty()) {
      StoreRawText(rec->DataDesc, list.RawText, append);
      NoteTextDelivered(rec);
    }
    ++rec->ResultDesc.Counter;
    if (!append)
      plain->Clear();
    if (movable)
      plain->TakeList(*movable);
    else
      plain->AppendList(&list);
    return;
  }
  InterfaceRef<IorvParamsListA> target;
  if (watch && watch->target && watch->target_kind == rec->ResultDesc.Kind &&
      watch->target_payload == rec->ResultDesc.Payload) {
    target = watch->target;
  } else {
    target = ResultInterface(rec->ResultDesc);
    if (watch) {
      watch->target_kind = rec->ResultDesc.Kind;
      watch->target_payload = rec->ResultDesc.Payload;
      watch->target = target;
    }
  }
  if (!target)
    return;
  if (!list.RawText.empty()) {
    StoreRawText(rec->DataDesc, list.RawText, append);
    NoteTextDelivered(rec);
  }
  ++rec->ResultDesc.Counter;
  if (!append)
    target->lpVtbl->Clear(target.Get());
  CopyListItems(list, target.Get());
}

} // namespace kestrel
