#include <windows.h>

#include "platform/files.h"
#include "platform/text.h"

#include <vector>

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

bool NotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Closes a handle when it goes.
class Handle {
public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE)
      CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
  HANDLE handle_;
};

// The file an existing path finally names, links followed; the path itself when it cannot be
// told.
std::wstring FinalPath(HANDLE file, const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length =
        GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0)
      return path;
    if (length < buffer.size())
      return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
  return path;
}

} // namespace

bool FileExists(std::string_view path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

PathKind GetPathKind(std::string_view path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return NotFound(GetLastError()) ? PathKind::Missing : PathKind::Other;
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::Other : PathKind::RegularFile;
}

bool ReadWholeFile(std::string_view path, std::string* contents, std::string* error) {
  Handle file(CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    if (error)
      *error = NotFound(GetLastError()) ? std::string() : ErrorText("cannot open", path);
    return false;
  }
  // A device or a pipe could hold the read up indefinitely.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) {
    if (error)
      *error = std::string(path) + " is not a regular file";
    return false;
  }
  std::string data;
  char buffer[16384];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) {
      if (error)
        *error = ErrorText("cannot read", path);
      return false;
    }
    if (read == 0)
      break;
    data.append(buffer, read);
  }
  *contents = std::move(data);
  return true;
}

bool ReplaceFileContents(std::string_view path, std::string_view contents, std::string* error) {
  const auto fail = [error](std::string text) {
    if (error)
      *error = std::move(text);
    return false;
  };
  std::wstring target = WidePath(path);
  bool existed = false;
  DWORD attributes = 0;
  {
    Handle existing(CreateFileW(target.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (existing.valid()) {
      existed = true;
      BY_HANDLE_FILE_INFORMATION info{};
      if (GetFileType(existing.get()) != FILE_TYPE_DISK ||
          !GetFileInformationByHandle(existing.get(), &info) ||
          (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail(std::string(path) + " is not a regular file");
      // The read-only attribute is the user's word that the file stays as it is.
      if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        return fail(std::string(path) + " is read-only");
      attributes = info.dwFileAttributes;
      target = FinalPath(existing.get(), target);
    } else if (!NotFound(GetLastError())) {
      return fail(ErrorText("cannot open", path));
    }
  }
  const std::string temp = std::string(path) + ".~kestrel";
  const std::wstring wide_temp = target + L".~kestrel";
  std::string failure;
  {
    Handle file(CreateFileW(wide_temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
      return fail(ErrorText("cannot create", temp));
    while (!contents.empty()) {
      const DWORD chunk =
          contents.size() > 0x100000 ? 0x100000 : static_cast<DWORD>(contents.size());
      DWORD written = 0;
      if (!WriteFile(file.get(), contents.data(), chunk, &written, nullptr) || written == 0) {
        failure = ErrorText("cannot write", temp);
        break;
      }
      contents.remove_prefix(written);
    }
    if (failure.empty() && !FlushFileBuffers(file.get()))
      failure = ErrorText("cannot flush", temp);
  }
  if (failure.empty() && FileReplacementFailsForTesting())
    failure = "cannot rename " + temp + " to " + std::string(path) + ": simulated failure";
  // ReplaceFile keeps the replaced file's attributes, security and creation time.
  if (failure.empty() && existed &&
      !ReplaceFileW(target.c_str(), wide_temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                    nullptr, nullptr)) {
    // This error means the old file is already gone: the new one must take its name now.
    if (GetLastError() != ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
        !MoveFileExW(wide_temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
      failure = ErrorText("cannot replace", path);
  }
  if (failure.empty() && !existed &&
      !MoveFileExW(wide_temp.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    failure = ErrorText("cannot rename over", path);
  if (!failure.empty()) {
    DeleteFileW(wide_temp.c_str());
    return fail(failure);
  }
  // Set again in case the file system's ReplaceFile did not carry them over.
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (attributes & kKept)
    SetFileAttributesW(target.c_str(), attributes & kKept);
  return true;
}

} // namespace kestrel::platform
