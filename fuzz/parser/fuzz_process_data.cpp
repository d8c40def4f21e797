// The whole packet path through the exports, driven as a host drives it. The input chooses
// settings (filters, item rules with types, date/time templates, translation maps, options)
// from small menus mixed with its own text, written to the INI file of the instance that runs
// the input, which reloads it (instances are kept for the settings texts met last); then a
// sequence of packets with random splits, data sources, client ids and names, state changes
// that drop every client, publications and reloads.
//
// Checked on every call: result codes are documented ones; every delivered value is a
// well-formed variant; a value under a typed item rule has its type's variant type (or is
// the text kept when conversion failed, or an array); every row carries the standard fields;
// a data source the instance does not serve delivers nothing.
#include "pipeline_host.h"
#include "plugin_library.h"

#include "framework/standard_items.h"
#include "platform/system.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace kestrel;
using kestrel::testing::PacketResult;
using kestrel::testing::PipelineHost;
using kestrel::testing::PluginEntryPoints;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

bool Documented(int32_t code) {
  return code == KESTREL_RESULT_OK || code == KESTREL_RESULT_BAD_CALL ||
         code == KESTREL_RESULT_UNHANDLED || code == KESTREL_RESULT_FAILED;
}

// Reads the input front to back; past its end every read gives zero or nothing.
class Input {
public:
  Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return size_ == 0; }
  uint8_t Byte() {
    if (size_ == 0)
      return 0;
    --size_;
    return *data_++;
  }
  // Bytes up to a zero byte (dropped) or `limit` bytes.
  std::string Text(std::size_t limit) {
    std::string text;
    while (size_ > 0 && text.size() < limit) {
      const char c = static_cast<char>(Byte());
      if (c == '\0')
        break;
      text += c;
    }
    return text;
  }
  std::string_view Bytes(std::size_t count) {
    count = count < size_ ? count : size_;
    const std::string_view bytes(reinterpret_cast<const char*>(data_), count);
    data_ += count;
    size_ -= count;
    return bytes;
  }
  template <std::size_t N> const char* Pick(const char* const (&menu)[N]) {
    return menu[Byte() % N];
  }

private:
  const uint8_t* data_;
  std::size_t size_;
};

// A settings value as stored: ASCII other than letters and digits as "%XX"; bytes of 0x80 and
// above stay as they are, which has the store take the whole text as code-page text.
std::string Stored(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= 'a' && byte <= 'z') || byte >= 0x80) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

// An item rule as the harness wrote it.
struct Rule {
  std::string Name;
  uint8_t Kind;
  uint8_t Include;
  uint8_t Type;
};

const char* const kTypeNames[] = {"String",   "Memo", "Bytes",    "Blob",  "Boolean",  "Float",
                                  "Smallint", "Word", "Integer",  "Date",  "Time",     "DateTime",
                                  "DWord",    "Byte", "Shortint", "Int64", "Currency", "bogus"};

// The variant types a value under a rule of type `type` may have besides the text a failed
// conversion keeps and an array.
bool TypedAs(uint8_t type, VARTYPE vt) {
  switch (type) {
  case 4:
    return vt == VT_BOOL;
  case 5:
    return vt == VT_R8;
  case 6:
  case 7:
  case 8:
  case 13:
  case 14:
    return vt == VT_I4;
  case 12:
    return vt == VT_I4 || vt == VT_UI4;
  case 15:
    return vt == VT_I8;
  case 9:
  case 10:
  case 11:
    return vt == VT_DATE;
  default:
    return false; // texts only
  }
}

struct Settings {
  std::string Ini;
  std::vector<Rule> Rules;
  bool AddNodeName = false;
};

std::string TranslationMap(Input& in) {
  const uint8_t flags = in.Byte();
  if ((flags & 3) == 0)
    return std::string();
  std::vector<std::string> lines = {(flags & 4) ? "Y" : "", (flags & 8) ? "Y" : "",
                                    std::to_string((flags >> 4) % 3)};
  const int entries = (flags >> 6) + 1;
  for (int i = 0; i < entries; ++i) {
    const uint8_t code = in.Byte();
    const uint8_t action = in.Byte();
    if (lines.size() < 3u + code + 1)
      lines.resize(3u + code + 1);
    std::string& line = lines[3u + code];
    switch (action % 4) {
    case 0:
      line.assign(1, 'R');
      break;
    case 1:
      line.assign(1, 'C');
      line += std::to_string(in.Byte());
      break;
    case 2:
      line.assign(1, 'S');
      line += in.Text(8);
      break;
    default:
      line = in.Text(8);
      break;
    }
  }
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0)
      text += "\r\n";
    text += lines[i];
  }
  return text;
}

