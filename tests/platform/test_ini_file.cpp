// Private-profile files written the Windows way: CR LF endings, comments, several
// sections, names in any case.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QFile>

#include "platform/code_page.h"
#include "platform/ini_file.h"
#include "support/platform_env.h"

using namespace platform;
using platform_test::ScopedDrives;
using platform_test::ScopedEnv;
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

// The bytes of a text in UTF-16 with its byte order mark.
QByteArray Utf16(const QString& text, bool littleEndian) {
  QByteArray bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
  for (QChar c : text) {
    const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xFF);
    bytes += littleEndian ? QByteArray(1, low) + high : QByteArray(1, high) + low;
  }
  return bytes;
}

const QString kMusica = QString::fromUtf8("C:\\M\xC3\x9ASICA\\");          // "MÚSICA"
const QString kMuzyka = QString::fromUtf8("C:\\\xD0\x9C\xD0\xA3\xD0\x97\\");  // "МУЗ"

TEST(ProfileText, ReadsWithoutRegardToCaseAndTrimsValues) {
  const struct {
    QByteArray text;
    const char* section;
    const char* key;
    QString expected;
    unsigned codePage = CodePageUtf8;
  } cases[] = {
      {kWindowsFile, "Paths", "Import", "C:\\OLD\\"},
      {kWindowsFile, " PATHS ", "import", "C:\\OLD\\"},
      {kWindowsFile, "paths", "Export", "D:\\OUT\\"},   // blanks around "=" and the value dropped
      {kWindowsFile, "Colors", "Import", "red"},         // same key, other section
      {kWindowsFile, "General", "Language", "English"},
      {kWindowsFile, "Paths", "Missing", "<default>"},
      {kWindowsFile, "Nowhere", "Import", "<default>"},
      {kWindowsFile, "Paths", ";Import", "<default>"},  // comments are no keys
      // Line ends: CR alone, and CR CR LF.
      {"[Paths]\rA=1\rImport=C:\\CR\\\r", "Paths", "Import", "C:\\CR\\"},
      {"[X]\r\r\nImport=x\r\r\n[Paths]\r\r\nImport=C:\\CRCRLF\\\r\r\n", "Paths", "Import",
       "C:\\CRCRLF\\"},
      // A header runs to the last "]" of its line; without "]" it heads no section.
      {"[Paths] ;[old]\r\nImport=C:\\A\\\r\n", "Paths", "Import", "<default>"},
      {"[Paths] ; old\r\nImport=C:\\A\\\r\n", "Paths", "Import", "C:\\A\\"},
      {"[Paths\r\nImport=C:\\A\\\r\n", "Paths", "Import", "<default>"},
      // The first key counts even when it is bare, and a bare key has no value.
      {"[Paths]\r\n Import \r\nImport=C:\\A\\\r\n", "Paths", "Import", "<default>"},
      // Tab, VT, FF, 0x1A and blanks are trimmed.
      {"\t[Paths]\x1A\r\n\v\fImport\t=\x1A C:\\A\\ \x1A\r\n\x1A", "Paths", "Import", "C:\\A\\"},
      // Without a byte order mark the file is in the host's ANSI code page.
      {"[Paths]\r\nImport=C:\\M\xDASICA\\\r\n", "Paths", "Import", kMusica, 1252},
      {"[Paths]\r\nImport=C:\\\xCC\xD3\xC7\\\r\n", "Paths", "Import", kMuzyka, 1251},
      // A byte the code page leaves undefined reads as the character of its number.
      {"[Paths]\r\nImport=a\x81" "b\r\n", "Paths", "Import", QString("a") + QChar(0x81) + "b", 1252},
      // CP1258 holds a letter back for a combining mark; it still comes before the hole.
      {"[Paths]\r\nImport=a\x81" "b\r\n", "Paths", "Import", QString("a") + QChar(0x81) + "b", 1258},
      {"[Paths]\r\nImport=C:\\\x95\x5C\\\r\n", "Paths", "Import",  // 0x5C trails a character
       QString::fromUtf8("C:\\\xE8\xA1\xA8\\"), 932},
      {"\xEF\xBB\xBF[Paths]\r\nImport=C:\\M\xC3\x9ASICA\\\r\n", "Paths", "Import", kMusica, 1252},
      {Utf16("[Paths]\r\nImport=" + kMuzyka + "\r\n", true), "Paths", "Import", kMuzyka, 1252},
      {Utf16("[Paths]\r\nImport=" + kMuzyka + "\r\n", false), "Paths", "Import", kMuzyka, 1252},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ProfileStringFromText(c.text, c.section, c.key, "<default>", c.codePage),
              c.expected)
        << c.text.toStdString() << " " << c.section << "/" << c.key;
}

