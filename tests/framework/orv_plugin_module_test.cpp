// The module object driven through ExecutePluginCommand, as a host drives it.
#include "module_host.h"

#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

// An entry point of the "host" (this test program), found through APPLICATION-NAME: it must be
// in the program's export table.
#ifdef _WIN32
#define TEST_HOST_EXPORT __declspec(dllexport)
#else
#define TEST_HOST_EXPORT __attribute__((visibility("default")))
#endif
extern "C" TEST_HOST_EXPORT void Quillet_SendNotify() {}

namespace kestrel {
namespace {

using testing::ModuleHost;
using testing::Params;

// A concrete module as the parser module attaches itself: handlers that record what ran.
class RecordingModule : public TorvPlugin {
public:
  explicit RecordingModule(TPluginCallRec* rec) : TorvPlugin(rec) {
    LogTitle.Set("Kestrel");
    OnLoad = [this](TorvPlugin& sender, TPluginCallRec*, int32_t& result) {
      EXPECT_EQ(&sender, this);
      ++loads;
      result = 99; // not the command's result
    };
    OnUnload = [this](TorvPlugin&, TPluginCallRec*, int32_t&) {
      ++unloads;
      throw std::runtime_error("ignored at unload");
    };
    OnSaveSettingsNow = [this](TorvPlugin&) {
      saved_to.push_back(INIFile);
      return INIFile != "broken.ini";
    };
    OnLoadSettingsNow = [this](TorvPlugin&) {
      loaded_from.push_back(INIFile);
      return INIFile != "broken.ini";
    };
    OnStateChanged = [this](TorvPlugin&, uint8_t types) { state_types = types; };
    OnItemsChanged = [this](TorvPlugin&) { ++items_changed; };
    OnEvent = [](TorvPlugin&, const std::string& type, int32_t& result, TPluginCallRec*) {
      if (type == "BAD")
        throw std::runtime_error("bad event");
      result = static_cast<int32_t>(type.size());
    };
    OnCommand = [this](TorvPlugin&, const std::string& command, int32_t& result,
                       TPluginCallRec* rec) {
      if (command == "NEST") {
        // A host that answers a notification with another command on the same thread.
        TorvParamsList params;
        params.Add("COMMAND", std::string("INNER"));
        TPluginCallRec inner = *rec;
        inner.Params = &params;
        result = ExecutePluginCommand(&inner);
      } else if (command == "HOLD") {
        holding = true;
        while (!release)
          std::this_thread::yield();
        order += "H";
        result = 1;
      } else if (command == "AFTER") {
        order += "A";
        result = 2;
      } else if (command == "THROW") {
        throw std::runtime_error("handler broke");
      }
    };
  }
  int loads = 0, unloads = 0, items_changed = 0;
  int state_types = -1;
  std::vector<std::string> saved_to, loaded_from;
  std::atomic<bool> holding{false}, release{false};
  std::string order;
};

std::unique_ptr<TorvPlugin> CreateRecording(TPluginCallRec* rec) {
  return CreateModule<RecordingModule>(rec);
}

TEST(ModuleCommands, LoadAndUnloadAreCounted) {
  ModuleHost host(&CreateRecording, 12);
  ASSERT_TRUE(host.Created());
  auto& module = host.Module<RecordingModule>();

  EXPECT_EQ(host.Command("UNLOAD"), 0); // without LOAD: nothing happens
  EXPECT_EQ(module.unloads, 0);
  EXPECT_EQ(host.Get("ModuleLoadCount"), Variant(0));

  const Params load = {
      {"REGISTRY-PATH", Variant("Software\\Quillet\\Host\\Kestrel")},
      {"INI-SECTION-PREFIX", Variant("{cfg:42}Main")},
      {"INI-FILE", Variant("first.ini")},
      {"APPLICATION-NAME",
       Variant(platform::ModuleFileName(reinterpret_cast<const void*>(&Quillet_SendNotify)))}};
  EXPECT_EQ(host.Command("LOAD", load), 0);
  EXPECT_EQ(host.Command("LOAD", {{"INI-FILE", Variant("ignored.ini")}}), 0);
  EXPECT_EQ(module.loads, 1);
  EXPECT_EQ(host.Get("ModuleLoadCount"), Variant(2));
  EXPECT_EQ(host.Get("ModuleIndex"), Variant(12));
  EXPECT_EQ(host.Get("INIFile"), Variant("first.ini"));
  EXPECT_EQ(host.Get("ModuleConfigId"), Variant("42"));
  EXPECT_EQ(module.LoadThreadId.load(), platform::CurrentThreadId());
  // The host module was found by its program name and its entry point resolved.
  EXPECT_NE(module.HostModule, 0u);
  EXPECT_NE(module.HostEntryPoints().SendNotify, nullptr);
  EXPECT_EQ(module.HostEntryPoints().ManageDynForm, nullptr);

  EXPECT_EQ(host.Command("load"), KESTREL_RESULT_UNHANDLED); // commands are case-sensitive
  EXPECT_EQ(host.Command("UNLOAD"), 0);
  EXPECT_EQ(module.unloads, 0);
  EXPECT_FALSE(module.TerminateNow.load());

  // The last UNLOAD saves into a newly named INI file; its handler's failure is swallowed.
  EXPECT_EQ(host.Command("UNLOAD", {{"INI-FILE", Variant("second.ini")}}), 0);
  EXPECT_EQ(module.unloads, 1);
  EXPECT_EQ(module.saved_to, std::vector<std::string>{"second.ini"});
  EXPECT_TRUE(module.TerminateNow.load());
  EXPECT_EQ(module.HostModule, 0u);
  EXPECT_EQ(host.Command("UNLOAD"), 0);
  EXPECT_EQ(host.Get("ModuleLoadCount"), Variant(0));

  // Loading again starts afresh; an UNLOAD that names no file saves nothing.
  EXPECT_EQ(host.Command("LOAD"), 0);
  EXPECT_FALSE(module.TerminateNow.load());
  EXPECT_EQ(host.Command("UNLOAD"), 0);
  EXPECT_EQ(module.saved_to.size(), 1u);
}

TEST(ModuleCommands, NestedCommandIsRefusedAndOtherThreadsWait) {
  ModuleHost host(&CreateRecording);
  auto& module = host.Module<RecordingModule>();
  EXPECT_EQ(host.Command("NEST"), KESTREL_RESULT_FAILED);
  EXPECT_NE(host.CollectLog().find("Nested plugin commands are not allowed"), std::string::npos);

  std::thread first([&] { EXPECT_EQ(host.Command("HOLD"), 1); });
  while (!module.holding)
    std::this_thread::yield();
  // The second command is released once its thread is inside the call; from there to the
  // command lock nothing can be watched, so a short pause covers that last step.
  std::atomic<bool> calling{false};
  std::thread second([&] {
    calling = true;
    EXPECT_EQ(host.Command("AFTER"), 2);
  });
  while (!calling)
    std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  module.release = true;
  first.join();
  second.join();
  EXPECT_EQ(module.order, "HA"); // the second command waited, it was not refused
}

TEST(ModuleCommands, SetStateReadsDataSourcesAndSkipsBadLines) {
  ModuleHost host(&CreateRecording);
  auto& module = host.Module<RecordingModule>();
  const Variant sources("1;COM1;Serial port 1\r\nnot a source;x\r\n99999999999;big;x\r\n"
                        "7;TCP;TCP server;extra\r\n");
  // Without "RESULT" the state is not set: -1, or -3 after a line failed.
  EXPECT_EQ(host.Command("SET-STATE", {{"DATA-SOURCES-IN-CFG", sources}}, nullptr, false),
            KESTREL_RESULT_FAILED);
  ASSERT_EQ(module.DataSources.size(), 2u);
  EXPECT_EQ(module.DataSources[1].Id, 7);
  EXPECT_EQ(module.DataSources[1].Name, "TCP");
  EXPECT_EQ(module.DataSources[1].LongName, "TCP server");
  EXPECT_EQ(module.DataSources[1].Line, "7;TCP;TCP server;extra");
  EXPECT_NE(host.CollectLog().find("{SETSTATE} '99999999999'"), std::string::npos);
  EXPECT_EQ(module.state_types, -1);
  EXPECT_EQ(host.Command("SET-STATE", {}, nullptr, false), KESTREL_RESULT_BAD_CALL);

  EXPECT_EQ(host.Command("SET-STATE", {{"RESULT", Variant(1)}, {"DATA-SOURCE-LOAD", Variant("7")}},
                         nullptr, true, 0x06),
            0);
  EXPECT_EQ(module.state_types, 0x06);
  EXPECT_EQ(host.Get("ModuleEnabled"), Variant(0x06));
  EXPECT_EQ(module.DataSources.size(), 2u); // kept: no new list was given
  EXPECT_EQ(module.DataSourceLoadFor, "7");
  EXPECT_EQ(host.Command("SET-STATE", {{"RESULT", Variant(0)}}, nullptr, true, 0x02), 0);
  EXPECT_EQ(host.Get("ModuleEnabled"), Variant(0x04));
}

TEST(ModuleCommands, ParserItemsTextRoundTrips) {
  ModuleHost host(&CreateRecording);
  auto& module = host.Module<RecordingModule>();
  const std::string text = "Temperature|temp|Float|\r\n"
                           "\r\n"
                           "Stamp|stamp|11|x\r\n"
                           "Odd|odd|datetime\r\n"
                           "Raw|raw\r\n"
                           "Unknown|unk|Number|\r\n"
                           "stops here\r\n"
                           "Lost|lost|String|\r\n";
  EXPECT_EQ(host.Command("SET-ITEMS", {{"ITEMS", Variant(text)}}), 0);
  EXPECT_EQ(module.items_changed, 1);
  ASSERT_EQ(module.ParserItems.size(), 5u);
  EXPECT_EQ(module.ParserItems[0].DataType, dtFloat);
  EXPECT_EQ(module.ParserItems[1].DataType, dtDateTime);
  EXPECT_EQ(module.ParserItems[1].Extra, "x");
  EXPECT_EQ(module.ParserItems[2].DataType, dtDateTime); // names ignore case
  EXPECT_EQ(module.ParserItems[3].DataType, dtUntyped);  // no type field
  EXPECT_EQ(module.ParserItems[4].DataType, dtUntyped);  // not a type name

  Variant result;
  EXPECT_EQ(host.Command("ITEMS", {}, &result), 0);
  const std::string expected = "Temperature|temp|Float|\r\nStamp|stamp|DateTime|x\r\n"
                               "Odd|odd|DateTime|\r\nRaw|raw||\r\nUnknown|unk||\r\n";
  EXPECT_EQ(result, Variant(expected));
  EXPECT_EQ(module.ItemsText(), expected);
  // Read back, the text gives the same items.
  EXPECT_EQ(ParserItemsText(ParserItemsFromText(expected)), expected);

  EXPECT_EQ(host.Command("ITEMS", {}, nullptr, false), KESTREL_RESULT_BAD_CALL);
  EXPECT_EQ(host.Command("SET-ITEMS", {{"ITEMS", Variant(3)}}), KESTREL_RESULT_BAD_CALL);
  EXPECT_EQ(host.Command("SET-ITEMS"), KESTREL_RESULT_BAD_CALL);
  EXPECT_EQ(module.ParserItems.size(), 5u);
}

TEST(ModuleCommands, SettingsCommandsSwapTheIniFileAndAnswerUnhandled) {
  ModuleHost host(&CreateRecording);
  auto& module = host.Module<RecordingModule>();
  ASSERT_EQ(host.Command("LOAD", {{"INI-FILE", Variant("own.ini")}}), 0);
  EXPECT_EQ(host.Command("SAVE-SETTINGS-NOW", {{"INI-FILE", Variant("export.ini")}}), -2);
  EXPECT_EQ(module.saved_to, std::vector<std::string>{"export.ini"});
  EXPECT_EQ(module.INIFile, "own.ini");

  // An import reads the given file, then saves into the module's own store.
  EXPECT_EQ(host.Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Variant("import.ini")}}), -2);
  EXPECT_EQ(module.loaded_from, std::vector<std::string>{"import.ini"});
  EXPECT_EQ(module.saved_to.back(), "own.ini");
  EXPECT_EQ(host.Command("LOAD-SETTINGS-NOW", {{"NO-SAVE", Variant(1)}}), -2);
  EXPECT_EQ(module.loaded_from.back(), "");
  EXPECT_EQ(module.saved_to.size(), 2u);
  EXPECT_EQ(module.INIFile, "own.ini");

  // A store that reports a failure makes either command fail; the file is restored all the same.
  EXPECT_EQ(host.Command("SAVE-SETTINGS-NOW", {{"INI-FILE", Variant("broken.ini")}}), -3);
  EXPECT_EQ(host.Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Variant("broken.ini")}}), -3);
  EXPECT_EQ(module.saved_to.back(), "own.ini"); // the import's save still ran
  EXPECT_EQ(module.INIFile, "own.ini");
}

