#include "settings/settings_store.h"

#include "common/current_exception.h"
#include "common/text_lines.h"
#include "common/variant_convert.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/named_lock.h"
#include "platform/registry.h"
#include "settings/big_ini_file.h"
#include "settings/stored_value.h"

#include <memory>

namespace kestrel::settings {

TRegistryRoot RegistryRootFromCode(uint8_t code) {
  return code < static_cast<uint8_t>(TRegistryRoot::rrNone) ? static_cast<TRegistryRoot>(code)
                                                            : TRegistryRoot::rrNone;
}

// Where the values of one operation live. Open() prepares the place of one entry; reads,
// writes and deletes then address that place.
class TSettingsStore::Backend {
public:
  virtual ~Backend() = default;
  virtual bool Open(const TPropertyMapEntry& entry, bool save) = 0;
  virtual std::optional<TStoredValue> Read(const TPropertyMapEntry& entry) = 0;
  virtual void Write(const TPropertyMapEntry& entry, const TStoredValue& value) = 0;
  virtual void Delete(const TPropertyMapEntry& entry) = 0;
  // Values are stored as texts (INI files) rather than typed (registry).
  virtual bool StoresText() const = 0;
  // A value that fails to load or save is deleted, so the next load does not meet it again.
  virtual bool DeletesFailedValues() const { return false; }
  virtual void Finish() {}
};

class TSettingsStore::RegistryBackend : public TSettingsStore::Backend {
public:
  RegistryBackend(platform::RegistryRoot root, std::string base) : root_(root), base_(base) {}
  ~RegistryBackend() override { Close(); }

  bool Open(const TPropertyMapEntry& entry, bool save) override {
    std::string path = base_;
    if (!entry.SubKey.empty())
      path += "\\" + entry.SubKey;
    if (key_ && path == path_)
      return true;
    Close();
    const platform::RegStatus status =
        save ? platform::RegistryCreateKey(root_, path, &key_)
             : platform::RegistryOpenKey(root_, path, platform::RegistryAccess::ReadWrite, &key_);
    if (status != platform::kErrorSuccess) {
      key_ = nullptr;
      return false;
    }
    path_ = std::move(path);
    return true;
  }
  std::optional<TStoredValue> Read(const TPropertyMapEntry& entry) override {
    TStoredValue value;
    if (platform::RegistryQueryValue(key_, entry.ValueName, &value) != platform::kErrorSuccess)
      return std::nullopt;
    return value;
  }
  void Write(const TPropertyMapEntry& entry, const TStoredValue& value) override {
    const platform::RegStatus status = platform::RegistrySetValue(key_, entry.ValueName, value);
    if (status != platform::kErrorSuccess)
      throw EStoredValueError("cannot write the registry value (error " + std::to_string(status) +
                              ")");
  }
  void Delete(const TPropertyMapEntry& entry) override {
    platform::RegistryDeleteValue(key_, entry.ValueName);
  }
  bool StoresText() const override { return false; }
  bool DeletesFailedValues() const override { return true; }

private:
  void Close() {
    if (key_)
      platform::RegistryCloseKey(key_);
    key_ = nullptr;
  }

  platform::RegistryRoot root_;
  std::string base_;
  std::string path_;
  platform::RegKey key_ = nullptr;
};

class TSettingsStore::IniBackend : public TSettingsStore::Backend {
public:
  IniBackend(TSettingsStore& store, const std::string& file)
      : store_(store), lock_(file, platform::kWaitForever), ini_(file) {
    if (!lock_.held())
      store_.Log("the lock of the settings file " + file + " could not be taken");
    for (const std::string& line : ini_.MalformedLines())
      store_.Log("settings file " + file + ": line ignored: " + line);
  }

