// The registry on Windows: the system registry through advapi32, with UTF-8 names and texts on
// our side and UTF-16 on the system's. Writing to HKEY_LOCAL_MACHINE without administrator
// rights gives ERROR_ACCESS_DENIED from the system itself, which callers answer by using
// HKEY_CURRENT_USER.
#include <windows.h>

#include "platform/registry.h"
#include "platform/text.h"

#include <algorithm>

namespace kestrel::platform {

struct RegistryKey {
  HKEY handle;
};

namespace {

HKEY RootHandle(RegistryRoot root) {
  switch (root) {
  case RegistryRoot::ClassesRoot:
    return HKEY_CLASSES_ROOT;
  case RegistryRoot::CurrentUser:
    return HKEY_CURRENT_USER;
  case RegistryRoot::LocalMachine:
    return HKEY_LOCAL_MACHINE;
  case RegistryRoot::Users:
    return HKEY_USERS;
  case RegistryRoot::CurrentConfig:
    return HKEY_CURRENT_CONFIG;
  }
  return nullptr;
}

// The path without leading backslashes, in UTF-16.
std::wstring WidePath(std::string_view path) {
  while (!path.empty() && path.front() == '\\')
    path.remove_prefix(1);
  const WideString wide = Utf8ToWide(path);
  return std::wstring(wide.begin(), wide.end());
}

std::wstring WideName(std::string_view name) {
  const WideString wide = Utf8ToWide(name);
  return std::wstring(wide.begin(), wide.end());
}

std::string Utf8(const wchar_t* text, std::size_t length) {
  return WideToUtf8(WideStringView(text, length));
}

bool IsText(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

} // namespace

RegStatus RegistryOpenKey(RegistryRoot root, std::string_view path, RegistryAccess access,
                          RegKey* out) {
  if (!out)
    return ERROR_INVALID_PARAMETER;
  *out = nullptr;
  HKEY parent = RootHandle(root);
  if (!parent)
    return ERROR_INVALID_HANDLE;
  const REGSAM sam = access == RegistryAccess::ReadWrite ? KEY_READ | KEY_WRITE : KEY_READ;
  HKEY handle = nullptr;
  const LSTATUS status = RegOpenKeyExW(parent, WidePath(path).c_str(), 0, sam, &handle);
  if (status == ERROR_SUCCESS)
    *out = new RegistryKey{handle};
  return status;
}

RegStatus RegistryCreateKey(RegistryRoot root, std::string_view path, RegKey* out) {
  if (!out)
    return ERROR_INVALID_PARAMETER;
  *out = nullptr;
  HKEY parent = RootHandle(root);
  if (!parent)
    return ERROR_INVALID_HANDLE;
  HKEY handle = nullptr;
  const LSTATUS status = RegCreateKeyExW(parent, WidePath(path).c_str(), 0, nullptr, 0,
                                         KEY_READ | KEY_WRITE, nullptr, &handle, nullptr);
  if (status == ERROR_SUCCESS)
    *out = new RegistryKey{handle};
  return status;
}

// The system registry writes each change as it is made: a batch only marks its span.
struct RegistryBatch {};

RegStatus RegistryBeginBatch(RegistryRoot root, RegBatch* out) {
  if (!out)
    return ERROR_INVALID_PARAMETER;
  *out = nullptr;
  if (!RootHandle(root))
    return ERROR_INVALID_HANDLE;
  *out = new RegistryBatch{};
  return ERROR_SUCCESS;
}

RegStatus RegistryEndBatch(RegBatch batch) {
  if (!batch)
    return ERROR_INVALID_HANDLE;
  delete batch;
  return ERROR_SUCCESS;
}

void RegistryCloseKey(RegKey key) {
  if (!key)
    return;
  RegCloseKey(key->handle);
  delete key;
}

RegStatus RegistryQueryValue(RegKey key, std::string_view name, RegistryValue* out) {
  if (!key || !out)
    return ERROR_INVALID_HANDLE;
  const std::wstring wide_name = WideName(name);
  std::string bytes(256, '\0');
  for (;;) {
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(bytes.size());
    const LSTATUS status = RegQueryValueExW(key->handle, wide_name.c_str(), nullptr, &type,
                                            reinterpret_cast<BYTE*>(bytes.data()), &size);
    if (status == ERROR_MORE_DATA) {
      bytes.resize(size + 2);
      continue;
    }
    if (status != ERROR_SUCCESS)
      return status;
    bytes.resize(size);
    out->type = type;
    if (IsText(type)) {
      // UTF-16 without its terminator (a list keeps the separators between its strings).
      std::size_t chars = bytes.size() / sizeof(wchar_t);
      const auto* text = reinterpret_cast<const wchar_t*>(bytes.data());
      while (chars && text[chars - 1] == L'\0')
        --chars;
      out->data = Utf8(text, chars);
    } else {
      out->data = std::move(bytes);
    }
    return ERROR_SUCCESS;
  }
}

RegStatus RegistrySetValue(RegKey key, std::string_view name, const RegistryValue& value) {
  if (!key)
    return ERROR_INVALID_HANDLE;
  const std::wstring wide_name = WideName(name);
  if (IsText(value.type)) {
    std::wstring text = WideName(value.data);
    text.push_back(L'\0');
    if (value.type == REG_MULTI_SZ)
      text.push_back(L'\0');
    return RegSetValueExW(key->handle, wide_name.c_str(), 0, value.type,
                          reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size() * sizeof(wchar_t)));
  }
  return RegSetValueExW(key->handle, wide_name.c_str(), 0, value.type,
                        reinterpret_cast<const BYTE*>(value.data.data()),
                        static_cast<DWORD>(value.data.size()));
}

RegStatus RegistryDeleteValue(RegKey key, std::string_view name) {
  if (!key)
    return ERROR_INVALID_HANDLE;
  return RegDeleteValueW(key->handle, WideName(name).c_str());
}

RegStatus RegistryDeleteKey(RegistryRoot root, std::string_view path) {
  HKEY parent = RootHandle(root);
  if (!parent)
    return ERROR_INVALID_HANDLE;
  const std::wstring wide = WidePath(path);
  if (wide.empty())
    return ERROR_ACCESS_DENIED;
  // The subkeys and values first, then the key itself.
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(parent, wide.c_str(), 0, KEY_READ | KEY_WRITE | DELETE, &key);
  if (status != ERROR_SUCCESS)
    return status;
  status = RegDeleteTreeW(key, nullptr);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS)
    return status;
  return RegDeleteKeyW(parent, wide.c_str());
}

