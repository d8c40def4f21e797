#include "host_options.h"

#include <charconv>
#include <optional>

namespace kestrel::host {

const char kHostUsage[] =
    "usage: kestrel-host [OPTIONS] INPUT...\n"
    "       kestrel-host --info [--library PATH]\n"
    "       kestrel-host --version [--library PATH]\n"
    "       kestrel-host --check [--ini FILE] [--section PREFIX] [--registry PATH]\n"
    "                    [--sample FILE]\n"
    "\n"
    "Loads the Kestrel plug-in as a data logger does and prints the records it parses.\n"
    "Each INPUT is one data source (ids 1, 2, ... in order):\n"
    "  FILE                   a file\n"
    "  -                      standard input\n"
    "  tcp:[ADDRESS:]PORT     a TCP listener (default address 127.0.0.1, port 0 = any free);\n"
    "                         ADDRESS a host name, an IPv4 address or [IPv6]\n"
    "                         (tcp:localhost:5000, tcp:[::1]:5000); each connection is one\n"
    "                         client, named \"ip:port\"\n"
    "\n"
    "Options (--name=value works too; after -- every argument is an input):\n"
    "  --library PATH         the plug-in library (default: libkestrel.so.5 or kestrel.dll\n"
    "                         in the host's folder, else in ../lib beside it)\n"
    "  --registry PATH        registry path of the settings (default "
    "\\Software\\Kestrel\\kestrel-host)\n"
    "  --ini FILE             keep the settings in this INI file instead\n"
    "  --section PREFIX       INI section prefix\n"
    "  --language CODE        interface language of the plug-in's messages\n"
    "  --format table|csv|json  output (default: table on a terminal, else csv)\n"
    "  --packet-size N        cut files and standard input into packets of N bytes\n"
    "                         (default: as read)\n"
    "  --hide NAME[,NAME...]  leave these values out (e.g. DATE_TIME_STAMP)\n"
    "  --items                print the published parser items at the end; with csv, a\n"
    "                         fixed header of columns instead (as when item rules exist)\n"
    "  --check                load the settings as a run does, print the effective\n"
    "                         configuration and every warning, and end (exit 7 on warnings)\n"
    "  --sample FILE          with --check: also parse FILE as a run does and print what\n"
    "                         each item rule converted and failed (exit 7 on a failure)\n"
    "  --report               have the plug-in log the completion of every packet\n"
    "  --clients N            TCP: end after N clients have disconnected (default: Ctrl-C)\n"
    "  --stats                TCP: the plug-in's counters as a table on stderr every 5 s\n"
    "  --progress, --no-progress  a progress line on stderr (default: when it is a terminal)\n"
    "  --version              the host's version and the plug-in's, then end\n"
    "\n"
    "Exit codes: 0 done, 1 the plug-in refused to start, 2 bad command line, 3 library not\n"
    "loadable, 4 bad INI file, 5 input not readable (or a directory), 6 TCP port in use or\n"
    "not usable, 7 --check found warnings, 130 interrupted.\n"
    "At the end the plug-in's counters are printed per data source (what came in, what was\n"
    "delivered, what was dropped).\n";

namespace {

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* out) {
  const auto result = std::from_chars(text.data(), text.data() + text.size(), *out);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && *out <= max;
}

bool ParseInput(const std::string& arg, InputSpec* input, std::string* error) {
  if (arg == "-") {
    input->kind = InputSpec::StandardInput;
    return true;
  }
  if (arg.rfind("tcp:", 0) != 0) {
    input->kind = InputSpec::File;
    input->path = arg;
    return true;
  }
  input->kind = InputSpec::Tcp;
  std::string rest = arg.substr(4);
  bool good = true;
  if (!rest.empty() && rest[0] == '[') {
    // [IPv6]:PORT
    const std::size_t close = rest.find(']');
    good = close != std::string::npos && close + 1 < rest.size() && rest[close + 1] == ':';
    if (good) {
      input->address = rest.substr(1, close - 1);
      rest = rest.substr(close + 2);
    }
  } else if (const std::size_t colon = rest.rfind(':'); colon != std::string::npos) {
    input->address = rest.substr(0, colon);
    rest = rest.substr(colon + 1);
    // An IPv6 address needs its brackets, or its last group would read as the port.
    good = input->address.find(':') == std::string::npos;
  }
  uint64_t port = 0;
  if (!good || !ParseNumber(rest, 65535, &port) || input->address.empty()) {
    *error = "bad TCP input " + arg +
             " (expected tcp:[ADDRESS:]PORT, ADDRESS a host name, an IPv4 address or [IPv6])";
    return false;
  }
  input->port = static_cast<uint16_t>(port);
  return true;
}

} // namespace