  bool Open(const TPropertyMapEntry& entry, bool) override {
    section_ = IniSectionName(store_.INIFileSectionPrefix, entry.SubKey);
    return true;
  }
  std::optional<TStoredValue> Read(const TPropertyMapEntry& entry) override {
    std::string text;
    if (!ini_.ReadString(section_, entry.ValueName, &text))
      return std::nullopt;
    return TStoredValue::String(text);
  }
  void Write(const TPropertyMapEntry& entry, const TStoredValue& value) override {
    ini_.WriteString(section_, entry.ValueName, value.data);
  }
  void Delete(const TPropertyMapEntry& entry) override {
    ini_.DeleteKey(section_, entry.ValueName);
  }
  bool StoresText() const override { return true; }
  void Finish() override {
    std::string error;
    if (!ini_.UpdateFile(&error))
      store_.Log("the settings file was not written, it keeps its previous contents: " + error);
  }

private:
  TSettingsStore& store_;
  platform::NamedLockGuard lock_; // held from reading the file to writing it back
  TBigIniFile ini_;
  std::string section_;
};

// Reads and writes go to the store's CustomRead / CustomWrite instead.
class TSettingsStore::CustomBackend : public TSettingsStore::Backend {
public:
  bool Open(const TPropertyMapEntry&, bool) override { return true; }
  std::optional<TStoredValue> Read(const TPropertyMapEntry&) override { return std::nullopt; }
  void Write(const TPropertyMapEntry&, const TStoredValue&) override {}
  void Delete(const TPropertyMapEntry&) override {}
  bool StoresText() const override { return false; }
};

std::string TSettingsStore::IniSectionName(const std::string& prefix, const std::string& sub_key) {
  std::string p = prefix;
  std::string key = sub_key;
  if (!p.empty() && (p.back() == '/' || p.back() == '\\'))
    p.pop_back();
  else if (key.empty())
    key = "Common";
  std::string section = p.empty() ? key : key.empty() ? p : p + "." + key;
  for (char& c : section)
    if (c == '\\')
      c = '.';
  // A prefix of a lone separator would leave entries outside any section, where nothing can
  // be read back.
  return section.empty() ? "Common" : section;
}

bool TSettingsStore::CustomRead(const TPropertyMapEntry&, TSettingKind, Variant*) {
  return false;
}

void TSettingsStore::CustomWrite(const TPropertyMapEntry&, TSettingKind, const Variant*) {}

void TSettingsStore::Log(const std::string& message) {
  if (OnLog) {
    try {
      OnLog(message);
    } catch (...) {
      // A failing log sink must not turn a warning into a failed load or save.
    }
  }
}

bool TSettingsStore::LoadValues(ISettingsTarget& target, const std::vector<std::string>* map) {
  return Run(target, map ? *map : Components, false);
}

bool TSettingsStore::SaveValues(ISettingsTarget& target) {
  return Run(target, Components, true);
}

namespace {

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i)
      text += "\r\n";
    text += lines[i];
  }
  return text;
}

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  for (const std::string_view line : SplitLines(text))
    lines.emplace_back(line);
  return lines;
}

std::string EntryLabel(const TPropertyMapEntry& entry) {
  return entry.SubKey.empty() ? "\"" + entry.ValueName + "\""
                              : "\"" + entry.SubKey + "\\" + entry.ValueName + "\"";
}

} // namespace

