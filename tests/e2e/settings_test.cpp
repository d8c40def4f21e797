// A host configures the plug-in through its exports: LOAD with an INI file or a registry
// path, the settings commands that import and export, and the save at the last UNLOAD.
#include "pipeline_host.h"
#include "plugin_library.h"
#include "settings_scratch.h"

#include <gtest/gtest.h>

namespace {

using kestrel::Variant;
using kestrel::testing::PipelineHost;
using kestrel::testing::PluginLibrary;
using kestrel::testing::ReadText;
using kestrel::testing::ScratchFolder;
using kestrel::testing::ScratchRegistryKey;
using kestrel::testing::WriteText;

// A filter that drops blocks containing "drop", typed item rules (one ignored), a date
// template, a translation map that upper-cases String-typed values, and a value that is no
// number.
const char kIniText[] = "[Common]\r\n"
                        "Filter=1||0||drop||0\r\n"
                        "JSON items=temp||1||1||Float%0D%0Awhen||1||1||Date%0D%0A"
                        "skip||1||0||String%0D%0Aname||1||1||String\r\n"
                        "Date format=DD.MM.YYYY\r\n"
                        "Max depth=deep\r\n"
                        "[Translation]\r\n"
                        "Map1=%0D%0A%0D%0A1\r\n";

const char kPacket[] = R"({"temp":"21.5","when":"08.12.2026","skip":"x","name":"abc"})";
const double kDecember8th2026 = 46364;

class Settings : public ::testing::Test {
protected:
  // Each test loads the library and unloads it again, as hosts do between sessions: the
  // library must serve data sources again after it was unloaded and loaded anew.
  void SetUp() override {
    library_ = std::make_unique<PluginLibrary>();
    ASSERT_TRUE(library_->Loaded()) << library_->Error();
  }
  void TearDown() override {
    // A host releases everything before it unloads the library.
    if (library_->Loaded()) {
      EXPECT_EQ(library_->ReleaseAll(), 0);
    }
    library_.reset();
  }

  std::unique_ptr<PipelineHost> Loaded(std::vector<std::pair<std::string, Variant>> params) {
    auto host = std::make_unique<PipelineHost>(library_->Entry());
    EXPECT_EQ(host->Command("LOAD", std::move(params)), 0);
    EXPECT_EQ(host->SetState("1;COM1;Serial port 1", true), 0);
    return host;
  }

  // The rows follow kIniText.
  void ExpectConfiguredRows(PipelineHost& host) {
    const auto result = host.Send(1, 1, "c", kPacket);
    ASSERT_EQ(result.Rows(), 1) << host.Log();
    EXPECT_EQ(result.rows->GetValue("temp"), Variant(21.5));
    EXPECT_EQ(result.rows->GetValue("when"), Variant::DateTime(kDecember8th2026));
    EXPECT_EQ(result.rows->GetValue("name"), Variant("ABC"));
    EXPECT_EQ(result.rows->IndexOf("skip"), -1);
    EXPECT_EQ(host.Send(1, 1, "c", R"({"name":"drop me"})").Rows(), 0);
  }

