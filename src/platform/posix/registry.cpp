// The file-backed registry on POSIX.
//
// Each root is one file, e.g. HKEY_CURRENT_USER.reg, held in memory as a tree and read again
// whenever the file on disk changed (another process saved). A change takes the cross-process
// lock (flock on "<file>.lock"), re-reads the file if needed, applies the change, writes the
// whole text to "<file>.tmp", flushes it and renames it over the file. Readers need no lock:
// rename replaces the file in one step, so they see the old or the new text, never a mix. A
// batch holds the lock from its start to its end and writes the file once, at the end, for all
// the changes made in it.
#include "platform/registry.h"

#include "platform/posix/registry_file_ops.h"
#include "platform/posix/registry_text.h"
#include "platform/system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

namespace kestrel::platform {

namespace {

namespace rt = registry_text;

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}
bool Sync(int fd) {
  return ::fsync(fd) == 0;
}
bool Rename(const char* from, const char* to) {
  return ::rename(from, to) == 0;
}

constexpr RegistryFileOps kSystemOps{WriteAll, Sync, Rename};
RegistryFileOps file_ops = kSystemOps;

std::string Getenv(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string StoreFolder() {
  if (auto dir = Getenv("KESTREL_REGISTRY"); !dir.empty())
    return dir;
  if (auto xdg = Getenv("XDG_CONFIG_HOME"); !xdg.empty())
    return xdg + "/kestrel/registry";
  const auto home = Getenv("HOME");
  return (home.empty() ? std::string("/tmp") : home) + "/.config/kestrel/registry";
}

bool MakeFolders(const std::string& path) {
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      const std::string prefix = path.substr(0, pos);
      if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    }
  }
  return true;
}

const char* RootName(RegistryRoot root) {
  switch (root) {
  case RegistryRoot::CurrentUser:
    return "HKEY_CURRENT_USER";
  case RegistryRoot::LocalMachine:
    return "HKEY_LOCAL_MACHINE";
  default:
    return nullptr;
  }
}

bool RootWritable(RegistryRoot root) {
  return root != RegistryRoot::LocalMachine || Getenv("KESTREL_HKLM_WRITABLE") == "1";
}

// What identifies one version of the file on disk.
struct Stamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};
  bool operator==(const Stamp& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
           ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

Stamp StampOf(int fd) {
  struct stat st {};
  Stamp s;
  if (::fstat(fd, &st) == 0) {
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtime = st.st_mtim;
    s.ctime = st.st_ctim;
  }
  return s;
}

class FileDescriptor {
public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

private:
  int fd_;
};

// Holds the store's cross-process lock while it lives.
class FileLock {
public:
  explicit FileLock(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_.get() >= 0) {
      while (::flock(fd_.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
          locked_ = false;
          return;
        }
      }
      locked_ = true;
    }
  }
  ~FileLock() {
    if (locked_)
      ::flock(fd_.get(), LOCK_UN);
  }
  bool locked() const { return locked_; }

private:
  FileDescriptor fd_;
  bool locked_ = false;
};

// One root's file and its cached tree. Guarded by `mutex`, which a batch holds from its start
// to its end (so the thread that runs it may take it again).
struct RootStore {
  std::recursive_mutex mutex;
  std::string root_name;
  std::string file;
  bool loaded = false;
  bool bad = false; // the file is not in the editor's format: never overwritten
  Stamp stamp;
  rt::Node tree;
  int batch_depth = 0;                  // batches open on the thread holding `mutex`
  bool batch_changed = false;           // the tree holds changes the batch has not written yet
  std::unique_ptr<FileLock> batch_lock; // the cross-process lock, held for the batch

  // Reads the file again when it changed since the last read.
  RegStatus Refresh() {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 && errno != ENOENT)
      return kErrorReadFault;
    const Stamp now = fd.get() >= 0 ? StampOf(fd.get()) : Stamp{};
    if (loaded && now == stamp)
      return bad ? kErrorBadDb : kErrorSuccess;
    std::string text;
    if (fd.get() >= 0) {
      char buffer[65536];
      for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
          continue;
        if (n < 0)
          return kErrorReadFault;
        if (n == 0)
          break;
        text.append(buffer, static_cast<std::size_t>(n));
      }
    }
    rt::Node fresh;
    std::size_t too_deep = 0;
    bad = !rt::Parse(text, root_name, fresh, &too_deep);
    if (too_deep > 0)
      DebugOutput("Kestrel: registry file " + file + ": " + std::to_string(too_deep) +
                  " key(s) more than " + std::to_string(rt::kMaxKeyDepth) + " levels deep skipped");
    tree = std::move(fresh);
    stamp = now;
    loaded = true;
    return bad ? kErrorBadDb : kErrorSuccess;
  }

  // Writes the tree: temporary file, flush, rename, flush the folder.
  RegStatus Save() {
    const std::string text = rt::Serialize(tree, root_name);
    const std::string temp = file + ".tmp";
    FileDescriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    bool ok = fd.get() >= 0 && file_ops.write_all(fd.get(), text.data(), text.size()) &&
              file_ops.sync(fd.get());
    if (fd.get() >= 0)
      ok = ::close(fd.release()) == 0 && ok;
    ok = ok && file_ops.rename(temp.c_str(), file.c_str());
    if (!ok) {
      ::unlink(temp.c_str());
      loaded = false; // the tree holds a change the file does not: read it again next time
      return kErrorWriteFault;
    }
    const std::string folder = file.substr(0, file.rfind('/'));
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
      file_ops.sync(dir.get());
    FileDescriptor again(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    stamp = again.get() >= 0 ? StampOf(again.get()) : Stamp{};
    return kErrorSuccess;
  }
};

