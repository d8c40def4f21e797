#include "parser/block_cutting.h"

#include "common/current_exception.h"
#include "parser/block_processing.h"
#include "parser/loss_reports.h"
#include "parser/serial_port_dm.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

namespace kestrel::parser {

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

int32_t FirstBlockStart(const uint8_t* data, int32_t count) {
  const auto size = static_cast<std::size_t>(count);
  const auto* brace = static_cast<const uint8_t*>(std::memchr(data, '{', size));
  // A bracket counts only before the brace, so the second search stops there.
  const std::size_t before = brace ? static_cast<std::size_t>(brace - data) : size;
  const auto* bracket = static_cast<const uint8_t*>(std::memchr(data, '[', before));
  const uint8_t* first = bracket ? bracket : brace;
  return first ? static_cast<int32_t>(first - data) : -1;
}

namespace {

// Discards the first `n` bytes of a block that is being dropped, keeping the state of its
// end scan: the scan goes on over the bytes that follow as if the discarded ones were there.
void DiscardScanned(TCustomParserClient& client, int32_t n) {
  TFIFOStream& buffer = *client.Buffer;
  buffer.Discard(n);
  client.Scan.Next -= n; // 1 rather than 0 after a trailing backslash: its byte is still due
  client.Scan.Generation = buffer.FrontGeneration();
}

// The block in the buffer has not ended yet (the scan has seen every buffered byte). Room is
// made for more of it: a full buffer grows towards the maximum block size; a block that has
// reached that size is dropped, and so is what arrives of it later, until its end.
void MakeRoomForBlock(TSerialPortDM& module, TKestrelClient& client, const TParserSetup& setup) {
  TFIFOStream& buffer = *client.Buffer;
  const int32_t held = buffer.HeldCount();
  if (!client.DroppingBlock) {
    if (held < setup.MaxBlockSize) {
      if (held >= buffer.Capacity())
        buffer.ResizeHeld(static_cast<int32_t>(
            std::min<int64_t>(setup.MaxBlockSize, int64_t{2} * buffer.Capacity())));
      return;
    }
    client.DroppingBlock = true;
    ReportOversizeBlock(module, client, int64_t{held} + 1, setup.MaxBlockSize);
  }
  DiscardScanned(client, held);
}

// Processes the complete block of `end` bytes at the front of the buffer (the closing bracket
// follows them) and delivers what it yields. Whatever happens, the block counts as cut out, so
// a failed delivery loses this block only.
void CutBlock(TSerialPortDM& module, TKestrelClient& client, int32_t end,
              std::optional<TParsedDataList>& list, const TParserSetup& setup,
              const TDeliverBlock& deliver) {
  module.Statistics.Blocks.Add();
  client.CloseText.assign(1, client.CloseChar);
  TFIFOStream& buffer = *client.Buffer;
  // The block is read where it lies: the packet holds the buffer's lock, and nothing is
  // written to the buffer before the block is discarded.
  const std::string_view body(reinterpret_cast<const char*>(buffer.HeldData()),
                              static_cast<std::size_t>(end));
  try {
    if (!list)
      list.emplace();
    ProcessBlock(module, client, body, *list, setup);
    if (list->Count() > 0 && deliver)
      deliver(*list);
  } catch (...) {
    try {
      module.Owner.ParserLog(0,
                             "A parsed block could not be delivered: " + CurrentExceptionMessage());
    } catch (...) {
      // Not even the line could be made (no memory left): the block is lost without it.
    }
  }
  if (list)
    list->Clear();
}

} // namespace

void CutBlocks(TSerialPortDM& module, TKestrelClient& client_ref, const TParserSetup& setup,
               const TDeliverBlock& deliver) {
  TKestrelClient* client = &client_ref;
  TFIFOStream& buffer = *client->Buffer;
  // One list for every block of the packet, emptied after each; made with the first block.
  std::optional<TParsedDataList> list;
  while (buffer.HeldCount() > 0) {
    if (client->AwaitingStart) {
      const auto* data = reinterpret_cast<const char*>(buffer.HeldData());
      const int32_t start = FirstBlockStart(buffer.HeldData(), buffer.HeldCount());
      if (start >= 0) {
        const bool brace = data[start] == '{';
        client->OpenChar = brace ? '{' : '[';
        client->CloseChar = brace ? '}' : ']';
        client->OpenText.assign(1, client->OpenChar);
        ReportDiscardedBytes(module, *client,
                             std::string_view(data, static_cast<std::size_t>(start)));
        buffer.Discard(start + 1);
        client->AwaitingStart = false;
      } else if (buffer.HeldCount() > 1) {
        ReportDiscardedBytes(module, *client,
                             std::string_view(data, static_cast<std::size_t>(buffer.HeldCount())));
        buffer.Discard(buffer.HeldCount());
      }
    }
    if (client->AwaitingStart)
      break;
    const int32_t end = FindBlockEnd(*client, client->OpenChar, client->CloseChar);
    if (end < 0) {
      MakeRoomForBlock(module, *client, setup);
      break;
    }
    if (client->DroppingBlock) {
      // The end of a block dropped whole, counted when it was dropped.
    } else if (end + 1 > setup.MaxBlockSize) {
      // Came in one piece that the buffer could hold, but is longer than the maximum.
      ReportOversizeBlock(module, *client, int64_t{end} + 2, setup.MaxBlockSize);
    } else {
      CutBlock(module, *client, end, list, setup, deliver);
    }
    buffer.Discard(end + 1);
    client->ResetBlock();
  }
  // A buffer grown for a long block returns to its usual size once that block is gone (with
  // room to spare: a full buffer here holds a block that goes on).
  if (buffer.Capacity() > client->BufferCapacity && buffer.HeldCount() < client->BufferCapacity)
    buffer.ResizeHeld(client->BufferCapacity);
}

} // namespace kestrel::parser
