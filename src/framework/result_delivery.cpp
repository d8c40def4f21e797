// ProcessData as the framework runs it, and the delivery of parsed results into the call
// record: the rows go into the host's ResultDesc list, the raw block texts into a kind-4 block
// in DataDesc that the host takes over.
#include "framework/result_delivery.h"
#include "common/ascii_text.h"
#include "common/ole_date.h"

#include "common/current_exception.h"
#include "common/interface_ref.h"
#include "common/orv_param_lst_wrap.h"
#include "framework/call_record.h"
#include "framework/orv_plugin_module.h"
#include "platform/host_memory.h"
#include "platform/locale.h"

#include <array>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace kestrel {

using framework::LogLevel;

namespace {

constexpr std::string_view kJoiner = kRawTextJoiner;

// What a ProcessData call running on this thread needs to know about deliveries into its own
// record: whether one of them wrote the DataDesc block, and the result list interface the
// first one resolved. A packet may deliver many blocks; checking the host's pointers once per
// call instead of once per block saves several system calls per row.
struct DeliveryWatch {
  const TPluginCallRec* rec;
  const TPluginCallRecIntf* copy; // the record's working copy, opened for the call
  bool wrote_text = false;
  DeliveryWatch* outer;
  uint8_t target_kind = 0;
  uintptr_t target_payload = 0;
  InterfaceRef<IorvParamsListA> target;
};
thread_local DeliveryWatch* t_watch = nullptr;

DeliveryWatch* WatchOf(const TPluginCallRec* rec) {
  for (DeliveryWatch* watch = t_watch; watch; watch = watch->outer)
    if (watch->rec == rec)
      return watch;
  return nullptr;
}

class WatchScope {
public:
  WatchScope(const TPluginCallRec* rec, const TPluginCallRecIntf& copy)
      : watch_{rec, &copy, false, t_watch, 0, 0, {}} {
    t_watch = &watch_;
  }
  ~WatchScope() { t_watch = watch_.outer; }
  WatchScope(const WatchScope&) = delete;
  WatchScope& operator=(const WatchScope&) = delete;
  bool WroteText() const { return watch_.wrote_text; }

private:
  DeliveryWatch watch_;
};

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

// Now as an OLE date: days since 30 December 1899, the time of day as the fraction.
double LocalNowAsDate() {
  return OleDateTimeFromLocalTime(platform::LocalTimeNow());
}

} // namespace

// ---- ProcessData -----------------------------------------------------------------------------

int32_t TorvPlugin::RunProcessData(TPluginCallRec* rec) {
  // The export has checked the record (exports::ProcessPacket); it is not checked twice.
  TPluginCallRecIntf copy;
  CallRecordScope scope(rec, copy);
  WatchScope watch(rec, copy);
  const uintptr_t entry_payload = rec->DataDesc.Payload;
  const uint8_t flags = rec->DataFlags;
  int32_t result = KESTREL_RESULT_OK;

  if (flags != 0) {
    // An empty list counts as no data, unless the host wants empty lists kept.
    if (!(flags & KESTREL_DATA_KEEP_EMPTY) && rec->DataDesc.Payload) {
      IorvParamsListA* data = DescriptorInterface(rec->DataDesc);
      if (data && data->lpVtbl->GetCount(data) == 0)
        rec->DataDesc.Payload = 0;
    }
    if ((flags & KESTREL_DATA_WRITE) && !rec->DataDesc.Payload) {
      const std::string text = MsgNoData.Get();
      if (!text.empty())
        WriteLog(LogLevel::Warning, text);
    } else if (OnProcessData) {
      try {
        OnProcessData(*this, rec, result);
        if (result > 0 && !rec->DataDesc.Payload)
          result = KESTREL_RESULT_OK;
        if (flags & (KESTREL_DATA_WRITE | KESTREL_DATA_REPORT)) {
          const std::string text =
              result < 0 ? MsgWriteCompleteError.Get() : MsgWriteComplete.Get();
          if (!text.empty())
            WriteLog(result < 0 ? LogLevel::Warning : LogLevel::Information, text);
        }
      } catch (...) {
        result = KESTREL_RESULT_FAILED;
        const std::string text = MsgWriteCompleteError.Get();
        if (!text.empty())
          WriteLog(LogLevel::Warning, text + ": " + CurrentExceptionMessage());
      }
    } else if (flags & KESTREL_DATA_PASS_THROUGH) {
      // The input becomes the output. A list the record wrapped for this call is handed on as
      // the host gave it: the wrapper dies with the call.
      const bool wrapped = rec->DataDesc.Kind == KESTREL_KIND_INTERFACE && copy.data &&
                           rec->DataDesc.Payload == reinterpret_cast<uintptr_t>(&copy.data);
      rec->ResultDesc = wrapped ? copy.record.DataDesc : rec->DataDesc;
    }
  }
  if (!watch.WroteText() && rec->DataDesc.Payload == entry_payload)
    rec->DataDesc.Payload = 0;
  return result;
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

// ---- Standard fields and items ---------------------------------------------------------------

int AddStandardFields(TorvParamsList* list, const TStandardFields& fields) {
  if (!list)
    return 0;
  int added = 0;
  auto add = [&](std::string_view name, Variant&& value) {
    if (list->Add(name, std::move(value)))
      ++added;
  };
  if (!fields.FullText.empty() && fields.FullText.data() == fields.BlockText.data() &&
      fields.FullText.size() == fields.BlockText.size()) {
    // One text under both names: converted once, copied once.
    Variant text(fields.BlockText);
    add("FULL_DATA_PACKET", Variant(text));
    add("DATA_PACKET", std::move(text));
  } else {
    if (!fields.FullText.empty())
      add("FULL_DATA_PACKET", Variant(fields.FullText));
    if (!fields.BlockText.empty())
      add("DATA_PACKET", Variant(fields.BlockText));
  }
  add("DATE_TIME_STAMP", Variant::DateTime(LocalNowAsDate()));
  add("DATA_SOURCE_ID", Variant(fields.SourceId));
  add("DATA_SOURCE_FULL_NAME", Variant(fields.SourceLongName));
  if (fields.ClientId != 0)
    add("CLIENTID", Variant(fields.ClientId));
  add("DATA_SOURCE_NAME", Variant(fields.ClientId != 0 ? fields.ClientName : fields.SourceName));
  return added;
}

void AddStandardItems(TorvPlugin& module, bool with_client) {
  for (const TStandardItem& item : kStandardItems) {
    if (!with_client && item.Name == "CLIENTID")
      continue;
    module.ParserItems.push_back(
        TParserItem{std::string(item.Name), std::string(item.Description), item.Type, {}});
  }
}

} // namespace kestrel
