// The framework's part of a packet: the record opened, the data flags and outcome messages
// handled, and the concrete module's packet handler called.
#include "common/current_exception.h"
#include "framework/call_record.h"
#include "framework/orv_plugin_module.h"
#include "framework/result_delivery.h"

namespace kestrel {

using framework::LogLevel;

int32_t TorvPlugin::DispatchPacket(TPluginCallRec* rec) {
  // The export has checked the record (exports::AdmitPacket); it is not checked twice.
  TPluginCallRecIntf copy;
  CallRecordScope scope(rec, copy, true);
  DeliveryScope watch(rec, copy);
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
    } else if (OnPacket) {
      try {
        OnPacket(*this, rec, result);
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

} // namespace kestrel
