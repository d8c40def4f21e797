#include "settings/settings_store.h"

#include "common/variant_convert.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "settings_scratch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

namespace {

using kestrel::Variant;
using kestrel::VariantToAnsi;
using kestrel::settings::ISettingsTarget;
using kestrel::settings::TRegistryRoot;
using kestrel::settings::TSettingKind;
using kestrel::settings::TSettingsStore;
using kestrel::testing::ReadText;
using kestrel::testing::ScratchFolder;
using kestrel::testing::ScratchRegistryKey;
using kestrel::testing::WriteText;
namespace platform = kestrel::platform;

// Properties by name with their kinds; Booleans as the identifiers "True" / "False".
class FakeTarget : public ISettingsTarget {
public:
  FakeTarget() {
    scalars_ = {{"Count", {TSettingKind::Integer, Variant(int32_t{3})}},
                {"Number", {TSettingKind::Float, Variant(1.5)}},
                {"Flag", {TSettingKind::Enumeration, Variant("False")}},
                {"Title", {TSettingKind::Text, Variant("plain")}},
                {"Spare", {TSettingKind::Integer, Variant(int32_t{4})}}};
    lists_["Map_Lines"] = {"a", "b"};
  }
  TSettingKind PropertyKind(std::string_view name) const override {
    if (lists_.count(std::string(name)))
      return TSettingKind::StringList;
    const auto it = scalars_.find(std::string(name));
    return it == scalars_.end() ? TSettingKind::Unknown : it->second.first;
  }
  Variant GetProperty(std::string_view name) const override {
    return scalars_.at(std::string(name)).second;
  }
  void SetProperty(std::string_view name, const Variant& value) override {
    auto& slot = scalars_.at(std::string(name));
    if (slot.first == TSettingKind::Enumeration && VariantToAnsi(value) != "True" &&
        VariantToAnsi(value) != "False")
      throw std::invalid_argument("no such identifier");
    slot.second = value;
  }
  std::vector<std::string> GetStrings(std::string_view name) const override {
    return lists_.at(std::string(name));
  }
  void SetStrings(std::string_view name, std::vector<std::string> lines) override {
    lists_[std::string(name)] = std::move(lines);
  }

  std::string Text(const std::string& name) const {
    return VariantToAnsi(scalars_.at(name).second);
  }
  void Set(const std::string& name, const Variant& value) { scalars_.at(name).second = value; }
  std::map<std::string, std::pair<TSettingKind, Variant>> scalars_;
  std::map<std::string, std::vector<std::string>> lists_;
};

const std::vector<std::string> kMap = {"Count,Count",
                                       "Number,Number",
                                       "Flag,Flag",
                                       "; a comment",
                                       "Title,Title",
                                       "Map.Lines,Translation\\Map0",
                                       "Missing.Property,Nowhere"};

FakeTarget Changed() {
  FakeTarget target;
  target.Set("Count", Variant(int32_t{-7}));
  target.Set("Number", Variant(12.25));
  target.Set("Flag", Variant("True"));
  target.Set("Title", Variant("  x  y%"));
  target.lists_["Map_Lines"] = {"1=2", "", "3 =4"};
  return target;
}

void ExpectSameValues(const FakeTarget& a, const FakeTarget& b) {
  for (const char* name : {"Count", "Number", "Flag", "Title"})
    EXPECT_EQ(a.Text(name), b.Text(name)) << name;
  EXPECT_EQ(a.lists_, b.lists_);
}

class SettingsStore : public ::testing::Test {
protected:
  // A store on the scratch registry key, or on an INI file when one is given.
  std::unique_ptr<TSettingsStore> Store(const std::string& ini_file = "",
                                        const std::string& prefix = "") {
    auto store = std::make_unique<TSettingsStore>();
    store->RegistryRoot = TRegistryRoot::rrHKEY_CURRENT_USER;
    store->RegistryPath = key_.Path();
    store->INIFile = ini_file;
    store->INIFileSectionPrefix = prefix;
    store->Components = kMap;
    store->OnLog = [this](const std::string& message) { log_ += message + "\n"; };
    return store;
  }

