// Per-client byte streams of a data source (unit PluginDM): the client objects with their
// FIFO buffers, the client table, and the helpers the packet handler uses on them: finding a
// packet's client and sweeping idle clients.
#pragma once

#include "common/fifo_stream.h"
#include "common/thread_ptr_uint_object_hash_list.h"
#include "common/tick_watch.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kestrel::parser {

// What the packet handler reads of a packet.
struct TPacketInfo {
  int32_t DataSourceId = 0;
  uint32_t ClientId = 0;
  std::string_view ClientName; // at most 50 characters
  const uint8_t* Data = nullptr;
  int32_t Size = 0;

  // The name held in a fixed 50-byte field: up to its first zero byte, at most 50 bytes.
  static std::string_view NameFromField(const char* field, std::size_t size = 50);
};

inline constexpr std::string_view kUnassignedPrefix = "__UT__";

// Where the closing-bracket scan of a client's current block got to, so that bytes already
// scanned are not scanned again when more of the block arrives. It holds while the buffer's
// front stays where it was (FrontGeneration) and the bracket pair is the same.
struct TBlockScan {
  uint64_t Generation = ~uint64_t{0};
  char Open = 0;
  char Close = 0;
  int32_t Next = 0; // offset of the next byte to look at (one past the end after a backslash)
  int32_t Depth = 0;
  bool InString = false;
};

// What a client can lose. Each kind is logged once per client (a bit in ReportedLosses) and
// counted every time.
enum class TLossKind : uint8_t {
  FailedPacket = 0x01, // a packet that failed on the way
  Oversize = 0x02,     // a block longer than the maximum block size
  Unparsable = 0x04,   // a bracketed block that is not JSON
  TimedOut = 0x08,     // a half block dropped by the sign time-out
  Discarded = 0x10,    // bytes outside blocks
};

class TCustomParserClient {
public:
  static constexpr int32_t kDefaultCapacity = 16384;

  TCustomParserClient(void* owner, const TPacketInfo& packet);
  virtual ~TCustomParserClient();
  TCustomParserClient(const TCustomParserClient&) = delete;
  TCustomParserClient& operator=(const TCustomParserClient&) = delete;

  virtual bool GetUserFlag() const { return UserFlag; }
  virtual void SetUserFlag(bool value);
  // Back to awaiting the start of a block.
  virtual void ResetBlock();
  virtual void ClearBuffer();
  virtual void AppendText(std::string_view text);
  virtual void AppendData(const void* data, int32_t length);

  // ClientId, ClientName, ShortName and Unassigned from a packet, as at construction.
  void AssignFromPacket(const TPacketInfo& packet);
  // True the first time a loss of `kind` is reported for this client.
  bool FirstReport(TLossKind kind);
  // How log lines name the client: its id and, when it has one, its name.
  std::string Label() const;

  void* Owner;
  int32_t BufferCapacity = 0;
  std::unique_ptr<TFIFOStream> Buffer;
  uint32_t ClientId = 0;
  std::string ClientName;
  std::string ShortName;
  bool Stale = false;
  int32_t DataSourceId = 0;
  bool UserFlag = false;
  bool AwaitingStart = true;
  bool Unassigned = false;
  // The current block has outgrown the maximum block size: its bytes are discarded as they
  // come, and the scan goes on to find its end. (Beside the flags above, in their padding, so
  // that an idle client costs no more than before.)
  bool DroppingBlock = false;
  uint8_t ReportedLosses = 0; // TLossKind bits
  std::string OpenText;
  std::string CloseText;
  TTickWatch ActivityWatch;
  TBlockScan Scan;
};

class TKestrelClient : public TCustomParserClient {
public:
  using TCustomParserClient::TCustomParserClient;

  std::string BlockText; // the framed text of the block being parsed
  char OpenChar = '{';
  char CloseChar = '}';
};

using TCustomParserClientList = TThreadPtrUIntObjectHashList<TCustomParserClient>;

// Creates a client object for a packet.
using TParserClientFactory = std::unique_ptr<TCustomParserClient> (*)(void* owner,
                                                                      const TPacketInfo& packet);
std::unique_ptr<TCustomParserClient> CreateKestrelClient(void* owner, const TPacketInfo& packet);

// The client object of a packet: the one with its client id; else the first unassigned one
// (re-initialised from the packet unless the packet's own name marks it unassigned too); else
// a new one made by `factory` and added under the packet's client id; else null.
TCustomParserClient* FindClient(TCustomParserClientList& table, const TPacketInfo& packet,
                                void* owner, bool skip_stale, TParserClientFactory factory);

// For a caller that holds the table's lock: the client object filed under the packet's client
// id, as FindClient finds it, or null (then FindClient has more to try).
TCustomParserClient* KnownClient(const TCustomParserClientList& table, const TPacketInfo& packet,
                                 bool skip_stale);

// Marks client objects idle for `limit_ms` as Stale and, with `remove`, destroys them; returns
// how many it destroyed.
std::size_t RemoveIdle(TCustomParserClientList& table, uint32_t limit_ms, bool remove);

} // namespace kestrel::parser
