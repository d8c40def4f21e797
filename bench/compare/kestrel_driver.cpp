// Drives the built plug-in library the way a data logger does (load by path, create, LOAD,
// SET-STATE, one ProcessData per packet into a plain host list, UNLOAD, free) and counts the
// rows and values it returns.
//
//   kestrel_driver [--packet N] [--clients C] [--ini FILE] [--allocs] [--measure BYTES]
//                  [--lean] [--library PATH] STREAM
//
// Prints "bytes seconds rows values cpu-seconds": bytes summed over the clients, the CPU time
// of the whole process. --clients C feeds the whole stream once per client, each client on a
// thread of its own. --allocs adds "allocs=N host_allocs=N blocks=N": the allocations made
// inside the first client's ProcessData calls (counted by this program's own malloc, which the
// library calls as well), split into the library's own and the host list's for the rows it
// holds, and the blocks delivered. --measure BYTES feeds all but the last BYTES of the stream
// as a warm-up, then those BYTES through MeasuredProcessData, the function a callgrind run
// collects (--toggle-collect=*MeasuredProcessData*); only they are counted. --lean delivers
// into a lean host list (lean_host_list.h) kept across packets instead of a new reference host
// list per packet: what the plug-in itself costs.
#include "framework/standard_items.h"
#include "host_list_ref.h"
#include "lean_host_list.h"
#include "packet_call.h"
#include "pipeline_host.h"
#include "plugin_library.h"

#include <kestrel/kestrel.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
}

namespace {

// Where this thread counts its allocations, if it does; only the thread of the client being
// counted does, the library's own threads do not.
thread_local uint64_t* t_counter = nullptr;
uint64_t g_allocs = 0;

} // namespace

// Every allocation of the process, the library's included, goes through these.
extern "C" void* malloc(size_t size) {
  if (t_counter)
    ++*t_counter;
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  if (t_counter)
    ++*t_counter;
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, size_t size) {
  if (t_counter)
    ++*t_counter;
  return __libc_realloc(block, size);
}

namespace {

using namespace kestrel;

using host::HostListRef;
using testing::PacketCall;
using testing::PipelineHost;

// The module index this host gives its one instance.
constexpr int32_t kModuleIndex = 1;

// The standard fields the plug-in adds to every row, which are not values of the stream.
bool IsStandardName(std::string_view name) {
  return std::any_of(kStandardItems.begin(), kStandardItems.end(),
                     [&](const TStandardItem& item) { return item.Name == name; });
}

struct Counts {
  uint64_t bytes = 0, rows = 0, values = 0, blocks = 0;
  uint64_t host_allocs = 0; // the host list's share of the allocations counted
};

// The ProcessData calls a callgrind run collects; kept out of line so it can be named.
[[gnu::noinline]] int32_t MeasuredProcessData(PFN_ProcessData process, TPluginCallRec* rec) {
  return process(rec);
}

// The allocations the host list makes to hold `rows`: the same items added to a new list,
// counted. What ProcessData allocated less these is the library's own.
uint64_t HostListAllocations(IorvParamsListA* rows) {
  HostListRef copy;
  uint64_t count = 0;
  const int32_t n = rows->lpVtbl->GetCount(rows);
  for (int32_t i = 0; i < n; ++i) {
    IorvParamsListItemA* item = nullptr;
    rows->lpVtbl->GetItem(rows, i, &item);
    VARIANT value;
    VariantInit(&value);
    item->lpVtbl->GetValue(item, &value);
    t_counter = &count;
    host_list_add_value(copy.list, item->lpVtbl->GetName(item), &value);
    t_counter = nullptr;
    VariantClear(&value);
  }
  return count;
}

// One client feeding `stream` in packets; rows are the runs of items between row markers.
class Client {
public:
  Client(PFN_ProcessData process, uintptr_t instance, int32_t id)
      : process_(process), instance_(instance), id_(id),
        name_("10.0.0." + std::to_string(id) + ":7") {}

