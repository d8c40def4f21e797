// Drives the built plug-in library the way a data logger does (load by path, create, LOAD,
// SET-STATE, one ProcessData per packet into a plain host list, UNLOAD, free) and counts the
// rows and values it returns.
//
//   kestrel_driver [--packet N] [--clients C] [--ini FILE] [--allocs] [--measure BYTES]
//                  [--library PATH] STREAM
//
// Prints "bytes seconds rows values cpu-seconds": bytes summed over the clients, the CPU time
// of the whole process. --clients C feeds the whole stream once per client, each client on a
// thread of its own. --allocs adds "allocs=N host_allocs=N blocks=N": the allocations made
// inside the first client's ProcessData calls (counted by this program's own malloc, which the
// library calls as well), split into the library's own and the host list's for the rows it
// holds, and the blocks delivered. --measure BYTES feeds all but the last BYTES of the stream
// as a warm-up, then those BYTES through MeasuredProcessData, the function a callgrind run
// collects (--toggle-collect=*MeasuredProcessData*); only they are counted.
#include "host_list.h"
#include "platform/host_memory.h"
#include "platform/library.h"
#include "platform/text.h"

#include <kestrel/kestrel.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
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

struct Exports {
  PFN_CreatePluginInstance create = nullptr;
  PFN_FreePluginInstance free = nullptr;
  PFN_ExecutePluginCommand execute = nullptr;
  PFN_ProcessData process = nullptr;
  PFN_GetLogEx log = nullptr;
};

// A host list released at scope end. The plug-in probes the bytes at the address it is given
// for a plain list object's signature; the zeros after the variable never look like one.
struct ListRef {
  IorvParamsListA* list = host_list_create();
  unsigned char zeros[32] = {};
  ~ListRef() { list->lpVtbl->Release(list); }
};

void AddText(IorvParamsListA* list, const char* name, const std::string& utf8) {
  const platform::WideString wide = platform::Utf8ToWide(utf8);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                                    static_cast<UINT>(wide.size()));
  host_list_add_value(list, name, &value);
  VariantClear(&value);
}

TPluginCallRec NewRecord(uintptr_t instance) {
  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof(rec));
  rec.RecSize = sizeof(rec);
  rec.Instance = instance;
  rec.ModuleIndex = 1;
  return rec;
}

int32_t Command(const Exports& x, uintptr_t instance, const char* command, ListRef& params,
                uint8_t flags) {
  AddText(params.list, "COMMAND", command);
  TPluginCallRec rec = NewRecord(instance);
  rec.Params = &params.list;
  rec.DataFlags = flags;
  return x.execute(&rec);
}

