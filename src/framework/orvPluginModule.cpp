#include "framework/orvPluginModule.h"

#include "common/variant_convert.h"
#include "framework/call_record.h"
#include "framework/crash_report.h"
#include "platform/system.h"

#include <atomic>
#include <sstream>

namespace kestrel {

namespace {

std::atomic<TorvPluginClass> g_module_class{&CreateTorvPlugin};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream stream(text);
  while (std::getline(stream, field, separator))
    fields.push_back(field);
  if (!text.empty() && text.back() == separator)
    fields.emplace_back();
  return fields;
}

} // namespace

// ---- TorvPluginCustomCmdList ---------------------------------------------------------------

std::string TorvPluginCustomCmdList::Text() const {
  std::string text;
  for (const TorvPluginCustomCmd& command : Items)
    text += command.Name + "|" + command.Text2 + "|" + command.Text3 + "|" +
            (command.Flag1 ? "1" : "0") + "|" + (command.Flag2 ? "1" : "0") + "\r\n";
  return text;
}

void TorvPluginCustomCmdList::AddFromText(const std::string& text) {
  for (std::string line : Split(text, '\n')) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty())
      continue;
    const std::vector<std::string> fields = Split(line, '|');
    if (fields.size() < 5)
      continue;
    Items.push_back({fields[0], fields[1], fields[2], fields[3] == "1", fields[4] == "1"});
  }
}

// ---- TorvPlugin ------------------------------------------------------------------------------

TorvPlugin::TorvPlugin(TPluginCallRec* rec) {
  IsTemporaryLoad = rec == nullptr || rec->Params == nullptr;
  if (rec) {
    const Variant temporary = ReadParam(rec, "TEMPORARY-LOAD");
    if (!temporary.IsEmptyOrNull())
      IsTemporaryLoad = VariantToInt64(temporary).value_or(0) != 0;
  }
  const std::string file =
      platform::ModuleFileName(reinterpret_cast<const void*>(&CreateTorvPlugin));
  const auto separator = file.find_last_of(platform::PathSeparator());
  ModulePath = separator == std::string::npos ? std::string() : file.substr(0, separator + 1);
  ModuleName = separator == std::string::npos ? file : file.substr(separator + 1);
}

TorvPlugin::~TorvPlugin() = default;

int32_t TorvPlugin::Dispatch(const std::string&, TPluginCallRec*) {
  return KESTREL_RESULT_UNHANDLED;
}

int32_t TorvPlugin::RunProcessData(TPluginCallRec*) {
  return KESTREL_RESULT_UNHANDLED;
}

int32_t TorvPlugin::CollectLog(TPluginCallRec*) {
  return 0;
}

void TorvPlugin::GetOptionsDialog(TPluginCallRec* rec) {
  rec->ResultDesc.Payload = 2;
}

void TorvPlugin::ReloadSettingsAfterDialog() {}

void TorvPlugin::LogFailure(const std::string& label, const std::string& message) {
  const std::string text = label.empty() ? message : "{" + label + "} " + message;
  const std::string description = DescribeCurrentException();
  platform::DebugOutput(description.empty() ? text : text + ": " + description);
}

std::unique_ptr<TorvPlugin> CreateTorvPlugin(TPluginCallRec* rec) {
  return std::make_unique<TorvPlugin>(rec);
}

TorvPluginClass ModuleClass() {
  return g_module_class.load();
}

void SetModuleClass(TorvPluginClass creator) {
  g_module_class.store(creator ? creator : &CreateTorvPlugin);
}

} // namespace kestrel