  void Send(std::string_view bytes, Counts& counts) {
    PacketCall call(instance_, kModuleIndex, 1, id_, name_, bytes);
    HostListRef params;
    call.rec.Params = &params.list;
    call.rec.ResultDesc.Kind = KESTREL_KIND_INTERFACE;
    if (lean_) {
      SendLean(call, counts);
      counts.bytes += bytes.size();
      return;
    }
    HostListRef rows;
    call.rec.ResultDesc.Payload = reinterpret_cast<uintptr_t>(&rows.list);
    Call(call);
    const TPluginCallRec& rec = call.rec;
    counts.bytes += bytes.size();
    counts.blocks += rec.ResultDesc.Counter;
    IorvParamsListA* list = rows.list;
    const int32_t n = list->lpVtbl->GetCount(list);
    bool open = false;
    for (int32_t i = 0; i < n; ++i) {
      IorvParamsListItemA* item = nullptr;
      list->lpVtbl->GetItem(list, i, &item);
      if (item->lpVtbl->IsNewRow(item)) {
        open = false;
        continue;
      }
      if (!open) {
        open = true;
        ++counts.rows;
      }
      counts.values += IsStandardName(item->lpVtbl->GetName(item)) ? 0 : 1;
    }
    if (count_allocations)
      counts.host_allocs += HostListAllocations(list);
  }

  // Rows go into this client's lean list, emptied after each packet, from now on.
  void UseLeanList() { lean_ = std::make_unique<LeanHost>(); }

  void Feed(std::string_view stream, std::size_t packet, Counts& counts) {
    for (std::size_t at = 0; at < stream.size(); at += packet)
      Send(stream.substr(at, packet), counts);
  }

  // Whether the allocations of this client's ProcessData calls are counted.
  bool count_allocations = false;
  // Whether its ProcessData calls go through MeasuredProcessData.
  bool measured = false;

private:
  // The lean list and the variable ResultDesc points at; the plug-in probes the bytes after
  // that variable for a plain list object, so they stay zero.
  struct LeanHost {
    bench::LeanHostList list;
    IorvParamsListA* face = list.Interface();
    unsigned char zeros[32] = {};
  };

  void Call(PacketCall& call) {
    t_counter = count_allocations ? &g_allocs : nullptr;
    if (measured)
      MeasuredProcessData(process_, &call.rec);
    else
      process_(&call.rec);
    t_counter = nullptr;
  }

  // The lean list is read in place: rows are the runs of items between row markers.
  void SendLean(PacketCall& call, Counts& counts) {
    bench::LeanHostList& list = lean_->list;
    call.rec.ResultDesc.Payload = reinterpret_cast<uintptr_t>(&lean_->face);
    const uint64_t before = list.Allocations();
    Call(call);
    if (count_allocations)
      counts.host_allocs += list.Allocations() - before;
    counts.blocks += call.rec.ResultDesc.Counter;
    bool open = false;
    for (int32_t i = 0; i < list.Count(); ++i) {
      const bench::LeanHostList::Item& item = list.At(i);
      if (item.type == KESTREL_ROW_MARKER_TYPE) {
        open = false;
        continue;
      }
      if (!open) {
        open = true;
        ++counts.rows;
      }
      counts.values += IsStandardName(item.name) ? 0 : 1;
    }
    list.Clear();
  }

  PFN_ProcessData process_;
  uintptr_t instance_;
  int32_t id_;
  std::string name_;
  std::unique_ptr<LeanHost> lean_;
};

// The warm-up before a measured stretch goes in packets of this size, whatever the split
// measured, so that a run with tiny packets does not spend its time warming up.
constexpr std::size_t kWarmUpPacket = 16384;

// The CPU time of all the process's threads.
double ProcessCpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "kestrel_driver: %s\n", what.c_str());
  return 1;
}

} // namespace

