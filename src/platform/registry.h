// The registry: roots, keys and typed values, with the error codes of Windows.
//
// On Windows this is the system registry. On POSIX it is a store of our own, one text file per
// root in the format of the Windows registry editor ("Windows Registry Editor Version 5.00",
// written in UTF-8) under $KESTREL_REGISTRY (default $XDG_CONFIG_HOME/kestrel/registry, or
// ~/.config/kestrel/registry). Every change is written to a temporary file and renamed over the
// old one under a cross-process lock, so a crash never leaves a half-written file and several
// processes may share the store. HKEY_LOCAL_MACHINE is read-only, as for a user without
// administrator rights, unless KESTREL_HKLM_WRITABLE=1: opening it for writing or creating a
// key in it gives kErrorAccessDenied, which callers answer by using HKEY_CURRENT_USER.
//
// Key paths are separated by backslashes, a leading backslash is allowed, and key and value
// names compare without regard to ASCII case, as on Windows. Texts are UTF-8.
//
// The constants below carry a k prefix, so this header and <windows.h> go together in any order.
#pragma once

#include "platform/system.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform {

// The predefined keys, numbered like the settings store's root codes.
enum class RegistryRoot : uint8_t {
  ClassesRoot = 0,
  CurrentUser = 1,
  LocalMachine = 2,
  Users = 3,
  CurrentConfig = 4,
};

enum class RegistryAccess : uint8_t { Read, ReadWrite };

// Windows error codes (LSTATUS).
using RegStatus = int32_t;
constexpr RegStatus kErrorSuccess = 0;
constexpr RegStatus kErrorFileNotFound = 2;
constexpr RegStatus kErrorAccessDenied = 5;
constexpr RegStatus kErrorInvalidHandle = 6;
constexpr RegStatus kErrorWriteFault = 29;
constexpr RegStatus kErrorReadFault = 30;
constexpr RegStatus kErrorInvalidParameter = 87;
constexpr RegStatus kErrorBadDb = 1009;
constexpr RegStatus kErrorKeyDeleted = 1018;

// Value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// A typed value. `data` holds the bytes: the text (UTF-8) without terminator for kRegSz and
// kRegExpandSz, four little-endian bytes for kRegDword, the bytes themselves for kRegBinary and
// other types.
struct RegistryValue {
  uint32_t type = kRegNone;
  std::string data;

  static RegistryValue String(std::string_view text) { return {kRegSz, std::string(text)}; }
  static RegistryValue Dword(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
      bytes[i] = static_cast<char>(value >> (8 * i));
    return {kRegDword, bytes};
  }
  static RegistryValue Binary(const void* bytes, std::size_t size) {
    return {kRegBinary, std::string(static_cast<const char*>(bytes), size)};
  }
  // The kRegDword value; 0 when the value has another type or size.
  uint32_t AsDword() const {
    if (type != kRegDword || data.size() != 4)
      return 0;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = v << 8 | static_cast<uint8_t>(data[i]);
    return v;
  }
  friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// An open key. Opaque; close it with RegistryCloseKey.
struct RegistryKey;
using RegKey = RegistryKey*;

// Opens an existing key (an empty path opens the root). kErrorFileNotFound when it does not
// exist, kErrorAccessDenied for ReadWrite on a read-only root.
KESTREL_PLATFORM_EXPORT RegStatus RegistryOpenKey(RegistryRoot root, std::string_view path,
                                                  RegistryAccess access, RegKey* out);

// Opens a key for writing, creating it and its missing parents. A key is at most 512 levels
// below its root, as on Windows: a deeper path is refused.
KESTREL_PLATFORM_EXPORT RegStatus RegistryCreateKey(RegistryRoot root, std::string_view path,
                                                    RegKey* out);

KESTREL_PLATFORM_EXPORT void RegistryCloseKey(RegKey key);

// Reads a value; an empty name is the key's default value. kErrorFileNotFound when absent,
// kErrorKeyDeleted when the key itself has gone meanwhile.
KESTREL_PLATFORM_EXPORT RegStatus RegistryQueryValue(RegKey key, std::string_view name,
                                                     RegistryValue* out);

// Writes (creates or replaces) a value. kErrorAccessDenied for a key opened for reading.
KESTREL_PLATFORM_EXPORT RegStatus RegistrySetValue(RegKey key, std::string_view name,
                                                   const RegistryValue& value);

KESTREL_PLATFORM_EXPORT RegStatus RegistryDeleteValue(RegKey key, std::string_view name);

// Deletes a key with all its subkeys and values. The root itself cannot be deleted.
KESTREL_PLATFORM_EXPORT RegStatus RegistryDeleteKey(RegistryRoot root, std::string_view path);

// A batch of changes to one root, written to the store in one go when it ends: on POSIX every
// change otherwise rewrites the root's whole file, so a save of many values would rewrite it
// once per value. Other threads' changes to the root wait for the batch; batches nest, and
// each ends on the thread that began it. On Windows each change is written as it is made.
struct RegistryBatch;
using RegBatch = RegistryBatch*;
KESTREL_PLATFORM_EXPORT RegStatus RegistryBeginBatch(RegistryRoot root, RegBatch* out);
// Ends the batch; the status of writing what it changed (kErrorSuccess when it changed nothing).
KESTREL_PLATFORM_EXPORT RegStatus RegistryEndBatch(RegBatch batch);

// The names of the key's values (in the order they were made) and of its subkeys (sorted).
KESTREL_PLATFORM_EXPORT RegStatus RegistryEnumValueNames(RegKey key,
                                                         std::vector<std::string>* names);
KESTREL_PLATFORM_EXPORT RegStatus RegistryEnumSubKeyNames(RegKey key,
                                                          std::vector<std::string>* names);

} // namespace kestrel::platform
