// The shipped German language file next to a copy of the plug-in: the module starts in the
// file's default language, and the host's "LANGUAGE" at LOAD switches its log texts.
#include "pipeline_host.h"
#include "platform/system.h"
#include "plugin_library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;
using kestrel::Variant;
using kestrel::testing::PipelineHost;
using kestrel::testing::PluginLibrary;

class ShippedLanguageFile : public ::testing::Test {
protected:
  void SetUp() override {
    // A copy of the library in a folder of its own, with the German file as its own ".lng".
    // The folder is unique: tests of this fixture may run at the same time in other processes.
    folder_ = fs::temp_directory_path() /
              ("kestrel-e2e-lang-" +
               kestrel::platform::GuidToText(kestrel::platform::CreateGuid()).substr(1, 36));
    fs::create_directories(folder_);
    const fs::path library = fs::path(KESTREL_LIBRARY_PATH);
    const fs::path copy = folder_ / library.filename();
    fs::copy_file(library, copy);
    // kestrel.lng beside kestrel.dll, libkestrel.lng beside libkestrel.so.5.0.0.
    std::string stem = copy.filename().string();
    stem = stem.substr(0, stem.find('.'));
    fs::copy_file(fs::path(KESTREL_SOURCE_DIR) / "resources" / "lang" / "de" / "kestrel.lng",
                  folder_ / (stem + ".lng"));
    library_ = std::make_unique<PluginLibrary>(copy.string());
    ASSERT_TRUE(library_->Loaded()) << library_->Error();
  }
  void TearDown() override {
    library_.reset();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  fs::path folder_;
  std::unique_ptr<PluginLibrary> library_;
};

TEST_F(ShippedLanguageFile, SwitchesTheLogTextsWithTheHostLanguage) {
  PipelineHost host(library_->Entry());
  ASSERT_TRUE(host.Created());
  const auto load = [&](const char* language) {
    return host.Command("LOAD", {{"REGISTRY-PATH", Variant("\\Software\\Kestrel\\E2ELang")},
                                 {"LANGUAGE", Variant(language)}});
  };
  Variant properties;
  host.Command("GET-MODULE-PARAMETER", {{"PARAM", Variant("TranslatorComponentProperties")}}, 0,
               &properties);
  EXPECT_NE(kestrel::VariantToAnsi(properties).find("MsgNoData\r\n"), std::string::npos);

  ASSERT_EQ(load("DE"), 0);
  EXPECT_EQ(host.WriteWithoutData(), 0);
  EXPECT_EQ(host.Log(), "\x02Kestrel. Keine Daten zur Verarbeitung\r\n");

  ASSERT_EQ(load("EN"), 0);
  EXPECT_EQ(host.WriteWithoutData(), 0);
  EXPECT_EQ(host.Log(), "\x02Kestrel. No data for processing\r\n");

  ASSERT_EQ(load("DE"), 0);
  EXPECT_EQ(host.WriteWithoutData(), 0);
  EXPECT_EQ(host.WriteWithoutData(), 0);
  EXPECT_EQ(host.Log(), "\x02Kestrel. Keine Daten zur Verarbeitung x2\r\n");
}

} // namespace
