#include "parser/parser_client.h"

#include <array>
#include <bit>
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

void TCustomParserClient::SetUserFlag(bool value) {
  UserFlag = value;
  ActivityWatch.Touch();
}

void TCustomParserClient::ResetBlock() {
  AwaitingStart = true;
  OpenText.clear();
  CloseText.clear();
  Scan = TBlockScan{};
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

void RemoveIdle(TCustomParserClientList& table, uint32_t limit_ms, bool remove) {
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
}

namespace {

// Eight bytes at a time, as a mask with the high bit of every byte that equals `c` (bytes above
// the first match may be marked too; the lowest marked byte is always a true match).
constexpr uint64_t kOnes = 0x0101010101010101u;
constexpr uint64_t kHighBits = 0x8080808080808080u;
constexpr uint64_t BytesEqual(uint64_t word, uint8_t c) {
  const uint64_t x = word ^ (kOnes * c);
  return (x - kOnes) & ~x & kHighBits;
}

// The offset of the first quote or backslash at or after `i` (or `count`).
int32_t SkipStringText(const uint8_t* data, int32_t i, int32_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    while (count - i >= 8) {
      uint64_t word;
      std::memcpy(&word, data + i, sizeof word);
      const uint64_t mask = BytesEqual(word, '"') | BytesEqual(word, '\\');
      if (mask != 0)
        return i + std::countr_zero(mask) / 8;
      i += 8;
    }
  }
  while (i < count && data[i] != '"' && data[i] != '\\')
    ++i;
  return i;
}

// The offset of the first byte outside a string that the scan must look at (or `count`): a
// quote, a backslash or either bracket of the block's pair.
int32_t SkipPlainText(const uint8_t* data, int32_t i, int32_t count, uint8_t open, uint8_t close) {
  if constexpr (std::endian::native == std::endian::little) {
    while (count - i >= 8) {
      uint64_t word;
      std::memcpy(&word, data + i, sizeof word);
      const uint64_t mask = BytesEqual(word, '"') | BytesEqual(word, '\\') |
                            BytesEqual(word, open) | BytesEqual(word, close);
      if (mask != 0)
        return i + std::countr_zero(mask) / 8;
      i += 8;
    }
  }
  while (i < count && data[i] != '"' && data[i] != '\\' && data[i] != open && data[i] != close)
    ++i;
  return i;
}

} // namespace

int32_t FindBlockEnd(TCustomParserClient& client, char open, char close) {
  TFIFOStream& buffer = *client.Buffer;
  const uint8_t* data = buffer.LockData();
  const int32_t count = buffer.HeldCount();
  TBlockScan& scan = client.Scan;
  if (scan.Generation != buffer.FrontGeneration() || scan.Open != open || scan.Close != close) {
    scan = TBlockScan{};
    scan.Generation = buffer.FrontGeneration();
    scan.Open = open;
    scan.Close = close;
  }
  const auto open_byte = static_cast<uint8_t>(open);
  const auto close_byte = static_cast<uint8_t>(close);
  int32_t depth = scan.Depth;
  bool in_string = scan.InString;
  int32_t i = scan.Next;
  int32_t result = -1;
  while (i < count) {
    i = in_string ? SkipStringText(data, i, count)
                  : SkipPlainText(data, i, count, open_byte, close_byte);
    if (i >= count)
      break;
    const uint8_t byte = data[i];
    if (byte == '\\') {
      i += 2; // the byte after it is skipped too
      continue;
    }
    if (byte == '"') {
      in_string = !in_string;
    } else if (!in_string) {
      if (byte == open_byte) {
        ++depth;
      } else if (byte == close_byte) {
        if (depth == 0) {
          result = i;
          break;
        }
        --depth;
      }
    }
    ++i;
  }
  if (result < 0) {
    scan.Next = i; // may lie one past the end when the last byte was a backslash
    scan.Depth = depth;
    scan.InString = in_string;
  }
  buffer.UnlockWrite();
  return result;
}

} // namespace kestrel::parser