// The store of a root in the current folder; kept for the life of the process.
RootStore* StoreFor(RegistryRoot root) {
  const char* name = RootName(root);
  if (!name)
    return nullptr;
  static auto* mutex = new std::mutex;
  static auto* stores = new std::map<std::string, std::unique_ptr<RootStore>>;
  const std::string file = StoreFolder() + "/" + name + ".reg";
  std::lock_guard lock(*mutex);
  auto& store = (*stores)[file];
  if (!store) {
    store = std::make_unique<RootStore>();
    store->root_name = name;
    store->file = file;
  }
  return store.get();
}

template <typename NodeT> NodeT* Find(NodeT& tree, const std::vector<std::string>& parts) {
  NodeT* node = &tree;
  for (const auto& part : parts)
    if (!(node = node->Child(part)))
      return nullptr;
  return node;
}

// Takes the cross-process lock of the store's file, making its folder first.
std::unique_ptr<FileLock> LockFile(const RootStore& store) {
  const std::string folder = store.file.substr(0, store.file.rfind('/'));
  if (!MakeFolders(folder))
    return nullptr;
  auto lock = std::make_unique<FileLock>(store.file + ".lock");
  return lock->locked() ? std::move(lock) : nullptr;
}

// Runs `change` on the freshly read tree under the cross-process lock and saves when it
// returns kErrorSuccess and `changed` was set. Inside a batch the lock is the batch's and the
// save waits for its end.
template <typename Change> RegStatus Modify(RootStore& store, Change&& change) {
  std::lock_guard lock(store.mutex);
  if (store.batch_depth > 0) {
    if (store.bad)
      return kErrorBadDb;
    bool changed = false;
    const RegStatus status = change(store.tree, changed);
    store.batch_changed = store.batch_changed || changed;
    return status;
  }
  const std::unique_ptr<FileLock> file_lock = LockFile(store);
  if (!file_lock)
    return kErrorAccessDenied;
  if (const RegStatus status = store.Refresh(); status != kErrorSuccess)
    return status;
  bool changed = false;
  if (const RegStatus status = change(store.tree, changed); status != kErrorSuccess || !changed)
    return status;
  return store.Save();
}

template <typename Read> RegStatus Inspect(RootStore& store, Read&& read) {
  std::lock_guard lock(store.mutex);
  if (const RegStatus status = store.Refresh(); status != kErrorSuccess)
    return status;
  return read(static_cast<const rt::Node&>(store.tree));
}

bool ValidName(std::string_view name) {
  return name.find('\n') == std::string_view::npos && name.find('\r') == std::string_view::npos;
}

} // namespace

struct RegistryBatch {
  RootStore* store;
  std::unique_lock<std::recursive_mutex> lock;
};

struct RegistryKey {
  RootStore* store;
  RegistryRoot root;
  std::vector<std::string> parts;
  bool writable;
};

RegistryFileOps& RegistryFileOpsForTesting() {
  return file_ops;
}
void RestoreRegistryFileOps() {
  file_ops = kSystemOps;
}

RegStatus RegistryBeginBatch(RegistryRoot root, RegBatch* out) {
  if (!out)
    return kErrorInvalidParameter;
  *out = nullptr;
  RootStore* store = StoreFor(root);
  if (!store)
    return kErrorInvalidHandle;
  std::unique_lock lock(store->mutex);
  if (store->batch_depth == 0) {
    std::unique_ptr<FileLock> file_lock = LockFile(*store);
    if (!file_lock)
      return kErrorAccessDenied;
    // What the batch changes is what the file holds now, with the lock held until it is written.
    if (const RegStatus status = store->Refresh(); status != kErrorSuccess && status != kErrorBadDb)
      return status;
    store->batch_lock = std::move(file_lock);
    store->batch_changed = false;
  }
  ++store->batch_depth;
  *out = new RegistryBatch{store, std::move(lock)};
  return kErrorSuccess;
}

RegStatus RegistryEndBatch(RegBatch batch) {
  if (!batch)
    return kErrorInvalidHandle;
  const std::unique_ptr<RegistryBatch> owned(batch);
  RootStore& store = *batch->store;
  RegStatus status = kErrorSuccess;
  if (--store.batch_depth == 0) {
    if (store.batch_changed)
      status = store.Save();
    store.batch_changed = false;
    store.batch_lock.reset();
  }
  return status;
}

