#include "settings/big_ini_file.h"

#include "platform/files.h"
#include "settings_scratch.h"

#include <gtest/gtest.h>

namespace {

using kestrel::settings::TBigIniFile;
using kestrel::testing::ReadText;
using kestrel::testing::ScratchFolder;
using kestrel::testing::WriteText;

TEST(BigIniFile, ReadsSectionsAndEntriesByTheFileRules) {
  ScratchFolder folder;
  const std::string file = folder.File("a.ini");
  WriteText(file, "orphan=1\n[Common]\r\n  Name  =  a=b  \n\n[common]\nOther=2\n"
                  "no equals sign\n\x1A\n");
  TBigIniFile ini(file);
  std::string value;
  EXPECT_FALSE(ini.ReadString("", "orphan", &value));
  ASSERT_TRUE(ini.ReadString("COMMON", "name", &value));
  EXPECT_EQ(value, "a=b");
  ASSERT_TRUE(ini.ReadString("Common", "Other", &value)); // a repeated section joins the first
  EXPECT_EQ(value, "2");
  EXPECT_EQ(ini.MalformedLines(), std::vector<std::string>{"[Common] no equals sign"});
  EXPECT_FALSE(ini.Modified());
}

TEST(BigIniFile, WritesBackOnlyWhatChanged) {
  ScratchFolder folder;
  const std::string file = folder.File("b.ini");
  const std::string original = "[S]\nKeep = 1\nName=old\n";
  WriteText(file, original);
  {
    TBigIniFile ini(file);
    ini.WriteString("s", "keep", "1"); // same value: nothing to write
    ASSERT_TRUE(ini.UpdateFile());
  }
  EXPECT_EQ(ReadText(file), original);

  TBigIniFile ini(file);
  ini.WriteString("S", "Name", "new");
  ini.WriteString("S", "Added", "x");
  ini.WriteString("Translation", "Map0", "y");
  ini.DeleteKey("S", "Keep");
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(ReadText(file), "[S]\r\nName=new\r\nAdded=x\r\n\r\n[Translation]\r\nMap0=y\r\n\r\n");
}

TEST(BigIniFile, KeepsTheLinesBeforeTheFirstSection) {
  ScratchFolder folder;
  const std::string file = folder.File("lead.ini");
  WriteText(file, "\xEF\xBB\xBF; written by hand\nversion=2\n\n[S]\nName=old\n");
  TBigIniFile ini(file);
  std::string value;
  EXPECT_FALSE(ini.ReadString("", "version", &value)); // no entry of any section
  ini.WriteString("S", "Name", "new");
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(ReadText(file),
            "\xEF\xBB\xBF; written by hand\r\nversion=2\r\n[S]\r\nName=new\r\n\r\n");
}

TEST(BigIniFile, ALeadingLineThatLooksLikeAByteOrderMarkReadsBackTheSame) {
  ScratchFolder folder;
  const std::string file = folder.File("mark.ini");
  for (const std::string mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"}) {
    // Blanks before the bytes are trimmed on reading, so the written line starts with them.
    WriteText(file, " " + mark + "\n[S]\nName=old\n");
    TBigIniFile ini(file);
    ini.WriteString("S", "Name", "new");
    ASSERT_TRUE(ini.UpdateFile());
    const TBigIniFile again(file);
    EXPECT_EQ(again.Problem(), "");
    EXPECT_EQ(again.Text(), ini.Text());
  }
}

TEST(BigIniFile, AFileThatIsNoIniFileIsNeverWritten) {
  ScratchFolder folder;
  // UTF-16 with its byte order mark, UTF-16 without one, and binary data.
  for (const std::string& text : {std::string("\xFF\xFE[\0S\0]\0\r\0\n\0a\0=\0"
                                              "1\0",
                                              18),
                                  std::string("[\0S\0]\0\r\0\n\0", 10),
                                  std::string("\x7F"
                                              "ELF\x02\x01\x01\0\0\0",
                                              10)}) {
    const std::string file = folder.File("foreign.ini");
    WriteText(file, text);
    TBigIniFile ini(file);
    EXPECT_TRUE(ini.FileFound());
    EXPECT_NE(ini.Problem().find(file), std::string::npos) << ini.Problem();
    std::string value;
    EXPECT_FALSE(ini.ReadString("S", "a", &value));
    ini.WriteString("S", "a", "2");
    std::string error;
    EXPECT_FALSE(ini.UpdateFile(&error));
    EXPECT_EQ(error, ini.Problem());
    EXPECT_EQ(ReadText(file), text);
  }
}

TEST(BigIniFile, FailedWriteKeepsThePreviousFile) {
  ScratchFolder folder;
  const std::string file = folder.File("c.ini");
  WriteText(file, "[S]\nName=old\n");
  TBigIniFile ini(file);
  ini.WriteString("S", "Name", "new");
  kestrel::platform::FailFileReplacementForTesting(true);
  std::string error;
  const bool written = ini.UpdateFile(&error);
  kestrel::platform::FailFileReplacementForTesting(false);
  EXPECT_FALSE(written);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadText(file), "[S]\nName=old\n");
  EXPECT_FALSE(kestrel::platform::FileExists(file + ".~kestrel"));

  // A file in a folder that does not exist cannot be written either.
  TBigIniFile nowhere(folder.File("missing/d.ini"));
  EXPECT_FALSE(nowhere.FileFound());
  nowhere.WriteString("S", "N", "v");
  EXPECT_FALSE(nowhere.UpdateFile());
}

} // namespace
