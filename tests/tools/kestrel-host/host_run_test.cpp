// The reference host run in this process with TCP clients on loopback, as a data logger's
// network data source would feed it.
#include "host_run.h"
#include "host_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

using namespace kestrel::host;

// Runs the host on its own thread with `args`; its records go to a temporary file.
class HostThread {
public:
  explicit HostThread(std::vector<std::string> args) : out_(std::tmpfile()), err_(std::tmpfile()) {
    HostOptions options;
    options.library = KESTREL_LIBRARY_PATH;
    std::string error;
    EXPECT_TRUE(ParseHostOptions(args, &options, &error)) << error;
    HostHooks hooks;
    hooks.listening = [this](int32_t, uint16_t port) {
      std::lock_guard<std::mutex> lock(mutex_);
      port_ = port;
      changed_.notify_all();
    };
    hooks.statistics_period = 20;
    hooks.statistics_shown = [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      ++tables_;
      changed_.notify_all();
    };
    thread_ = std::thread([this, options, hooks] {
      const int code = RunHost(options, out_, err_, hooks);
      std::lock_guard<std::mutex> lock(mutex_);
      exit_ = code;
      changed_.notify_all();
    });
  }
  ~HostThread() {
    if (thread_.joinable())
      thread_.join();
    std::fclose(out_);
    std::fclose(err_);
  }

  // The listener's port, 0 when the host ended without listening.
  uint16_t Port() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(120), [this] { return port_ || exit_ >= 0; });
    return port_;
  }
  // Waits until the host has written `count` --stats tables in all; false if it never did.
  bool WaitForTables(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(120), [&] {
      return tables_ >= count || exit_ >= 0;
    }) && tables_ >= count;
  }
  // Waits for the end of the run; the exit code.
  int Join() {
    thread_.join();
    return exit_;
  }
  static std::string Read(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
      text.append(buffer, got);
    return text;
  }
  std::string Out() { return Read(out_); }
  std::string Err() { return Read(err_); }

private:
  std::FILE* out_;
  std::FILE* err_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint16_t port_ = 0;
  int tables_ = 0;
  int exit_ = -1;
};

// CSV records grouped by client, each without its run-wide record number: the order of records
// of different clients depends on timing, the order within one client does not.
std::string ByClient(const std::string& csv) {
  std::vector<std::string> lines;
  std::istringstream in(csv);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line.substr(line.find(',') + 1));
  std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return a.substr(0, a.find(',', a.find(',') + 1)) < b.substr(0, b.find(',', b.find(',') + 1));
  });
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void Pause() {
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(HostRun, SeveralTcpClientsInterleaved) {
  std::string error;
  ASSERT_TRUE(StartSockets(&error)) << error;
  HostThread host({"--format", "csv", "--hide", "DATE_TIME_STAMP,DATA_SOURCE_FULL_NAME",
                   "--clients", "3", "tcp:0"});
  const uint16_t port = host.Port();
  ASSERT_NE(port, 0) << host.Err();

  // Clients 1, 2 and 3 in the order they connect; each one's blocks are cut across its packets
  // while the others send in between.
  std::vector<SocketHandle> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(ConnectTcp("127.0.0.1", port));
    ASSERT_NE(clients.back(), kNoSocket);
    Pause();
  }
  const std::vector<std::pair<int, std::string>> sends = {
      {0, R"({"device":"a","temp":)"},
      {1, R"({"device":"b","seq":1}{"device":"b","se)"},
      {2, R"([{"device":"c","n":1},)"},
      {0, R"(21.5,"site":{"floor":2}})"},
      {1, R"(q":2})"},
      {2, R"({"device":"c","n":2}] {"broken":})"},
      {0, R"({"device":"a","ok":true})"},
  };
  for (const auto& [client, text] : sends) {
    ASSERT_TRUE(SendAll(clients[client], text.data(), text.size()));
    Pause();
  }
  for (SocketHandle client : clients)
    CloseSocket(client);

  EXPECT_EQ(host.Join(), kExitOk) << host.Err();
  EXPECT_EQ(ByClient(host.Out()),
            ByClient(ReadFile(std::string(KESTREL_HOST_EXPECTED_DIR) + "/tcp_clients.csv")));
  EXPECT_NE(host.Err().find("listens on 127.0.0.1:" + std::to_string(port)), std::string::npos);
}

