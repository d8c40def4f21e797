#include "tcp_listener.h"

#include <chrono>
#include <vector>

namespace kestrel::host {

namespace {

// Received bytes waiting for the main thread beyond which reading pauses, so a fast client
// cannot make the queue grow without limit.
constexpr std::size_t kQueueLimit = 16 * 1024 * 1024;

struct Connection {
  SocketHandle socket;
  int32_t client;
  std::string name;
};

} // namespace

TcpListener::TcpListener(int32_t source, std::function<void()> wake)
    : source_(source), wake_(std::move(wake)) {}

TcpListener::~TcpListener() {
  Stop();
}

bool TcpListener::Start(const std::string& address, uint16_t port, bool* in_use,
                        std::string* error) {
  listener_ = ListenTcp(address, port, &port_, in_use, error);
  if (listener_ == kNoSocket)
    return false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void TcpListener::Stop() {
  stop_ = true;
  if (thread_.joinable())
    thread_.join();
  CloseSocket(listener_);
  listener_ = kNoSocket;
}

std::deque<TcpPacket> TcpListener::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::deque<TcpPacket> taken;
  taken.swap(queue_);
  queued_bytes_ = 0;
  return taken;
}

void TcpListener::Queue(TcpPacket packet) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_bytes_ += packet.bytes.size();
    queue_.push_back(std::move(packet));
  }
  wake_();
}

void TcpListener::Serve() {
  std::vector<Connection> connections;
  int32_t next_client = 1;
  std::vector<char> buffer(64 * 1024);
  std::vector<SocketHandle> sockets;
  std::vector<bool> ready;
  while (!stop_) {
    bool full;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      full = queued_bytes_ > kQueueLimit;
    }
    if (full) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    sockets.assign(1, listener_);
    for (const Connection& connection : connections)
      sockets.push_back(connection.socket);
    if (!WaitReadable(sockets, 100, &ready))
      break;
    if (ready[0]) {
      std::string peer;
      const SocketHandle accepted = AcceptTcp(listener_, &peer);
      if (accepted != kNoSocket)
        connections.push_back(Connection{accepted, next_client++, peer});
    }
    // Connections that were ready, in the order they were accepted.
    for (std::size_t i = 1; i < ready.size(); ++i) {
      if (!ready[i])
        continue;
      Connection& connection = connections[i - 1];
      const long got = ReceiveSome(connection.socket, buffer.data(), buffer.size());
      if (got > 0) {
        Queue(TcpPacket{source_, connection.client, connection.name,
                        std::string(buffer.data(), static_cast<std::size_t>(got)), false});
        continue;
      }
      Queue(TcpPacket{source_, connection.client, connection.name, std::string(), true});
      CloseSocket(connection.socket);
      connection.socket = kNoSocket;
    }
    std::erase_if(connections, [](const Connection& c) { return c.socket == kNoSocket; });
  }
  for (const Connection& connection : connections)
    CloseSocket(connection.socket);
}

} // namespace kestrel::host
