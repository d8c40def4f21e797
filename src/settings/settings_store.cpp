#include "settings/settings_store.h"

#include "common/ascii_text.h"
#include "common/current_exception.h"
#include "common/edit_distance.h"
#include "common/text_lines.h"
#include "common/variant_convert.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/named_lock.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/big_ini_file.h"
#include "settings/stored_value.h"
#include "settings/text_encoding.h"

#include <algorithm>
#include <memory>

namespace kestrel::settings {

TRegistryRoot RegistryRootFromCode(uint8_t code) {
  return code < static_cast<uint8_t>(TRegistryRoot::rrNone) ? static_cast<TRegistryRoot>(code)
                                                            : TRegistryRoot::rrNone;
}

namespace {

const char* RootText(platform::RegistryRoot root) {
  switch (root) {
  case platform::RegistryRoot::ClassesRoot:
    return "HKEY_CLASSES_ROOT";
  case platform::RegistryRoot::CurrentUser:
    return "HKEY_CURRENT_USER";
  case platform::RegistryRoot::LocalMachine:
    return "HKEY_LOCAL_MACHINE";
  case platform::RegistryRoot::Users:
    return "HKEY_USERS";
  case platform::RegistryRoot::CurrentConfig:
    return "HKEY_CURRENT_CONFIG";
  }
  return "?";
}

std::string StatusText(platform::RegStatus status) {
  switch (status) {
  case platform::kErrorFileNotFound:
    return "the key does not exist";
  case platform::kErrorAccessDenied:
    return "access denied";
  case platform::kErrorWriteFault:
    return "the registry could not be written";
  case platform::kErrorReadFault:
    return "the registry could not be read";
  case platform::kErrorBadDb:
    return "the registry data is in a form this store does not read or write";
  default:
    return "error " + std::to_string(status);
  }
}

} // namespace

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
  // A value that fails to save is deleted, so that no stale value stays behind.
  virtual bool DeletesFailedValues() const { return false; }
  // Warns about what the store holds beside the entries of the map (a load only).
  virtual void ReportUnknown(const std::vector<TPropertyMapEntry>&) {}
  // The key or section the last opened entry lives in, for messages.
  virtual std::string Where() const = 0;
  virtual void Finish() {}
};