RegStatus RegistryEnumValueNames(RegKey key, std::vector<std::string>* names) {
  if (!key || !names)
    return ERROR_INVALID_HANDLE;
  DWORD longest = 0;
  LSTATUS status = RegQueryInfoKeyW(key->handle, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, &longest, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS)
    return status;
  names->clear();
  std::wstring buffer(longest + 1, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(buffer.size());
    status = RegEnumValueW(key->handle, index, buffer.data(), &length, nullptr, nullptr, nullptr,
                           nullptr);
    if (status == ERROR_NO_MORE_ITEMS)
      return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS)
      return status;
    names->push_back(Utf8(buffer.data(), length));
  }
}

RegStatus RegistryEnumSubKeyNames(RegKey key, std::vector<std::string>* names) {
  if (!key || !names)
    return ERROR_INVALID_HANDLE;
  DWORD longest = 0;
  LSTATUS status = RegQueryInfoKeyW(key->handle, nullptr, nullptr, nullptr, nullptr, &longest,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS)
    return status;
  names->clear();
  std::wstring buffer(longest + 1, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(buffer.size());
    status = RegEnumKeyExW(key->handle, index, buffer.data(), &length, nullptr, nullptr, nullptr,
                           nullptr);
    if (status == ERROR_NO_MORE_ITEMS)
      break;
    if (status != ERROR_SUCCESS)
      return status;
    names->push_back(Utf8(buffer.data(), length));
  }
  // Sorted by the names with ASCII letters lowered, as they compare.
  const auto lowered = [](std::string text) {
    for (char& c : text)
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c + 32);
    return text;
  };
  std::sort(names->begin(), names->end(),
            [&](const std::string& a, const std::string& b) { return lowered(a) < lowered(b); });
  return ERROR_SUCCESS;
}

} // namespace kestrel::platform