// A rule's format field for its type: boolean words, an epoch or field template, a pattern,
// or one the type does not take.
const char* RuleFormat(uint8_t type, bool second) {
  switch (type) {
  case 4:
    return second ? "on,1,true/off,0,false" : "on/on";
  case 9:
  case 10:
  case 11:
    return second ? "UNIXMS" : "DD.MM.YYYY HH:NN";
  case 0:
    return second ? "^(.{0,3})" : "(x+x+)+y";
  case 5:
  case 6:
  case 7:
  case 8:
  case 12:
  case 13:
  case 14:
  case 15:
    return second ? "([-+0-9.,]+)" : "(\\d";
  default:
    return "x";
  }
}

Settings ReadSettings(Input& in) {
  static const char* const kLocales[] = {"1033", "1031", "1049", "1041", "0", "99999"};
  static const char* const kDates[] = {"DD.MM.YYYY", "YYYY-MM-DD", "MMM D, YYYY", "M/D/YY", "DDDD"};
  static const char* const kTimes[] = {"HH:NN:SS", "hh:nn am/pm", "HH:NN:SS.ZZZ", "N"};
  static const char* const kDateTimes[] = {"YYYY-MM-DD\"T\"HH:NN:SS", "DD.MM.YYYY HH:NN",
                                           "YYYYMMDDHHNNSS", "\"at\" HH"};
  static const char* const kDepths[] = {"0", "1", "2", "-1", "deep", "1.9"};
  static const char* const kPatterns[] = {"error",   "\"a\"",     "drop", "\\d{3}",   "^\\s*\\[",
                                          "(a|b)+c", "(x+x+)+y",  "[",    "(?i)TEMP", "a[7C]b",
                                          "\\}$",    "((((a))))", ""};
  static const char* const kNames[] = {"a", "b", "temp", "x", "n", "s", "l", "when", "clientid"};

  Settings settings;
  const uint8_t flags = in.Byte();
  const auto yes = [&](int bit) { return (flags >> bit) & 1 ? "True" : "False"; };
  settings.AddNodeName = (flags >> 4) & 1;
  std::string common = "[Common]\r\n";
  const auto put = [&](const char* name, std::string_view value) {
    common += std::string(name) + "=" + Stored(value) + "\r\n";
  };
  put("Left trim", yes(0));
  put("Right trim", yes(1));
  put("Use current time", yes(2));
  put("Use current date", yes(3));
  put("Add node name", yes(4));
  put("Export upper case name", yes(5));
  put("Sign timeout", (flags >> 6) & 1 ? "0" : "600000");
  put("Start string", (flags >> 7) & 1 ? in.Text(12) : std::string());
  put("Locale ID", in.Pick(kLocales));
  const uint8_t formats = in.Byte();
  put("Date format", formats & 0x80 ? in.Text(16) : std::string(kDates[formats % 5]));
  put("Time format", kTimes[(formats >> 3) % 4]);
  put("Date and time format", kDateTimes[(formats >> 5) % 4]);
  put("Max depth", in.Pick(kDepths));

  std::string filters;
  for (int count = in.Byte() % 4; count > 0; --count) {
    const uint8_t bits = in.Byte();
    std::string pattern = in.Pick(kPatterns);
    if (pattern.empty())
      pattern = in.Text(24);
    filters += std::to_string(bits % 3 + 1) + "||" + std::to_string((bits >> 2) % 3) + "||" +
               pattern + "||" + std::to_string((bits >> 4) & 1) + "\r\n";
  }
  put("Filter", filters);

  std::string items;
  bool expand_arrays = false;
  for (int count = in.Byte() % 6; count > 0; --count) {
    Rule rule;
    rule.Name = in.Pick(kNames);
    const uint8_t bits = in.Byte();
    expand_arrays = expand_arrays || ((bits >> 6) & 1);
    rule.Kind = bits % 3;
    rule.Include = (bits >> 2) & 1 ? 0 : 1;
    rule.Type = static_cast<uint8_t>(in.Byte() % 18);
    const std::string type =
        (bits >> 3) & 1 ? std::to_string(rule.Type) : std::string(kTypeNames[rule.Type]);
    items += rule.Name + "||" + std::to_string(rule.Kind) + "||" + std::to_string(rule.Include) +
             "||" + type;
    if ((bits >> 5) & 1)
      items += "||" + std::string(RuleFormat(rule.Type, (bits >> 7) & 1));
    items += "\r\n";
    settings.Rules.push_back(rule);
  }
  put("JSON items", items);
  put("Expand arrays", expand_arrays ? "True" : "False");

  std::string translation = "[Translation]\r\n";
  for (int map = 0; map < 3; ++map)
    translation += "Map" + std::to_string(map) + "=" + Stored(TranslationMap(in)) + "\r\n";
  settings.Ini = common + translation;
  return settings;
}

