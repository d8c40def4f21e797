#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

// The path a chain of symbolic links finally names (the path itself when it is no link); a
// dangling link gives the missing file it points to. False for a loop.
bool FollowLinks(const std::string& path, std::string* target) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      *target = std::move(current);
      return true;
    }
    char link[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), link, sizeof link);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof link)
      return false;
    const std::string next(link, static_cast<std::size_t>(length));
    const std::size_t slash = current.rfind('/');
    current = next.front() == '/' || slash == std::string::npos
                  ? next
                  : current.substr(0, slash + 1) + next;
  }
  errno = ELOOP;
  return false;
}

} // namespace

bool FileExists(std::string_view path) {
  struct stat info {};
  return ::stat(std::string(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

PathKind GetPathKind(std::string_view path) {
  struct stat info {};
  if (::stat(std::string(path).c_str(), &info) != 0)
    return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Other;
  return S_ISREG(info.st_mode) ? PathKind::RegularFile : PathKind::Other;
}

bool ReadWholeFile(std::string_view path_view, std::string* contents, std::string* error) {
  const std::string path(path_view);
  // Opened without waiting: a FIFO would otherwise block until a writer came.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (error)
      *error = errno == ENOENT || errno == ENOTDIR ? std::string() : ErrnoText("cannot open", path);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    if (error)
      *error = path + " is not a regular file";
    return false;
  }
  std::string data;
  char buffer[16384];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      ok = false;
      if (error)
        *error = ErrnoText("cannot read", path);
    }
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
  std::string target;
  if (!FollowLinks(path, &target)) {
    if (error)
      *error = ErrnoText("cannot follow the links of", path);
    return false;
  }
  struct stat info {};
  const bool existed = ::stat(target.c_str(), &info) == 0;
  if (existed && !S_ISREG(info.st_mode)) {
    if (error)
      *error = target + " is not a regular file";
    return false;
  }
  // A file this user may not write, or one nobody may write, is read-only by intent; replacing
  // it through the folder would bypass that.
  if (existed && (::access(target.c_str(), W_OK) != 0 || (info.st_mode & 0222) == 0)) {
    if (error)
      *error = target + " is read-only";
    return false;
  }
  const std::string temp = target + ".~kestrel";
  const mode_t mode = existed ? info.st_mode & 07777 : 0666;
  (void)::unlink(temp.c_str()); // left over from a crash
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        existed ? 0600 : mode);
  if (fd < 0) {
    if (error)
      *error = ErrnoText("cannot create", temp);
    return false;
  }
  if (existed) {
    // The owner where the process may set it (the group alone otherwise), then the mode, which
    // a change of owner may have narrowed and the umask must not.
    if (::fchown(fd, info.st_uid, info.st_gid) != 0)
      (void)::fchown(fd, static_cast<uid_t>(-1), info.st_gid);
    (void)::fchmod(fd, mode);
  }
  std::string failure;
  if (!WriteAll(fd, contents))
    failure = ErrnoText("cannot write", temp);
  else if (::fsync(fd) != 0)
    failure = ErrnoText("cannot flush", temp);
  ::close(fd);
  if (failure.empty() && FileReplacementFailsForTesting())
    failure = "cannot rename " + temp + " to " + target + ": simulated failure";
  if (failure.empty() && ::rename(temp.c_str(), target.c_str()) != 0)
    failure = ErrnoText("cannot rename over", target);
  if (!failure.empty()) {
    ::unlink(temp.c_str());
    if (error)
      *error = failure;
    return false;
  }
  return true;
}

} // namespace kestrel::platform
