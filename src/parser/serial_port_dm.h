// The data module of one data source (unit PluginDM): its client table, the idle sweep on a
// thread-bound timer, the packet handling that cuts JSON blocks out of each client's stream,
// and the value names seen in its parsed rows.
#pragma once

#include "common/orv_param_lst.h"
#include "common/orv_timer_ex.h"
#include "parser/data_source_cfg.h"
#include "parser/parser_client.h"
#include "parser/parser_module.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace kestrel::parser {

// Hands one block's result list to the host's call record (appending).
using TDeliverBlock = std::function<void(TParsedDataList& list)>;

class TSerialPortDM {
public:
  static constexpr uint32_t kCheckInterval = 300; // idle sweep period, ms
  static constexpr uint32_t kIdleLimit = 60000;   // client idle time before removal, ms
  static constexpr uint32_t kSeenRowLimit = 50;   // rows whose names are recorded

  // Made in the thread that will run the idle sweep; that thread must pump window messages.
  TSerialPortDM(IParserModule& owner, int32_t data_source_id, std::string name,
                std::string full_name);
  ~TSerialPortDM();
  TSerialPortDM(const TSerialPortDM&) = delete;
  TSerialPortDM& operator=(const TSerialPortDM&) = delete;

  // Stops and destroys the idle-sweep timer (best in the thread that made the module); the
  // module keeps working without it. Idempotent.
  void Shutdown();

  // Steps 3 to 11 of the packet handling: the client's stream is appended to and every
  // complete block in it is processed and delivered. Failures inside are swallowed.
  void ProcessPacket(const TPacketInfo& packet, const TParserSetup& setup,
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

  // True the first time a filter pattern reaches its match limits in this data module, so
  // that the log gets one line per pattern rather than one per block.
  bool FirstLimitReport(const std::string& pattern);

  IParserModule& Owner;
  TCustomParserClientList Clients;
  const int32_t DataSourceId;
  const std::string DataSourceName;
  const std::string DataSourceFullName;

private:
  // Cuts every complete block out of the client's buffer and processes it (buffer locked).
  void CutBlocks(TKestrelClient& client, const TParserSetup& setup, const TDeliverBlock& deliver);

  mutable std::mutex timer_mutex_;
  std::unique_ptr<TorvTimerEx> check_clients_;

  mutable std::mutex seen_mutex_; // taken by recording (first 50 rows) and by readers
  std::vector<SeenItem> seen_items_;
  std::unordered_set<std::string> seen_keys_;
  std::atomic<uint32_t> seen_rows_{0};

  std::mutex limit_mutex_;
  std::unordered_set<std::string> limit_reported_;
};

// One block of a client: filter it and, when accepted, parse it into `list`.
void ProcessBlock(TSerialPortDM& module, TKestrelClient& client, std::string_view body,
                  TParsedDataList& list, const TParserSetup& setup);
// Flattens an accepted block's framed text into `list`, row by row.
void ParseBlock(TSerialPortDM& module, TKestrelClient& client, const std::string& framed,
                TParsedDataList& list, const TParserSetup& setup);
// Converts a member's text to its rule's data type; false keeps the text (after logging).
bool ConvertItemValue(TSerialPortDM& module, const TParserSetup& setup, const TParserItem& rule,
                      const std::string& text, Variant& value);
// Completes one flattened row with the standard fields and appends it to the block's list.
void DeliverRow(TSerialPortDM& module, TKestrelClient& client, int index, TorvParamsList& row,
                TParsedDataList& list);

} // namespace kestrel::parser
