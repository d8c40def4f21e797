// The translator attached to the JSON parser module, driven through the exports linked into
// this test: the plug-in's own language file decides whether anything is translated, the
// host's "LANGUAGE" at LOAD switches the outcome and message texts, and packets logging
// message texts on another thread meet a whole set while the language switches.
#include "language_files.h"
#include "parser/plugin_dm.h"
#include "pipeline_host.h"
#include "settings_module.h"
#include "translation/plugin_translator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace kestrel;
using kestrel::testing::PipelineHost;
using kestrel::testing::PluginEntryPoints;

void LoadBooleanRule(parser::TDataSourceCfg& settings) {
  settings.SetPropertyValue("lstJSON_Hint", Variant("b||1||1||Boolean"));
}

// Where the language files of the modules created here are looked for: "plugins.lng" and the
// plug-in's own file in a folder of this test's own.
std::filesystem::path g_folder;

std::unique_ptr<IModuleTranslator> TranslatorInTestFolder(TorvPlugin& module) {
  return translation::CreatePluginTranslator(module, (g_folder / "plugins.lng").string() + "|" +
                                                         (g_folder / "kestrel.lng").string());
}

const char kOwnFile[] = "// Encoding=utf-8\n\n[Languages]\n$EN = English\n$DE = Deutsch\n"
                        "$FR = Fran\xC3\xA7"
                        "ais\nDefault = DE\n\n"
                        "EN:>No data for processing\nDE:>Keine Daten\nFR:>Pas de donn\xC3\xA9"
                        "es\n\n"
                        "EN:>Error occurred while parameter formatting (%s)\n"
                        "DE:>Fehler beim Formatieren (%s)\nFR:>Erreur de format (%s)\n\n";

class PluginTranslator : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    SetModuleClass(&kestrel::testing::CreateSettingsModule<&LoadBooleanRule>);
    SetModuleTranslatorFactory(&TranslatorInTestFolder);
  }
  static void TearDownTestSuite() {
    SetModuleTranslatorFactory(nullptr);
    SetModuleClass(nullptr);
  }
  void SetUp() override { g_folder = folder_.Folder(); }

  void Write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  }

  std::unique_ptr<PipelineHost> Host() {
    const PluginEntryPoints entry = kestrel::testing::LinkedPluginEntryPoints();
    return std::make_unique<PipelineHost>(entry);
  }

  static int32_t Load(PipelineHost& host, const char* language) {
    return host.Command("LOAD", {{"REGISTRY-PATH", Variant("\\Software\\Kestrel\\Transl")},
                                 {"LANGUAGE", Variant(language)}});
  }

  kestrel::testing::LanguageFolder folder_;
  const std::filesystem::path own_ = folder_.Folder() / "kestrel.lng";
  const std::filesystem::path shared_ = folder_.Folder() / "plugins.lng";
};

TEST_F(PluginTranslator, WithoutItsOwnFileThePluginStaysEnglish) {
  Write(shared_, kOwnFile);
  auto host = Host();
  ASSERT_EQ(Load(*host, "DE"), 0);
  EXPECT_EQ(host->WriteWithoutData(), 0);
  EXPECT_NE(host->Log().find("Kestrel. No data for processing"), std::string::npos);
}

