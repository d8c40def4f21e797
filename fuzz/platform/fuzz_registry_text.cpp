// The POSIX registry backend on arbitrary files: the input is the file of HKEY_CURRENT_USER,
// read through the registry calls as another process left it. A file in another format is never
// written; every other file is rewritten by the backend (a key made and deleted again), and
// that text reads back to the same keys and values, and writes back to itself.
#include "platform/registry.h"
#include "platform/system.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using namespace kestrel::platform;
namespace fs = std::filesystem;

void Check(bool condition, int line = __builtin_LINE()) {
  if (condition)
    return;
  std::fprintf(stderr, "fuzz_registry_text: check at line %d failed\n", line);
  std::abort();
}

// One store folder per process, removed when the process ends.
const fs::path& StoreFolder() {
  static const struct Folder {
    fs::path path =
        (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
        ("kestrel-fuzz-registry-" + GuidToText(CreateGuid()));
    Folder() {
      fs::create_directories(path);
      setenv("KESTREL_REGISTRY", path.c_str(), 1);
    }
    ~Folder() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } folder;
  return folder.path;
}

fs::path UserFile() {
  return StoreFolder() / "HKEY_CURRENT_USER.reg";
}

// The file replaced as another process replaces it: a new file renamed over the old one, so
// the backend sees a new file whatever its size and time stamp.
void ReplaceFile(std::string_view text) {
  const fs::path temp = StoreFolder() / "incoming.tmp";
  std::ofstream(temp, std::ios::binary | std::ios::trunc).write(text.data(), text.size());
  fs::rename(temp, UserFile());
}

std::string ReadFile() {
  std::ifstream in(UserFile(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every key below the root with its values, parents before children, as the calls give them.
struct Key {
  std::string path;
  std::vector<std::pair<std::string, RegistryValue>> values;
  bool operator==(const Key&) const = default;
};

RegStatus Snapshot(std::vector<Key>* keys) {
  keys->clear();
  std::vector<std::string> pending{""};
  while (!pending.empty()) {
    const std::string path = std::move(pending.back());
    pending.pop_back();
    RegKey key = nullptr;
    const RegStatus status =
        RegistryOpenKey(RegistryRoot::CurrentUser, path, RegistryAccess::Read, &key);
    if (status != kErrorSuccess)
      return status;
    Key entry{path, {}};
    std::vector<std::string> names;
    Check(RegistryEnumValueNames(key, &names) == kErrorSuccess);
    for (const std::string& name : names) {
      RegistryValue value;
      Check(RegistryQueryValue(key, name, &value) == kErrorSuccess);
      entry.values.emplace_back(name, std::move(value));
    }
    Check(RegistryEnumSubKeyNames(key, &names) == kErrorSuccess);
    RegistryCloseKey(key);
    for (auto name = names.rbegin(); name != names.rend(); ++name)
      pending.push_back(path.empty() ? *name : path + "\\" + *name);
    keys->push_back(std::move(entry));
  }
  return kErrorSuccess;
}

// Has the backend write the whole tree again: a key of its own made and deleted.
void Rewrite() {
  RegKey key = nullptr;
  Check(RegistryCreateKey(RegistryRoot::CurrentUser, "\\KestrelFuzzProbe", &key) == kErrorSuccess);
  RegistryCloseKey(key);
  Check(RegistryDeleteKey(RegistryRoot::CurrentUser, "KestrelFuzzProbe") == kErrorSuccess);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  ReplaceFile(input);
  std::vector<Key> read;
  const RegStatus status = Snapshot(&read);
  if (status == kErrorBadDb) {
    // Not the editor's format: refused, and left as it is.
    RegKey key = nullptr;
    Check(RegistryCreateKey(RegistryRoot::CurrentUser, "\\KestrelFuzzProbe", &key) == kErrorBadDb);
    Check(ReadFile() == input);
    return 0;
  }
  Check(status == kErrorSuccess);

  Rewrite();
  const std::string written = ReadFile();
  std::vector<Key> again;
  Check(Snapshot(&again) == kErrorSuccess);
  Check(again == read);
  // Read back from the file alone, the text gives the same keys, and writes itself again.
  ReplaceFile(written);
  Check(Snapshot(&again) == kErrorSuccess);
  Check(again == read);
  Rewrite();
  Check(ReadFile() == written);
  return 0;
}