class TSettingsStore::RegistryBackend : public TSettingsStore::Backend {
public:
  // A save writes all its values in one batch: the POSIX registry would rewrite its whole file
  // for every value otherwise.
  RegistryBackend(TSettingsStore& store, platform::RegistryRoot root, std::string base, bool save)
      : store_(store), root_(root), base_(base), path_(base) {
    if (save && platform::RegistryBeginBatch(root_, &batch_) != platform::kErrorSuccess)
      batch_ = nullptr;
  }
  ~RegistryBackend() override {
    Close();
    if (batch_)
      platform::RegistryEndBatch(batch_);
  }

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
  // The registry holds texts in UTF-8; the store works in the ANSI code page. Text that is not
  // UTF-8 (written by another tool) is taken as it is.
  std::optional<TStoredValue> Read(const TPropertyMapEntry& entry) override {
    TStoredValue value;
    if (platform::RegistryQueryValue(key_, entry.ValueName, &value) != platform::kErrorSuccess)
      return std::nullopt;
    if (value.type == platform::kRegSz || value.type == platform::kRegExpandSz)
      value.data = StrictUtf8ToAnsi(value.data).value_or(std::move(value.data));
    return value;
  }
  void Write(const TPropertyMapEntry& entry, const TStoredValue& stored) override {
    TStoredValue value = stored;
    if (value.type == platform::kRegSz)
      value.data = platform::AnsiToUtf8(value.data);
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
  void Finish() override {
    Close();
    if (!batch_)
      return;
    const platform::RegStatus status = platform::RegistryEndBatch(batch_);
    batch_ = nullptr;
    if (status != platform::kErrorSuccess)
      store_.Fail("the settings were not written to the " + Where() + " (error " +
                  std::to_string(status) + ")");
  }
  std::string Where() const override {
    return std::string("registry key ") + RootText(root_) + (path_.starts_with('\\') ? "" : "\\") +
           path_;
  }

private:
  void Close() {
    if (key_)
      platform::RegistryCloseKey(key_);
    key_ = nullptr;
  }

  TSettingsStore& store_;
  platform::RegistryRoot root_;
  std::string base_;
  std::string path_;
  platform::RegKey key_ = nullptr;
  platform::RegBatch batch_ = nullptr;
};

class TSettingsStore::IniBackend : public TSettingsStore::Backend {
public:
  IniBackend(TSettingsStore& store, const std::string& file, bool save)
      : store_(store), lock_(file, platform::kWaitForever), ini_(file), save_(save) {
    if (!lock_.held())
      store_.Log("the lock of the settings file " + file + " could not be taken");
    // A file that cannot be used is neither read nor written: its values stay where they are.
    if (!ini_.Problem().empty() && !save_)
      store_.Fail("the settings file was not read: " + ini_.Problem());
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
  std::string Where() const override { return "section [" + section_ + "] of " + ini_.FileName(); }
  void ReportUnknown(const std::vector<TPropertyMapEntry>& entries) override;
  void Finish() override {
    std::string error = ini_.Problem();
    if (!save_ || (error.empty() && ini_.UpdateFile(&error)))
      return;
    store_.Fail("the settings file was not written, it keeps its previous contents: " + error);
  }

private:
  TSettingsStore& store_;
  platform::NamedLockGuard lock_; // held from reading the file to writing it back
  TBigIniFile ini_;
  bool save_;
  std::string section_;
};

namespace {

std::string LastComponent(std::string_view section) {
  const std::size_t dot = section.rfind('.');
  return std::string(dot == std::string_view::npos ? std::string_view() : section.substr(dot + 1));
}

bool SameAscii(std::string_view a, std::string_view b) {
  return AsciiSameText(a, b);
}

} // namespace

// Keys under the instance's sections that no setting reads, sections under its prefix that it
// never reads, and names of other sections within two letters of one of its own (a likely
// misspelling). Sections of other instances sharing the file, which differ from this one's
// only by their prefix, stay silent.
void TSettingsStore::IniBackend::ReportUnknown(const std::vector<TPropertyMapEntry>& entries) {
  if (save_ || !ini_.Problem().empty())
    return;
  struct Expected {
    std::string Section;
    std::vector<std::string> Names;
  };
  std::vector<Expected> expected;
  for (const TPropertyMapEntry& entry : entries) {
    const std::string section = IniSectionName(store_.INIFileSectionPrefix, entry.SubKey);
    auto it = std::find_if(expected.begin(), expected.end(),
                           [&](const Expected& e) { return SameAscii(e.Section, section); });
    if (it == expected.end())
      it = expected.insert(expected.end(), Expected{section, {}});
    it->Names.push_back(entry.ValueName);
  }
  std::string prefix = store_.INIFileSectionPrefix;
  if (!prefix.empty() && (prefix.back() == '/' || prefix.back() == '\\'))
    prefix.pop_back();
  std::replace(prefix.begin(), prefix.end(), '\\', '.');
  const std::string file = "settings file " + ini_.FileName();
  bool own_section_found = false;
  bool misspelling = false;
  for (const std::string& section : ini_.SectionNames()) {
    const auto own = std::find_if(expected.begin(), expected.end(),
                                  [&](const Expected& e) { return SameAscii(e.Section, section); });
    if (own != expected.end()) {
      own_section_found = true;
      for (const std::string& name : ini_.EntryNames(section)) {
        if (std::any_of(own->Names.begin(), own->Names.end(),
                        [&](const std::string& n) { return SameAscii(n, name); }))
          continue;
        std::string message = file + ", section [" + section + "]: unknown key \"" + name + "\"";
        std::size_t best = 3;
        std::string suggestion;
        for (const std::string& known : own->Names)
          if (const std::size_t d = EditDistance(known, name); d < best) {
            best = d;
            suggestion = known;
          }
        message += suggestion.empty() ? ", which no setting reads"
                                      : " is not read (did you mean \"" + suggestion + "\"?)";
        store_.Log(message);
      }
      continue;
    }
    const bool under_prefix = !prefix.empty() && section.size() > prefix.size() &&
                              SameAscii(section.substr(0, prefix.size() + 1), prefix + ".");
    std::string closest;
    for (const Expected& e : expected) {
      if (EditDistance(e.Section, section) > 2)
        continue;
      const std::string last = LastComponent(section);
      const bool only_prefix_differs =
          !under_prefix && ((!last.empty() && SameAscii(last, LastComponent(e.Section))) ||
                            SameAscii(e.Section, prefix));
      if (!only_prefix_differs) {
        closest = e.Section;
        break;
      }
    }
    if (under_prefix)
      store_.Log(file + ": section [" + section + "] is not read by this instance" +
                 (closest.empty() ? std::string() : " (did you mean [" + closest + "]?)"));
    else if (!closest.empty())
      store_.Log(file + ": section [" + section + "] is not read; is it a misspelling of [" +
                 closest + "]?");
    misspelling = misspelling || under_prefix || !closest.empty();
  }
  if (!own_section_found && !misspelling && !ini_.SectionNames().empty()) {
    std::string names;
    for (const Expected& e : expected)
      names += (names.empty() ? "[" : ", [") + e.Section + "]";
    store_.Log(file + " holds none of the sections " + names + " of the section prefix \"" +
               store_.INIFileSectionPrefix + "\"; the settings keep their values");
  }
}

// Reads and writes go to the store's CustomRead / CustomWrite instead.
class TSettingsStore::CustomBackend : public TSettingsStore::Backend {
public:
  bool Open(const TPropertyMapEntry&, bool) override { return true; }
  std::optional<TStoredValue> Read(const TPropertyMapEntry&) override { return std::nullopt; }
  void Write(const TPropertyMapEntry&, const TStoredValue&) override {}
  void Delete(const TPropertyMapEntry&) override {}
  bool StoresText() const override { return false; }
  std::string Where() const override { return "the custom store"; }
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

void TSettingsStore::Fail(const std::string& reason) {
  if (failure_.empty())
    failure_ = reason;
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

std::unique_ptr<TSettingsStore::Backend> TSettingsStore::OpenRegistry(bool save) {
  // The key path is taken from the root, with or without a leading backslash.
  std::string base = RegistryPath;
  while (!base.empty() && base.back() == '\\')
    base.pop_back();
  root_in_use_ = TRegistryRoot::rrNone;
  std::string reasons;
  bool failed = save;
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
      return std::make_unique<RegistryBackend>(*this, platform_root, base, save);
    }
    // Loading from a key that does not exist, or that this user may not write, finds nothing;
    // anything else means the settings cannot be read.
    if (status != platform::kErrorFileNotFound && status != platform::kErrorAccessDenied)
      failed = true;
    reasons += std::string(reasons.empty() ? "" : ", ") + RootText(platform_root) + ": " +
               StatusText(status);
  }
  if (failed)
    Fail("the registry key " + base + " could not be " + (save ? "created" : "opened") +
         (reasons.empty() ? std::string(" (no registry root given)") : " (" + reasons + ")"));
  return nullptr;
}

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