TEST(HostRun, AClientGoneInTheMiddleOfABlockIsReportedAndCountersAreShown) {
  std::string error;
  ASSERT_TRUE(StartSockets(&error)) << error;
  HostThread host({"--format", "csv", "--stats", "--clients", "2", "tcp:0"});
  const uint16_t port = host.Port();
  ASSERT_NE(port, 0) << host.Err();
  const SocketHandle whole = ConnectTcp("127.0.0.1", port);
  const SocketHandle cut = ConnectTcp("127.0.0.1", port);
  ASSERT_NE(whole, kNoSocket);
  ASSERT_NE(cut, kNoSocket);
  const std::string complete = R"({"a":"}"}[{"b":1}])";
  const std::string half = R"({"c":{"d":"}"},"e":[)";
  ASSERT_TRUE(SendAll(whole, complete.data(), complete.size()));
  Pause();
  ASSERT_TRUE(SendAll(cut, half.data(), half.size()));
  // A table of the counters while both clients are connected.
  EXPECT_TRUE(host.WaitForTables(1));
  CloseSocket(whole);
  Pause();
  CloseSocket(cut);
  EXPECT_EQ(host.Join(), kExitOk);
  const std::string err = host.Err();
  EXPECT_EQ(err.find("client 1 ("), std::string::npos) << err;
  EXPECT_NE(err.find("client 2 (127.0.0.1:"), std::string::npos) << err;
  EXPECT_NE(err.find("closed in the middle of a block (20 bytes so far); the block is lost"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("kestrel-host: source packets  bytes blocks   rows"), std::string::npos)
      << err;
  EXPECT_NE(err.find("kestrel-host: source=1 packets=2 bytes=38 blocks=2 rows=2 "),
            std::string::npos)
      << err;
}

// A listener on a host name and one on the IPv6 loopback take clients that connect by name
// and by address; the listeners name themselves the way they were bound.
TEST(HostRun, ListensOnHostNamesAndIPv6) {
  std::string error;
  ASSERT_TRUE(StartSockets(&error)) << error;
  uint16_t port = 0;
  bool in_use = false;
  const SocketHandle probe = ListenTcp("::1", 0, &port, &in_use, &error);
  const bool ipv6 = probe != kNoSocket;
  if (ipv6)
    CloseSocket(probe);
  std::vector<std::pair<std::string, std::string>> listeners = {{"localhost", "localhost"}};
  if (ipv6)
    listeners.emplace_back("[::1]", "::1");
  for (const auto& [spelled, connect_to] : listeners) {
    HostThread host({"--format", "csv", "--hide", "DATE_TIME_STAMP", "--clients", "1",
                     "tcp:" + spelled + ":0"});
    const uint16_t bound = host.Port();
    ASSERT_NE(bound, 0) << host.Err();
    const SocketHandle client = ConnectTcp(connect_to, bound);
    ASSERT_NE(client, kNoSocket) << spelled;
    const std::string block = R"({"device":"v6","n":1})";
    ASSERT_TRUE(SendAll(client, block.data(), block.size()));
    CloseSocket(client);
    EXPECT_EQ(host.Join(), kExitOk) << host.Err();
    EXPECT_NE(host.Out().find("device,String,v6,n,Integer,1"), std::string::npos) << host.Out();
    if (spelled == "[::1]") {
      EXPECT_NE(host.Err().find("listens on [::1]:" + std::to_string(bound)), std::string::npos)
          << host.Err();
    }
  }
  if (!ipv6)
    std::printf("no IPv6 loopback here (%s): only the host name was tried\n", error.c_str());
}

TEST(HostRun, PortInUseIsReported) {
  std::string error;
  ASSERT_TRUE(StartSockets(&error)) << error;
  uint16_t port = 0;
  bool in_use = false;
  const SocketHandle taken = ListenTcp("127.0.0.1", 0, &port, &in_use, &error);
  ASSERT_NE(taken, kNoSocket) << error;
  HostThread host({"tcp:" + std::to_string(port)});
  EXPECT_EQ(host.Join(), kExitPortInUse);
  EXPECT_NE(host.Err().find("the port is in use"), std::string::npos) << host.Err();
  CloseSocket(taken);
}

} // namespace
