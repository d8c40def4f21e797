#include <windows.h>

#include "platform/files.h"
#include "platform/text.h"

namespace kestrel::platform {

namespace {

std::wstring WidePath(std::string_view path) {
  const WideString wide = AnsiToWide(path);
  return std::wstring(wide.begin(), wide.end());
}

std::string ErrorText(const char* what, std::string_view path) {
  return std::string(what) + " " + std::string(path) + ": error " +
         std::to_string(static_cast<unsigned long>(GetLastError()));
}

} // namespace

bool FileExists(std::string_view path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadWholeFile(std::string_view path, std::string* contents) {
  HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  std::string data;
  char buffer[16384];
  bool ok = true;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) {
      ok = false;
      break;
    }
    if (read == 0)
      break;
    data.append(buffer, read);
  }
  CloseHandle(file);
  if (ok)
    *contents = std::move(data);
  return ok;
}

bool ReplaceFileContents(std::string_view path, std::string_view contents, std::string* error) {
  const std::string temp = std::string(path) + ".~kestrel";
  const std::wstring wide_temp = WidePath(temp);
  HANDLE file = CreateFileW(wide_temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (error)
      *error = ErrorText("cannot create", temp);
    return false;
  }
  std::string failure;
  while (!contents.empty()) {
    const DWORD chunk = contents.size() > 0x100000 ? 0x100000 : static_cast<DWORD>(contents.size());
    DWORD written = 0;
    if (!WriteFile(file, contents.data(), chunk, &written, nullptr) || written == 0) {
      failure = ErrorText("cannot write", temp);
      break;
    }
    contents.remove_prefix(written);
  }
  if (failure.empty() && !FlushFileBuffers(file))
    failure = ErrorText("cannot flush", temp);
  CloseHandle(file);
  if (failure.empty() && FileReplacementFailsForTesting())
    failure = "cannot rename " + temp + " to " + std::string(path) + ": simulated failure";
  if (failure.empty() && !MoveFileExW(wide_temp.c_str(), WidePath(path).c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    failure = ErrorText("cannot rename over", path);
  if (!failure.empty()) {
    DeleteFileW(wide_temp.c_str());
    if (error)
      *error = failure;
    return false;
  }
  return true;
}

} // namespace kestrel::platform
