#include "host_run.h"

#include "framework/standard_items.h"
#include "host_system.h"
#include "open_block.h"
#include "platform/system.h"
#include "plugin_session.h"
#include "tcp_listener.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <system_error>
#include <utility>

namespace kestrel::host {

namespace {

// Why a file cannot be read as an input: the system's reason, or "Is a directory" (a
// directory opens on some systems and only fails to read); empty when it can be read.
std::string UnreadableReason(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    return std::make_error_code(std::errc::is_a_directory).message();
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file)
    return errno ? std::strerror(errno) : "it cannot be opened";
  std::fclose(file);
  return std::string();
}

// Checks that the INI file is a readable file and reads as one: every line a section, an
// entry, a comment or blank. The plug-in itself would quietly fall back to the registry.
bool CheckIniFile(const std::string& path, std::string* error) {
  std::string reason = UnreadableReason(path);
  std::error_code status;
  if (reason.empty() && !std::filesystem::is_regular_file(path, status))
    reason = "not a regular file";
  std::ifstream file(path, std::ios::binary);
  if (reason.empty() && !file)
    reason = "it cannot be opened";
  if (!reason.empty()) {
    *error = "cannot read the INI file " + path + ": " + reason;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    const std::size_t first = line.find_first_not_of(" \t\r\x1A");
    if (first == std::string::npos)
      continue;
    if (number == 1 && line.compare(first, 3, "\xEF\xBB\xBF") == 0)
      continue;
    const char c = line[first];
    const std::size_t last = line.find_last_not_of(" \t\r");
    if (c == ';' || c == '#' || (c == '[' && line[last] == ']') ||
        line.find('=') != std::string::npos)
      continue;
    *error = path + ":" + std::to_string(number) +
             ": not an INI file (a line that is neither a [section], a name=value entry nor a "
             "comment)";
    return false;
  }
  return true;
}

// The lines of a CR LF separated text (the "Statistics" parameter, the parser items).
std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos)
      end = text.size();
    if (end > start)
      lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The counters as a table: a header of the counter names, then a row per data source.
void PrintStatisticsTable(std::FILE* err, const std::string& text) {
  bool header = true;
  for (const std::string& line : CrLfLines(text)) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::size_t start = 0;
    while (start < line.size()) {
      std::size_t end = line.find(' ', start);
      if (end == std::string::npos)
        end = line.size();
      const std::string field = line.substr(start, end - start);
      const std::size_t equals = field.find('=');
      if (equals != std::string::npos)
        fields.emplace_back(field.substr(0, equals), field.substr(equals + 1));
      start = end + 1;
    }
    std::string names;
    std::string values;
    for (const auto& [name, value] : fields) {
      const int width = static_cast<int>(std::max<std::size_t>(name.size(), 6)) + 1;
      names += std::string(static_cast<std::size_t>(width) - name.size(), ' ') + name;
      values +=
          std::string(static_cast<std::size_t>(width) - std::min<std::size_t>(value.size(), width),
                      ' ') +
          value;
    }
    if (header)
      std::fprintf(err, "kestrel-host:%s\n", names.c_str());
    header = false;
    std::fprintf(err, "kestrel-host:%s\n", values.c_str());
  }
  std::fflush(err);
}

// A data source name must not hold the separator of the SET-STATE lines.
std::string SourceText(std::string text) {
  for (char& c : text)
    if (c == ';' || c == '\r' || c == '\n')
      c = '_';
  return text;
}

// The progress line on stderr: redrawn in place at most every 250 ms, and erased before
// anything else is printed (a row, a log line), so it never runs into other output.
class Progress {
public:
  Progress(std::FILE* err, bool enabled) : err_(err), enabled_(enabled) {}
  void Update(uint64_t bytes, uint64_t blocks, uint64_t records, bool final = false) {
    if (!enabled_)
      return;
    const uint64_t now = platform::TickCount64();
    if (!final && (now - start_ < 1000 || now - last_ < 250))
      return;
    if (final && !drawn_once_)
      return;
    last_ = now;
    const double seconds = static_cast<double>(now - start_) / 1000.0;
    const double mb = static_cast<double>(bytes) / 1e6;
    char line[160];
    const int length =
        std::snprintf(line, sizeof(line), "%10.1f MB  %10llu blocks  %10llu rows  %8.1f MB/s", mb,
                      static_cast<unsigned long long>(blocks),
                      static_cast<unsigned long long>(records), seconds > 0 ? mb / seconds : 0.0);
    Clear();
    std::fprintf(err_, "%s%s", line, final ? "\n" : "");
    std::fflush(err_);
    width_ = final ? 0 : static_cast<std::size_t>(std::max(length, 0));
    drawn_once_ = true;
  }
  // Erases the line, when one is shown, leaving the cursor at the start of an empty line.
  void Clear() {
    if (width_ == 0)
      return;
    std::fprintf(err_, "\r%*s\r", static_cast<int>(width_), "");
    std::fflush(err_);
    width_ = 0;
  }

private:
  std::FILE* err_;
  bool enabled_;
  bool drawn_once_ = false;
  std::size_t width_ = 0; // characters of the line shown; 0 when none is
  uint64_t start_ = platform::TickCount64();
  uint64_t last_ = 0;
};