// The rule that types a value of this key, if any: the first plain-value rule of the name.
const Rule* RuleFor(const std::vector<Rule>& rules, const std::string& key) {
  for (const Rule& rule : rules)
    if (rule.Kind != 2 && rule.Name == key)
      return &rule;
  return nullptr;
}

void CheckValue(const Variant& value) {
  const VARIANT& raw = value.Raw();
  switch (raw.vt) {
  case VT_EMPTY:
  case VT_NULL:
  case VT_I4:
  case VT_UI4:
  case VT_I8:
  case VT_BSTR:
    return;
  case VT_BOOL:
    Check(raw.boolVal == VARIANT_TRUE || raw.boolVal == VARIANT_FALSE);
    return;
  case VT_R8:
    Check(std::isfinite(raw.dblVal));
    return;
  case VT_DATE:
    Check(std::isfinite(raw.date));
    return;
  case VT_ARRAY | VT_VARIANT:
    Check(raw.parray != nullptr);
    return;
  default:
    Check(false);
  }
}

// names_whole: no zero byte was sent in this input. A member name with a zero byte reaches the
// host cut at it, so "temp\0x" may show as "temp" without being typed by the rule of "temp".
void CheckRows(const PacketResult& result, const Settings& settings, int32_t source, int32_t client,
               bool names_whole) {
  Check(Documented(result.code));
  if (source == 3)
    Check(result.rows->Count() == 0 && result.deliveries == 0);
  const TorvParamsList& rows = *result.rows;
  bool stamp = false, source_id = false, client_id = false;
  int values = 0;
  const auto end_row = [&] {
    if (values > 0)
      Check(stamp && source_id && (client == 0 || client_id));
    stamp = source_id = client_id = false;
    values = 0;
  };
  for (int i = 0; i < rows.Count(); ++i) {
    const TorvParamsListItem& item = *rows.Items(i);
    if (item.IsRowMarker()) {
      end_row();
      continue;
    }
    ++values;
    CheckValue(item.Value);
    stamp = stamp || item.Key == "date_time_stamp";
    source_id = source_id || item.Key == "data_source_id";
    client_id = client_id || item.Key == "clientid";
    if (!names_whole || settings.AddNodeName || IsStandardItem(item.Key))
      continue;
    if (const Rule* rule = RuleFor(settings.Rules, item.Key)) {
      Check(rule->Include == 1);
      const VARTYPE vt = item.Value.Type();
      Check(vt == VT_BSTR || vt == (VT_ARRAY | VT_VARIANT) || TypedAs(rule->Type, vt));
    }
  }
  end_row();
}

const char kSources[] = "1;COM1;Serial port 1\r\n2;NET;Network";

// A memory file system where there is one: settings files are written whenever an instance
// takes new settings.
std::filesystem::path ScratchFolder() {
  return std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                   : std::filesystem::temp_directory_path();
}

// One plug-in instance with a settings file and a registry path of its own.
struct Instance {
  std::unique_ptr<PipelineHost> host;
  std::string ini;
  std::string loaded;           // the settings text the instance holds
  bool clients_touched = false; // a packet went to a served source since clients were dropped
  uint64_t last_used = 0;