  std::unique_ptr<PluginLibrary> library_;
  ScratchFolder folder_;
  ScratchRegistryKey key_;
};

TEST_F(Settings, LoadWithAnIniFileConfiguresTheRows) {
  const std::string file = folder_.File("host.ini");
  WriteText(file, kIniText);
  auto host = Loaded({{"REGISTRY-PATH", Variant(key_.Path())}, {"INI-FILE", Variant(file)}});
  ExpectConfiguredRows(*host);
  EXPECT_NE(host->Log().find("\"Max depth\""), std::string::npos) << host->Log();

  // The host edits the file; LOAD-SETTINGS-NOW reads it and saves it back whole.
  WriteText(file, "[Common]\r\nFilter=1||0||abc||0\r\n");
  ASSERT_EQ(host->Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Variant(file)}}), -2);
  EXPECT_EQ(host->Send(1, 1, "c", kPacket).Rows(), 0); // now filtered out
  EXPECT_EQ(host->Send(1, 1, "c", R"({"name":"drop me"})").All("name"),
            std::vector<Variant>{Variant("DROP ME")});
  const std::string saved = ReadText(file);
  EXPECT_NE(saved.find("Filter=1||0||abc||0\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Date format=DD.MM.YYYY\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("[Translation]\r\n"), std::string::npos) << saved;
}

TEST_F(Settings, LoadWithARegistryPathConfiguresTheRows) {
  // The same settings, written by another host into the registry under its prefix.
  const std::string file = folder_.File("seed.ini");
  WriteText(file, kIniText);
  {
    auto seeder = Loaded({{"REGISTRY-PATH", Variant(key_.Path())}});
    ASSERT_EQ(seeder->Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Variant(file)}}), -2);
  }
  auto host = Loaded({{"REGISTRY-PATH", Variant(key_.Path())}});
  ExpectConfiguredRows(*host);

  // Export into a file, then import another one without saving it: the registry keeps its
  // settings, as a new instance shows.
  const std::string exported = folder_.File("export.ini");
  ASSERT_EQ(host->Command("SAVE-SETTINGS-NOW", {{"INI-FILE", Variant(exported)}}), -2);
  EXPECT_NE(ReadText(exported).find("Filter=1||0||drop||0\r\n"), std::string::npos);
  const std::string other = folder_.File("other.ini");
  WriteText(other, "[Common]\r\nFilter=\r\n");
  ASSERT_EQ(
      host->Command("LOAD-SETTINGS-NOW", {{"INI-FILE", Variant(other)}, {"NO-SAVE", Variant(1)}}),
      -2);
  EXPECT_EQ(host->Send(1, 1, "c", R"({"name":"drop me"})").Rows(), 1);
  ExpectConfiguredRows(*Loaded({{"REGISTRY-PATH", Variant(key_.Path())}}));
}

// Counts the lines of a log that contain `text`.
std::size_t Lines(const std::string& log, const std::string& text) {
  std::size_t count = 0;
  for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
    ++count;
  return count;
}

TEST_F(Settings, LoadWarnsOnceAboutEachMistake) {
  // A file the host names that does not exist: the registry serves the settings instead.
  const std::string absent = folder_.File("absent.ini");
  auto missing = Loaded({{"REGISTRY-PATH", Variant(key_.Path())}, {"INI-FILE", Variant(absent)}});
  EXPECT_EQ(Lines(missing->Log(), "settings file " + absent +
                                      " does not exist; the settings come from the registry key " +
                                      key_.Path() + " instead"),
            1u);

  // LOAD and the state change after it read the settings twice; each mistake is one line.
  const std::string file = folder_.File("host.ini");
  std::string text = kIniText;
  text.replace(text.find("Float"), 5, "Flaot");
  text += "[Comon]\r\nLeft trim=True\r\n";
  WriteText(file, text);
  auto host = Loaded({{"REGISTRY-PATH", Variant(key_.Path())}, {"INI-FILE", Variant(file)}});
  const std::string log = host->Log();
  EXPECT_EQ(Lines(log, "\"Max depth\""), 1u) << log;
  EXPECT_EQ(Lines(log, "unknown type \"Flaot\""), 1u) << log;
  EXPECT_EQ(Lines(log, "section [Comon] is not read; is it a misspelling of [Common]?"), 1u) << log;
  // What the check reports is what the log said.
  Variant report;
  ASSERT_EQ(
      host->Command("GET-MODULE-PARAMETER", {{"PARAM", Variant("SettingsCheck")}}, 0, &report), 0);
  EXPECT_NE(kestrel::VariantToAnsi(report).find("warnings: 3\n"), std::string::npos)
      << kestrel::VariantToAnsi(report);
}