// Prints the plug-in's settings check; with a sample it ends with the item rules' counts. The
// exit code says whether the settings warned or a conversion of the sample failed.
int PrintCheck(PluginSession& session, std::FILE* out, bool sample) {
  session.Pump();
  session.CollectLog();
  const std::string report = session.ModuleParameter("SettingsCheck");
  std::fputs(report.c_str(), out);
  std::fflush(out);
  const bool clean = report.find("\nwarnings: 0\n") != std::string::npos &&
                     (!sample || report.find("\nfailed conversions: 0\n") != std::string::npos);
  return clean ? kExitOk : kExitCheckWarnings;
}

// One line of the parser items text: "description|name|type|extra".
struct ParserItem {
  std::string description;
  std::string name;
  std::string type;
};

std::vector<ParserItem> ParseItems(const std::string& text) {
  std::vector<ParserItem> items;
  for (const std::string& line : CrLfLines(text)) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    while (fields.size() < 3) {
      const std::size_t bar = line.find('|', from);
      fields.push_back(
          line.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
      if (bar == std::string::npos)
        break;
      from = bar + 1;
    }
    fields.resize(3);
    items.push_back(ParserItem{fields[0], fields[1], fields[2]});
  }
  return items;
}

// Whether the published items name more than the standard fields: item rules are set.
bool RulesNameColumns(const std::string& items) {
  for (const ParserItem& item : ParseItems(items))
    if (!IsStandardItem(item.name))
      return true;
  return false;
}

// The fixed CSV columns: the first record's names in its order, then the other published items.
std::vector<std::string> CsvColumns(const Record& first, const std::string& items) {
  std::vector<std::string> columns;
  for (const NamedValue& value : first.values)
    if (std::find(columns.begin(), columns.end(), value.name) == columns.end())
      columns.push_back(value.name);
  for (const ParserItem& item : ParseItems(items))
    if (!item.name.empty() && std::find(columns.begin(), columns.end(), item.name) == columns.end())
      columns.push_back(item.name);
  return columns;
}

} // namespace