  Instance(const PluginEntryPoints& entry, const std::string& tag) {
    ini = (ScratchFolder() / ("kestrel-fuzz-" + tag + ".ini")).string();
    Write("[Common]\r\n");
    host = std::make_unique<PipelineHost>(entry);
    Check(host->Created());
    Check(host->Load("\\Software\\KestrelFuzz\\" + tag) == 0);
    // The parser type switched off and on once, with the rules built for each; inputs drop
    // their clients without it (DropClients).
    Check(host->SetState(kSources, false) == 0);
    Check(host->SetState(kSources, true) == 0);
  }
  ~Instance() {
    host.reset();
    std::error_code ignored;
    std::filesystem::remove(ini, ignored);
  }
  // Written plainly: a durable replace (flushed to disk) would cost more than the input.
  void Write(const std::string& text) const {
    std::ofstream out(ini, std::ios::binary | std::ios::trunc);
    out << text;
    Check(static_cast<bool>(out.flush()));
  }
  int32_t Reload() {
    return host->Command("LOAD-SETTINGS-NOW",
                         {{"INI-FILE", Variant(ini)}, {"NO-SAVE", Variant(1)}});
  }
  void Use(const std::string& text) {
    if (text == loaded)
      return;
    Write(text);
    Check(Documented(Reload()));
    loaded = text;
  }
  // Every client goes with its data source: a source list without the served sources, then
  // the list again. The module types stay enabled (no type flags), so the rules are not rebuilt
  // as they are when the parser type is switched off and on.
  void DropClients() {
    if (!clients_touched)
      return;
    Check(SetSources("") == 0);
    Check(SetSources(kSources) == 0);
    clients_touched = false;
  }
  int32_t SetSources(const char* sources) {
    return host->Command("SET-STATE",
                         {{"DATA-SOURCES-IN-CFG", Variant(sources)}, {"RESULT", Variant(1)}});
  }
};

// Instances for the settings texts met last. Consecutive inputs come from different corpus
// entries, each with settings of its own, and loading settings costs more than the packets of
// most inputs: an input whose settings an instance already holds runs on that instance, any
// other on the instance used longest ago, which loads them.
struct Harness {
  static constexpr std::size_t kInstances = 64;

  testing::PluginLibrary library;
  std::string tag = platform::GuidToText(platform::CreateGuid());
  std::vector<std::unique_ptr<Instance>> instances;
  uint64_t clock = 0;
  std::vector<char> log_buffer = std::vector<char>(std::size_t{1} << 20);

  Harness() { Check(library.Loaded()); }

  Instance& For(const std::string& settings) {
    ++clock;
    Instance* chosen = nullptr;
    for (const auto& instance : instances) {
      if (instance->loaded == settings) {
        chosen = instance.get();
        break;
      }
      if (!chosen || instance->last_used < chosen->last_used)
        chosen = instance.get();
    }
    if (instances.size() < kInstances && (!chosen || chosen->loaded != settings)) {
      instances.push_back(std::make_unique<Instance>(library.Entry(),
                                                     tag + "-" + std::to_string(instances.size())));
      chosen = instances.back().get();
    }
    chosen->last_used = clock;
    chosen->Use(settings);
    return *chosen;
  }
  // The log read as a host reads it, so it does not grow from input to input; the buffer is
  // kept, as a host keeps its own.
  void ReadLog(Instance& instance) {
    const int32_t copied = instance.host->Log(log_buffer);
    Check(copied >= 0 && static_cast<std::size_t>(copied) <= log_buffer.size());
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  Input in(data, size);
  const Settings settings = ReadSettings(in);
  Instance& instance = harness.For(settings.Ini);
  PipelineHost& host = *instance.host;

  static const int32_t kClients[] = {0, 1, 2, 7, -1};
  static const char* const kClientNames[] = {"", "10.0.0.7:5000", "a",
                                             "0123456789012345678901234567890123456789abcdefghij"};
  bool names_whole = true;
  for (int calls = 0; !in.Empty() && calls < 64; ++calls) {
    const uint8_t op = in.Byte();
    switch (op % 8) {
    case 5:
      Check(host.SetState("2;NET;Network", true) == 0);
      Check(host.SetState(kSources, true) == 0);
      break;
    case 6: {
      Variant items;
      Check(Documented(host.Command("ITEMS", {}, 0, &items)));
      break;
    }
    case 7:
      Check(Documented(instance.Reload()));
      break;
    default: {
      const int32_t source = 1 + ((op >> 3) & 3) % 3;
      const int32_t client = kClients[(op >> 5) % 5];
      const uint8_t pick = in.Byte();
      const std::string name = pick % 5 < 4 ? std::string(kClientNames[pick % 5]) : in.Text(50);
      const std::string_view packet = in.Bytes(pick >> 3 ? (pick >> 3) * 4 : in.Byte() * 8u);
      instance.clients_touched = instance.clients_touched || source != 3;
      names_whole = names_whole && packet.find('\0') == std::string_view::npos;
      CheckRows(host.Send(source, client, name, packet), settings, source, client, names_whole);
      break;
    }
    }
  }
  // Clients are dropped before the input returns, so no bytes of it stay buffered for the next
  // one and what it allocated for them is freed within its own run.
  instance.DropClients();
  harness.ReadLog(instance);
  return 0;
}