TEST(ModuleCommands, EventsCommandsAndTheirFailures) {
  ModuleHost host(&CreateRecording);
  EXPECT_EQ(host.Command("EVENT"), KESTREL_RESULT_BAD_CALL);
  EXPECT_EQ(host.Command("EVENT", {{"EVENT-TYPE", Variant("ABCD")}}), 4);
  EXPECT_EQ(host.Command("EVENT", {{"EVENT-TYPE", Variant("BAD")}}), KESTREL_RESULT_FAILED);
  EXPECT_EQ(host.Command("THROW"), KESTREL_RESULT_FAILED);
  EXPECT_EQ(host.Command("NOTHING"), KESTREL_RESULT_UNHANDLED);
  EXPECT_EQ(host.Command("GET-MODULE-PARAMETER"), KESTREL_RESULT_UNHANDLED);
  EXPECT_EQ(host.Command("SET-MODULE-PARAMETER", {{"VALUE", Variant(1)}}),
            KESTREL_RESULT_UNHANDLED);
  EXPECT_EQ(host.CollectLog(), "\x01Kestrel. {EVENT} bad event\r\n"
                               "\x01Kestrel. {THROW} handler broke\r\n");

  // A module without handlers answers what the framework knows.
  ModuleHost plain(&CreateTorvPlugin);
  EXPECT_EQ(plain.Command("EVENT", {{"EVENT-TYPE", Variant("X")}}), 0);
  EXPECT_EQ(plain.Command("THROW"), KESTREL_RESULT_UNHANDLED);
  ASSERT_TRUE(plain.Set("EventsSupported", Variant("A;B")));
  Variant events;
  EXPECT_EQ(plain.Command("EVENTS-SUPPORT", {}, &events), 0);
  EXPECT_EQ(events, Variant("A;B"));
}

