// The part of the named lock both backends share: how a lock name becomes a file or object name.
#include "platform/named_lock.h"

#include <cstdint>
#include <cstdio>

namespace kestrel::platform {

namespace {
// Longer names are cut and told apart by a hash of the whole name.
constexpr std::size_t kMaxNameLength = 180;
} // namespace

std::string NamedLockFileName(std::string_view name) {
  std::string file;
  for (char c : name) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + 32);
    file.push_back((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ? c : '_');
  }
  if (file.size() > kMaxNameLength) {
    // Keep long names apart by a hash of the whole name.
    uint64_t hash = 14695981039346656037ull;
    for (char c : name)
      hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "_%016llx", static_cast<unsigned long long>(hash));
    file.resize(kMaxNameLength);
    file += suffix;
  }
  return (file.empty() ? "_" : file) + ".lock";
}

} // namespace kestrel::platform
