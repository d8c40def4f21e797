#include "parser/serial_port_dm.h"

#include "common/current_exception.h"
#include "convert/orv_trans_table.h"
#include "framework/result_delivery.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

namespace kestrel::parser {

namespace {

// Room left in a buffer whose lock the caller holds.
std::size_t FreeSpaceHeld(const TFIFOStream& buffer) {
  return static_cast<std::size_t>(std::max(buffer.Capacity() - buffer.HeldCount(), 0));
}

// Offset of the first opening brace or bracket in the bytes, or -1.
int32_t FirstBlockStart(const uint8_t* data, int32_t count) {
  const auto size = static_cast<std::size_t>(count);
  const auto* brace = static_cast<const uint8_t*>(std::memchr(data, '{', size));
  // A bracket counts only before the brace, so the second search stops there.
  const std::size_t before = brace ? static_cast<std::size_t>(brace - data) : size;
  const auto* bracket = static_cast<const uint8_t*>(std::memchr(data, '[', before));
  const uint8_t* first = bracket ? bracket : brace;
  return first ? static_cast<int32_t>(first - data) : -1;
}

} // namespace

TSerialPortDM::TSerialPortDM(IParserModule& owner, int32_t data_source_id, std::string name,
                             std::string full_name)
    : Owner(owner), DataSourceId(data_source_id), DataSourceName(std::move(name)),
      DataSourceFullName(std::move(full_name)) {
  // Without a timer the data module still parses; only its idle clients stay until the data
  // source is reconfigured. Refusing the data source would lose every packet instead.
  std::unique_ptr<TorvTimerEx> timer;
  try {
    timer = std::make_unique<TorvTimerEx>();
  } catch (const std::exception& error) {
    Owner.ParserLog(1, "Idle clients of data source " + DataSourceName +
                           " are not removed: " + error.what());
    return;
  }
  timer->SetEnabled(false);
  timer->SetInterval(kCheckInterval);
  // The handler reaches its timer directly: it runs inside the timer's own dispatch, where the
  // timer is alive, and must not take the module's timer lock (that lock is taken before the
  // timer's own by the packet thread).
  timer->SetOnTimer([this, self = timer.get()] { CheckClientsTimer(self); });
  check_clients_ = std::move(timer);
}

TSerialPortDM::~TSerialPortDM() {
  Shutdown();
}

void TSerialPortDM::Shutdown() {
  std::unique_ptr<TorvTimerEx> timer;
  {
    std::lock_guard lock(timer_mutex_);
    timer = std::move(check_clients_);
  }
  // Destroyed outside the lock: the destructor waits for a sweep running in the timer's thread,
  // and that sweep takes the lock to re-enable the timer.
  timer.reset();
}

void TSerialPortDM::SetCheckClientsEnabled(bool enabled) {
  std::lock_guard lock(timer_mutex_);
  if (check_clients_)
    check_clients_->SetEnabled(enabled);
}

bool TSerialPortDM::CheckClientsRunning() const {
  std::lock_guard lock(timer_mutex_);
  return check_clients_ && check_clients_->Running();
}

void TSerialPortDM::CheckClientsTimer(TorvTimerEx* timer) {
  const auto enable = [&](bool on) {
    if (timer) {
      try {
        timer->SetEnabled(on);
      } catch (...) {
      }
    } else {
      SetCheckClientsEnabled(on);
    }
  };
  enable(false);
  try {
    RemoveIdle(Clients, kIdleLimit, true);
  } catch (...) {
  }
  enable(Clients.Count() > 1);
}

void TSerialPortDM::ProcessPacket(const TPacketInfo& packet, const TParserSetup& setup,
                                  const TDeliverBlock& deliver) {
  try {
    // The sweep timer is not stopped while the packet runs: the client table's lock already
    // keeps the sweep out, and stopping and restarting it for every packet would restart its
    // countdown, so that steady traffic from one client kept idle ones from ever being swept.
    const TorvTranslationTable* raw_table = setup.RawTable.get();
    std::size_t clients = 0;
    {
      std::unique_lock table_lock(Clients);
      auto* client = static_cast<TKestrelClient*>(KnownClient(Clients, packet, false));
      if (!client)
        client = static_cast<TKestrelClient*>(
            FindClient(Clients, packet, this, false, &CreateKestrelClient));
      if (!client)
        return;
      const int64_t sign_timeout = setup.SignTimeout();
      if (sign_timeout > 0 &&
          client->ActivityWatch.HasElapsed(
              sign_timeout > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sign_timeout))) {
        client->ResetBlock();
        client->ClearBuffer();
      }
      TFIFOStream& buffer = *client->Buffer;
      std::unique_lock buffer_lock(buffer);
      const int32_t size = packet.Data ? packet.Size : 0;
      std::string translated;
      std::string_view bytes(reinterpret_cast<const char*>(packet.Data),
                             size > 0 ? static_cast<std::size_t>(size) : 0);
      if (!convert::orvTransTable::ChangesNothing(raw_table)) {
        translated = convert::orvTransTable::Translate(*raw_table, bytes);
        bytes = translated;
      } else if (bytes.size() > FreeSpaceHeld(buffer)) {
        // Delivering a block may move the host's packet block (the raw texts are appended to
        // it), so bytes that go in after a delivery are read from a copy.
        translated.assign(bytes);
        bytes = translated;
      }
      // The packet goes in as far as the buffer has room, and the blocks completed so far are
      // cut out before the rest follows, so a large packet does not push out bytes of blocks
      // that are already whole. Only what truly does not fit (one block longer than the
      // buffer) meets the buffer's over-run policy.
      bool first_piece = true;
      do {
        const std::size_t room = FreeSpaceHeld(buffer);
        // Without room the rest goes in whole, and the over-run policy decides what stays.
        const std::size_t piece = room > 0 ? std::min(room, bytes.size()) : bytes.size();
        if (first_piece || piece > 0)
          client->AppendText(bytes.substr(0, piece));
        first_piece = false;
        bytes.remove_prefix(piece);
        CutBlocks(*client, setup, deliver);
      } while (!bytes.empty());
      clients = Clients.Entries().size();
    }
    SetCheckClientsEnabled(clients > 1);
  } catch (...) {
    // The rest of the buffer waits for the next packet; the sweep stays off.
  }
}

