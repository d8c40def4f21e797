// The language-file translator on its own: how texts are found (trimming, mnemonics, escaped
// control characters, case), which blocks count, which file wins, how the component tags
// steer the walk, the default language, the release of the dictionary and the collected texts.
#include "translation/language_translator.h"
#include "language_files.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using kestrel::translation::TLanguageTranslator;
using kestrel::translation::TTranslatableComponent;
using kestrel::translation::TTranslatableProperty;
using kestrel::testing::LanguageFolder;

// German texts in the ANSI code page (1252): "ö" is 0xF6, "ß" 0xDF.
const char kGerman[] = "[Languages]\n$EN = English\n$DE = Deutsch\nDefault = DE\n\n"
                       "EN:>Open file\nDE:>Datei \xF6"
                       "ffnen\n\n"
                       "EN:>&Save\r\nDE:>&Speichern\r\n\r\n"
                       "EN:>Close\nDE:>Schlie\xDF&en\n\n"
                       "EN:>Load && Save\nDE:>Laden && Speichern\n\n"
                       "EN:>Line one%0ALine two\nDE:>Zeile eins%0AZeile zwei\n\n"
                       "EN:>Empty\nDE:>\n\n"
                       "EN:>Unfinished\nDE:>Unfertig";

// Builds the dictionary for EN -> `target` by translating an empty component.
void Prepare(TLanguageTranslator& translator, const std::string& target = "DE") {
  TTranslatableComponent nothing;
  translator.TranslateComponent(target, nothing);
}

TEST(LanguageTranslator, FindsTextsByTheLookupRules) {
  LanguageFolder folder;
  TLanguageTranslator translator;
  translator.SetLanguageFile(folder.Write("a.lng", kGerman));
  Prepare(translator);

  // Surrounding spaces: found by the trimmed text, replaced whole.
  EXPECT_EQ(translator.TranslateText("  Open file "), "Datei \xF6"
                                                      "ffnen");
  EXPECT_EQ(translator.TranslateText("OPEN FILE"), "Datei \xF6"
                                                   "ffnen"); // the lower-case map
  // A text with a mnemonic keeps the translation's ampersands, whether the entry was written
  // with the ampersand or without it.
  EXPECT_EQ(translator.TranslateText("&Save"), "&Speichern");
  EXPECT_EQ(translator.TranslateText("&Close"), "Schlie\xDF&en");
  // Without a mnemonic single ampersands go and doubled ones become single.
  EXPECT_EQ(translator.TranslateText("Close"), "Schlie\xDF"
                                               "en");
  EXPECT_EQ(translator.TranslateText("Load && Save"), "Laden & Speichern");
  // A line break is looked up as %0A and comes back as a line break.
  EXPECT_EQ(translator.TranslateText("Line one\nLine two"), "Zeile eins\nZeile zwei");
  // Entries without a translation, and a last block without an empty line, do not count.
  EXPECT_EQ(translator.TranslateText("Empty"), "Empty");
  EXPECT_EQ(translator.TranslateText("Unfinished"), "Unfinished");
  EXPECT_EQ(translator.TranslateText("   "), "   ");
  EXPECT_EQ(translator.EntryCount(), 5);

  // Another target language has no entries here: nothing changes.
  Prepare(translator, "FR");
  EXPECT_EQ(translator.TranslateText("Open file"), "Open file");
}

TEST(LanguageTranslator, LaterFilesWinAndMissingOnesAreSkipped) {
  LanguageFolder folder;
  const std::string shared = folder.Write("plugins.lng", kGerman);
  // UTF-8 with its header; "Ö" is 0xD6 in the ANSI code page.
  const std::string own = folder.Write(
      "own.lng", "// Encoding=utf-8\n// Charset=windows-1251\n\nEN:>Open file\nDE:>\xC3\x96"
                 "ffnen\n\n");
  TLanguageTranslator translator;
  translator.SetLanguageFile(shared + "|" + folder.Path("missing.lng") + "|" + own);
  Prepare(translator);
  EXPECT_EQ(translator.TranslateText("Open file"), "\xD6"
                                                   "ffnen");
  EXPECT_EQ(translator.TranslateText("&Save"), "&Speichern"); // the shared file's entry
  EXPECT_EQ(translator.Options().Charset, 204);

  // The dictionary stays until it is released; the next translation reads the files again.
  folder.Write("own.lng", "EN:>Open file\nDE:>Aufmachen\n\n");
  Prepare(translator);
  EXPECT_EQ(translator.TranslateText("Open file"), "\xD6"
                                                   "ffnen");
  translator.ReleaseDictionary();
  Prepare(translator);
  EXPECT_EQ(translator.TranslateText("Open file"), "Aufmachen");

  translator.SetLanguageFile(folder.Path("missing.lng"));
  Prepare(translator, "RU");
  EXPECT_EQ(translator.EntryCount(), -1);
}

