// A TCP listener on its own thread: every connection is one client of a data source. What the
// clients send is queued as packets for the host's main thread, which is woken by a window
// message, so that all plug-in calls stay on the thread that pumps the plug-in's messages.
#pragma once

#include "host_system.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kestrel::host {

struct TcpPacket {
  int32_t source = 0;
  int32_t client = 0;
  std::string client_name; // "ip:port"
  std::string bytes;       // empty when `closed`
  bool closed = false;     // the client went away
};

class TcpListener {
public:
  // `wake` is called from the listener thread after packets were queued.
  TcpListener(int32_t source, std::function<void()> wake);
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Binds and starts serving; false with `*error` (and `*in_use`) when the port cannot be had.
  bool Start(const std::string& address, uint16_t port, bool* in_use, std::string* error);
  uint16_t Port() const { return port_; }
  // Moves the queued packets out.
  std::deque<TcpPacket> Take();
  void Stop();

private:
  void Serve();
  void Queue(TcpPacket packet);

  int32_t source_;
  std::function<void()> wake_;
  SocketHandle listener_ = kNoSocket;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::deque<TcpPacket> queue_;
  std::size_t queued_bytes_ = 0;
};

} // namespace kestrel::host