void TSerialPortDM::CutBlocks(TKestrelClient& client_ref, const TParserSetup& setup,
                              const TDeliverBlock& deliver) {
  TKestrelClient* client = &client_ref;
  TFIFOStream& buffer = *client->Buffer;
  // One list for every block of the packet, emptied after each; made with the first block.
  std::optional<TParsedDataList> list;
  while (buffer.HeldCount() > 0) {
    if (client->AwaitingStart) {
      const int32_t start = FirstBlockStart(buffer.HeldData(), buffer.HeldCount());
      if (start >= 0) {
        const bool brace = buffer.HeldData()[start] == '{';
        client->OpenChar = brace ? '{' : '[';
        client->CloseChar = brace ? '}' : ']';
        client->OpenText.assign(1, client->OpenChar);
        buffer.Discard(start + 1);
        client->AwaitingStart = false;
      } else if (buffer.HeldCount() > 1) {
        buffer.Discard(buffer.HeldCount());
      }
    }
    if (client->AwaitingStart)
      return;
    const int32_t end = FindBlockEnd(*client, client->OpenChar, client->CloseChar);
    if (end < 0)
      return;
    client->CloseText.assign(1, client->CloseChar);
    // The block is read where it lies: the packet holds the buffer's lock, and nothing is
    // written to the buffer before the block is discarded below.
    const std::string_view body(reinterpret_cast<const char*>(buffer.LockData()),
                                static_cast<std::size_t>(end));
    buffer.UnlockWrite();
    // Whatever happens to the block, it is cut out and the client awaits the next start, so a
    // failed delivery loses this block only.
    try {
      if (!list)
        list.emplace();
      ProcessBlock(*this, *client, body, *list, setup);
      if (list->Count() > 0 && deliver)
        deliver(*list);
    } catch (...) {
      try {
        Owner.ParserLog(0, "A parsed block could not be delivered: " + CurrentExceptionMessage());
      } catch (...) {
      }
    }
    if (list)
      list->Clear();
    buffer.Discard(end + 1);
    client->ResetBlock();
  }
}

void TSerialPortDM::RecordSeenItems(const TorvParamsList& row) {
  if (seen_rows_.load(std::memory_order_relaxed) >= kSeenRowLimit)
    return;
  std::lock_guard lock(seen_mutex_);
  if (seen_rows_.load(std::memory_order_relaxed) >= kSeenRowLimit)
    return;
  seen_rows_.fetch_add(1, std::memory_order_relaxed);
  for (int i = 0; i < row.Count(); ++i) {
    const TorvParamsListItem* item = row.Items(i);
    if (!item || item->IsRowMarker() || IsStandardItem(item->Name))
      continue;
    if (seen_keys_.insert(item->Key).second)
      seen_items_.push_back(SeenItem{item->Name, item->Value.Type()});
  }
}

bool TSerialPortDM::FirstLimitReport(const std::string& pattern) {
  std::lock_guard lock(limit_mutex_);
  return limit_reported_.insert(pattern).second;
}

std::vector<TSerialPortDM::SeenItem> TSerialPortDM::SeenItems() const {
  std::lock_guard lock(seen_mutex_);
  return seen_items_;
}

} // namespace kestrel::parser