int RunHost(const HostOptions& options, std::FILE* out, std::FILE* err, const HostHooks& hooks) {
  std::atomic<bool> interrupted{false};
  std::atomic<bool>* stop = hooks.interrupt ? hooks.interrupt : &interrupted;

  std::string ini_file;
  if (!options.ini_file.empty()) {
    std::string error;
    if (!CheckIniFile(options.ini_file, &error)) {
      std::fprintf(err, "kestrel-host: %s\n", error.c_str());
      return kExitBadIni;
    }
    // The plug-in gets a full path: it opens the file relative to nothing of ours.
    ini_file = std::filesystem::absolute(options.ini_file).string();
  }

  // Inputs and their data sources; files are opened before anything starts. A settings check
  // with a sample reads it as the one input file.
  std::vector<InputSpec> inputs = options.inputs;
  if (!options.sample.empty())
    inputs.assign(1, InputSpec{InputSpec::File, options.sample});
  std::vector<DataSource> sources;
  std::vector<std::unique_ptr<std::FILE, int (*)(std::FILE*)>> files;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const InputSpec& input = inputs[i];
    DataSource source{static_cast<int32_t>(i + 1), "", ""};
    files.emplace_back(nullptr, &std::fclose);
    if (input.kind == InputSpec::File) {
      const std::string reason = UnreadableReason(input.path);
      if (reason.empty())
        files.back().reset(std::fopen(input.path.c_str(), "rb"));
      if (!files.back()) {
        std::fprintf(err, "kestrel-host: cannot open the input file %s: %s\n", input.path.c_str(),
                     reason.empty() ? "it cannot be opened" : reason.c_str());
        return kExitNoInput;
      }
      source.name = SourceText(std::filesystem::path(input.path).filename().string());
      source.long_name = SourceText(input.path);
    } else if (input.kind == InputSpec::StandardInput) {
      source.name = "stdin";
      source.long_name = "standard input";
    }
    sources.push_back(source);
  }

  PluginSession session(err);
  std::string error;
  if (!session.Open(options.library, &error)) {
    std::fprintf(err, "kestrel-host: cannot load the plug-in %s: %s\n", options.library.c_str(),
                 error.c_str());
    return kExitNoLibrary;
  }

  std::vector<std::unique_ptr<TcpListener>> listeners;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const InputSpec& input = inputs[i];
    if (input.kind != InputSpec::Tcp)
      continue;
    if (listeners.empty() && !StartSockets(&error)) {
      std::fprintf(err, "kestrel-host: no sockets: %s\n", error.c_str());
      return kExitPortInUse;
    }
    const platform::HWND window = session.Window();
    auto listener = std::make_unique<TcpListener>(
        sources[i].id, [window] { platform::PostWindowMessage(window, platform::kWmApp, 0, 0); });
    bool in_use = false;
    if (!listener->Start(input.address, input.port, &in_use, &error)) {
      std::fprintf(err, "kestrel-host: cannot listen on %s: %s%s\n",
                   JoinHostPort(input.address, input.port).c_str(), error.c_str(),
                   in_use ? " (the port is in use)" : "");
      return kExitPortInUse;
    }
    const std::string where = JoinHostPort(input.address, listener->Port());
    sources[i].name = "tcp:" + std::to_string(listener->Port());
    sources[i].long_name = "TCP " + where;
    std::fprintf(err, "kestrel-host: data source %d listens on %s\n", sources[i].id, where.c_str());
    std::fflush(err);
    if (hooks.listening)
      hooks.listening(sources[i].id, listener->Port());
    listeners.push_back(std::move(listener));
  }

  if (!session.Start(
          SettingsPlace{options.registry_path, ini_file, options.section_prefix, options.language},
          sources, &error)) {
    std::fprintf(err, "kestrel-host: the plug-in did not start: %s\n", error.c_str());
    return kExitPluginFailed;
  }

  if (options.check && options.sample.empty())
    return PrintCheck(session, out, false);
  // The sample's rows are only counted: the plug-in counts what each item rule does to them.
  if (options.check && !session.SetModuleParameter("SettingsCheck", true)) {
    std::fprintf(err, "kestrel-host: the plug-in cannot count its item rules on a sample\n");
    return kExitPluginFailed;
  }

  const OutputFormat format =
      options.format.value_or(IsTerminal(out) ? OutputFormat::Table : OutputFormat::Csv);
  RowWriter writer(out, format, options.hidden, err);
  session.SetValuesAsJson(format == OutputFormat::JsonLines);
  Progress progress(err, options.progress.value_or(IsTerminal(err)));
  session.SetBeforeLog([&progress] { progress.Clear(); });
  // CSV keeps one layout: a header of fixed columns when --items asks for the items or the
  // settings' item rules name columns; without either, name,type,value triples per record.
  const bool fixed_columns =
      format == OutputFormat::Csv && (options.items || RulesNameColumns(session.Items()));
  bool first_record = true;
  const auto sink = [&](const Record& record) {
    if (options.check)
      return; // a check parses the sample for its counts and prints no rows
    progress.Clear();
    if (fixed_columns && first_record)
      writer.FixColumns(CsvColumns(record, session.Items()));
    first_record = false;
    writer.Write(record);
  };
  uint64_t bytes = 0;
  uint64_t packets = 0;
  const auto process = [&](int32_t source, int32_t client, std::string_view name,
                           std::string_view data) {
    session.Process(source, client, name, data, options.report, sink);
    writer.Flush();
    bytes += data.size();
    ++packets;
    session.Pump();
    progress.Update(bytes, session.Blocks(), session.Records());
  };

  // Files and standard input, one after the other, packets as read or of the chosen size.
  const std::size_t chunk = options.packet_size ? options.packet_size : 64 * 1024;
  std::vector<char> buffer(chunk);
  bool input_cut = false;
  bool read_failed = false;
  for (std::size_t i = 0; i < inputs.size() && !*stop; ++i) {
    const InputSpec& input = inputs[i];
    if (input.kind == InputSpec::Tcp)
      continue;
    std::FILE* file = input.kind == InputSpec::File ? files[i].get() : stdin;
    std::size_t filled = 0;
    while (!*stop) {
      errno = 0;
      const long got = ReadSome(file, buffer.data() + filled, chunk - filled);
      if (got < 0) {
        std::fprintf(err, "kestrel-host: reading input %d failed: %s\n", sources[i].id,
                     errno ? std::strerror(errno) : "read error");
        read_failed = true;
      }
      if (got <= 0)
        break;
      filled += static_cast<std::size_t>(got);
      if (options.packet_size && filled < chunk)
        continue;
      process(sources[i].id, 0, "", std::string_view(buffer.data(), filled));
      filled = 0;
    }
    if (filled)
      process(sources[i].id, 0, "", std::string_view(buffer.data(), filled));
    input_cut = *stop;
  }

  // TCP clients until enough of them have gone or Ctrl-C. A client that goes away in the
  // middle of a block leaves the plug-in a half block it will never complete: said here.
  int gone = 0;
  std::map<std::pair<int32_t, int32_t>, OpenBlock> open_blocks;
  uint64_t stats_due = platform::TickCount64() + hooks.statistics_period;
  while (!listeners.empty() && !*stop && (options.tcp_clients == 0 || gone < options.tcp_clients)) {
    platform::WaitWindowMessage(200);
    session.Pump();
    for (const auto& listener : listeners) {
      for (TcpPacket& packet : listener->Take()) {
        const auto key = std::make_pair(packet.source, packet.client);
        if (!packet.closed) {
          open_blocks[key].Feed(packet.bytes);
          process(packet.source, packet.client, packet.client_name, packet.bytes);
          continue;
        }
        ++gone;
        const auto open = open_blocks.find(key);
        if (open != open_blocks.end() && open->second.Open())
          std::fprintf(err,
                       "kestrel-host: client %d (%s) of data source %d closed in the middle of a "
                       "block (%llu bytes so far); the block is lost\n",
                       packet.client, packet.client_name.c_str(), packet.source,
                       static_cast<unsigned long long>(open->second.Bytes()));
        if (open != open_blocks.end())
          open_blocks.erase(open);
      }
    }
    if (options.stats && platform::TickCount64() >= stats_due) {
      PrintStatisticsTable(err, session.Statistics());
      stats_due = platform::TickCount64() + hooks.statistics_period;
      if (hooks.statistics_shown)
        hooks.statistics_shown();
    }
  }
  for (const auto& listener : listeners)
    listener->Stop();
  progress.Update(bytes, session.Blocks(), session.Records(), true);
  const int check_status = options.check ? PrintCheck(session, out, true) : kExitOk;

  // The item list at the end; in CSV the header carried the columns.
  if (options.items && format != OutputFormat::Csv) {
    bool first = true;
    for (const ParserItem& item : ParseItems(session.Items())) {
      if (format == OutputFormat::JsonLines)
        std::fprintf(out, "{\"item\":%s,\"type\":%s,\"description\":%s}\n",
                     JsonQuote(item.name).c_str(), JsonQuote(item.type).c_str(),
                     JsonQuote(item.description).c_str());
      else
        std::fprintf(out, "%s  %-24s %-10s %s\n", first ? "parser items\n" : "", item.name.c_str(),
                     item.type.c_str(), item.description.c_str());
      first = false;
    }
  }
  if (writer.Dropped())
    std::fprintf(err, "kestrel-host: %llu values had no CSV column and were left out\n",
                 static_cast<unsigned long long>(writer.Dropped()));

  const std::string statistics = session.Statistics();
  session.Stop();
  std::fprintf(err, "kestrel-host: %llu bytes in %llu packets, %llu blocks, %llu records\n",
               static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(packets),
               static_cast<unsigned long long>(session.Blocks()),
               static_cast<unsigned long long>(session.Records()));
  // What each data source received, delivered and dropped, as the plug-in counted it.
  for (const std::string& line : CrLfLines(statistics))
    std::fprintf(err, "kestrel-host: %s\n", line.c_str());
  std::fflush(err);
  std::fflush(out);
  // Ctrl-C is the usual end of a TCP run; it only fails a run that had not read all its files.
  if (input_cut)
    return kExitInterrupted;
  return read_failed ? kExitNoInput : check_status;
}

} // namespace kestrel::host