  ScratchRegistryKey key_;
  ScratchFolder folder_;
  std::string log_;
};

TEST(SettingsStoreSections, FollowThePrefixAndTheSubKey) {
  EXPECT_EQ(TSettingsStore::IniSectionName("", ""), "Common");
  EXPECT_EQ(TSettingsStore::IniSectionName("", "Translation"), "Translation");
  EXPECT_EQ(TSettingsStore::IniSectionName("Cfg1", ""), "Cfg1.Common");
  EXPECT_EQ(TSettingsStore::IniSectionName("Cfg1", "Translation"), "Cfg1.Translation");
  EXPECT_EQ(TSettingsStore::IniSectionName("Cfg1\\", ""), "Cfg1");
  EXPECT_EQ(TSettingsStore::IniSectionName("Cfg1/", "Translation"), "Cfg1.Translation");
  EXPECT_EQ(TSettingsStore::IniSectionName("A\\B", "X\\Y"), "A.B.X.Y");
  EXPECT_EQ(TSettingsStore::IniSectionName("\\", ""), "Common");
}

TEST_F(SettingsStore, IniFileKeepsEveryKindInItsTextForm) {
  const std::string file = folder_.File("settings.ini");
  FakeTarget saved = Changed();
  EXPECT_TRUE(Store(file, "Cfg1\\")->SaveValues(saved));
  const std::string text = ReadText(file);
  EXPECT_EQ(text, "[Cfg1]\r\nCount=-7\r\nNumber=12.25\r\nFlag=True\r\nTitle=++x+ y%%\r\n\r\n"
                  "[Cfg1.Translation]\r\nMap0=1=2%0D%0A%0D%0A3 =4\r\n\r\n");

  FakeTarget loaded;
  EXPECT_TRUE(Store(file, "Cfg1\\")->LoadValues(loaded));
  ExpectSameValues(loaded, saved);
  EXPECT_EQ(log_, "");
  // Another prefix finds nothing: the values keep theirs, and the one warning says that the
  // file holds no section of that prefix (a likely wrong prefix).
  FakeTarget untouched;
  EXPECT_FALSE(Store(file, "Cfg2")->LoadValues(untouched));
  ExpectSameValues(untouched, FakeTarget());
  EXPECT_EQ(log_, "settings file " + file +
                      " holds none of the sections [Cfg2.Common], [Cfg2.Translation] of the "
                      "section prefix \"Cfg2\"; the settings keep their values\n");
}

TEST_F(SettingsStore, AFileThatIsNoIniFileIsNeitherReadNorRewritten) {
  const std::string file = folder_.File("wide.ini");
  const std::string wide("\xFF\xFE[\0C\0o\0m\0m\0o\0n\0]\0\r\0\n\0", 22);
  WriteText(file, wide);
  FakeTarget target;
  auto store = Store(file);
  EXPECT_FALSE(store->LoadValues(target));
  EXPECT_NE(store->Failure().find(file), std::string::npos) << store->Failure();
  FakeTarget changed = Changed();
  EXPECT_TRUE(store->SaveValues(changed));
  EXPECT_NE(store->Failure().find("not written"), std::string::npos) << store->Failure();
  EXPECT_EQ(ReadText(file), wide);
  ExpectSameValues(target, FakeTarget());
}

TEST_F(SettingsStore, HandWrittenIniValuesLoadAndBadOnesAreSkipped) {
  const std::string file = folder_.File("hand.ini");
  WriteText(file, "[Common]\nCount = 0x1F\nNumber=2,5\nFlag=maybe\nTitle=\n"
                  "[Translation]\nMap0=[[Null]]\n");
  FakeTarget target;
  EXPECT_TRUE(Store(file)->LoadValues(target));
  EXPECT_EQ(target.Text("Count"), "31");
  EXPECT_EQ(target.Text("Number"), "2.5");
  EXPECT_EQ(target.Text("Flag"), "False"); // no such identifier: kept
  EXPECT_EQ(target.Text("Title"), "");
  EXPECT_TRUE(target.lists_["Map_Lines"].empty());
  EXPECT_NE(log_.find("\"Flag\""), std::string::npos) << log_;

  WriteText(file, "[Common]\nCount=12abc\nNumber=1.25\n");
  log_.clear();
  EXPECT_TRUE(Store(file)->LoadValues(target));
  EXPECT_EQ(target.Text("Count"), "31"); // not a number: kept, not zeroed
  EXPECT_EQ(target.Text("Number"), "1.25");
  EXPECT_NE(log_.find("\"Count\""), std::string::npos) << log_;
  EXPECT_EQ(ReadText(file), "[Common]\nCount=12abc\nNumber=1.25\n"); // loading never writes
}

TEST_F(SettingsStore, IniDoublesTakeTheRegionalDecimalSeparator) {
  const std::string file = folder_.File("german.ini");
  // A thread of its own, so the thread locale does not outlive the test.
  std::thread([&] {
    ASSERT_TRUE(platform::SetThreadLocale(1031));
    FakeTarget saved = Changed();
    ASSERT_TRUE(Store(file)->SaveValues(saved));
  }).join();
  EXPECT_NE(ReadText(file).find("Number=12,25\r\n"), std::string::npos) << ReadText(file);
  FakeTarget loaded;
  EXPECT_TRUE(Store(file)->LoadValues(loaded));
  EXPECT_EQ(loaded.Text("Number"), "12.25");
}

TEST_F(SettingsStore, ThreadsSavingOneIniFileLoseNoEntry) {
  const std::string file = folder_.File("shared.ini");
  constexpr int kRounds = 30;
  std::atomic<int> started{0}; // both savers begin together, however late each thread got going
  const auto saver = [&](const std::string& id) {
    ++started;
    while (started.load() < 2)
      std::this_thread::yield();
    FakeTarget target;
    for (int round = 0; round < kRounds; ++round) {
      auto store = Store(file);
      store->Components = {"Count," + id + std::to_string(round)};
      target.Set("Count", Variant(int32_t{round}));
      store->SaveValues(target);
    }
  };
  std::thread a(saver, "a");
  std::thread b(saver, "b");
  a.join();
  b.join();
  const std::string text = ReadText(file);
  for (const char* id : {"a", "b"})
    for (int round = 0; round < kRounds; ++round) {
      const std::string line = id + std::to_string(round) + "=" + std::to_string(round) + "\r\n";
      EXPECT_NE(text.find(line), std::string::npos) << line;
    }
}

TEST_F(SettingsStore, MissingIniFileLoadsTheRegistryAndSavingCreatesIt) {
  FakeTarget in_registry = Changed();
  ASSERT_TRUE(Store()->SaveValues(in_registry));
  const std::string file = folder_.File("new.ini");
  FakeTarget loaded;
  EXPECT_TRUE(Store(file)->LoadValues(loaded));
  ExpectSameValues(loaded, in_registry);
  EXPECT_FALSE(platform::FileExists(file));

  FakeTarget defaults;
  EXPECT_TRUE(Store(file)->SaveValues(defaults));
  ASSERT_TRUE(platform::FileExists(file));
  FakeTarget from_file = Changed();
  EXPECT_TRUE(Store(file)->LoadValues(from_file));
  ExpectSameValues(from_file, defaults);
}

TEST_F(SettingsStore, RegistryKeepsTypedValuesAndSkipsWrongOnes) {
  FakeTarget saved = Changed();
  ASSERT_TRUE(Store()->SaveValues(saved));
  platform::RegKey key = nullptr;
  ASSERT_EQ(platform::RegistryOpenKey(platform::RegistryRoot::CurrentUser, key_.Path(),
                                      platform::RegistryAccess::ReadWrite, &key),
            platform::kErrorSuccess);
  platform::RegistryValue value;
  ASSERT_EQ(platform::RegistryQueryValue(key, "Count", &value), platform::kErrorSuccess);
  EXPECT_EQ(value, platform::RegistryValue::Dword(static_cast<uint32_t>(-7)));
  ASSERT_EQ(platform::RegistryQueryValue(key, "Number", &value), platform::kErrorSuccess);
  const double number = 12.25;
  EXPECT_EQ(value, platform::RegistryValue::Binary(&number, sizeof number));
  ASSERT_EQ(platform::RegistryQueryValue(key, "Flag", &value), platform::kErrorSuccess);
  EXPECT_EQ(value, platform::RegistryValue::String("True"));

  // A REG_DWORD written by another tool under a Boolean: skipped with a line that names the
  // key, and left where it is; the property keeps its value.
  ASSERT_EQ(platform::RegistrySetValue(key, "Flag", platform::RegistryValue::Dword(1)),
            platform::kErrorSuccess);
  FakeTarget loaded;
  auto store = Store();
  EXPECT_TRUE(store->LoadValues(loaded));
  EXPECT_EQ(store->Failure(), "");
  EXPECT_EQ(loaded.Text("Flag"), "False");
  EXPECT_EQ(loaded.Text("Count"), "-7");
  ASSERT_EQ(platform::RegistryQueryValue(key, "Flag", &value), platform::kErrorSuccess);
  EXPECT_EQ(value, platform::RegistryValue::Dword(1));
  EXPECT_NE(log_.find("\"Flag\" in registry key HKEY_CURRENT_USER" + key_.Path() + " was ignored"),
            std::string::npos)
      << log_;

  // The same path without its leading backslash names the same key.
  auto relative = Store();
  relative->RegistryPath = key_.Path().substr(1);
  FakeTarget again;
  EXPECT_TRUE(relative->LoadValues(again));
  EXPECT_EQ(again.Text("Title"), saved.Text("Title"));

  // Texts load as their text: UTF-8 as the registry holds it, and expandable texts.
  ASSERT_EQ(
      platform::RegistrySetValue(key, "Title", platform::RegistryValue::String("caf\xC3\xA9")),
      platform::kErrorSuccess);
  EXPECT_TRUE(Store()->LoadValues(loaded));
  EXPECT_EQ(loaded.Text("Title"), "caf\xE9"); // code page 1252
  ASSERT_EQ(platform::RegistrySetValue(key, "Title",
                                       platform::RegistryValue{platform::kRegExpandSz, "DD.MM"}),
            platform::kErrorSuccess);
  EXPECT_TRUE(Store()->LoadValues(loaded));
  EXPECT_EQ(loaded.Text("Title"), "DD.MM");
  platform::RegistryCloseKey(key);
}

TEST_F(SettingsStore, WithoutAnyRegistryRootNothingHappens) {
  auto store = Store();
  store->RegistryRoot = TRegistryRoot::rrNone;
  store->SecondRegistryRoot = TRegistryRoot::rrNone;
  FakeTarget target = Changed();
  EXPECT_FALSE(store->SaveValues(target));
  EXPECT_NE(store->Failure().find(key_.Path()), std::string::npos) << store->Failure();
  EXPECT_FALSE(store->LoadValues(target));
  EXPECT_EQ(store->Failure(), ""); // nothing to read is no failure
  EXPECT_EQ(store->RootInUse(), TRegistryRoot::rrNone);
  ExpectSameValues(target, Changed());
}

TEST_F(SettingsStore, VirtualItemsGoThroughTheEvents) {
  const std::string file = folder_.File("virtual.ini");
  auto store = Store(file);
  store->Components.push_back("Extra.Item,Extra");
  store->BeforeProcessItem = [](TSettingsStore&, const std::string& name, int, bool& require,
                                bool& is_virtual, TSettingKind& kind) {
    if (name == "Extra_Item") {
      require = is_virtual = true;
      kind = TSettingKind::Text;
    }
    if (name == "Count")
      require = false; // skipped altogether
  };
  store->GetValue = [](TSettingsStore&, const std::string&, int index, Variant& value) {
    value = Variant("x  y #" + std::to_string(index));
  };
  std::string received;
  store->SetValue = [&](TSettingsStore&, const std::string&, int, const Variant& value) {
    received = VariantToAnsi(value);
  };
  FakeTarget target = Changed();
  ASSERT_TRUE(store->SaveValues(target));
  const std::string text = ReadText(file);
  EXPECT_NE(text.find("Extra=x+ y #7\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Count="), std::string::npos) << text;
  EXPECT_TRUE(store->LoadValues(target));
  EXPECT_EQ(received, "x  y #7");
  EXPECT_EQ(store->Target(), nullptr);
  EXPECT_FALSE(store->Busy());
}

TEST_F(SettingsStore, CustomBackendReadsThroughTheOverride) {
  class CustomStore : public TSettingsStore {
  protected:
    bool CustomRead(const kestrel::settings::TPropertyMapEntry& entry, TSettingKind,
                    Variant* value) override {
      if (entry.ValueName != "Title")
        return false;
      *value = Variant("from custom");
      return true;
    }
  } store;
  store.INIFile = TSettingsStore::kCustomIniFile;
  store.Components = kMap;
  FakeTarget target;
  EXPECT_TRUE(store.LoadValues(target));
  EXPECT_EQ(target.Text("Title"), "from custom");
  EXPECT_EQ(target.Text("Count"), "3");
  EXPECT_FALSE(platform::FileExists(TSettingsStore::kCustomIniFile));
}

} // namespace