TEST(LanguageTranslator, TagsSteerTheComponentWalk) {
  LanguageFolder folder;
  TLanguageTranslator translator;
  translator.SetLanguageFile(
      folder.Write("a.lng", "// Charset=windows-1250\n\nEN:>Close\nDE:>Zu\n\nEN:>Open file\n"
                            "DE:>Auf\n\n"));
  struct Texts {
    std::string caption = "Close", hint = "Close", text = "Open file", columns = "Close";
    std::vector<std::string> lines{"Close", "x"};
  };
  Texts start, tree, tree_child, hidden, children_only, only_child, no_walk, no_walk_child, custom,
      root;
  const auto component = [](const std::string& name, int32_t tag, Texts& texts) {
    TTranslatableComponent c;
    c.Name = name;
    c.Tag = tag;
    c.Properties = {TTranslatableProperty::OfText("Caption", &texts.caption),
                    TTranslatableProperty::OfText("Hint", &texts.hint),
                    TTranslatableProperty::OfText("Text", &texts.text),
                    TTranslatableProperty::OfText("Columns", &texts.columns),
                    TTranslatableProperty::OfLines("Captions", &texts.lines)};
    return c;
  };
  TTranslatableComponent form = component("frm", 0, root);
  int32_t font = 0, symbol_font = 2;
  form.FontCharset = &font;
  form.FocusFontCharset = &symbol_font;
  form.Components.push_back(component("edtStart", 10016, start));
  form.Components.push_back(component("holder", 9999, tree));
  form.Components.back().Components.push_back(component("inner", 0, tree_child));
  form.Components.push_back(component("__hidden", 0, hidden));
  form.Components.push_back(component("panel", 9998, children_only));
  form.Components.back().Components.push_back(component("label", 0, only_child));
  form.Components.push_back(component("_group", 0, no_walk));
  form.Components.back().Components.push_back(component("label2", 0, no_walk_child));
  form.Components.push_back(component("custom", 9997, custom));
  std::vector<std::string> handed;
  translator.OnCustomTranslate = [&](TTranslatableComponent& c) { handed.push_back(c.Name); };
  translator.AddComponentProperty("columns");

  EXPECT_TRUE(translator.TranslateComponent("DE", form));

  const auto translated = [](const Texts& t) {
    return t.caption == "Zu" && t.hint == "Zu" && t.text == "Auf" && t.columns == "Zu" &&
           t.lines == std::vector<std::string>{"Zu", "x"};
  };
  const auto untouched = [](const Texts& t) {
    return t.caption == "Close" && t.hint == "Close" && t.text == "Open file" &&
           t.columns == "Close" && t.lines[0] == "Close";
  };
  EXPECT_TRUE(translated(root));
  // 10016: every property but the text.
  EXPECT_EQ(start.caption, "Zu");
  EXPECT_EQ(start.hint, "Zu");
  EXPECT_EQ(start.text, "Open file");
  EXPECT_TRUE(untouched(tree));
  EXPECT_TRUE(untouched(tree_child));
  EXPECT_TRUE(untouched(hidden));
  EXPECT_TRUE(untouched(children_only));
  EXPECT_TRUE(translated(only_child));
  EXPECT_TRUE(translated(no_walk));
  EXPECT_TRUE(untouched(no_walk_child));
  EXPECT_TRUE(untouched(custom));
  // The custom component is handed over instead; every translated component is too.
  EXPECT_NE(std::find(handed.begin(), handed.end(), "custom"), handed.end());
  EXPECT_EQ(std::count(handed.begin(), handed.end(), "label2"), 0);
  // The file's character set goes to fonts, except symbol fonts.
  EXPECT_EQ(font, 238);
  EXPECT_EQ(symbol_font, 2);
}

TEST(LanguageTranslator, DefaultLanguageComesFromTheFirstFileListingLanguages) {
  LanguageFolder folder;
  const std::string none = folder.Write("none.lng", "[Languages]\n$FR =\nDefault = FR\n\n");
  const std::string listed =
      folder.Write("listed.lng", "[languages]\n $EN = English \n$DE=Deutsch\ndefault = DE\n\n");
  const std::string later = folder.Write("later.lng", "[Languages]\n$RU = R\nDefault = RU\n");
  TLanguageTranslator translator;
  translator.SetLanguageFile(none + "|" + folder.Path("gone.lng") + "|" + listed + "|" + later);
  std::vector<std::string> languages;
  EXPECT_EQ(translator.GetDefaultLanguage(&languages), "DE");
  EXPECT_EQ(languages, (std::vector<std::string>{"English,EN", "Deutsch,DE"}));
}

TEST(LanguageTranslator, CollectedTextsGoNextToTheOwnFile) {
  LanguageFolder folder;
  const std::string shared = folder.Write("plugins.lng", "EN:>Close\nDE:>Zu\n\n");
  const std::string own = folder.Write("own.lng", "//saveuntr\n\nEN:>Open\nDE:>Auf\n\n");
  {
    TLanguageTranslator translator;
    translator.SetLanguageFile(shared + "|" + own);
    Prepare(translator);
    for (const char* text : {"Close", "Missing one", "42 %", "Missing one", "Two\nlines"})
      translator.TranslateText(text);
    EXPECT_EQ(translator.CollectedTextsFile(), own + ".new");
  }
  const std::optional<std::string> written = kestrel::translation::ReadWholeFile(own + ".new");
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, "[Languages]\r\n$EN = #1\r\n$DE = #2 (Default)\r\nDefault = DE\r\n\r\n"
                      "EN:>Missing one\r\nDE:>\r\n\r\nEN:>Two%0Alines\r\nDE:>\r\n\r\n");

  // Entries never looked up, under "//saveunused".
  folder.Write("own.lng", "//saveunused\n\nEN:>Open\nDE:>Auf\n\nEN:>Used\nDE:>Benutzt\n\n");
  {
    TLanguageTranslator translator;
    translator.SetLanguageFile(shared + "|" + own);
    Prepare(translator);
    translator.TranslateText("Used");
  }
  const std::optional<std::string> unused = kestrel::translation::ReadWholeFile(own + ".unused");
  ASSERT_TRUE(unused);
  EXPECT_NE(unused->find("EN:>Open\r\nDE:>\r\n"), std::string::npos);
  EXPECT_NE(unused->find("EN:>Close\r\n"), std::string::npos);
  EXPECT_EQ(unused->find("Used"), std::string::npos);
}

} // namespace