bool ParseHostOptions(const std::vector<std::string>& args, HostOptions* options,
                      std::string* error) {
  bool options_end = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!options_end && args[i] == "--") {
      options_end = true;
      continue;
    }
    // --name=value is --name value; a flag given a value is refused below.
    std::string arg = args[i];
    std::optional<std::string> inline_value;
    if (!options_end && arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      inline_value = arg.substr(arg.find('=') + 1);
      arg.resize(arg.find('='));
    }
    bool value_taken = false;
    const auto value = [&](std::string* out) {
      value_taken = true;
      if (inline_value) {
        *out = *inline_value;
        return true;
      }
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    std::string text;
    uint64_t number = 0;
    if (options_end) {
      InputSpec input;
      if (!ParseInput(arg, &input, error))
        return false;
      options->inputs.push_back(input);
      continue;
    }
    if (arg == "--info") {
      options->info = true;
    } else if (arg == "--version") {
      options->version = true;
    } else if (arg == "--check") {
      options->check = true;
    } else if (arg == "--items") {
      options->items = true;
    } else if (arg == "--report") {
      options->report = true;
    } else if (arg == "--stats") {
      options->stats = true;
    } else if (arg == "--progress" || arg == "--no-progress") {
      options->progress = arg == "--progress";
    } else if (arg == "--library") {
      if (!value(&options->library))
        return false;
    } else if (arg == "--registry") {
      if (!value(&options->registry_path))
        return false;
    } else if (arg == "--ini") {
      if (!value(&options->ini_file))
        return false;
    } else if (arg == "--sample") {
      if (!value(&options->sample))
        return false;
    } else if (arg == "--section") {
      if (!value(&options->section_prefix))
        return false;
    } else if (arg == "--language") {
      if (!value(&options->language))
        return false;
    } else if (arg == "--format") {
      if (!value(&text))
        return false;
      if (text == "table")
        options->format = OutputFormat::Table;
      else if (text == "csv")
        options->format = OutputFormat::Csv;
      else if (text == "json")
        options->format = OutputFormat::JsonLines;
      else {
        *error = "unknown format " + text + " (table, csv or json)";
        return false;
      }
    } else if (arg == "--packet-size" || arg == "--clients") {
      if (!value(&text))
        return false;
      if (!ParseNumber(text, 1u << 30, &number)) {
        *error = arg + " needs a number, not " + text;
        return false;
      }
      if (arg == "--clients")
        options->tcp_clients = static_cast<int>(number);
      else
        options->packet_size = static_cast<std::size_t>(number);
    } else if (arg == "--hide") {
      if (!value(&text))
        return false;
      std::size_t start = 0;
      while (start <= text.size()) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        if (end > start)
          options->hidden.push_back(text.substr(start, end - start));
        start = end + 1;
      }
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      *error = "unknown option " + arg;
      return false;
    } else {
      InputSpec input;
      if (!ParseInput(arg, &input, error))
        return false;
      options->inputs.push_back(input);
    }
    if (inline_value && !value_taken) {
      *error = arg + " takes no value";
      return false;
    }
  }
  if (!options->sample.empty() && (!options->check || !options->inputs.empty())) {
    *error = "--sample goes with --check and no input";
    return false;
  }
  if (!options->info && !options->check && !options->version && options->inputs.empty()) {
    *error = "no input given";
    return false;
  }
  return true;
}

} // namespace kestrel::host
