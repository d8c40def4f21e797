#include "plugin_session.h"

#include "host_call_record.h"
#include "host_list_ref.h"
#include "platform/host_memory.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace kestrel::host {

namespace {

// The module index this host gives its one instance; the plug-in sends it back with every
// notification.
constexpr int32_t kModuleIndex = 1;

// The log levels of the entry's first byte (level + 1, bit 7 a flag of the writer).
const char* LevelName(unsigned char first) {
  switch ((first & 0x7F) - 1) {
  case 0:
    return "failure";
  case 1:
    return "warning";
  case 2:
    return "info";
  default:
    return "log";
  }
}

// A name the plug-in gives in the ANSI code page, as UTF-8. Every code page the plug-in uses
// keeps ASCII as it is, so a name of ASCII only needs no conversion.
void AssignNameUtf8(std::string& out, std::string_view name) {
  if (std::all_of(name.begin(), name.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    out.assign(name);
  else
    out = platform::AnsiToUtf8(name);
}

std::string VariantUtf8(const VARIANT& value) {
  if (value.vt != VT_BSTR || !value.bstrVal)
    return DescribeValue(value).text;
  return Utf16ToUtf8(value.bstrVal, SysStringLen(value.bstrVal));
}

} // namespace

PluginSession::PluginSession(std::FILE* log) : log_(log) {}

PluginSession::~PluginSession() {
  Stop();
  if (window_)
    platform::DestroyMessageWindow(window_);
  if (library_)
    platform::CloseLibrary(library_);
}

bool PluginSession::Open(const std::string& library, std::string* error) {
  library_ = platform::OpenLibrary(library, error);
  if (!library_)
    return false;
  const auto resolve = [&](auto& target, const char* name) {
    target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(
        platform::LibrarySymbol(library_, name));
    return target != nullptr;
  };
  if (!resolve(create_, "CreatePluginInstance") || !resolve(free_, "FreePluginInstance") ||
      !resolve(execute_, "ExecutePluginCommand") || !resolve(process_, "ProcessData") ||
      !resolve(get_log_, "GetLogEx")) {
    *error = "it lacks the plug-in exports";
    return false;
  }
  window_ = platform::CreateMessageWindow(&PluginSession::WindowProc, this);
  return true;
}

TPluginCallRec PluginSession::NewRecord() const {
  return host::NewRecord(instance_, kModuleIndex);
}

int32_t PluginSession::Command(const char* command, IorvParamsListA* params, uint8_t flags) {
  AddText(params, "COMMAND", command);
  TPluginCallRec rec = NewRecord();
  rec.Params = &params;
  rec.DataFlags = flags;
  return execute_(&rec);
}

bool PluginSession::Start(const SettingsPlace& settings, const std::vector<DataSource>& sources,
                          std::string* error) {
  TPluginCallRec rec = NewRecord();
  HostListRef create_params;
  rec.Params = &create_params.list;
  if (create_(&rec) != KESTREL_RESULT_OK || rec.Instance == 0) {
    *error = "CreatePluginInstance failed";
    return false;
  }
  instance_ = rec.Instance;

  HostListRef load;
  AddText(load.list, "REGISTRY-PATH", settings.registry_path);
  if (!settings.ini_file.empty())
    AddText(load.list, "INI-FILE", settings.ini_file);
  if (!settings.section_prefix.empty())
    AddText(load.list, "INI-SECTION-PREFIX", settings.section_prefix);
  if (!settings.language.empty())
    AddText(load.list, "LANGUAGE", settings.language);
  AddText(load.list, "APPLICATION-NAME", "kestrel-host");
  AddInt64(load.list, "MSG-PROC-HANDLE",
           static_cast<int64_t>(reinterpret_cast<uintptr_t>(window_)));
  const int32_t loaded = Command("LOAD", load.list, 0);
  if (loaded != KESTREL_RESULT_OK) {
    *error = "LOAD returned " + std::to_string(loaded);
    return false;
  }
  loaded_ = true;
  ini_file_ = settings.ini_file;

  std::string lines;
  for (const DataSource& source : sources)
    lines += std::to_string(source.id) + ";" + source.name + ";" + source.long_name + "\r\n";
  HostListRef state;
  AddText(state.list, "DATA-SOURCES-IN-CFG", lines);
  host_list_add_int(state.list, "RESULT", 1);
  // DataFlags names the module types the state concerns: type 1, the parsers.
  const int32_t enabled = Command("SET-STATE", state.list, 0x02);
  if (enabled != KESTREL_RESULT_OK) {
    *error = "SET-STATE returned " + std::to_string(enabled);
    return false;
  }
  Pump();
  return true;
}

std::string PluginSession::Items() {
  HostListRef items;
  VARIANT empty;
  VariantInit(&empty);
  empty.vt = VT_NULL;
  host_list_add_value(items.list, "RESULT", &empty);
  if (Command("ITEMS", items.list, 0) != KESTREL_RESULT_OK)
    return std::string();
  VARIANT result;
  items.list->lpVtbl->GetValue(items.list, "RESULT", 0, -1, &result);
  std::string text = VariantUtf8(result);
  VariantClear(&result);
  return text;
}

std::string PluginSession::Statistics() {
  return ModuleParameter("Statistics");
}

std::string PluginSession::ModuleParameter(const char* name) {
  HostListRef params;
  AddText(params.list, "PARAM", name);
  VARIANT empty;
  VariantInit(&empty);
  empty.vt = VT_NULL;
  host_list_add_value(params.list, "RESULT", &empty);
  if (Command("GET-MODULE-PARAMETER", params.list, 0) != KESTREL_RESULT_OK)
    return std::string();
  VARIANT result;
  params.list->lpVtbl->GetValue(params.list, "RESULT", 0, -1, &result);
  std::string text = VariantUtf8(result);
  VariantClear(&result);
  return text;
}

bool PluginSession::SetModuleParameter(const char* name, bool value) {
  HostListRef params;
  AddText(params.list, "PARAM", name);
  VARIANT flag;
  VariantInit(&flag);
  flag.vt = VT_BOOL;
  flag.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  host_list_add_value(params.list, "VALUE", &flag);
  VARIANT empty;
  VariantInit(&empty);
  empty.vt = VT_NULL;
  host_list_add_value(params.list, "RESULT", &empty);
  if (Command("SET-MODULE-PARAMETER", params.list, 0) != KESTREL_RESULT_OK)
    return false;
  VARIANT result;
  params.list->lpVtbl->GetValue(params.list, "RESULT", 0, -1, &result);
  const bool set = result.vt == VT_BOOL && result.boolVal != VARIANT_FALSE;
  VariantClear(&result);
  return set;
}

int32_t PluginSession::Process(int32_t source, int32_t client, std::string_view client_name,
                               std::string_view bytes, bool report,
                               const std::function<void(const Record&)>& sink) {
  TPluginCallRec rec = NewRecord();
  HostListRef params;
  // One result list for the session: emptied for every packet, it keeps its storage.
  IorvParamsListA* list = rows_.list;
  list->lpVtbl->Clear(list);
  rec.Params = &params.list;
  rec.DataSourceId = source;
  rec.ClientId = client;
  std::memcpy(rec.ClientName, client_name.data(),
              std::min(client_name.size(), sizeof(rec.ClientName) - 1));
  rec.DataFlags = KESTREL_DATA_PACKET | (report ? KESTREL_DATA_REPORT : 0);
  // The packet travels in a block of the memory manager shared with the plug-in, which may
  // grow it to hand back the raw texts of the blocks it parsed.
  void* block = platform::HostAllocate(bytes.size() ? bytes.size() : 1);
  std::memcpy(block, bytes.data(), bytes.size());
  rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
  rec.DataDesc.Size = static_cast<uint32_t>(bytes.size());
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(block);
  rec.ResultDesc.Kind = KESTREL_KIND_INTERFACE;
  rec.ResultDesc.Payload = reinterpret_cast<uintptr_t>(&rows_.list);
  const int32_t result = process_(&rec);
  // The block left in DataDesc is ours now (the packet grown by the raw texts); without one
  // the packet block is still ours.
  platform::HostFree(rec.DataDesc.Payload ? reinterpret_cast<void*>(rec.DataDesc.Payload) : block);
  blocks_ += rec.ResultDesc.Counter > 0 ? static_cast<uint64_t>(rec.ResultDesc.Counter) : 0;

  // The record's values are overwritten in place from row to row, so their strings keep their
  // storage.
  Record& record = record_;
  std::size_t used = 0;
  const auto complete = [&] {
    record.values.resize(used);
    record.number = ++records_;
    record.source = source;
    record.client = client;
    sink(record);
    used = 0;
  };
  const int32_t count = list->lpVtbl->GetCount(list);
  for (int32_t i = 0; i < count; ++i) {
    IorvParamsListItemA* item = nullptr;
    list->lpVtbl->GetItem(list, i, &item);
    if (!item)
      continue;
    if (item->lpVtbl->IsNewRow(item)) {
      complete();
      continue;
    }
    if (used == record.values.size())
      record.values.emplace_back();
    NamedValue& named = record.values[used++];
    const char* name = item->lpVtbl->GetName(item);
    AssignNameUtf8(named.name, name ? name : "");
    // The list is this host's own: its values are read in place instead of copied out.
    DescribeValueInto(*host_list_item_value(item), named.value, values_as_json_);
  }
  if (used > 0)
    complete(); // values after the last row marker still make a record
  return result;
}

void PluginSession::Pump() {
  platform::Message message;
  while (platform::PeekWindowMessage(&message, nullptr, platform::kPmRemove))
    platform::DispatchWindowMessage(&message);
}

platform::LRESULT PluginSession::WindowProc(platform::HWND window, platform::UINT message,
                                            platform::WPARAM wparam, platform::LPARAM) {
  auto* session = static_cast<PluginSession*>(platform::WindowUserData(window));
  if (session && message == KESTREL_MSG_LOG_CHANGED && wparam == kModuleIndex)
    session->CollectLog();
  return 0;
}

void PluginSession::CollectLog() {
  if (!instance_)
    return;
  if (log_buffer_.empty())
    log_buffer_.resize(64 * 1024);
  for (int attempt = 0; attempt < 3; ++attempt) {
    TPluginCallRec rec = NewRecord();
    rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
    rec.DataDesc.Size = static_cast<uint32_t>(log_buffer_.size());
    rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(log_buffer_.data());
    const int32_t copied = get_log_(&rec);
    if (copied > 0) {
      std::string_view text(log_buffer_.data(), static_cast<std::size_t>(copied));
      while (!text.empty()) {
        const std::size_t end = text.find("\r\n");
        const std::string_view line = text.substr(0, end);
        if (!line.empty() && before_log_)
          before_log_();
        if (!line.empty())
          std::fprintf(log_, "kestrel-host: %s: %s\n",
                       LevelName(static_cast<unsigned char>(line[0])),
                       platform::AnsiToUtf8(line.substr(1)).c_str());
        if (end == std::string_view::npos)
          break;
        text.remove_prefix(end + 2);
      }
      std::fflush(log_);
      return;
    }
    // A buffer too small is answered with the size the log needs.
    const uintptr_t needed = rec.ResultDesc.Payload;
    if (needed <= log_buffer_.size())
      return;
    log_buffer_.resize(needed);
  }
}

void PluginSession::Stop() {
  if (instance_) {
    Pump();
    CollectLog();
    if (loaded_) {
      HostListRef unload;
      if (!ini_file_.empty())
        AddText(unload.list, "INI-FILE", ini_file_);
      Command("UNLOAD", unload.list, 0);
      loaded_ = false;
      CollectLog();
    }
    TPluginCallRec rec = NewRecord();
    free_(&rec);
    instance_ = 0;
  }
  if (free_) {
    TPluginCallRec release_all = host::NewRecord();
    release_all.DataDesc.Kind = KESTREL_KIND_RELEASE_ALL;
    release_all.DataDesc.Payload = KESTREL_RELEASE_ALL_PAYLOAD;
    free_(&release_all);
    free_ = nullptr;
  }
}

} // namespace kestrel::host
