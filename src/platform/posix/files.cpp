#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrel::platform {

namespace {

std::string ErrnoText(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

} // namespace

bool FileExists(std::string_view path) {
  struct stat info {};
  return ::stat(std::string(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool ReadWholeFile(std::string_view path, std::string* contents) {
  const int fd = ::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  std::string data;
  char buffer[16384];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      ok = false;
    if (n <= 0)
      break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (ok)
    *contents = std::move(data);
  return ok;
}

bool ReplaceFileContents(std::string_view path_view, std::string_view contents,
                         std::string* error) {
  const std::string path(path_view);
  const std::string temp = path + ".~kestrel";
  mode_t mode = 0666;
  struct stat info {};
  const bool existed = ::stat(path.c_str(), &info) == 0;
  if (existed)
    mode = info.st_mode & 07777;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) {
    if (error)
      *error = ErrnoText("cannot create", temp);
    return false;
  }
  if (existed)
    (void)::fchmod(fd, mode); // the umask must not narrow an existing file's permissions
  std::string failure;
  if (!WriteAll(fd, contents))
    failure = ErrnoText("cannot write", temp);
  else if (::fsync(fd) != 0)
    failure = ErrnoText("cannot flush", temp);
  ::close(fd);
  if (failure.empty() && FileReplacementFailsForTesting())
    failure = "cannot rename " + temp + " to " + path + ": simulated failure";
  if (failure.empty() && ::rename(temp.c_str(), path.c_str()) != 0)
    failure = ErrnoText("cannot rename over", path);
  if (!failure.empty()) {
    ::unlink(temp.c_str());
    if (error)
      *error = failure;
    return false;
  }
  return true;
}

} // namespace kestrel::platform
