// POSIX sockets, terminals and signals for the reference host.
#include "host_system.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel::host {

namespace {

std::atomic<bool>* g_interrupt = nullptr;

void OnSignal(int) {
  if (g_interrupt)
    g_interrupt->store(true);
}

// The addresses of `host` (a name, an IPv4 or an IPv6 literal) for TCP on `port`, in the
// resolver's order; nullptr with `*error` set when there are none.
addrinfo* Resolve(const std::string& host, uint16_t port, bool passive, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
  addrinfo* found = nullptr;
  const int code = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (code != 0) {
    if (error)
      *error = "cannot resolve " + host + ": " + gai_strerror(code);
    return nullptr;
  }
  return found;
}

// "ip:port", with the IPv6 address in brackets.
std::string AddressText(const sockaddr* address, socklen_t length) {
  char host[NI_MAXHOST] = {};
  char service[NI_MAXSERV] = {};
  if (getnameinfo(address, length, host, sizeof(host), service, sizeof(service),
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return "?";
  return JoinHostPort(host, static_cast<uint16_t>(std::atoi(service)));
}

} // namespace

bool StartSockets(std::string*) {
  // A peer that goes away must not end the host with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

SocketHandle ListenTcp(const std::string& address, uint16_t port, uint16_t* bound_port,
                       bool* in_use, std::string* error) {
  *in_use = false;
  addrinfo* found = Resolve(address, port, true, error);
  int fd = -1;
  // The first address that can be bound: a name that stands for several listens on one.
  for (addrinfo* entry = found; entry && fd < 0; entry = entry->ai_next) {
    fd = socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
    if (fd < 0) {
      *error = std::strerror(errno);
      continue;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (bind(fd, entry->ai_addr, entry->ai_addrlen) != 0 || listen(fd, 64) != 0) {
      *in_use = errno == EADDRINUSE;
      *error = std::strerror(errno);
      close(fd);
      fd = -1;
    }
  }
  if (found)
    freeaddrinfo(found);
  if (fd < 0)
    return kNoSocket;
  *in_use = false;
  sockaddr_storage where{};
  socklen_t length = sizeof(where);
  getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
  *bound_port =
      ntohs(where.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&where)->sin6_port
                                        : reinterpret_cast<const sockaddr_in*>(&where)->sin_port);
  return fd;
}

SocketHandle ConnectTcp(const std::string& address, uint16_t port) {
  addrinfo* found = Resolve(address, port, false, nullptr);
  int fd = -1;
  for (addrinfo* entry = found; entry && fd < 0; entry = entry->ai_next) {
    fd = socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
    if (fd >= 0 && connect(fd, entry->ai_addr, entry->ai_addrlen) != 0) {
      close(fd);
      fd = -1;
    }
  }
  if (found)
    freeaddrinfo(found);
  return fd < 0 ? kNoSocket : fd;
}

SocketHandle AcceptTcp(SocketHandle listener, std::string* peer) {
  sockaddr_storage from{};
  socklen_t length = sizeof(from);
  const int fd = accept(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&from), &length);
  if (fd < 0)
    return kNoSocket;
  *peer = AddressText(reinterpret_cast<sockaddr*>(&from), length);
  return fd;
}

bool WaitReadable(const std::vector<SocketHandle>& sockets, int timeout_ms,
                  std::vector<bool>* ready) {
  std::vector<pollfd> fds(sockets.size());
  for (std::size_t i = 0; i < sockets.size(); ++i)
    fds[i] = pollfd{static_cast<int>(sockets[i]), POLLIN, 0};
  ready->assign(sockets.size(), false);
  const int count = poll(fds.data(), fds.size(), timeout_ms);
  if (count < 0)
    return errno == EINTR;
  for (std::size_t i = 0; i < fds.size(); ++i)
    (*ready)[i] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  return true;
}

long ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity) {
  const ssize_t got = recv(static_cast<int>(socket), buffer, capacity, 0);
  return got < 0 ? -1 : static_cast<long>(got);
}

bool SendAll(SocketHandle socket, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    if (sent <= 0)
      return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

void CloseSocket(SocketHandle socket) {
  if (socket != kNoSocket)
    close(static_cast<int>(socket));
}

long ReadSome(std::FILE* stream, char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t got = read(fileno(stream), buffer, capacity);
    if (got >= 0 || errno != EINTR)
      return got < 0 ? -1 : static_cast<long>(got);
  }
}

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) != 0;
}

void PrepareStandardStreams() {}

void CatchInterrupt(std::atomic<bool>* flag) {
  g_interrupt = flag;
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = &OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

} // namespace kestrel::host
