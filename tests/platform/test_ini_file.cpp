// Private-profile files written the Windows way: CR LF endings, comments, several
// sections, names in any case.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QFile>

#include "platform/ini_file.h"
#include "support/platform_env.h"

using namespace platform;
using platform_test::ScopedDrives;
using platform_test::TempTree;

namespace {

// A settings file as a Windows program leaves it.
const QByteArray kWindowsFile =
    "; settings of the drawing program\r\n"
    "[General]\r\n"
    "Language=English\r\n"
    "\r\n"
    "[paths]\r\n"
    "Export = D:\\OUT\\ \r\n"
    "IMPORT=C:\\OLD\\\r\n"
    ";Import=C:\\COMMENTED\\\r\n"
    "\r\n"
    "[Colors]\r\n"
    "Import=red\r\n";

TEST(ProfileText, ReadsWithoutRegardToCaseAndTrimsValues) {
  const struct {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"Paths", "Import", "C:\\OLD\\"},
      {" PATHS ", "import", "C:\\OLD\\"},
      {"paths", "Export", "D:\\OUT\\"},   // blanks around "=" and the value dropped
      {"Colors", "Import", "red"},         // same key, other section
      {"General", "Language", "English"},
      {"Paths", "Missing", "<default>"},
      {"Nowhere", "Import", "<default>"},
      {"Paths", ";Import", "<default>"},  // comments are no keys
  };
  for (const auto& c : cases)
    EXPECT_EQ(ProfileStringFromText(kWindowsFile, c.section, c.key, "<default>"), c.expected)
        << c.section << "/" << c.key;
}

TEST(ProfileText, QuotesAroundAValueAreDropped) {
  const QByteArray text = "[A]\nq=\"C:\\My Pictures\\\"\nr='x'\ns=\"unbalanced\n";
  EXPECT_EQ(ProfileStringFromText(text, "A", "q", ""), "C:\\My Pictures\\");
  EXPECT_EQ(ProfileStringFromText(text, "A", "r", ""), "x");
  EXPECT_EQ(ProfileStringFromText(text, "A", "s", ""), "\"unbalanced");
}

