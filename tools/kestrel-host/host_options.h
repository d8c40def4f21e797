// The reference host's command line.
#pragma once

#include "row_writer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::host {

// Exit codes, documented in the README and the usage text.
enum ExitCode : int {
  kExitOk = 0,
  kExitPluginFailed = 1,  // the plug-in refused to start (create, LOAD, SET-STATE)
  kExitUsage = 2,         // a bad command line
  kExitNoLibrary = 3,     // the library cannot be loaded or lacks the exports
  kExitBadIni = 4,        // the INI file is missing, unreadable or not an INI file
  kExitNoInput = 5,       // an input file cannot be opened or read, or is a directory
  kExitPortInUse = 6,     // a TCP listener cannot be opened
  kExitCheckWarnings = 7, // --check: the settings gave at least one warning
  kExitInterrupted = 130, // Ctrl-C before the input ended
};

struct InputSpec {
  enum Kind { File, StandardInput, Tcp } kind = File;
  std::string path;                  // File
  std::string address = "127.0.0.1"; // Tcp: a host name, an IPv4 or an IPv6 address
  uint16_t port = 0;                 // Tcp; 0 = any free port
};

struct HostOptions {
  bool info = false;
  bool version = false; // print the host's and the plug-in's versions, then end
  bool items = false;
  bool check = false;  // print the effective settings and their warnings, then end
  std::string sample;  // with check: a file parsed as a run would, counted per item rule
  bool report = false; // ask the plug-in to log each packet's completion
  bool stats = false;  // TCP: the plug-in's counters as a table on stderr every few seconds
  std::string library;
  std::string registry_path = "\\Software\\Kestrel\\kestrel-host";
  std::string ini_file;
  std::string section_prefix;
  std::string language;
  std::optional<OutputFormat> format; // unset: a table on a terminal, CSV otherwise
  std::size_t packet_size = 0;        // 0: packets as read
  std::vector<std::string> hidden;
  int tcp_clients = 0;          // stop after this many TCP clients have gone; 0 = until Ctrl-C
  std::optional<bool> progress; // unset: when stderr is a terminal
  std::vector<InputSpec> inputs;
};

// Parses the arguments after the program name; false with `*error` set on a bad command line.
bool ParseHostOptions(const std::vector<std::string>& args, HostOptions* options,
                      std::string* error);

extern const char kHostUsage[];

} // namespace kestrel::host
