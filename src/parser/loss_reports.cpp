#include "parser/loss_reports.h"

#include "parser/serial_port_dm.h"

namespace kestrel::parser {

namespace {

constexpr std::string_view kOnlyCounted =
    " Further ones of this client are only counted (module parameter \"Statistics\").";

bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Place(const TSerialPortDM& module, const TCustomParserClient& client) {
  return client.Label() + " on data source " + module.DataSourceName;
}

// Logs the text `make` gives the first time `kind` is reported for the client.
template <class Make>
void LogFirst(TSerialPortDM& module, TCustomParserClient& client, TLossKind kind, uint8_t level,
              Make&& make) noexcept {
  try {
    if (client.FirstReport(kind))
      module.Owner.ParserLog(level, make() + std::string(kOnlyCounted));
  } catch (...) {
    // Not even the line could be made (no memory left); the counter has the loss.
  }
}

} // namespace

std::string Excerpt(std::string_view text, std::size_t limit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text.substr(0, limit)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  if (text.size() > limit)
    out += "...";
  return out;
}

void ReportOversizeBlock(TSerialPortDM& module, TCustomParserClient& client, int64_t size,
                         int32_t limit) noexcept {
  module.Statistics.Oversize.Add();
  LogFirst(module, client, TLossKind::Oversize, 1, [&] {
    return "A block of " + Place(module, client) + " is longer than the maximum block size (" +
           std::to_string(size) + " bytes so far, at most " + std::to_string(limit) +
           " after its opening bracket) and is dropped whole; the blocks after it are kept. "
           "Raise the setting \"Maximum block size\" to keep such blocks.";
  });
}

void ReportUnparsableBlock(TSerialPortDM& module, TCustomParserClient& client,
                           std::string_view block) noexcept {
  module.Statistics.Unparsable.Add();
  LogFirst(module, client, TLossKind::Unparsable, 1, [&] {
    return "A block of " + Place(module, client) +
           " is not JSON and gives no rows: " + Excerpt(block);
  });
}

void ReportTimedOutBlock(TSerialPortDM& module, TCustomParserClient& client, int64_t bytes,
                         int64_t timeout) noexcept {
  module.Statistics.TimedOut.Add();
  LogFirst(module, client, TLossKind::TimedOut, 2, [&] {
    return "A half-received block of " + Place(module, client) + " (" + std::to_string(bytes) +
           " bytes) was dropped: the client was silent for longer than the sign time-out of " +
           std::to_string(timeout) + " ms.";
  });
}

void ReportDiscardedBytes(TSerialPortDM& module, TCustomParserClient& client,
                          std::string_view bytes) noexcept {
  uint64_t counted = 0;
  for (const char c : bytes)
    counted += IsBlank(static_cast<unsigned char>(c)) ? 0 : 1;
  if (counted == 0)
    return;
  module.Statistics.DiscardedBytes.Add(counted);
  LogFirst(module, client, TLossKind::Discarded, 2, [&] {
    return "Bytes outside JSON blocks of " + Place(module, client) +
           " were discarded: " + Excerpt(bytes);
  });
}

void ReportLossyName(TSerialPortDM& module, platform::WideStringView name,
                     const std::string& written) noexcept {
  try {
    // The name as this log can hold it: ASCII as it is, everything else as \uXXXX. Asked for
    // every value under such a name, so the name is written straight after the report's kind,
    // into the one string the report's key needs.
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kKind = "lossy name ";
    std::string key;
    key.reserve(kKind.size() + name.size() * 6);
    key.assign(kKind);
    for (const auto unit : name) {
      const auto code = static_cast<uint16_t>(unit);
      if (code >= 0x20 && code < 0x7F) {
        key += static_cast<char>(code);
        continue;
      }
      key += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4)
        key += kHex[(code >> shift) & 0x0F];
    }
    if (module.FirstReport(key)) {
      const std::string shown = key.substr(kKind.size());
      module.Owner.ParserLog(1, "The member name \"" + shown + "\" on data source " +
                                    module.DataSourceName +
                                    " cannot be written in the system code page; its values are "
                                    "delivered under the name \"" +
                                    written + "\".");
    }
  } catch (...) {
    // Not even the line could be made (no memory left); the values are delivered all the same.
  }
}

void ReportMapNotApplied(TSerialPortDM& module, const std::string& rule) noexcept {
  try {
    if (module.FirstReport("map not applied " + rule))
      module.Owner.ParserLog(1, "The character map for String values is not applied to \"" + rule +
                                    "\" on data source " + module.DataSourceName +
                                    ": a value holds characters the system code page cannot "
                                    "represent and is delivered as received.");
  } catch (...) {
    // Not even the line could be made (no memory left); the value is delivered all the same.
  }
}

void ReportFailedPacket(TSerialPortDM& module, TCustomParserClient* client,
                        const std::string& message) noexcept {
  module.Statistics.FailedPackets.Add();
  const auto text = [&] {
    return "A packet " +
           (client ? "of " + Place(module, *client) : "on data source " + module.DataSourceName) +
           " failed and is lost as far as it was not buffered: " + message + ".";
  };
  if (client) {
    LogFirst(module, *client, TLossKind::FailedPacket, 0, text);
    return;
  }
  try {
    if (module.FirstReport("failed packet"))
      module.Owner.ParserLog(0, text() + " Further ones are only counted (module parameter "
                                         "\"Statistics\").");
  } catch (...) {
    // Not even the line could be made (no memory left); the counter has the packet.
  }
}

} // namespace kestrel::parser
