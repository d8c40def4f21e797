#include "parser/parser_client.h"

#include <cstring>
#include <vector>

namespace kestrel::parser {

std::string_view TPacketInfo::NameFromField(const char* field, std::size_t size) {
  if (!field)
    return {};
  const void* zero = std::memchr(field, 0, size);
  return std::string_view(
      field, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - field) : size);
}

TCustomParserClient::TCustomParserClient(void* owner, const TPacketInfo& packet) : Owner(owner) {
  AssignFromPacket(packet);
  if (BufferCapacity == 0)
    BufferCapacity = kDefaultCapacity;
  Buffer = std::make_unique<TFIFOStream>(BufferCapacity, TFIFOStream::kDefaultMinDiscard, true);
  DataSourceId = packet.DataSourceId;
}

TCustomParserClient::~TCustomParserClient() = default;

void TCustomParserClient::AssignFromPacket(const TPacketInfo& packet) {
  ClientId = packet.ClientId;
  ClientName = std::string(packet.ClientName.substr(0, 50));
  const auto cut = ClientName.find_last_of(".:");
  ShortName = cut == std::string::npos ? std::string() : ClientName.substr(0, cut);
  Unassigned = ClientName.starts_with(kUnassignedPrefix);
}

bool TCustomParserClient::FirstReport(TLossKind kind) {
  const auto bit = static_cast<uint8_t>(kind);
  if (ReportedLosses & bit)
    return false;
  ReportedLosses |= bit;
  return true;
}

std::string TCustomParserClient::Label() const {
  std::string label = "client " + std::to_string(ClientId);
  if (!ClientName.empty())
    label += " (" + ClientName + ")";
  return label;
}

void TCustomParserClient::SetUserFlag(bool value) {
  UserFlag = value;
  ActivityWatch.Touch();
}

void TCustomParserClient::ResetBlock() {
  AwaitingStart = true;
  OpenText.clear();
  CloseText.clear();
  Scan = TBlockScan{};
  DroppingBlock = false;
  ActivityWatch.Touch();
}

void TCustomParserClient::ClearBuffer() {
  Buffer->Clear();
}

void TCustomParserClient::AppendText(std::string_view text) {
  if (!text.empty())
    Buffer->Write(text.data(), static_cast<int32_t>(text.size()));
  if (!Stale)
    ActivityWatch.Touch();
}

void TCustomParserClient::AppendData(const void* data, int32_t length) {
  if (length > 0)
    Buffer->Write(data, length);
  if (!Stale)
    ActivityWatch.Touch();
}

std::unique_ptr<TCustomParserClient> CreateKestrelClient(void* owner, const TPacketInfo& packet) {
  return std::make_unique<TKestrelClient>(owner, packet);
}

TCustomParserClient* KnownClient(const TCustomParserClientList& table, const TPacketInfo& packet,
                                 bool skip_stale) {
  // Every client is filed under its own id, so the packet's client is found by its key.
  TCustomParserClient* known = table.FindHeld(packet.ClientId);
  return known && known->ClientId == packet.ClientId && !(skip_stale && known->Stale) ? known
                                                                                      : nullptr;
}

TCustomParserClient* FindClient(TCustomParserClientList& table, const TPacketInfo& packet,
                                void* owner, bool skip_stale, TParserClientFactory factory) {
  {
    std::shared_lock lock(table);
    // The walk below is for packets of clients not seen yet.
    if (TCustomParserClient* known = KnownClient(table, packet, skip_stale))
      return known;
    TCustomParserClient* unassigned = nullptr;
    uint32_t unassigned_key = 0;
    for (const auto& entry : table.Entries()) {
      TCustomParserClient* client = entry.Object.get();
      if (!unassigned && client->Unassigned) {
        unassigned = client;
        unassigned_key = entry.Key;
      }
      if (skip_stale && client->Stale)
        continue;
      if (client->ClientId == packet.ClientId)
        return client;
    }
    if (unassigned) {
      if (!packet.ClientName.starts_with(kUnassignedPrefix)) {
        unassigned->AssignFromPacket(packet);
        unassigned->Unassigned = unassigned->ClientId == 0;
        // Filed under its new id: a later packet with the old id must not replace it. The
        // lock lets this reader upgrade to write.
        table.Rekey(unassigned_key, unassigned->ClientId);
      }
      return unassigned;
    }
  }
  if (!factory)
    return nullptr;
  return table.Add(packet.ClientId, factory(owner, packet));
}

std::size_t RemoveIdle(TCustomParserClientList& table, uint32_t limit_ms, bool remove) {
  std::shared_lock lock(table);
  std::vector<uint32_t> keys;
  for (const auto& entry : table.Entries()) {
    TCustomParserClient* client = entry.Object.get();
    if (!client->ActivityWatch.HasElapsed(limit_ms))
      continue;
    if (!client->Stale) {
      client->Stale = true;
      client->ActivityWatch.Touch();
    }
    if (remove)
      keys.push_back(entry.Key);
  }
  // Removing takes the write lock while this thread still reads: the lock lets a reader
  // upgrade.
  for (const uint32_t key : keys)
    table.Remove(key);
  return keys.size();
}

} // namespace kestrel::parser