TEST_F(Settings, SettingsCommandsAnswerFailedWhenTheStoreFails) {
  auto host = Loaded({{"REGISTRY-PATH", Variant(key_.Path())}});
  host->Log(); // what LOAD wrote
  // A file that is no INI file: neither imported nor overwritten, and each failure is one line
  // with the file and the reason.
  const std::string wide_file = folder_.File("wide.ini");
  const std::string wide("\xFF\xFE[\0C\0]\0", 8);
  WriteText(wide_file, wide);
  EXPECT_EQ(host->Command("SAVE-SETTINGS-NOW", {{"INI-FILE", Variant(wide_file)}}), -3);
  EXPECT_EQ(host->Command("LOAD-SETTINGS-NOW",
                          {{"INI-FILE", Variant(wide_file)}, {"NO-SAVE", Variant(1)}}),
            -3);
  EXPECT_EQ(ReadText(wide_file), wide);
  const std::string log = host->Log();
  for (const char* failed : {"The settings were not saved: ", "The settings were not loaded: "}) {
    const std::size_t at = log.find(failed);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(failed, at + 1), std::string::npos) << log;
    EXPECT_NE(log.find(wide_file + ": it is UTF-16 text", at), std::string::npos) << log;
  }
  // Success keeps its answer.
  EXPECT_EQ(host->Command("SAVE-SETTINGS-NOW", {{"INI-FILE", Variant(folder_.File("ok.ini"))}}),
            -2);
}

TEST_F(Settings, LastUnloadSavesIntoANewIniFile) {
  const std::string file = folder_.File("host.ini");
  WriteText(file, kIniText);
  auto host = Loaded({{"REGISTRY-PATH", Variant(key_.Path())}, {"INI-FILE", Variant(file)}});
  const std::string moved = folder_.File("moved.ini");
  ASSERT_EQ(host->Command("UNLOAD", {{"INI-FILE", Variant(moved)}}), 0);
  const std::string text = ReadText(moved);
  EXPECT_NE(text.find("JSON items=temp||1||1||Float%0D%0A"), std::string::npos) << text;
  EXPECT_NE(text.find("Sign timeout=5000\r\n"), std::string::npos) << text;
}

TEST_F(Settings, ReloadOfAnUnchangedFileIsSkippedAndAnyChangeIsTaken) {
  const std::string file = folder_.File("host.ini");
  WriteText(file, kIniText);
  auto host = Loaded({{"REGISTRY-PATH", Variant(key_.Path())}, {"INI-FILE", Variant(file)}});
  EXPECT_NE(host->Log().find("\"Max depth\""), std::string::npos);
  const auto reload = [&] {
    return host->Command("LOAD-SETTINGS-NOW",
                         {{"INI-FILE", Variant(file)}, {"NO-SAVE", Variant(1)}});
  };
  // The same text again, by command and by a state change: not read again, and the settings
  // stay. The reload reports its unusable value again, once; the state change, within the
  // same load, does not.
  ASSERT_EQ(reload(), -2);
  const std::string log = host->Log();
  const std::size_t first = log.find("\"Max depth\"");
  EXPECT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find("\"Max depth\"", first + 1), std::string::npos) << log;
  ASSERT_EQ(host->SetState("1;COM1;Serial port 1", true), 0);
  EXPECT_EQ(host->Log(), "");
  ExpectConfiguredRows(*host);
  // A rewrite of the same size at once, which a time stamp may not tell apart, is read.
  std::string changed = kIniText;
  changed.replace(changed.find("drop"), 4, "dorp");
  WriteText(file, changed);
  ASSERT_EQ(reload(), -2);
  EXPECT_NE(host->Log().find("\"Max depth\""), std::string::npos);
  EXPECT_EQ(host->Send(1, 1, "c", R"({"name":"drop me"})").All("name"),
            std::vector<Variant>{Variant("DROP ME")});
}

} // namespace
