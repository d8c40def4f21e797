// The language files shipped with the plug-in read completely: every message text of the
// module has its translation, decoded from UTF-8.
#include "translation/language_file.h"
#include "parser/text_resources.h"
#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

using namespace kestrel::translation;

TEST(LanguageFile, ShippedFilesTranslateEveryModuleText) {
  const struct {
    const char* folder;
    const char* code;
    const char* parse_error; // UTF-8
    int32_t charset;
  } shipped[] = {
      {"de", "DE", "Daten k\xC3\xB6nnen nicht gelesen werden", 0},
      {"ru", "RU",
       "\xD0\x9D\xD0\xB5 \xD1\x83\xD0\xB4\xD0\xB0\xD0\xBB\xD0\xBE\xD1\x81\xD1\x8C "
       "\xD1\x80\xD0\xB0\xD0\xB7\xD0\xBE\xD0\xB1\xD1\x80\xD0\xB0\xD1\x82\xD1\x8C "
       "\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5",
       204},
  };
  for (const auto& file : shipped) {
    SCOPED_TRACE(file.folder);
    const auto text = ReadWholeFile(std::string(KESTREL_SOURCE_DIR) + "/resources/lang/" +
                                    file.folder + "/kestrel.lng");
    ASSERT_TRUE(text);
    EXPECT_EQ(ReadLanguageList(*text).Default, file.code);
    TLanguageFileOptions options;
    TLanguageDictionary dictionary;
    kestrel::parser::TTextResources messages;
    const std::vector<std::string*> message_texts = messages.Texts();
    // The module's three outcome texts and every message text.
    EXPECT_EQ(ReadLanguageText(*text, "EN", file.code, options, dictionary),
              3 + message_texts.size());
    EXPECT_TRUE(options.Utf8);
    EXPECT_EQ(options.Charset, file.charset);
    const auto* parse_error = dictionary.FindExact("Unable to parse data");
    ASSERT_NE(parse_error, nullptr);
    EXPECT_EQ(kestrel::platform::WideToUtf8(*parse_error), file.parse_error);
    for (const char* text : {"No data for processing", "Data have been processed successfully",
                             "Data have been processed with errors"})
      EXPECT_NE(dictionary.FindExact(text), nullptr) << text;
    for (const std::string* text : message_texts)
      EXPECT_NE(dictionary.FindExact(*text), nullptr) << *text;
  }
}

} // namespace