TEST_F(PluginTranslator, TheHostLanguageSwitchesLogAndMessageTexts) {
  // The shared file's entries count, but the plug-in's own file overrides them.
  Write(shared_, "EN:>Data have been processed with errors\nDE:>Mit Fehlern\n\n"
                 "EN:>No data for processing\nDE:>Nichts\n\n");
  Write(own_, kOwnFile);
  auto host = Host();
  ASSERT_EQ(Load(*host, "DE"), 0); // the language the module already has
  ASSERT_EQ(host->SetState("1;COM1;Serial port 1", true), 0);
  host->Send(1, 1, "c", R"({"b":"no"})");
  EXPECT_EQ(host->WriteWithoutData(), 0);
  const std::string german = host->Log();
  EXPECT_NE(german.find("Kestrel. Fehler beim Formatieren ('no' is not a valid boolean value)"),
            std::string::npos)
      << german;
  EXPECT_NE(german.find("Kestrel. Keine Daten\r\n"), std::string::npos) << german;

  // Another language: translated again from the English texts, whatever was shown before.
  ASSERT_EQ(Load(*host, "FR"), 0);
  host->Send(1, 1, "c", R"({"b":"no"})");
  EXPECT_EQ(host->WriteWithoutData(), 0);
  const std::string french = host->Log();
  EXPECT_NE(french.find("Kestrel. Erreur de format ('no'"), std::string::npos) << french;
  EXPECT_NE(french.find("Kestrel. Pas de donn\xE9"
                        "es\r\n"),
            std::string::npos)
      << french;

  // The options dialog's language switches the same way.
  TorvParamsList dialog_params;
  dialog_params.Add("LANGUAGE", Variant("DE"));
  TPluginCallRec dialog;
  std::memset(&dialog, 0, sizeof(dialog));
  dialog.RecSize = sizeof(dialog);
  dialog.Instance = host->Instance();
  dialog.Params = &dialog_params;
  ShowOptionsDialog(&dialog);
  EXPECT_EQ(host->WriteWithoutData(), 0);
  EXPECT_NE(host->Log().find("Kestrel. Keine Daten\r\n"), std::string::npos);

  // A language without entries gives the English texts back.
  ASSERT_EQ(Load(*host, "EN"), 0);
  host->Send(1, 1, "c", R"({"b":"no"})");
  EXPECT_EQ(host->WriteWithoutData(), 0);
  const std::string english = host->Log();
  EXPECT_NE(english.find("Kestrel. Error occurred while parameter formatting ('no'"),
            std::string::npos)
      << english;
  EXPECT_NE(english.find("Kestrel. No data for processing\r\n"), std::string::npos) << english;
}

TEST_F(PluginTranslator, PacketsOnAnotherThreadMeetWholeTextSets) {
  const std::string german = "Kestrel. Fehler beim Formatieren ('no'";
  const std::string french = "Kestrel. Erreur de format ('no'";
  Write(own_, kOwnFile);
  auto host = Host();
  ASSERT_EQ(Load(*host, "DE"), 0);
  ASSERT_EQ(host->SetState("1;COM1;Serial port 1", true), 0);
  std::atomic<bool> stop{false};
  std::atomic<int> packets{0};
  std::thread sender([&] {
    while (!stop.load()) {
      host->Send(1, 1, "c", R"({"b":"no"})");
      ++packets;
    }
  });

  // The switching starts once packets flow and goes on until packets went through during it and
  // a switch back to German reached them after French did, however the two threads were
  // scheduled. The deadline only ends a run in which that never happens.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (packets.load() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  std::string log = host->Log(); // German only, from before the switching
  const std::size_t switching_from = log.size();
  const int packets_before = packets.load();
  int switches = 0;
  bool both_met = false;
  while (std::chrono::steady_clock::now() < deadline) {
    Load(*host, switches % 2 ? "DE" : "FR");
    if (++switches % 20 != 0)
      continue;
    log += host->Log();
    const std::size_t first_french = log.find(french, switching_from);
    both_met =
        first_french != std::string::npos && log.find(german, first_french) != std::string::npos;
    if (switches >= 200 && both_met && packets.load() - packets_before >= 20)
      break;
  }
  const int packets_during = packets.load() - packets_before;
  stop = true;
  sender.join();
  EXPECT_GE(switches, 200);
  EXPECT_GE(packets_during, 20) << "packets sent during " << switches << " language switches";
  EXPECT_TRUE(both_met) << "the packets never met French and then German again";

  log += host->Log();
  int lines = 0;
  for (std::size_t start = 0; start < log.size();) {
    const std::size_t end = log.find("\r\n", start);
    const std::string line = log.substr(start, end - start);
    start = end == std::string::npos ? log.size() : end + 2;
    ++lines;
    EXPECT_TRUE(line.find(german) != std::string::npos || line.find(french) != std::string::npos)
        << line;
  }
  EXPECT_GT(lines, 0);
}

} // namespace