RegStatus RegistryOpenKey(RegistryRoot root, std::string_view path, RegistryAccess access,
                          RegKey* out) {
  if (!out)
    return kErrorInvalidParameter;
  *out = nullptr;
  RootStore* store = StoreFor(root);
  if (!store)
    return kErrorInvalidHandle;
  if (access == RegistryAccess::ReadWrite && !RootWritable(root))
    return kErrorAccessDenied;
  auto parts = rt::SplitPath(path);
  const RegStatus status = Inspect(*store, [&](const rt::Node& tree) {
    return Find(tree, parts) ? kErrorSuccess : kErrorFileNotFound;
  });
  if (status == kErrorSuccess)
    *out = new RegistryKey{store, root, std::move(parts), access == RegistryAccess::ReadWrite};
  return status;
}

RegStatus RegistryCreateKey(RegistryRoot root, std::string_view path, RegKey* out) {
  if (!out)
    return kErrorInvalidParameter;
  *out = nullptr;
  RootStore* store = StoreFor(root);
  if (!store)
    return kErrorInvalidHandle;
  if (!RootWritable(root))
    return kErrorAccessDenied;
  auto parts = rt::SplitPath(path);
  if (parts.size() > rt::kMaxKeyDepth)
    return kErrorInvalidParameter;
  for (const auto& part : parts)
    if (!ValidName(part))
      return kErrorInvalidParameter;
  const RegStatus status = Modify(*store, [&](rt::Node& tree, bool& changed) {
    rt::Node* node = &tree;
    for (const auto& part : parts) {
      rt::Node* next = node->Child(part);
      if (!next) {
        next = &node->AddChild(part);
        changed = true;
      }
      node = next;
    }
    return kErrorSuccess;
  });
  if (status == kErrorSuccess)
    *out = new RegistryKey{store, root, std::move(parts), true};
  return status;
}

void RegistryCloseKey(RegKey key) {
  delete key;
}

RegStatus RegistryQueryValue(RegKey key, std::string_view name, RegistryValue* out) {
  if (!key || !out)
    return kErrorInvalidHandle;
  return Inspect(*key->store, [&](const rt::Node& tree) {
    const rt::Node* node = Find(tree, key->parts);
    if (!node)
      return kErrorKeyDeleted;
    const RegistryValue* value = node->FindValue(name);
    if (!value)
      return kErrorFileNotFound;
    *out = *value;
    return kErrorSuccess;
  });
}

RegStatus RegistrySetValue(RegKey key, std::string_view name, const RegistryValue& value) {
  if (!key)
    return kErrorInvalidHandle;
  if (!key->writable || !RootWritable(key->root))
    return kErrorAccessDenied;
  if (!ValidName(name))
    return kErrorInvalidParameter;
  return Modify(*key->store, [&](rt::Node& tree, bool& changed) {
    rt::Node* node = Find(tree, key->parts);
    if (!node)
      return kErrorKeyDeleted;
    const RegistryValue* old = node->FindValue(name);
    changed = !old || !(*old == value);
    if (changed)
      node->SetValue(name, value);
    return kErrorSuccess;
  });
}

RegStatus RegistryDeleteValue(RegKey key, std::string_view name) {
  if (!key)
    return kErrorInvalidHandle;
  if (!key->writable || !RootWritable(key->root))
    return kErrorAccessDenied;
  return Modify(*key->store, [&](rt::Node& tree, bool& changed) {
    rt::Node* node = Find(tree, key->parts);
    if (!node)
      return kErrorKeyDeleted;
    changed = node->DeleteValue(name);
    return changed ? kErrorSuccess : kErrorFileNotFound;
  });
}

RegStatus RegistryDeleteKey(RegistryRoot root, std::string_view path) {
  RootStore* store = StoreFor(root);
  if (!store)
    return kErrorInvalidHandle;
  if (!RootWritable(root))
    return kErrorAccessDenied;
  auto parts = rt::SplitPath(path);
  if (parts.empty())
    return kErrorAccessDenied;
  const std::string leaf = parts.back();
  parts.pop_back();
  return Modify(*store, [&](rt::Node& tree, bool& changed) {
    rt::Node* parent = Find(tree, parts);
    changed = parent && parent->children.erase(rt::Fold(leaf)) != 0;
    return changed ? kErrorSuccess : kErrorFileNotFound;
  });
}

RegStatus RegistryEnumValueNames(RegKey key, std::vector<std::string>* names) {
  if (!key || !names)
    return kErrorInvalidHandle;
  return Inspect(*key->store, [&](const rt::Node& tree) {
    const rt::Node* node = Find(tree, key->parts);
    if (!node)
      return kErrorKeyDeleted;
    names->clear();
    for (const auto& [name, value] : node->values)
      names->push_back(name);
    return kErrorSuccess;
  });
}

RegStatus RegistryEnumSubKeyNames(RegKey key, std::vector<std::string>* names) {
  if (!key || !names)
    return kErrorInvalidHandle;
  return Inspect(*key->store, [&](const rt::Node& tree) {
    const rt::Node* node = Find(tree, key->parts);
    if (!node)
      return kErrorKeyDeleted;
    names->clear();
    for (const auto& [folded, child] : node->children)
      names->push_back(child->name);
    return kErrorSuccess;
  });
}

} // namespace kestrel::platform
