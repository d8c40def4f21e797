// One run of the reference host: inputs in, the plug-in in between, records out.
#pragma once

#include "host_options.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace kestrel::host {

struct HostHooks {
  // Called once per TCP listener when it listens, with its data source id and port.
  std::function<void(int32_t source, uint16_t port)> listening;
  // Set to true to end the run as Ctrl-C does.
  std::atomic<bool>* interrupt = nullptr;
  // Called after each --stats table has been written.
  std::function<void()> statistics_shown;
  // Milliseconds between two --stats tables.
  uint64_t statistics_period = 5000;
};

// Runs the host with `options`; records go to `out`, log lines and errors to `err`. Returns an
// ExitCode.
int RunHost(const HostOptions& options, std::FILE* out, std::FILE* err,
            const HostHooks& hooks = {});

} // namespace kestrel::host
