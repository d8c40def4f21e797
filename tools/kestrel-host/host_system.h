// What the reference host needs of the operating system beyond the platform library: TCP
// sockets, terminals and Ctrl-C. Declared here once; host_system_posix.cpp and
// host_system_win32.cpp implement it and CMake picks one.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrel::host {

// A socket handle; kNoSocket when there is none. Wide enough for a Windows SOCKET.
using SocketHandle = intptr_t;
constexpr SocketHandle kNoSocket = -1;

// Prepares the socket layer once per process (WSAStartup on Windows).
bool StartSockets(std::string* error);

// "host:port", the host in brackets when it is an IPv6 address ("[::1]:5000").
inline std::string JoinHostPort(const std::string& host, uint16_t port) {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
         std::to_string(port);
}

// A listening TCP socket on `address` (a host name, an IPv4 or an IPv6 address; a name with
// several addresses listens on the first that can be bound) and `port` (0 = any free port). On
// success `*bound_port` is the port in use. On failure kNoSocket, `*in_use` tells whether the
// address was taken, and `*error` says why (the resolver's or the system's reason).
SocketHandle ListenTcp(const std::string& address, uint16_t port, uint16_t* bound_port,
                       bool* in_use, std::string* error);

// A connection to `address` (name or address, each of its addresses tried):`port`, kNoSocket
// on failure.
SocketHandle ConnectTcp(const std::string& address, uint16_t port);

// Accepts a waiting connection; `*peer` becomes "ip:port" of the other end.
SocketHandle AcceptTcp(SocketHandle listener, std::string* peer);

// Waits at most `timeout_ms` until one of `sockets` can be read (or accepted); `ready[i]` is
// set for those. Returns false on an error of the wait itself.
bool WaitReadable(const std::vector<SocketHandle>& sockets, int timeout_ms,
                  std::vector<bool>* ready);

// Reads what is there: the byte count, 0 when the other end closed, -1 on an error.
long ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity);
bool SendAll(SocketHandle socket, const char* data, std::size_t size);
void CloseSocket(SocketHandle socket);

// Reads what a stream has now, without waiting to fill the buffer: the byte count, 0 at the
// end, -1 on an error.
long ReadSome(std::FILE* stream, char* buffer, std::size_t capacity);

// True when the stream is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// Makes stdin read bytes as they are (no text-mode translation on Windows) and stdout write
// UTF-8 unchanged.
void PrepareStandardStreams();

// From now on Ctrl-C (SIGINT, SIGTERM, console close) sets `*flag` instead of ending the process.
void CatchInterrupt(std::atomic<bool>* flag);

} // namespace kestrel::host
