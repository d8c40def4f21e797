// Soak run: a large volume of mixed JSON blocks through ProcessData, cut into random packets,
// from eight clients on two threads, while the settings are reloaded every second. The resident
// memory is taken once the run has warmed up and again at the end; a growth beyond the bound
// fails the run.
//
//   kestrel_soak [--library PATH] [--megabytes N] [--max-growth-kib N] [--seed N]
#include "pipeline_host.h"
#include "plugin_library.h"
#include "settings_scratch.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using kestrel::Variant;
using kestrel::testing::PipelineHost;

constexpr int kThreads = 2;
constexpr int kClientsPerThread = 4;

// Two settings the reloads alternate between: filters, typed item rules, a date template and
// a translation map, so that each reload rebuilds every rule the packets go through.
const char* const kSettings[] = {
    "[Common]\r\n"
    "Filter=1||0||drop||0\r\n"
    "JSON items=temp||1||1||Float%0D%0Aat||1||1||Date%0D%0Askip||1||0||String%0D%0A"
    "name||1||1||String\r\n"
    "Date format=YYYY-MM-DDThh:mm:ss\r\n"
    "[Translation]\r\n"
    "Map1=%0D%0A%0D%0A1\r\n",
    "[Common]\r\n"
    "Filter=1||0||skip||0\r\n"
    "JSON items=temp||1||1||String%0D%0Aid||1||1||Integer\r\n"
    "Date format=DD.MM.YYYY\r\n"};

// Resident set size in KiB, from the kernel's process status; 0 where there is none.
long ResidentKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0)
      return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}

// One block of the kinds a logger records: readings, nested status, arrays of samples, free
// text with brackets and quotes, blocks the filter drops, noise between blocks.
std::string RandomBlock(std::mt19937& random, long serial) {
  const std::string id = std::to_string(serial);
  switch (random() % 6) {
  case 0:
    return "{\"id\":" + id + ",\"temp\":" + std::to_string(random() % 400) +
           ".5,\"at\":\"2024-05-01T12:00:00\"}\r\n";
  case 1:
    return "{\"id\":" + id + ",\"status\":{\"mode\":\"auto\",\"flags\":[1,2,3]," +
           "\"inner\":{\"deep\":{\"x\":null}}},\"name\":\"n" + id + "\"}";
  case 2: {
    std::string block = "[";
    for (int i = 0, n = 1 + static_cast<int>(random() % 8); i < n; ++i)
      block += (i ? ",{\"v\":" : "{\"v\":") + std::to_string(random() % 1000) + "}";
    return block + "]\r\n";
  }
  case 3:
    return "{\"id\":" + id + ",\"text\":\"a {b} [c] \\\"d\\\" " + id + "\"}";
  case 4:
    return "{\"id\":" + id + ",\"drop\":\"drop\",\"skip\":\"skip\"}";
  default:
    return "noise\r\n{\"id\":" + id + ",\"name\":\"" + std::string(random() % 200, 'x') + "\"}";
  }
}

