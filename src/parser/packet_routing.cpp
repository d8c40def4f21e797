// The module's packet handler: a packet goes to the data module of its data source, with the
// settings snapshot it keeps to its end.
#include "common/readable_block.h"
#include "framework/call_record.h"
#include "parser/plugin_dm.h"

#include <stdexcept>

namespace kestrel::parser {

void TaPlugin::RoutePacket(TPluginCallRec* rec, int32_t& result) {
  result = -1;
  std::shared_ptr<const TParserSetup> setup = CurrentSetup();
  if (!setup)
    return;
  result = 0;
  if (unloaded_)
    return;
  const std::shared_ptr<TSerialPortDM> module = FindDataModule(rec->DataSourceId);
  if (!(rec->DataFlags & KESTREL_DATA_PACKET) || !EnabledTypes[kParserType] || !module)
    return;

  TPacketInfo packet;
  packet.DataSourceId = rec->DataSourceId;
  packet.ClientId = static_cast<uint32_t>(rec->ClientId);
  packet.ClientName = TPacketInfo::NameFromField(rec->ClientName, sizeof rec->ClientName);
  const TPluginCallData& data = rec->DataDesc;
  const bool holds_list = data.Kind == KESTREL_KIND_LIST ||
                          data.Kind == KESTREL_KIND_LIST_UNCHECKED ||
                          data.Kind == KESTREL_KIND_INTERFACE;
  if (!holds_list && data.Payload != 0 && data.Size > 0) {
    // A host that names bytes it does not have (a stale block, an integer of another kind)
    // fails this call; the client's buffer is left as it was.
    const auto* bytes = reinterpret_cast<const void*>(data.Payload);
    if (!IsCheckedBlock(bytes, data.Size) && !IsReadableBlock(bytes, data.Size))
      throw std::runtime_error("The packet's bytes cannot be read");
    packet.Data = reinterpret_cast<const uint8_t*>(data.Payload);
    packet.Size = static_cast<int32_t>(data.Size);
  }
  module->ReceivePacket(packet, *setup, [this, rec](TParsedDataList& list) {
    DeliverResults(rec, std::move(list), true);
  });
}

} // namespace kestrel::parser
