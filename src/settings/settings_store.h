// The settings store: moves the values of a settings object's published properties to and
// from the registry or an INI file, as a property map (Components) says. A store lives for
// one operation: configure it, run LoadValues or SaveValues once, free it.
//
// The backend is chosen at the start of each operation: INIFile "$CUSTOM$" selects the
// overridable CustomRead/CustomWrite; a non-empty INIFile selects the INI file when it exists
// or when saving; otherwise the registry, under RegistryRoot or, when that cannot be opened,
// SecondRegistryRoot. INI operations hold a cross-process lock named after the file for their
// whole run, so processes sharing the file never lose each other's entries.
#pragma once

#include "common/variant.h"
#include "settings/property_map.h"
#include "settings/settings_target.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::settings {

// The predefined registry keys, numbered like the module's registry root codes.
enum class TRegistryRoot : uint8_t {
  rrHKEY_CLASSES_ROOT,
  rrHKEY_CURRENT_USER,
  rrHKEY_LOCAL_MACHINE,
  rrHKEY_USERS,
  rrHKEY_CURRENT_CONFIG,
  rrNone,
};

// A root from its code; codes out of range give rrNone.
TRegistryRoot RegistryRootFromCode(uint8_t code);

class TSettingsStore {
public:
  // A value read for a virtual item (one BeforeProcessItem marked virtual).
  using TSetValueProc = std::function<void(TSettingsStore& sender, const std::string& name,
                                           int index, const Variant& value)>;
  // Supplies the value to write for a virtual item.
  using TGetValueProc = std::function<void(TSettingsStore& sender, const std::string& name,
                                           int index, Variant& value)>;
  // Consulted before every map entry; may claim, skip or retype it.
  using TBeforeProcessItemProc =
      std::function<void(TSettingsStore& sender, const std::string& name, int index,
                         bool& is_require_processing, bool& is_virtual, TSettingKind& item_type)>;
  // Receives a line for each problem met: a value skipped, a file not written.
  using TLogProc = std::function<void(const std::string& message)>;

  static constexpr const char* kCustomIniFile = "$CUSTOM$";

  TSettingsStore() = default;
  virtual ~TSettingsStore() = default;
  TSettingsStore(const TSettingsStore&) = delete;
  TSettingsStore& operator=(const TSettingsStore&) = delete;

  // ---- Published --------------------------------------------------------------------------
  TRegistryRoot RegistryRoot = TRegistryRoot::rrHKEY_LOCAL_MACHINE;
  TRegistryRoot SecondRegistryRoot = TRegistryRoot::rrHKEY_CURRENT_USER;
  std::string RegistryPath = "\\Software\\Company name\\App name";
  std::string INIFile;
  std::string INIFileSectionPrefix;
  std::vector<std::string> Components; // the property map
  TSetValueProc SetValue;
  TGetValueProc GetValue;
  TBeforeProcessItemProc BeforeProcessItem;
  TLogProc OnLog;

  // Reads every mapped value the store holds into the target; values it does not hold keep
  // theirs. `map`, when given, stands in for Components in this call. True when at least one
  // value was found.
  bool LoadValues(ISettingsTarget& target, const std::vector<std::string>* map = nullptr);
  // Writes every mapped property of the target. True when at least one entry was processed;
  // false when the registry cannot be opened under either root.
  bool SaveValues(ISettingsTarget& target);

  // Why the last operation failed, with the file or key it concerned; empty when it succeeded.
  // A failed operation is one that could not reach its store (no registry key under either
  // root, an INI path that is not a usable file) or, when saving, could not write all of it.
  // Finding no values, and single values that do not read, are no failure.
  const std::string& Failure() const { return failure_; }
  // The root the last registry operation used, rrNone when none could be opened.
  TRegistryRoot RootInUse() const { return root_in_use_; }
  bool Busy() const { return busy_; }
  // The target of the running operation, none outside one.
  ISettingsTarget* Target() const { return target_; }

  // The INI section an entry with this sub-key lands in under `prefix`.
  static std::string IniSectionName(const std::string& prefix, const std::string& sub_key);

protected:
  // The "$CUSTOM$" backend. Here it finds nothing and writes nothing; a derived store keeps
  // the values where it likes. `value` null on write means: delete the entry.
  virtual bool CustomRead(const TPropertyMapEntry& entry, TSettingKind kind, Variant* value);
  virtual void CustomWrite(const TPropertyMapEntry& entry, TSettingKind kind, const Variant* value);

private:
  class Backend;
  class RegistryBackend;
  class IniBackend;
  class CustomBackend;

  bool Run(ISettingsTarget& target, const std::vector<std::string>& map, bool save);
  std::unique_ptr<Backend> OpenRegistry(bool save);
  void Log(const std::string& message);
  // Keeps the first reason the operation failed.
  void Fail(const std::string& reason);

  std::string failure_;
  TRegistryRoot root_in_use_ = TRegistryRoot::rrNone;
  bool busy_ = false;
  ISettingsTarget* target_ = nullptr;
};

} // namespace kestrel::settings
