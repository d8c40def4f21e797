#include "pipeline_host.h"

#include "packet_call.h"

namespace kestrel::testing {

std::vector<Variant> PacketResult::All(std::string_view name) const {
  std::vector<Variant> values;
  for (int i = 0; i < rows->Count(); ++i)
    if (rows->Items(i)->Key == ParamKey(name))
      values.push_back(rows->Items(i)->Value);
  return values;
}

int PacketResult::Rows() const {
  int count = 0;
  for (int i = 0; i < rows->Count(); ++i)
    count += rows->Items(i)->IsRowMarker() ? 1 : 0;
  return count;
}

PipelineHost::PipelineHost(const PluginEntryPoints& entry, int32_t module_index)
    : entry_(entry), module_index_(module_index) {
  TPluginCallRec rec = NewRecord();
  created_ = entry_.Create(&rec) == 0;
  instance_ = rec.Instance;
}

PipelineHost::~PipelineHost() {
  if (instance_)
    Free();
}

int32_t PipelineHost::Free() {
  TPluginCallRec rec = NewRecord();
  instance_ = 0;
  return entry_.Free(&rec);
}

int32_t PipelineHost::Command(const std::string& command,
                              std::vector<std::pair<std::string, Variant>> params, uint8_t flags,
                              Variant* result) {
  TorvParamsList list;
  list.Add("COMMAND", Variant(command));
  for (auto& [name, value] : params)
    list.Add(name, value);
  if (result && list.IndexOf("RESULT") < 0)
    list.Add("RESULT", Variant::Null());
  TPluginCallRec rec = NewRecord();
  rec.Params = &list;
  rec.DataFlags = flags;
  const int32_t code = entry_.Execute(&rec);
  if (result)
    *result = list.GetValue("RESULT");
  return code;
}

int32_t PipelineHost::Load(const std::string& registry_path) {
  return Command("LOAD", {{"REGISTRY-PATH", Variant(registry_path)}});
}

int32_t PipelineHost::SetState(const std::string& sources, bool enabled) {
  return Command("SET-STATE",
                 {{"DATA-SOURCES-IN-CFG", Variant(sources)}, {"RESULT", Variant(enabled ? 1 : 0)}},
                 0x02);
}

std::vector<std::string> PipelineHost::Items() {
  Variant result;
  Command("ITEMS", {}, 0, &result);
  std::vector<std::string> lines;
  const std::string text = VariantToAnsi(result);
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos)
      break;
    start = end + 2;
  }
  return lines;
}

PacketResult PipelineHost::Send(int32_t source, int32_t client, std::string_view name,
                                std::string_view bytes) {
  PacketCall call(instance_, module_index_, source, client, name, bytes);
  TorvParamsList params;
  call.rec.Params = &params;
  PacketResult out;
  call.rec.ResultDesc.Kind = KESTREL_KIND_LIST;
  call.rec.ResultDesc.Payload = reinterpret_cast<uintptr_t>(out.rows.get());
  out.code = entry_.Process(&call.rec);
  out.deliveries = call.rec.ResultDesc.Counter;
  out.raw = call.Returned();
  return out;
}

int32_t PipelineHost::WriteWithoutData() {
  TorvParamsList params;
  params.Add("X", 0);
  TPluginCallRec rec = NewRecord();
  rec.Params = &params;
  rec.DataFlags = KESTREL_DATA_WRITE;
  return entry_.Process(&rec);
}

std::string PipelineHost::Log() {
  std::vector<char> buffer(1 << 20);
  const int32_t copied = Log(buffer);
  return std::string(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
}

int32_t PipelineHost::Log(std::vector<char>& buffer) {
  TPluginCallRec rec = NewRecord();
  TorvParamsList params;
  rec.Params = &params;
  rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
  rec.DataDesc.Size = static_cast<uint32_t>(buffer.size());
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(buffer.data());
  return entry_.Log(&rec);
}

TPluginCallRec PipelineHost::OptionsDialog(std::vector<char>& buffer) {
  TPluginCallRec rec = NewRecord();
  rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
  rec.DataDesc.Size = static_cast<uint32_t>(buffer.size());
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(buffer.data());
  entry_.GetDialog(&rec);
  return rec;
}

uintptr_t PipelineHost::ShowOptionsDialog() {
  TorvParamsList params;
  TPluginCallRec rec = NewRecord();
  rec.Params = &params;
  entry_.ShowDialog(&rec);
  return rec.ResultDesc.Payload;
}

std::string RawAfterPacket(std::string_view packet, const std::string& raw) {
  const std::string prefix = std::string(packet) + KESTREL_RAW_TEXT_JOINER;
  return raw.starts_with(prefix) ? raw.substr(prefix.size()) : raw;
}

} // namespace kestrel::testing