bool IsStandardName(const char* name) {
  static const char* const kNames[] = {
      "FULL_DATA_PACKET", "DATA_PACKET",           "DATE_TIME_STAMP", "DATA_SOURCE_ID",
      "DATA_SOURCE_NAME", "DATA_SOURCE_FULL_NAME", "CLIENTID"};
  for (const char* standard : kNames)
    if (std::strcmp(name, standard) == 0)
      return true;
  return false;
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
  ListRef copy;
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
  Client(const Exports& x, uintptr_t instance, int32_t id)
      : x_(x), instance_(instance), id_(id), name_("10.0.0." + std::to_string(id) + ":7") {}

  void Send(std::string_view bytes, Counts& counts) {
    TPluginCallRec rec = NewRecord(instance_);
    ListRef params;
    ListRef rows;
    rec.Params = &params.list;
    rec.DataSourceId = 1;
    rec.ClientId = id_;
    std::memcpy(rec.ClientName, name_.data(), std::min(name_.size(), sizeof rec.ClientName - 1));
    rec.DataFlags = KESTREL_DATA_PACKET;
    void* block = platform::HostAllocate(bytes.size());
    std::memcpy(block, bytes.data(), bytes.size());
    rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
    rec.DataDesc.Size = static_cast<uint32_t>(bytes.size());
    rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(block);
    rec.ResultDesc.Kind = KESTREL_KIND_INTERFACE;
    rec.ResultDesc.Payload = reinterpret_cast<uintptr_t>(&rows.list);
    t_counter = count_allocations ? &g_allocs : nullptr;
    if (measured)
      MeasuredProcessData(x_.process, &rec);
    else
      x_.process(&rec);
    t_counter = nullptr;
    platform::HostFree(rec.DataDesc.Payload ? reinterpret_cast<void*>(rec.DataDesc.Payload)
                                            : block);
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

  void Feed(std::string_view stream, std::size_t packet, Counts& counts) {
    for (std::size_t at = 0; at < stream.size(); at += packet)
      Send(stream.substr(at, packet), counts);
  }

  // Whether the allocations of this client's ProcessData calls are counted.
  bool count_allocations = false;
  // Whether its ProcessData calls go through MeasuredProcessData.
  bool measured = false;

private:
  const Exports& x_;
  uintptr_t instance_;
  int32_t id_;
  std::string name_;
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

// Whatever the plug-in logged (a parse error, a lost block) goes to stderr, so that a count
// that differs from the other tools' comes with its reason.
void PrintLog(const Exports& x, uintptr_t instance) {
  std::vector<char> buffer(1 << 20);
  TPluginCallRec rec = NewRecord(instance);
  ListRef params;
  rec.Params = &params.list;
  rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
  rec.DataDesc.Size = static_cast<uint32_t>(buffer.size());
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(buffer.data());
  const int32_t copied = x.log(&rec);
  if (copied > 0)
    std::fprintf(stderr, "kestrel_driver: the plug-in logged:\n%.*s\n", static_cast<int>(copied),
                 buffer.data());
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
    else
      path = argv[i];
  }
  if (!path || packet == 0 || clients < 1)
    return Fail("usage: kestrel_driver [--packet N] [--clients C] [--ini FILE] [--allocs] "
                "[--measure BYTES] [--library PATH] STREAM");
  const std::string stream = ReadFile(path);
  if (stream.empty())
    return Fail(std::string("cannot read ") + path);

  std::string error;
  platform::LibraryHandle handle = platform::OpenLibrary(library, &error);
  if (!handle)
    return Fail(error);
  Exports x;
  x.create = reinterpret_cast<PFN_CreatePluginInstance>(
      platform::LibrarySymbol(handle, "CreatePluginInstance"));
  x.free = reinterpret_cast<PFN_FreePluginInstance>(
      platform::LibrarySymbol(handle, "FreePluginInstance"));
  x.execute = reinterpret_cast<PFN_ExecutePluginCommand>(
      platform::LibrarySymbol(handle, "ExecutePluginCommand"));
  x.process = reinterpret_cast<PFN_ProcessData>(platform::LibrarySymbol(handle, "ProcessData"));
  x.log = reinterpret_cast<PFN_GetLogEx>(platform::LibrarySymbol(handle, "GetLogEx"));
  if (!x.create || !x.free || !x.execute || !x.process || !x.log)
    return Fail("the library lacks the plug-in exports");

  TPluginCallRec rec = NewRecord(0);
  ListRef create_params;
  rec.Params = &create_params.list;
  if (x.create(&rec) != KESTREL_RESULT_OK)
    return Fail("CreatePluginInstance failed");
  const uintptr_t instance = rec.Instance;
  {
    ListRef load;
    AddText(load.list, "REGISTRY-PATH", "\\Software\\Kestrel\\Compare");
    if (!ini.empty())
      AddText(load.list, "INI-FILE", ini);
    if (Command(x, instance, "LOAD", load, 0) != KESTREL_RESULT_OK)
      return Fail("LOAD failed");
    ListRef state;
    AddText(state.list, "DATA-SOURCES-IN-CFG", "1;NET;Network\r\n");
    host_list_add_int(state.list, "RESULT", 1);
    if (Command(x, instance, "SET-STATE", state, 0x02) != KESTREL_RESULT_OK)
      return Fail("SET-STATE failed");
  }

  std::vector<Counts> counts(static_cast<std::size_t>(clients));
  std::vector<Client> peers;
  for (int c = 0; c < clients; ++c)
    peers.emplace_back(x, instance, c + 1);
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

  PrintLog(x, instance);
  {
    ListRef unload;
    Command(x, instance, "UNLOAD", unload, 0);
  }
  rec = NewRecord(instance);
  x.free(&rec);
  platform::CloseLibrary(handle);
  return 0;
}
