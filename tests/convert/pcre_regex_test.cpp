#include "convert/pcre_regex.h"

#include <gtest/gtest.h>

#include <pcre.h>

namespace {

using namespace kestrel::convert::PcreRegex;
using CO = TPcreCompileOption;
using MO = TPcreMatchOption;

TEST(PcreRegex, DefaultsAreCaselessAndDotAll) {
  TPcreRegex re;
  EXPECT_EQ(re.CompileOptionBits(), 5u);
  EXPECT_EQ(re.MatchOptionBits(), 0u);
  EXPECT_EQ(re.Options(), TPcreRegex::kDefaultOptions);
  EXPECT_EQ(re.MatchLimit(), 10000000u);
  EXPECT_EQ(re.MatchLimitRecursion(), 10000000u);
  EXPECT_EQ(re.MatchPattern(), "");
  EXPECT_EQ(re.LastResult(), -2);
  EXPECT_TRUE(re.CompileOptions() == (TPcreCompileOptions{CO::coCaseless, CO::coDotAll}));

  re.Reset();
  re.SetSubject("xABCx");
  EXPECT_EQ(re.LastResult(), -1);
  re.SetMatchPattern("abc");
  EXPECT_EQ(re.LastResult(), -2);
  EXPECT_EQ(re.Match(0), 1);
  EXPECT_EQ(re.CaptureVector()[0], 1);
  EXPECT_EQ(re.CaptureVector()[1], 4);
  re.SetMatchPattern("a.c");
  re.SetSubject("a\nc");
  EXPECT_EQ(re.Match(0), 1);
  EXPECT_EQ(re.Match(1), PCRE_ERROR_NOMATCH);
  EXPECT_EQ(re.Match(4), PCRE_ERROR_BADOFFSET);
}

TEST(PcreRegex, BadPatternsAndMissingPatternsNeverMatch) {
  TPcreRegex re;
  re.SetSubject("(((");
  EXPECT_LT(re.Match(0), -1); // no pattern yet
  re.SetMatchPattern("(");
  EXPECT_FALSE(re.Compiled());
  EXPECT_LT(re.Match(0), 0);
  re.SetMatchPattern("\\(");
  EXPECT_EQ(re.Match(0), 1);
}

TEST(PcreRegex, ResetRestoresDefaultsButKeepsTheSubject) {
  TPcreRegex re;
  re.SetCompileOptionBits(4);
  re.SetMatchOptionBits(PCRE_NOTBOL);
  re.SetMatchLimit(5);
  re.SetOptions({});
  re.SetSubject("Hello");
  re.SetMatchPattern("^h");
  EXPECT_EQ(re.Match(0), PCRE_ERROR_NOMATCH); // case-sensitive now, and not at BOL
  re.Reset();
  EXPECT_EQ(re.CompileOptionBits(), 5u);
  EXPECT_EQ(re.MatchOptionBits(), 0u);
  EXPECT_EQ(re.MatchLimit(), 10000000u);
  EXPECT_EQ(re.Options(), TPcreRegex::kDefaultOptions);
  EXPECT_EQ(re.MatchPattern(), "");
  EXPECT_FALSE(re.Compiled());
  EXPECT_EQ(re.Subject(), "Hello");
  re.SetMatchPattern("^h");
  EXPECT_EQ(re.Match(0), 1);
}

TEST(PcreRegex, CapturesLimitsAndMarks) {
  TPcreRegex re;
  re.SetSubject("key=value;");
  re.SetMatchPattern("(\\w+)=(\\w+)(x)?");
  EXPECT_EQ(re.CaptureVector().size(), 12u);
  EXPECT_EQ(re.Match(0), 3); // the third group did not take part
  EXPECT_EQ(re.CaptureVector()[4], 4);
  EXPECT_EQ(re.CaptureVector()[5], 9);

  // Without a capture vector a match reports 0.
  re.SetOptions({TPcreOption::poAutoStudy});
  re.SetMatchPattern("(\\w+)=(\\w+)");
  EXPECT_TRUE(re.CaptureVector().empty());
  EXPECT_EQ(re.Match(0), 0);

  re.SetOptions(TPcreRegex::kDefaultOptions);
  re.SetMatchPattern("(*MARK:left)a|(*MARK:right)b");
  re.SetSubject("xb");
  EXPECT_EQ(re.Match(0), 1);
  EXPECT_EQ(re.Mark(), "right");

  // A catastrophic pattern stops at the match limit instead of running away.
  re.SetMatchPattern("(a+)+$");
  re.SetSubject(std::string(30, 'a') + "b");
  re.SetMatchLimit(10000);
  EXPECT_EQ(re.Match(0), PCRE_ERROR_MATCHLIMIT);
  re.SetMatchLimit(10000000);
  re.SetMatchLimitRecursion(50);
  re.SetMatchPattern("(a|b)*c");
  re.SetSubject(std::string(1000, 'a'));
  EXPECT_EQ(re.Match(0), PCRE_ERROR_RECURSIONLIMIT);
  // Back at the default, no extra limit is passed and the same match just fails.
  re.SetMatchLimitRecursion(10000000);
  EXPECT_EQ(re.Match(0), PCRE_ERROR_NOMATCH);
}

TEST(PcreRegex, OptionSets) {
  TPcreRegex re;
  re.SetCompileOptions({CO::coMultiLine, CO::coNewLineCRLF, CO::coBSRUnicode, CO::coUTF8});
  EXPECT_EQ(re.CompileOptionBits(), static_cast<uint32_t>(PCRE_MULTILINE | PCRE_NEWLINE_CRLF |
                                                          PCRE_BSR_UNICODE | PCRE_UTF8));
  EXPECT_TRUE(re.CompileOptions() == (TPcreCompileOptions{CO::coMultiLine, CO::coNewLineCRLF,
                                                          CO::coBSRUnicode, CO::coUTF8}));
  try {
    re.SetCompileOptions({CO::coNewLineCR, CO::coNewLineLF});
    ADD_FAILURE() << "no error";
  } catch (const EPcreError& e) {
    EXPECT_STREQ(e.what(), "Invalid combination of newLine options");
  }
  try {
    re.SetMatchOptions({MO::moBSRAnyCRLF, MO::moBSRUnicode});
    ADD_FAILURE() << "no error";
  } catch (const EPcreError& e) {
    EXPECT_STREQ(e.what(), "Invalid combination of BSR options");
  }
  EXPECT_THROW(re.SetCompileOptions({CO::coBSRAnyCRLF, CO::coBSRUnicode}), EPcreError);
  EXPECT_THROW(re.SetMatchOptions({MO::moNewLineAny, MO::moNewLineAnyCRLF}), EPcreError);
  // A failed setter leaves the bits alone.
  EXPECT_TRUE(re.CompileOptions().Contains(CO::coNewLineCRLF));

  re.SetMatchOptions({MO::moNotEmpty, MO::moNewLineAnyCRLF});
  EXPECT_EQ(re.MatchOptionBits(), static_cast<uint32_t>(PCRE_NOTEMPTY | PCRE_NEWLINE_ANYCRLF));
  EXPECT_TRUE(re.MatchOptions().Contains(MO::moNewLineAnyCRLF));
  EXPECT_FALSE(re.MatchOptions().Contains(MO::moNewLineCR));
  re.SetCompileOptions({CO::coMultiLine});
  re.SetMatchPattern("^b$");
  re.SetSubject("a\nb");
  EXPECT_EQ(re.Match(0), 1);
}

TEST(PcreRegex, CalloutsReachTheHandler) {
  TPcreRegex re;
  int calls = 0;
  re.SetOnCallOut([&](TPcreRegex& sender, void*) {
    EXPECT_EQ(&sender, &re);
    ++calls;
    return 0;
  });
  re.SetSubject("abc");
  re.SetMatchPattern("a(?C1)b");
  EXPECT_EQ(re.Match(0), 1);
  EXPECT_EQ(calls, 1);
}

TEST(PcreRegex, VersionIsTheLibrarys) {
  EXPECT_EQ(TPcreRegex::Version(), pcre_version());
  EXPECT_EQ(TPcreRegex::Version().rfind("8.", 0), 0u);
}

} // namespace