namespace {

// What a load warns about beside the mapped values: one line per mistake, none for the
// sections of other instances sharing the file.
TEST_F(SettingsStore, IniLoadNamesKeysAndSectionsNoSettingReads) {
  struct Row {
    const char* category;
    const char* prefix;
    const char* text;
    const char* expected; // the one warning after "settings file F"; empty: none
  };
  const Row rows[] = {
      {"misspelled key", "", "[Common]\r\nCuont=1\r\n",
       ", section [Common]: unknown key \"Cuont\" is not read (did you mean \"Count\"?)"},
      {"unknown key", "", "[Common]\r\nColour=1\r\n",
       ", section [Common]: unknown key \"Colour\", which no setting reads"},
      {"misspelled section", "", "[Comon]\r\nCount=1\r\n",
       ": section [Comon] is not read; is it a misspelling of [Common]?"},
      {"section under the prefix", "Cfg1", "[Cfg1.Common]\r\nCount=1\r\n[Cfg1.Extra]\r\nX=1\r\n",
       ": section [Cfg1.Extra] is not read by this instance"},
      {"wrong prefix", "Cfg", "[Cfg1.Common]\r\nCount=1\r\n",
       " holds none of the sections [Cfg.Common], [Cfg.Translation] of the section prefix "
       "\"Cfg\"; the settings keep their values"},
      {"other instances", "Cfg1",
       "[Cfg1.Common]\r\nCount=1\r\n[Cfg2.Common]\r\nCount=2\r\n[Cfg2.Translation]\r\nMap0=\r\n"
       "[Other]\r\nA=1\r\n",
       ""},
      {"other instance, empty prefix", "", "[Common]\r\nCount=1\r\n[Cfg2.Common]\r\nCount=2\r\n",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.category);
    const std::string file = folder_.File("shared.ini");
    WriteText(file, row.text);
    log_.clear();
    FakeTarget target;
    Store(file, row.prefix)->LoadValues(target);
    EXPECT_EQ(log_, *row.expected ? "settings file " + file + row.expected + "\n" : "");
  }
}

} // namespace
