// Runs this test executable again as a helper process with a role, for tests that need a
// second process (cross-process locks, a store shared between processes, a crash mid-save).
#pragma once

#include <string>
#include <string_view>

namespace kestrel::testing {

// The role this process was started with, or nullptr for the normal test run. A test file
// that offers roles checks it in a static initializer and exits with the role's result.
const char* HelperRole();

// Starts the executable with KESTREL_TEST_ROLE=`role` plus `environment` (shell assignments,
// e.g. "A='x' B='y'") and waits for it. With `kill_after_seconds` > 0 it is killed with SIGKILL
// after that time. Returns the exit code; 137 means it was killed.
int RunHelper(std::string_view role, const std::string& environment, double kill_after_seconds = 0);

// A fresh empty folder under the system's temporary folder.
std::string MakeTempFolder(std::string_view tag);

// `text` quoted for the shell.
std::string ShellQuote(std::string_view text);

} // namespace kestrel::testing