struct Options {
  std::string library = KESTREL_SOAK_LIBRARY;
  long long megabytes = 1024;
  long max_growth_kib = 8192;
  unsigned seed = 1;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--library")
      options.library = value;
    else if (name == "--megabytes")
      options.megabytes = std::atoll(value);
    else if (name == "--max-growth-kib")
      options.max_growth_kib = std::atol(value);
    else if (name == "--seed")
      options.seed = static_cast<unsigned>(std::atol(value));
    else
      return false;
  }
  return argc % 2 == 1 && options.megabytes > 0;
}

} // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s [--library PATH] [--megabytes N] [--max-growth-kib N] "
                 "[--seed N]\n",
                 argv[0]);
    return 2;
  }
  const kestrel::testing::PluginLibrary library(options.library);
  if (!library.Loaded()) {
    std::fprintf(stderr, "cannot load %s: %s\n", options.library.c_str(), library.Error().c_str());
    return 2;
  }

  int status = 0;
  {
    kestrel::testing::ScratchFolder folder;
    kestrel::testing::ScratchRegistryKey key;
    const std::string ini[] = {folder.File("a.ini"), folder.File("b.ini")};
    kestrel::testing::WriteText(ini[0], kSettings[0]);
    kestrel::testing::WriteText(ini[1], kSettings[1]);
    PipelineHost host(library.Entry());
    if (host.Command(
            "LOAD", {{"REGISTRY-PATH", Variant(key.Path())}, {"INI-FILE", Variant(ini[0])}}) != 0 ||
        host.SetState("1;COM1;Serial port 1\r\n2;NET;Network", true) != 0) {
      std::fprintf(stderr, "the plug-in refused LOAD or SET-STATE\n%s", host.Log().c_str());
      return 2;
    }

    const long long total = options.megabytes << 20;
    const long long warm_up = total / 20;
    std::atomic<long long> sent{0};
    std::atomic<long long> packets{0};
    std::atomic<long long> rows{0};
    std::atomic<long long> failures{0};
    std::vector<std::thread> feeders;
    for (int t = 0; t < kThreads; ++t)
      feeders.emplace_back([&, t] {
        std::mt19937 random(options.seed * 7919u + static_cast<unsigned>(t));
        std::vector<std::string> pending(kClientsPerThread);
        long serial = 0;
        while (sent.load() < total) {
          const int client = static_cast<int>(random() % kClientsPerThread);
          std::string& stream = pending[static_cast<std::size_t>(client)];
          while (stream.size() < 8192)
            stream += RandomBlock(random, ++serial);
          // Mostly packets a network or serial line delivers, now and then single bytes.
          const std::size_t size =
              random() % 16 == 0 ? 1 + random() % 4 : 1 + random() % (random() % 2 ? 64 : 4096);
          const auto result = host.Send(1 + client % 2, 1 + t * kClientsPerThread + client,
                                        "10.0.0." + std::to_string(client), stream.substr(0, size));
          stream.erase(0, size);
          if (result.code != 0)
            ++failures;
          rows += result.Rows();
          ++packets;
          sent += static_cast<long long>(size);
        }
      });

    const auto start = std::chrono::steady_clock::now();
    long start_kib = 0;
    int reloads = 0;
    while (sent.load() < total) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      ++reloads;
      if (host.Command("LOAD-SETTINGS-NOW",
                       {{"INI-FILE", Variant(ini[reloads % 2])}, {"NO-SAVE", Variant(1)}}) != -2)
        ++failures;
      host.Log(); // a host collects the log on every notification; this one once a second
      if (!start_kib && sent.load() >= warm_up) {
        start_kib = ResidentKib();
        std::printf("warm after %lld MB: rss %ld KiB\n", sent.load() >> 20, start_kib);
        std::fflush(stdout);
      }
    }
    for (std::thread& feeder : feeders)
      feeder.join();
    host.Log();
    const long end_kib = ResidentKib();
    if (!start_kib)
      start_kib = end_kib; // a run too short to warm up measures nothing
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("bytes %lld, packets %lld, rows %lld, reloads %d, failed calls %lld, %.0f s "
                "(%.1f MB/s)\n",
                sent.load(), packets.load(), rows.load(), reloads, failures.load(), seconds,
                static_cast<double>(sent.load()) / 1048576.0 / seconds);
    std::printf("rss start %ld KiB, end %ld KiB, growth %ld KiB (bound %ld KiB)\n", start_kib,
                end_kib, end_kib - start_kib, options.max_growth_kib);
    if (end_kib - start_kib > options.max_growth_kib) {
      std::printf("FAIL: memory grew beyond the bound\n");
      status = 1;
    }
    if (failures.load() != 0) {
      std::printf("FAIL: %lld calls failed\n", failures.load());
      status = 1;
    }
    host.Command("UNLOAD");
  }
  return status;
}