TEST(ModuleCommands, LogLinesReachTheHostWindow) {
  testing::HostWindow window;
  ModuleHost host(&CreateRecording, 5);
  auto& module = host.Module<RecordingModule>();
  // Written before the host's window is known: announced at LOAD.
  module.WriteLog(framework::LogLevel::Warning, "early");
  EXPECT_EQ(host.Command("LOAD", {{"MSG-PROC-HANDLE", window.Handle()}}), 0);
  ASSERT_EQ(window.Count(KESTREL_MSG_LOG_CHANGED), 1u);
  EXPECT_EQ(window.Pump()[0].wparam, 5u);

  for (int i = 0; i < 3; ++i)
    module.WriteLog(framework::LogLevel::Information, "same\r\nline");
  module.WriteLog(framework::LogLevel::Failure, "other");
  EXPECT_EQ(window.Count(KESTREL_MSG_LOG_CHANGED), 5u);
  const std::string expected = "\x02Kestrel. early\r\n\x03Kestrel. same  line x3\r\n"
                               "\x01Kestrel. other\r\n";

  // Too small: nothing copied, the size needed in ResultDesc, the log kept.
  TPluginCallRec rec = host.Record();
  char small[8];
  rec.DataDesc.Size = sizeof(small);
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(small);
  EXPECT_EQ(GetLogEx(&rec), 0);
  EXPECT_EQ(+rec.ResultDesc.Kind, KESTREL_KIND_INTEGER);
  EXPECT_EQ(+rec.ResultDesc.Payload, expected.size());
  EXPECT_EQ(host.CollectLog(), expected); // the repeat suffix is added once
  EXPECT_EQ(host.CollectLog(), "");

  // Capacity 0: the host discards the log.
  module.WriteLog(framework::LogLevel::Failure, "dropped");
  rec.DataDesc.Size = 0;
  EXPECT_EQ(GetLogEx(&rec), 0);
  EXPECT_EQ(+rec.ResultDesc.Payload, std::string("\x01Kestrel. dropped\r\n").size());
  EXPECT_EQ(host.CollectLog(), "");

  // After the last UNLOAD the window is forgotten.
  EXPECT_EQ(host.Command("UNLOAD"), 0);
  const std::size_t before = window.Count(KESTREL_MSG_LOG_CHANGED);
  module.WriteLog(framework::LogLevel::Failure, "late");
  EXPECT_EQ(window.Count(KESTREL_MSG_LOG_CHANGED), before);
}

