#include "parser/module_statistics.h"

namespace kestrel::parser {

void TModuleStatistics::Reset() {
  for (TCounter* counter :
       {&Packets, &Bytes, &Blocks, &Rows, &Filtered, &Unparsable, &Oversize, &TimedOut,
        &DiscardedBytes, &ConversionErrors, &ClientsSwept, &FailedPackets})
    counter->Reset();
}

std::string TModuleStatistics::Line(int32_t source_id) const {
  std::string line = "source=" + std::to_string(source_id);
  const auto add = [&line](const char* name, const TCounter& counter) {
    line += ' ';
    line += name;
    line += '=';
    line += std::to_string(counter.Get());
  };
  add("packets", Packets);
  add("bytes", Bytes);
  add("blocks", Blocks);
  add("rows", Rows);
  add("filtered", Filtered);
  add("unparsable", Unparsable);
  add("oversize", Oversize);
  add("timed_out", TimedOut);
  add("discarded_bytes", DiscardedBytes);
  add("conversion_errors", ConversionErrors);
  add("clients_swept", ClientsSwept);
  if (FailedPackets.Get() > 0)
    add("failed_packets", FailedPackets);
  return line;
}

} // namespace kestrel::parser