bool TSettingsStore::Run(ISettingsTarget& target, const std::vector<std::string>& map, bool save) {
  struct Running {
    TSettingsStore& store;
    Running(TSettingsStore& s, ISettingsTarget& t) : store(s) {
      store.busy_ = true;
      store.target_ = &t;
    }
    ~Running() {
      store.target_ = nullptr;
      store.busy_ = false;
    }
  } running(*this, target);

  std::unique_ptr<Backend> backend;
  if (INIFile == kCustomIniFile) {
    backend = std::make_unique<CustomBackend>();
  } else if (!INIFile.empty() && (save || platform::FileExists(INIFile))) {
    backend = std::make_unique<IniBackend>(*this, INIFile);
  } else {
    // The key path is taken from the root, with or without a leading backslash.
    std::string base = RegistryPath;
    while (!base.empty() && base.back() == '\\')
      base.pop_back();
    root_in_use_ = TRegistryRoot::rrNone;
    for (const TRegistryRoot root : {RegistryRoot, SecondRegistryRoot}) {
      if (root == TRegistryRoot::rrNone)
        continue;
      const auto platform_root = static_cast<platform::RegistryRoot>(root);
      platform::RegKey key = nullptr;
      const platform::RegStatus status =
          save ? platform::RegistryCreateKey(platform_root, base, &key)
               : platform::RegistryOpenKey(platform_root, base, platform::RegistryAccess::ReadWrite,
                                           &key);
      if (status == platform::kErrorSuccess) {
        platform::RegistryCloseKey(key);
        root_in_use_ = root;
        backend = std::make_unique<RegistryBackend>(platform_root, base);
        break;
      }
    }
    if (!backend)
      return false;
  }
  const bool custom = INIFile == kCustomIniFile;
  // INI files hold doubles with the decimal separator of the current regional settings; both
  // separators are read back.
  const char decimal_separator =
      save && backend->StoresText() ? platform::GetLocaleSettings(0).decimal_separator : '.';

  bool result = false;
  for (std::size_t index = 0; index < map.size(); ++index) {
    const auto entry = ParsePropertyMapLine(map[index]);
    if (!entry)
      continue;
    const std::string name = entry->PropertyName();
    TSettingKind kind = target.PropertyKind(name);
    bool require = kind != TSettingKind::Unknown;
    bool is_virtual = !require;
    if (BeforeProcessItem)
      BeforeProcessItem(*this, name, static_cast<int>(index), require, is_virtual, kind);
    if (!require || kind == TSettingKind::Unknown)
      continue;
    if (!backend->Open(*entry, save))
      continue;
    if (save)
      result = true;
    try {
      if (save) {
        Variant value;
        if (is_virtual) {
          if (GetValue)
            GetValue(*this, name, static_cast<int>(index), value);
        } else if (kind == TSettingKind::StringList) {
          value = Variant(JoinLines(target.GetStrings(name)));
        } else {
          value = target.GetProperty(name);
        }
        if (custom) {
          CustomWrite(*entry, kind, value.IsEmptyOrNull() ? nullptr : &value);
        } else if (value.IsEmptyOrNull()) {
          backend->Delete(*entry);
        } else {
          backend->Write(*entry,
                         EncodeStoredValue(value, kind, backend->StoresText(), decimal_separator));
        }
      } else {
        Variant value;
        if (custom) {
          if (!CustomRead(*entry, kind, &value))
            continue;
        } else {
          const auto stored = backend->Read(*entry);
          if (!stored)
            continue;
          result = true;
          value = DecodeStoredValue(*stored, kind);
        }
        result = true;
        if (value.IsEmpty())
          continue; // an empty identifier leaves the property as it is
        if (is_virtual) {
          if (SetValue)
            SetValue(*this, name, static_cast<int>(index), value);
        } else if (kind == TSettingKind::StringList) {
          target.SetStrings(name, TextLines(VariantToAnsi(value)));
        } else {
          target.SetProperty(name, value);
        }
      }
    } catch (...) {
      const std::string reason = CurrentExceptionMessage();
      if (backend->DeletesFailedValues()) {
        try {
          backend->Delete(*entry);
        } catch (...) {
          // Removing is best effort: the warning below names the value either way.
        }
        Log("settings value " + EntryLabel(*entry) + " was " + (save ? "not saved" : "ignored") +
            " and removed: " + reason);
      } else {
        Log("settings value " + EntryLabel(*entry) + " was " + (save ? "not saved" : "ignored") +
            ": " + reason);
      }
    }
  }
  backend->Finish();
  return result;
}

} // namespace kestrel::settings