int main(int argc, char** argv) {
  std::size_t packet = 1500;
  int clients = 1;
  bool allocs = false;
  bool lean = false;
  std::size_t measure = 0;
  std::string ini;
  std::string library = KESTREL_LIBRARY_PATH;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool more = i + 1 < argc;
    if (arg == "--packet" && more)
      packet = std::strtoul(argv[++i], nullptr, 10);
    else if (arg == "--clients" && more)
      clients = std::atoi(argv[++i]);
    else if (arg == "--ini" && more)
      ini = argv[++i];
    else if (arg == "--library" && more)
      library = argv[++i];
    else if (arg == "--measure" && more)
      measure = std::strtoul(argv[++i], nullptr, 10);
    else if (arg == "--allocs")
      allocs = true;
    else if (arg == "--lean")
      lean = true;
    else
      path = argv[i];
  }
  if (!path || packet == 0 || clients < 1)
    return Fail("usage: kestrel_driver [--packet N] [--clients C] [--ini FILE] [--allocs] "
                "[--measure BYTES] [--lean] [--library PATH] STREAM");
  const std::string stream = ReadFile(path);
  if (stream.empty())
    return Fail(std::string("cannot read ") + path);

  const testing::PluginLibrary plugin(library);
  if (!plugin.Loaded())
    return Fail(plugin.Error());
  PipelineHost host(plugin.Entry(), kModuleIndex);
  if (!host.Created())
    return Fail("CreatePluginInstance failed");
  std::vector<std::pair<std::string, Variant>> load = {
      {"REGISTRY-PATH", Variant("\\Software\\Kestrel\\Compare")}};
  if (!ini.empty())
    load.emplace_back("INI-FILE", Variant(ini));
  if (host.Command("LOAD", load) != KESTREL_RESULT_OK)
    return Fail("LOAD failed");
  if (host.SetState("1;NET;Network\r\n", true) != KESTREL_RESULT_OK)
    return Fail("SET-STATE failed");

  std::vector<Counts> counts(static_cast<std::size_t>(clients));
  std::vector<Client> peers;
  for (int c = 0; c < clients; ++c) {
    peers.emplace_back(plugin.Entry().Process, host.Instance(), c + 1);
    if (lean)
      peers.back().UseLeanList();
  }
  peers[0].count_allocations = allocs && measure == 0;

  double seconds = 0;
  double cpu = 0;
  if (measure > 0) {
    const std::size_t start = stream.size() > measure ? stream.size() - measure : 0;
    Counts ignored;
    peers[0].Feed(std::string_view(stream).substr(0, start), kWarmUpPacket, ignored);
    peers[0].count_allocations = allocs;
    peers[0].measured = true;
    peers[0].Feed(std::string_view(stream).substr(start), packet, counts[0]);
  } else {
    const auto begin = std::chrono::steady_clock::now();
    const double cpu_begin = ProcessCpuSeconds();
    if (clients == 1) {
      peers[0].Feed(stream, packet, counts[0]);
    } else {
      std::vector<std::thread> threads;
      for (int c = 0; c < clients; ++c)
        threads.emplace_back([&, c] {
          peers[static_cast<std::size_t>(c)].Feed(stream, packet,
                                                  counts[static_cast<std::size_t>(c)]);
        });
      for (std::thread& thread : threads)
        thread.join();
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    cpu = ProcessCpuSeconds() - cpu_begin;
  }

  Counts total;
  for (const Counts& c : counts) {
    total.bytes += c.bytes;
    total.rows += c.rows;
    total.values += c.values;
    total.blocks += c.blocks;
    total.host_allocs += c.host_allocs;
  }
  std::printf("%llu %.6f %llu %llu %.6f", static_cast<unsigned long long>(total.bytes), seconds,
              static_cast<unsigned long long>(total.rows),
              static_cast<unsigned long long>(total.values), cpu);
  if (allocs)
    std::printf(" allocs=%llu host_allocs=%llu blocks=%llu",
                static_cast<unsigned long long>(g_allocs - total.host_allocs),
                static_cast<unsigned long long>(total.host_allocs),
                static_cast<unsigned long long>(total.blocks));
  std::printf("\n");

  // Whatever the plug-in logged (a parse error, a lost block) goes to stderr, so that a count
  // that differs from the other tools' comes with its reason.
  const std::string log = host.Log();
  if (!log.empty())
    std::fprintf(stderr, "kestrel_driver: the plug-in logged:\n%s\n", log.c_str());
  host.Command("UNLOAD");
  return 0;
}
