// The data module of one data source (unit PluginDM): its client table, the idle sweep on a
// thread-bound timer, the packet handling that cuts JSON blocks out of each client's stream,
// and the value names seen in its parsed rows.
#pragma once

#include "common/orv_param_lst.h"
#include "common/orv_timer_ex.h"
#include "common/recycled_blocks.h"
#include "parser/block_cutting.h"
#include "parser/module_statistics.h"
#include "parser/parser_client.h"
#include "parser/parser_module.h"
#include "parser/parser_setup.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace kestrel::parser {

class TSerialPortDM {
public:
  static constexpr uint32_t kCheckInterval = 300; // idle sweep period, ms
  static constexpr uint32_t kIdleLimit = 60000;   // client idle time before removal, ms
  static constexpr uint32_t kSeenRowLimit = 50;   // rows whose names are recorded
  // Keys FirstReport remembers: member names come from the data, so their number has no bound
  // of its own.
  static constexpr std::size_t kReportedKeyLimit = 1000;

  // Made in the thread that will run the idle sweep; that thread must pump window messages.
  TSerialPortDM(IParserModule& owner, int32_t data_source_id, std::string name,
                std::string full_name);
  ~TSerialPortDM();
  TSerialPortDM(const TSerialPortDM&) = delete;
  TSerialPortDM& operator=(const TSerialPortDM&) = delete;

  // Stops and destroys the idle-sweep timer (best in the thread that made the module); the
  // module keeps working without it. Idempotent.
  void Shutdown();

  // One packet of this data source: its client found (or made), a half block older than the
  // sign time-out dropped, the bytes translated and appended to the client's stream, and every
  // block completed by them cut out, processed and handed to `deliver`. A failure ends the
  // packet (logged once per client and counted); what is buffered waits for the next one.
  void ReceivePacket(const TPacketInfo& packet, const TParserSetup& setup,
                     const TDeliverBlock& deliver);

  // The timer's handler: sweeps clients idle for a minute and leaves the timer running while
  // two or more remain. `timer` is the timer that called it (none when called directly).
  void CheckClientsTimer(TorvTimerEx* timer = nullptr);
  // Enables or disables the sweep (from any thread; takes effect in the timer's thread).
  void SetCheckClientsEnabled(bool enabled);
  // Whether the timer runs now (as its thread sees it).
  bool CheckClientsRunning() const;

  // Records the names of a row's values (first 50 rows of the module's life only).
  void RecordSeenItems(const TorvParamsList& row);
  // The recorded names with the variant type of their first value, in order of recording.
  struct SeenItem {
    std::string Name;
    VARTYPE Type;
  };
  std::vector<SeenItem> SeenItems() const;
  uint32_t SeenRows() const { return seen_rows_.load(); }

  // True the first time a report under `key` is made in this data module (a filter pattern
  // that reached its match limits, a member name the code page cannot hold, ...), so that the
  // log gets one line per key rather than one per block. Beyond kReportedKeyLimit keys it is
  // false for every new key, after one line saying that further reports are left out.
  bool FirstReport(const std::string& key);

  IParserModule& Owner;
  TCustomParserClientList Clients;
  const int32_t DataSourceId;
  const std::string DataSourceName;
  const std::string DataSourceFullName;

  TModuleStatistics Statistics;

  // Storage of the row items made and freed while this module processes a packet (under the
  // client table's lock): a block's items, freed when it is delivered, serve the next block.
  static constexpr std::size_t kKeptItemBlocks = 256;
  TRecycledBlocks ItemBlocks{sizeof(TorvParamsListItem), kKeptItemBlocks};
  // The buffers of those items' long names and keys, kept on the same terms.
  static constexpr std::size_t kKeptNameBuffers = 256;
  static constexpr std::size_t kLongestKeptName = 64;
  TRecycledStrings NameBuffers{kKeptNameBuffers, kLongestKeptName};

private:
  // The packet's part under the client table's lock: time-out, translation, append, cutting.
  void AppendAndCut(TKestrelClient& client, const TPacketInfo& packet, const TParserSetup& setup,
                    const TDeliverBlock& deliver);
  // Logs, once per data module, that idle clients are not swept.
  void ReportSweepFailure(const std::string& message) noexcept;

  mutable std::mutex timer_mutex_;
  std::unique_ptr<TorvTimerEx> check_clients_;

  mutable std::mutex seen_mutex_; // taken by recording (first 50 rows) and by readers
  std::vector<SeenItem> seen_items_;
  std::unordered_set<std::string> seen_keys_;
  std::atomic<uint32_t> seen_rows_{0};

  std::mutex reported_mutex_;
  std::unordered_set<std::string> reported_;
  bool reports_capped_ = false;
};

} // namespace kestrel::parser
