#include "helper_process.h"

#include "platform/system.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kestrel::testing {

const char* HelperRole() {
  return std::getenv("KESTREL_TEST_ROLE");
}

std::string ShellQuote(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted.push_back(c);
  }
  return quoted + "'";
}

int RunHelper(std::string_view role, const std::string& environment, double kill_after_seconds) {
  std::string command = "KESTREL_TEST_ROLE=" + ShellQuote(role) + " " + environment + " ";
  if (kill_after_seconds > 0)
    command += "timeout -s KILL " + std::to_string(kill_after_seconds) + " ";
  command += ShellQuote(platform::ModuleFileName(nullptr)) + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  // The wait status of the shell: the exit code sits in the second byte.
  return status < 0 ? -1 : (status >> 8) & 0xFF;
}

std::string MakeTempFolder(std::string_view tag) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("kestrel-" + std::string(tag) + "-" +
                     platform::GuidToText(platform::CreateGuid()).substr(1, 36));
  std::filesystem::create_directories(path);
  return path.string();
}

} // namespace kestrel::testing