TEST(ModuleCommands, ConfirmedDialogReloadsEveryInstanceOfTheRegistryPath) {
  testing::HostWindow window;
  const Params load = {{"REGISTRY-PATH", Variant("Software\\Shared")},
                       {"MSG-PROC-HANDLE", window.Handle()}};
  ModuleHost here(&CreateRecording, 1);
  ModuleHost there(&CreateRecording, 2);
  ModuleHost elsewhere(&CreateRecording, 3);
  ASSERT_EQ(here.Command("LOAD", load), 0);
  std::thread loader([&] { EXPECT_EQ(there.Command("LOAD", load), 0); });
  loader.join();
  ASSERT_EQ(elsewhere.Command("LOAD", {{"REGISTRY-PATH", Variant("Software\\Other")}}), 0);

  here.Module().OnShowOptionsDialog = [](TorvPlugin&, TPluginCallRec*, bool& handled) {
    handled = true;
  };
  TorvParamsList params;
  TPluginCallRec rec = here.Record();
  rec.Params = &params;
  ShowOptionsDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Payload, 1u);
  // Directly on the thread that loaded it; through the host for the other one.
  EXPECT_EQ(here.Module<RecordingModule>().loaded_from.size(), 1u);
  EXPECT_EQ(there.Module<RecordingModule>().loaded_from.size(), 0u);
  EXPECT_EQ(elsewhere.Module<RecordingModule>().loaded_from.size(), 0u);
  ASSERT_EQ(window.Count(KESTREL_MSG_RELOAD_SETTINGS), 1u);
  for (const testing::Received& r : window.Pump()) {
    if (r.message == KESTREL_MSG_RELOAD_SETTINGS) {
      EXPECT_EQ(r.wparam, 2u);
    }
  }
}

