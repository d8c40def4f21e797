#include "parser/serial_port_dm.h"

#include "common/current_exception.h"
#include "convert/orv_trans_table.h"
#include "framework/standard_fields.h"
#include "parser/loss_reports.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace kestrel::parser {

namespace {

// Room left in a buffer whose lock the caller holds.
std::size_t FreeSpaceHeld(const TFIFOStream& buffer) {
  return static_cast<std::size_t>(std::max(buffer.Capacity() - buffer.HeldCount(), 0));
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
        ReportSweepFailure(CurrentExceptionMessage());
      }
    } else {
      SetCheckClientsEnabled(on);
    }
  };
  enable(false);
  try {
    Statistics.ClientsSwept.Add(RemoveIdle(Clients, kIdleLimit, true));
  } catch (...) {
    ReportSweepFailure(CurrentExceptionMessage());
  }
  enable(Clients.Count() > 1);
}

void TSerialPortDM::ReceivePacket(const TPacketInfo& packet, const TParserSetup& setup,
                                  const TDeliverBlock& deliver) {
  // The sweep timer is not stopped while the packet runs: the client table's lock already
  // keeps the sweep out, and stopping and restarting it for every packet would restart its
  // countdown, so that steady traffic from one client kept idle ones from ever being swept.
  std::size_t clients = 0;
  try {
    std::unique_lock table_lock(Clients);
    TKestrelClient* client = nullptr;
    try {
      client = static_cast<TKestrelClient*>(KnownClient(Clients, packet, false));
      if (!client)
        client = static_cast<TKestrelClient*>(
            FindClient(Clients, packet, this, false, &CreateKestrelClient));
      if (!client)
        return;
      Statistics.Packets.Add();
      Statistics.Bytes.Add(packet.Data && packet.Size > 0 ? static_cast<uint64_t>(packet.Size) : 0);
      AppendAndCut(*client, packet, setup, deliver);
    } catch (...) {
      // Reported while the table is still locked, so the client cannot be swept meanwhile.
      ReportFailedPacket(*this, client, CurrentExceptionMessage());
      return;
    }
    clients = Clients.Entries().size();
  } catch (...) {
    ReportFailedPacket(*this, nullptr, CurrentExceptionMessage());
    return;
  }
  try {
    SetCheckClientsEnabled(clients > 1);
  } catch (...) {
    ReportSweepFailure(CurrentExceptionMessage());
  }
}

void TSerialPortDM::AppendAndCut(TKestrelClient& client, const TPacketInfo& packet,
                                 const TParserSetup& setup, const TDeliverBlock& deliver) {
  TFIFOStream& buffer = *client.Buffer;
  std::unique_lock buffer_lock(buffer);
  // The client table's lock, held by the caller, gives this thread the module's item store.
  const TRecyclingScope recycling(&ItemBlocks);
  const TStringRecyclingScope name_recycling(&NameBuffers);
  const int64_t sign_timeout = setup.SignTimeout;
  if (sign_timeout > 0 &&
      client.ActivityWatch.HasElapsed(
          sign_timeout > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sign_timeout))) {
    const std::string_view held(reinterpret_cast<const char*>(buffer.HeldData()),
                                static_cast<std::size_t>(buffer.HeldCount()));
    if (client.AwaitingStart)
      ReportDiscardedBytes(*this, client, held);
    else if (!client.DroppingBlock) // a block dropped whole is counted already
      ReportTimedOutBlock(*this, client, static_cast<int64_t>(held.size()) + 1, sign_timeout);
    client.ResetBlock();
    client.ClearBuffer();
  }
  const TorvTranslationTable* raw_table = setup.RawTable.get();
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
  // that are already whole. Cutting leaves room for a block that goes on (the buffer grows
  // towards the maximum block size, or the over-size block is dropped), so the buffer's
  // over-run policy, which would destroy a block's beginning, is not met.
  bool first_piece = true;
  do {
    const std::size_t room = FreeSpaceHeld(buffer);
    // Without room (the buffer could not grow) the rest goes in whole, and the over-run
    // policy decides what stays.
    const std::size_t piece = room > 0 ? std::min(room, bytes.size()) : bytes.size();
    if (first_piece || piece > 0)
      client.AppendText(bytes.substr(0, piece));
    first_piece = false;
    bytes.remove_prefix(piece);
    CutBlocks(*this, client, setup, deliver);
  } while (!bytes.empty());
}

void TSerialPortDM::ReportSweepFailure(const std::string& message) noexcept {
  try {
    if (FirstReport("idle sweep"))
      Owner.ParserLog(1, "Idle clients of data source " + DataSourceName +
                             " are not removed: " + message);
  } catch (...) {
    // Not even the line could be made (no memory left); the sweep is tried again later.
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

bool TSerialPortDM::FirstReport(const std::string& key) {
  {
    std::lock_guard lock(reported_mutex_);
    if (reported_.size() < kReportedKeyLimit)
      return reported_.insert(key).second;
    if (reported_.count(key) || reports_capped_)
      return false;
    reports_capped_ = true;
  }
  Owner.ParserLog(1, "Data source " + DataSourceName + " has made " +
                         std::to_string(kReportedKeyLimit) +
                         " different reports; further ones (member names the code page cannot "
                         "hold among them) are not logged.");
  return false;
}

std::vector<TSerialPortDM::SeenItem> TSerialPortDM::SeenItems() const {
  std::lock_guard lock(seen_mutex_);
  return seen_items_;
}

} // namespace kestrel::parser
