#include "settings/text_encoding.h"

#include <gtest/gtest.h>

namespace {

using kestrel::settings::DecodeSettingsText;
using kestrel::settings::EncodeSettingsText;

TEST(TextEncoding, KeepsSpacesSignsBreaksAndNonAsciiThroughTheRoundTrip) {
  // Leading run, doubled space, a final space, "%", "+", CR LF and a Latin-1 letter (ANSI
  // code page 1252: 0xE9 is U+00E9, C3 A9 in UTF-8).
  const std::string text = "  a  b %+\r\nd\xE9 ";
  const std::string stored = EncodeSettingsText(text);
  EXPECT_EQ(stored, "++a+ b %%%2B%0D%0Ad%C3%A9+");
  EXPECT_EQ(DecodeSettingsText(stored), text);
  for (const std::string sample : {"", " ", "x", "100%", "a+b", "tab\there", "[[Null]]"})
    EXPECT_EQ(DecodeSettingsText(EncodeSettingsText(sample)), sample) << sample;
}

TEST(TextEncoding, ReadsWhatOtherWritersLeft) {
  EXPECT_EQ(DecodeSettingsText("50% off"), "50% off");       // "%" without two digits stays
  EXPECT_EQ(DecodeSettingsText("%4a%4A"), "JJ");             // either case of digits
  EXPECT_EQ(DecodeSettingsText("caf\xE9+%25"), "caf\xE9 %"); // code-page bytes kept as they are
  EXPECT_EQ(DecodeSettingsText("%"), "%");
  // Escaped bytes that are no UTF-8 were written in a code page: taken as they are, never "?".
  EXPECT_EQ(DecodeSettingsText("caf%E9"), "caf\xE9");
  EXPECT_EQ(DecodeSettingsText("%C3%A9%E9"), "\xC3\xA9\xE9"); // valid, then a stray byte
  EXPECT_EQ(DecodeSettingsText("%ED%A0%80"), "\xED\xA0\x80"); // a surrogate is no UTF-8
  EXPECT_EQ(DecodeSettingsText("%C0%AF"), "\xC0\xAF");        // nor an overlong form
}

} // namespace