  failure_.clear();
  std::unique_ptr<Backend> backend;
  const platform::PathKind ini_kind = INIFile.empty() || INIFile == kCustomIniFile
                                          ? platform::PathKind::Missing
                                          : platform::GetPathKind(INIFile);
  if (INIFile == kCustomIniFile) {
    backend = std::make_unique<CustomBackend>();
  } else if (ini_kind == platform::PathKind::Other) {
    // A folder, a FIFO or a device: reading one could wait forever for a writer, and writing
    // would not give a settings file.
    Fail("settings file " + INIFile + " is not a regular file; it was neither read nor written");
    return false;
  } else if (!INIFile.empty() && (save || ini_kind == platform::PathKind::RegularFile)) {
    backend = std::make_unique<IniBackend>(*this, INIFile, save);
  } else {
    backend = OpenRegistry(save);
    if (!backend)
      return false;
  }
  const bool custom = INIFile == kCustomIniFile;
  // INI files hold doubles with the decimal separator of the current regional settings; both
  // separators are read back.
  const char decimal_separator =
      save && backend->StoresText() ? platform::GetLocaleSettings(0).decimal_separator : '.';

  bool result = false;
  std::vector<TPropertyMapEntry> entries;
  for (std::size_t index = 0; index < map.size(); ++index) {
    const auto entry = ParsePropertyMapLine(map[index]);
    if (!entry)
      continue;
    if (!save)
      entries.push_back(*entry);
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
      const std::string label = "settings value " + EntryLabel(*entry) + " in " + backend->Where();
      if (!save) {
        // Left where it is: another tool may have written it, and the next load skips it again.
        Log(label + " was ignored: " + reason);
        continue;
      }
      Fail(label + " was not saved: " + reason);
      if (backend->DeletesFailedValues()) {
        try {
          backend->Delete(*entry);
        } catch (...) {
          // Removing is best effort: the warning below names the value either way.
        }
        Log(label + " was not saved and removed: " + reason);
      } else {
        Log(label + " was not saved: " + reason);
      }
    }
  }
  if (!save && OnLog)
    backend->ReportUnknown(entries);
  backend->Finish();
  return result;
}

} // namespace kestrel::settings
