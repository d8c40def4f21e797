// POSIX sockets, terminals and signals for the reference host.
#include "host_system.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
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

bool MakeAddress(const std::string& address, uint16_t port, sockaddr_in* out) {
  std::memset(out, 0, sizeof(*out));
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  return inet_pton(AF_INET, address.c_str(), &out->sin_addr) == 1;
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
  sockaddr_in where;
  if (!MakeAddress(address, port, &where)) {
    *error = "not an IPv4 address: " + address;
    return kNoSocket;
  }
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    *error = std::strerror(errno);
    return kNoSocket;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof(where)) != 0 || listen(fd, 64) != 0) {
    *in_use = errno == EADDRINUSE;
    *error = std::strerror(errno);
    close(fd);
    return kNoSocket;
  }
  socklen_t length = sizeof(where);
  getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
  *bound_port = ntohs(where.sin_port);
  return fd;
}

SocketHandle ConnectTcp(const std::string& address, uint16_t port) {
  sockaddr_in where;
  if (!MakeAddress(address, port, &where))
    return kNoSocket;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0)
    return kNoSocket;
  if (connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof(where)) != 0) {
    close(fd);
    return kNoSocket;
  }
  return fd;
}

SocketHandle AcceptTcp(SocketHandle listener, std::string* peer) {
  sockaddr_in from;
  socklen_t length = sizeof(from);
  const int fd = accept(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&from), &length);
  if (fd < 0)
    return kNoSocket;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &from.sin_addr, text, sizeof(text));
  *peer = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
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