TEST(ProfileText, AnsiCodePageFollowsTheLocale) {
  const struct {
    const char* locale;
    unsigned codePage;
  } cases[] = {
      {"en_US.UTF-8", 1252}, {"de_DE", 1252}, {"fr_FR.UTF-8", 1252}, {"es_ES@euro", 1252},
      {"C", 1252},           {"ru_RU.UTF-8", 1251}, {"ja_JP.UTF-8", 932}, {"pl_PL", 1250},
      {"zh_CN.UTF-8", 936},  {"zh_TW.UTF-8", 950},  {"sr_RS@latin", 1250}, {"sr_RS", 1251},
  };
  for (const auto& c : cases) EXPECT_EQ(AnsiCodePageOfLocale(QString(c.locale)), c.codePage) << c.locale;
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
    QString value;
    std::optional<QByteArray> expected;
    QByteArray text = kWindowsFile;
    unsigned codePage = CodePageUtf8;
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
      {"the first key is bare: it gets the value", "Paths", "Import", "C:\\NEW\\",
       "[Paths]\r\nImport=C:\\NEW\\\r\nImport=C:\\OLD\\\r\n",
       "[Paths]\r\nImport\r\nImport=C:\\OLD\\\r\n"},
      {"CR alone ends lines", "Paths", "Import", "C:\\NEW\\", "[Paths]\rA=1\rImport=C:\\NEW\\\r",
       "[Paths]\rA=1\r"},
      {"CR CR LF ends lines; new lines get CR LF", "Paths", "Import", "C:\\NEW\\",
       "[Paths]\r\r\nA=1\r\r\nImport=C:\\NEW\\\r\n\r\r\n[Z]\r\r\n",
       "[Paths]\r\r\nA=1\r\r\n\r\r\n[Z]\r\r\n"},
      {"a header with a later \"]\" is another section", "Paths", "Import", "C:\\NEW\\",
       "[Paths] ;[old]\r\nImport=C:\\OLD\\\r\n[Paths]\r\nImport=C:\\NEW\\\r\n",
       "[Paths] ;[old]\r\nImport=C:\\OLD\\\r\n"},
      {"the ANSI code page", "Paths", "Import", kMusica, "[Paths]\r\nImport=C:\\M\xDASICA\\\r\n", "",
       1252},
      {"a folder the code page cannot spell", "Paths", "Import", kMuzyka, std::nullopt,
       "[Paths]\r\nImport=C:\\OLD\\\r\n", 1252},
      {"another code page", "Paths", "Import", kMuzyka, "[Paths]\r\nImport=C:\\\xCC\xD3\xC7\\\r\n",
       "", 1251},
      {"a UTF-8 mark keeps the file UTF-8", "Paths", "Import", kMuzyka,
       "\xEF\xBB\xBF[Paths]\r\nImport=" + kMuzyka.toUtf8() + "\r\n", "\xEF\xBB\xBF[Paths]\r\nImport=x\r\n",
       1252},
      {"UTF-16 stays UTF-16", "Paths", "Import", kMuzyka,
       Utf16("[Paths]\r\nImport=" + kMuzyka + "\r\n", true), Utf16("[Paths]\r\nImport=x\r\n", true),
       1252},
      {"broken UTF-16 is not rewritten", "Paths", "Import", "C:\\", std::nullopt,
       Utf16(QString("[Paths]\r\n") + QChar(0xD800) + "x\r\n", true), 1252},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ProfileTextWithValue(c.text, c.section, c.key, c.value, c.codePage), c.expected)
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

TEST_F(ProfileFiles, UnderWineTheFileIsInTheLocalesAnsiCodePage) {
  ScopedEnv prefix("IMPORTDLG_WINEPREFIX", tree_.Path("prefix"));
  ScopedEnv locale("LC_ALL", QString("es_ES.UTF-8"));
  ASSERT_TRUE(WritePrivateProfileString("Paths", "Import", kMusica, "C:\\sys\\tolva.ini"));
  EXPECT_EQ(tree_.ReadFile("sys/tolva.ini"), "[Paths]\r\nImport=C:\\M\xDASICA\\\r\n");
  EXPECT_EQ(GetPrivateProfileString("Paths", "Import", "", "C:\\sys\\tolva.ini"), kMusica);
  // No spelling in 1252: refused, the file as it was.
  EXPECT_FALSE(WritePrivateProfileString("Paths", "Import", kMuzyka, "C:\\sys\\tolva.ini"));
  EXPECT_EQ(tree_.ReadFile("sys/tolva.ini"), "[Paths]\r\nImport=C:\\M\xDASICA\\\r\n");
  ScopedEnv russian("LC_ALL", QString("ru_RU.UTF-8"));
  ASSERT_TRUE(WritePrivateProfileString("Paths", "Import", kMuzyka, "C:\\sys\\tolva.ini"));
  EXPECT_EQ(tree_.ReadFile("sys/tolva.ini"), "[Paths]\r\nImport=C:\\\xCC\xD3\xC7\\\r\n");
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
