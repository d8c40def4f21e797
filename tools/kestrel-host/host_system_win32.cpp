// Winsock, consoles and Ctrl-C for the reference host on Windows.
#include "host_system.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstdlib>
#include <fcntl.h>
#include <io.h>

namespace kestrel::host {

namespace {

std::atomic<bool>* g_interrupt = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
  if (!g_interrupt)
    return FALSE;
  g_interrupt->store(true);
  return TRUE;
}

std::string ErrorText(int code) {
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(code), 0, text, sizeof(text), nullptr);
  std::string message(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
    message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : message;
}

SOCKET Raw(SocketHandle socket) {
  return static_cast<SOCKET>(socket);
}

// The addresses of `host` (a name, an IPv4 or an IPv6 literal) for TCP on `port`, in the
// resolver's order; nullptr with `*error` set when there are none.
addrinfo* Resolve(const std::string& host, uint16_t port, bool passive, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
  addrinfo* found = nullptr;
  const int code = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (code != 0) {
    if (error)
      *error = "cannot resolve " + host + ": " + ErrorText(code);
    return nullptr;
  }
  return found;
}

// "ip:port", with the IPv6 address in brackets.
std::string AddressText(const sockaddr* address, int length) {
  char host[NI_MAXHOST] = {};
  char service[NI_MAXSERV] = {};
  if (getnameinfo(address, length, host, sizeof(host), service, sizeof(service),
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return "?";
  return JoinHostPort(host, static_cast<uint16_t>(std::atoi(service)));
}

} // namespace

bool StartSockets(std::string* error) {
  WSADATA data;
  const int code = WSAStartup(MAKEWORD(2, 2), &data);
  if (code != 0)
    *error = ErrorText(code);
  return code == 0;
}

SocketHandle ListenTcp(const std::string& address, uint16_t port, uint16_t* bound_port,
                       bool* in_use, std::string* error) {
  *in_use = false;
  addrinfo* found = Resolve(address, port, true, error);
  SOCKET s = INVALID_SOCKET;
  // The first address that can be bound: a name that stands for several listens on one.
  for (addrinfo* entry = found; entry && s == INVALID_SOCKET; entry = entry->ai_next) {
    s = socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
    if (s == INVALID_SOCKET) {
      *error = ErrorText(WSAGetLastError());
      continue;
    }
    // Without SO_EXCLUSIVEADDRUSE a second listener could share the port silently.
    const BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof(on));
    if (bind(s, entry->ai_addr, static_cast<int>(entry->ai_addrlen)) != 0 || listen(s, 64) != 0) {
      const int code = WSAGetLastError();
      *in_use = code == WSAEADDRINUSE || code == WSAEACCES;
      *error = ErrorText(code);
      closesocket(s);
      s = INVALID_SOCKET;
    }
  }
  if (found)
    freeaddrinfo(found);
  if (s == INVALID_SOCKET)
    return kNoSocket;
  *in_use = false;
  sockaddr_storage where{};
  int length = sizeof(where);
  getsockname(s, reinterpret_cast<sockaddr*>(&where), &length);
  *bound_port =
      ntohs(where.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&where)->sin6_port
                                        : reinterpret_cast<const sockaddr_in*>(&where)->sin_port);
  return static_cast<SocketHandle>(s);
}

SocketHandle ConnectTcp(const std::string& address, uint16_t port) {
  addrinfo* found = Resolve(address, port, false, nullptr);
  SOCKET s = INVALID_SOCKET;
  for (addrinfo* entry = found; entry && s == INVALID_SOCKET; entry = entry->ai_next) {
    s = socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
    if (s != INVALID_SOCKET &&
        connect(s, entry->ai_addr, static_cast<int>(entry->ai_addrlen)) != 0) {
      closesocket(s);
      s = INVALID_SOCKET;
    }
  }
  if (found)
    freeaddrinfo(found);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

SocketHandle AcceptTcp(SocketHandle listener, std::string* peer) {
  sockaddr_storage from{};
  int length = sizeof(from);
  const SOCKET s = accept(Raw(listener), reinterpret_cast<sockaddr*>(&from), &length);
  if (s == INVALID_SOCKET)
    return kNoSocket;
  *peer = AddressText(reinterpret_cast<sockaddr*>(&from), length);
  return static_cast<SocketHandle>(s);
}

bool WaitReadable(const std::vector<SocketHandle>& sockets, int timeout_ms,
                  std::vector<bool>* ready) {
  // select() rather than WSAPoll: older Wine versions implement only the former well.
  ready->assign(sockets.size(), false);
  fd_set set;
  FD_ZERO(&set);
  for (SocketHandle s : sockets)
    FD_SET(Raw(s), &set);
  timeval wait{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  if (sockets.empty()) {
    Sleep(static_cast<DWORD>(timeout_ms));
    return true;
  }
  const int count = select(0, &set, nullptr, nullptr, &wait);
  if (count == SOCKET_ERROR)
    return false;
  for (std::size_t i = 0; i < sockets.size(); ++i)
    (*ready)[i] = FD_ISSET(Raw(sockets[i]), &set) != 0;
  return true;
}

long ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity) {
  const int got = recv(Raw(socket), buffer, static_cast<int>(capacity), 0);
  return got == SOCKET_ERROR ? -1 : got;
}

bool SendAll(SocketHandle socket, const char* data, std::size_t size) {
  while (size > 0) {
    const int sent = send(Raw(socket), data, static_cast<int>(size), 0);
    if (sent == SOCKET_ERROR || sent == 0)
      return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

void CloseSocket(SocketHandle socket) {
  if (socket != kNoSocket)
    closesocket(Raw(socket));
}

long ReadSome(std::FILE* stream, char* buffer, std::size_t capacity) {
  const unsigned chunk = capacity > 0x40000000u ? 0x40000000u : static_cast<unsigned>(capacity);
  return _read(_fileno(stream), buffer, chunk);
}

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

void PrepareStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
}

void CatchInterrupt(std::atomic<bool>* flag) {
  g_interrupt = flag;
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

} // namespace kestrel::host
