// What one data module received, delivered and lost since it was made or last reset: the
// counters behind the module parameter "Statistics". Each counter is a relaxed atomic, so the
// packet path counts without a lock or an allocation of its own, and a reader on another
// thread sees whole numbers.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kestrel::parser {

class TCounter {
public:
  void Add(uint64_t n = 1) { value_.fetch_add(n, std::memory_order_relaxed); }
  uint64_t Get() const { return value_.load(std::memory_order_relaxed); }
  void Reset() { value_.store(0, std::memory_order_relaxed); }

private:
  std::atomic<uint64_t> value_{0};
};

struct TModuleStatistics {
  TCounter Packets;          // packets received
  TCounter Bytes;            // their bytes, as received
  TCounter Blocks;           // complete blocks cut out, filtered and unparsable ones included
  TCounter Rows;             // rows made from them
  TCounter Filtered;         // blocks the filter rules rejected
  TCounter Unparsable;       // bracketed blocks that are not JSON
  TCounter Oversize;         // blocks longer than the maximum block size, dropped whole
  TCounter TimedOut;         // half blocks dropped by the sign time-out
  TCounter DiscardedBytes;   // bytes outside blocks that were discarded, blanks not counted
  TCounter ConversionErrors; // values whose conversion failed and that were kept as text
  TCounter ClientsSwept;     // idle clients removed
  TCounter FailedPackets;    // packets that failed on the way

  void Reset();
  // "source=ID packets=N bytes=N blocks=N rows=N filtered=N unparsable=N oversize=N
  // timed_out=N discarded_bytes=N conversion_errors=N clients_swept=N", and " failed_packets=N"
  // after it once a packet has failed.
  std::string Line(int32_t source_id) const;
};

} // namespace kestrel::parser
