// Language files in a code page this system's converters do not know (Johab, on ICU).
#include "translation/language_file.h"

#include <gtest/gtest.h>

namespace {

using namespace kestrel::translation;

TEST(LanguageFile, TranslationsOfAnUnknownCodePageLeaveTheEnglishText) {
  const std::string text = "Charset=johab\r\n"
                           "EN:>No\r\nKO:>\x88\x61\r\n\r\n"
                           "Charset=windows-1251\r\n"
                           "EN:>Yes\r\nKO:>\xC4\xE0\r\n\r\n";
  TLanguageFileOptions options;
  TLanguageDictionary dictionary;
  std::vector<std::string> sources;
  EXPECT_EQ(ReadLanguageText(text, "EN", "KO", options, dictionary, &sources), 1u);
  EXPECT_EQ(sources, std::vector<std::string>{"Yes"});
  EXPECT_EQ(dictionary.FindExact("No"), nullptr);
  ASSERT_NE(dictionary.FindExact("Yes"), nullptr);
  EXPECT_EQ(*dictionary.FindExact("Yes"), kestrel::platform::WideString(u"\u0414\u0430"));
}

} // namespace