TEST(ProfileText, WritesChangeOneLineAndKeepTheRest) {
  const struct {
    const char* name;
    const char* section;
    const char* key;
    const char* value;
    QByteArray expected;
  } cases[] = {
      {"replace keeps the key's spelling", "Paths", "Import", "C:\\NEW\\",
       "; settings of the drawing program\r\n"
       "[General]\r\n"
       "Language=English\r\n"
       "\r\n"
       "[paths]\r\n"
       "Export = D:\\OUT\\ \r\n"
       "IMPORT=C:\\NEW\\\r\n"
       ";Import=C:\\COMMENTED\\\r\n"
       "\r\n"
       "[Colors]\r\n"
       "Import=red\r\n"},
      {"a new key follows the section's last line", "PATHS", "Recent", "E:\\",
       "; settings of the drawing program\r\n"
       "[General]\r\n"
       "Language=English\r\n"
       "\r\n"
       "[paths]\r\n"
       "Export = D:\\OUT\\ \r\n"
       "IMPORT=C:\\OLD\\\r\n"
       ";Import=C:\\COMMENTED\\\r\n"
       "Recent=E:\\\r\n"
       "\r\n"
       "[Colors]\r\n"
       "Import=red\r\n"},
      {"a new section goes at the end", "Window", "Left", "10",
       kWindowsFile + "[Window]\r\nLeft=10\r\n"},
      {"line breaks in a value cannot add lines", "Colors", "Import", "a\r\n[Evil]\nx=1",
       kWindowsFile.left(kWindowsFile.size() - 5) + "a  [Evil] x=1\r\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ProfileTextWithValue(kWindowsFile, c.section, c.key, c.value), c.expected)
        << c.name;
}

TEST(ProfileText, EndingsFollowTheFile) {
  // Unix endings stay Unix; a last line without ending gets one before the new line.
  EXPECT_EQ(ProfileTextWithValue("[Paths]\nA=1", "paths", "Import", "C:\\"),
            "[Paths]\nA=1\nImport=C:\\\n");
  EXPECT_EQ(ProfileTextWithValue("[Other]\nA=1", "Paths", "Import", "C:\\"),
            "[Other]\nA=1\n[Paths]\nImport=C:\\\n");
  EXPECT_EQ(ProfileTextWithValue("", "Paths", "Import", "C:\\X\\"),
            "[Paths]\r\nImport=C:\\X\\\r\n");
  // A byte order mark stays, and the first section is still found after it.
  EXPECT_EQ(ProfileTextWithValue("\xEF\xBB\xBF[Paths]\r\nImport=a\r\n", "Paths", "Import", "b"),
            "\xEF\xBB\xBF[Paths]\r\nImport=b\r\n");
  // The value of a key that is the last line without an ending is replaced in place.
  EXPECT_EQ(ProfileTextWithValue("[Paths]\r\nImport=a", "Paths", "Import", "bb"),
            "[Paths]\r\nImport=bb");
}

TEST(ProfileText, OnlyTheFirstOccurrenceCounts) {
  const QByteArray text = "[P]\r\nk=1\r\nk=2\r\n[P]\r\nk=3\r\n";
  EXPECT_EQ(ProfileStringFromText(text, "p", "K", ""), "1");
  EXPECT_EQ(ProfileTextWithValue(text, "P", "k", "9"), "[P]\r\nk=9\r\nk=2\r\n[P]\r\nk=3\r\n");
}

class ProfileFiles : public ::testing::Test {
 protected:
  ProfileFiles() : drives_(QStringLiteral("C=%1").arg(tree_.root())) { tree_.MakeDir("sys"); }
  TempTree tree_;
  ScopedDrives drives_;
};

TEST_F(ProfileFiles, ReadAndWriteThroughWindowsPaths) {
  tree_.WriteFile("sys/tolva.ini", kWindowsFile);
  EXPECT_EQ(GetPrivateProfileString("Paths", "Import", "def", "C:\\SYS\\TOLVA.INI"), "C:\\OLD\\");
  ASSERT_TRUE(WritePrivateProfileString("Paths", "Import", "C:\\NEW\\", "c:\\sys\\tolva.ini"));
  QByteArray expected = kWindowsFile;
  expected.replace("IMPORT=C:\\OLD\\", "IMPORT=C:\\NEW\\");
  EXPECT_EQ(tree_.ReadFile("sys/tolva.ini"), expected);
  EXPECT_EQ(GetPrivateProfileString("paths", "import", "def", "C:\\sys\\tolva.ini"), "C:\\NEW\\");
}

TEST_F(ProfileFiles, MissingFileGivesTheDefaultAndIsCreatedByAWrite) {
  EXPECT_EQ(GetPrivateProfileString("Paths", "Import", "C:\\PROG\\", "C:\\sys\\tolva.ini"),
            "C:\\PROG\\");
  ASSERT_TRUE(WritePrivateProfileString("Paths", "Import", "C:\\PICS\\", "C:\\sys\\tolva.ini"));
  EXPECT_EQ(tree_.ReadFile("sys/tolva.ini"), "[Paths]\r\nImport=C:\\PICS\\\r\n");
  // Non-ASCII text survives the round trip.
  const QString value = QString::fromUtf8("C:\\\xC3\x89t\xC3\xA9\\");
  ASSERT_TRUE(WritePrivateProfileString("Paths", "Import", value, "C:\\sys\\tolva.ini"));
  EXPECT_EQ(GetPrivateProfileString("Paths", "Import", "", "C:\\sys\\tolva.ini"), value);
}

TEST_F(ProfileFiles, FailuresLeaveEverythingAsItWas) {
  // A missing folder, an unmapped drive, a folder in place of the file.
  EXPECT_FALSE(WritePrivateProfileString("Paths", "Import", "x", "C:\\nodir\\tolva.ini"));
  EXPECT_FALSE(QFile::exists(tree_.Path("nodir")));
  EXPECT_FALSE(WritePrivateProfileString("Paths", "Import", "x", "Q:\\tolva.ini"));
  tree_.MakeDir("sys/folder.ini");
  EXPECT_FALSE(WritePrivateProfileString("Paths", "Import", "x", "C:\\sys\\folder.ini"));
  EXPECT_EQ(GetPrivateProfileString("Paths", "Import", "d", "C:\\sys\\folder.ini"), "d");
  // Names the file could not give back are refused.
  tree_.WriteFile("sys/tolva.ini", kWindowsFile);
  EXPECT_FALSE(WritePrivateProfileString("Pa]ths", "Import", "x", "C:\\sys\\tolva.ini"));
  EXPECT_FALSE(WritePrivateProfileString("Paths", "Im=port", "x", "C:\\sys\\tolva.ini"));
  EXPECT_FALSE(WritePrivateProfileString("Paths", "", "x", "C:\\sys\\tolva.ini"));
  EXPECT_EQ(tree_.ReadFile("sys/tolva.ini"), kWindowsFile);
}

TEST_F(ProfileFiles, WritingKeepsTheFilePermissions) {
  tree_.WriteFile("sys/tolva.ini", kWindowsFile);
  const QByteArray path = QFile::encodeName(tree_.Path("sys/tolva.ini"));
  ASSERT_EQ(chmod(path.constData(), 0640), 0);
  ASSERT_TRUE(WritePrivateProfileString("Paths", "Import", "C:\\X\\", "C:\\sys\\tolva.ini"));
  struct stat st;
  ASSERT_EQ(stat(path.constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