// A translator that counts its work, standing in for the language-file translator.
class CountingTranslator : public IModuleTranslator {
public:
  std::vector<std::string> ComponentProperties() const override { return properties; }
  void AddComponentProperty(std::string_view name) override { properties.emplace_back(name); }
  bool HasLanguageFile() const override { return true; }
  void Translate(TorvPlugin& module) override {
    ++translations;
    module.MsgNoData.Set("Keine Daten");
  }
  std::vector<std::string> properties;
  int translations = 0;
};

TEST(ModuleCommands, TranslatorFollowsTheModuleLanguage) {
  static CountingTranslator* made = nullptr;
  SetModuleTranslatorFactory([](TorvPlugin& module) -> std::unique_ptr<IModuleTranslator> {
    module.Language = "DE";
    auto translator = std::make_unique<CountingTranslator>();
    made = translator.get();
    return translator;
  });
  ModuleHost host(&CreateRecording);
  SetModuleTranslatorFactory(nullptr);
  auto& module = host.Module<RecordingModule>();
  int language_changes = 0;
  module.OnLanguageChanged = [&](TorvPlugin&) { ++language_changes; };
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->translations, 1); // once, when the module was complete
  EXPECT_EQ(module.MsgNoData.Get(), "Keine Daten");

  EXPECT_EQ(host.Command("LOAD", {{"LANGUAGE", Variant("DE")}}), 0);
  EXPECT_EQ(made->translations, 1); // the language the module has changes nothing
  EXPECT_EQ(language_changes, 0);
  EXPECT_EQ(host.Command("UNLOAD"), 0);
  EXPECT_EQ(host.Command("LOAD", {{"LANGUAGE", Variant("FR")}}), 0);
  EXPECT_EQ(made->translations, 2); // another one switches it
  EXPECT_EQ(module.Language, "FR");
  EXPECT_EQ(language_changes, 1);

  EXPECT_TRUE(host.Set("TranslatorComponentProperties", Variant("Columns;Header|Text")));
  EXPECT_EQ(host.Get("TranslatorComponentProperties"),
            Variant("MsgNoData\r\nMsgWriteComplete\r\nMsgWriteCompleteError\r\nColumns\r\n"
                    "Header\r\nText\r\n"));
}

TEST(CustomCommands, TextFormRoundTrips) {
  TorvPluginCustomCmdList list;
  list.AddFromText("a|b|c|1|1\r\n\r\nx|y|z|2|0\nno|fields\n");
  ASSERT_EQ(list.Items.size(), 2u);
  EXPECT_FALSE(list.Items[1].Flag1); // only "1" is true
  EXPECT_EQ(list.Text(), "a|b|c|1|1\r\nx|y|z|0|0\r\n");
}
} // namespace
} // namespace kestrel
