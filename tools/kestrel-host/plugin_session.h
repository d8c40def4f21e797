// One plug-in instance driven the way a data logger drives it: the library loaded by path, a
// message window for the plug-in's notifications, the commands in the host contract's order,
// one ProcessData per packet, and the log collected whenever the plug-in announces it.
#pragma once

#include "host_list_ref.h"
#include "platform/library.h"
#include "platform/messages.h"
#include "row_writer.h"

#include <kestrel/kestrel.h>

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::host {

// "id;name;long name" for SET-STATE.
struct DataSource {
  int32_t id = 0;
  std::string name;
  std::string long_name;
};

// Where LOAD tells the plug-in to keep its settings.
struct SettingsPlace {
  std::string registry_path;
  std::string ini_file; // empty: the registry
  std::string section_prefix;
  std::string language;
};

class PluginSession {
public:
  // Log lines go to `log` as "kestrel-host: <level>: <text>".
  explicit PluginSession(std::FILE* log);
  ~PluginSession();
  PluginSession(const PluginSession&) = delete;
  PluginSession& operator=(const PluginSession&) = delete;

  // Loads the library and resolves its exports; false with `*error` set when it cannot.
  bool Open(const std::string& library, std::string* error);
  // CreatePluginInstance, LOAD, SET-STATE (the sources enabled); false with `*error` set.
  bool Start(const SettingsPlace& settings, const std::vector<DataSource>& sources,
             std::string* error);
  // One received packet; every record it completes goes to `sink`. Returns the call's result.
  // With `report` the plug-in is asked to log the packet's completion (DataFlags 0x08).
  int32_t Process(int32_t source, int32_t client, std::string_view client_name,
                  std::string_view bytes, bool report,
                  const std::function<void(const Record&)>& sink);
  // Whether the records' values carry their JSON form (only the JSON output needs it).
  void SetValuesAsJson(bool with_json) { values_as_json_ = with_json; }
  // The parser items text ("description|name|type|extra" lines).
  std::string Items();
  // The plug-in's counters: one "source=ID packets=N ..." line per data source, CR LF between.
  std::string Statistics();
  // A module parameter as text (GET-MODULE-PARAMETER); empty when the plug-in gives none.
  std::string ModuleParameter(const char* name);
  // Sets a module parameter to a boolean (SET-MODULE-PARAMETER); false when it is refused.
  bool SetModuleParameter(const char* name, bool value);
  // Called before each log line is printed (the host clears its progress line).
  void SetBeforeLog(std::function<void()> hook) { before_log_ = std::move(hook); }
  // Dispatches the window messages waiting for this thread (log notifications, timers).
  void Pump();
  // Collects the log with GetLogEx and prints it.
  void CollectLog();
  // UNLOAD, free, release-all; also done by the destructor.
  void Stop();

  // The window the plug-in's notifications go to; posting kWmApp to it wakes the host.
  platform::HWND Window() const { return window_; }
  uint64_t Records() const { return records_; }
  uint64_t Blocks() const { return blocks_; }

private:
  static platform::LRESULT WindowProc(platform::HWND window, platform::UINT message,
                                      platform::WPARAM wparam, platform::LPARAM lparam);
  int32_t Command(const char* command, IorvParamsListA* params, uint8_t flags);
  TPluginCallRec NewRecord() const;

  std::FILE* log_;
  platform::LibraryHandle library_ = nullptr;
  platform::HWND window_ = nullptr;
  PFN_CreatePluginInstance create_ = nullptr;
  PFN_FreePluginInstance free_ = nullptr;
  PFN_ExecutePluginCommand execute_ = nullptr;
  PFN_ProcessData process_ = nullptr;
  PFN_GetLogEx get_log_ = nullptr;
  uintptr_t instance_ = 0;
  bool loaded_ = false;
  std::string ini_file_;
  uint64_t records_ = 0;
  uint64_t blocks_ = 0;
  std::vector<char> log_buffer_;
  std::function<void()> before_log_;
  HostListRef rows_; // the result list every packet call fills
  Record record_;    // the record being read from it, reused for its storage
  bool values_as_json_ = true;
};

} // namespace kestrel::host
