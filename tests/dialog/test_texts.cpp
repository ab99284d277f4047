// The dialog's text functions: size, size-column and detail-size texts, the sort
// comparison, the small character helpers and the error display's full stop.
#include <gtest/gtest.h>

#include <QLocale>

#include <random>

#include "dialog/error_display.h"
#include "dialog/file_list.h"
#include "dialog/texts.h"
#include "platform/date_time.h"
#include "support/dialog_env.h"

using namespace dialog;

namespace {

class PinnedLocale : public ::testing::Test {
 protected:
  void SetUp() override { Pin(QLocale(QLocale::English, QLocale::UnitedStates)); }
  void TearDown() override { platform::ResetUserLocale(); }
  static void Pin(const QLocale& locale) {
    QLocale::setDefault(locale);
    platform::SetUserLocale(locale);
  }
};

using SizeText = PinnedLocale;

TEST_F(SizeText, ByteCountsInGeneralFormat) {
  const struct {
    qint64 count;
    const char* text;
  } cases[] = {
      {-1, ""},
      {0, "0 Byte(s)"},
      {1, "1 Byte(s)"},
      {1023, "1023 Byte(s)"},
      {1024, "1 KByte"},
      {1536, "1.5 KByte"},
      {1152, "1.13 KByte"},  // 1.125: a half rounds up
      {10240, "10 KByte"},
      {1024000, "1E3 KByte"},
      {1023487, "999 KByte"},  // 999.499...
      {1023488, "1E3 KByte"},  // 999.5 rounds up into the next power of ten
      {1047552, "1.02E3 KByte"},
      {1048575, "1.02E3 KByte"},
      {1048576, "1 MByte"},
      {1500000000, "1.43E3 MByte"},
      {qint64(3) << 30, "3.07E3 MByte"},
      {qint64(1) << 40, "1.05E6 MByte"},
      {INT64_MAX, "8.8E12 MByte"},
  };
  for (const auto& c : cases) EXPECT_EQ(sizetext(c.count), QString::fromUtf8(c.text)) << c.count;
}

TEST_F(SizeText, UsesTheLocaleDecimalSeparator) {
  Pin(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(sizetext(1536), QStringLiteral("1,5 KByte"));
  EXPECT_EQ(sizetext(1047552), QStringLiteral("1,02E3 KByte"));
}

TEST(KbText, WholeKilobytesWithSmallFilesCountedAsOne) {
  const struct {
    qint64 size;
    bool directory;
    const char* text;
  } cases[] = {
      {0, false, "0 KB"},        {1, false, "1 KB"},       {1023, false, "1 KB"},
      {2047, false, "1 KB"},     {2048, false, "2 KB"},    {1048576, false, "1024 KB"},
      {qint64(5) << 30, false, "5242880 KB"},              {4096, true, ""},
      {0, true, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(kbtext(c.size, c.directory), QString::fromUtf8(c.text)) << c.size;
}

using DetailSize = PinnedLocale;

TEST_F(DetailSize, OneDecimalWithThousandsSeparators) {
  const struct {
    qint64 size;
    const char* text;
  } cases[] = {
      {0, "0.0 Kb"},
      {1023, "1.0 Kb"},
      {1075, "1.0 Kb"},
      {1536, "1.5 Kb"},
      {1048576, "1,024.0 Kb"},
      // Sizes of 2 GiB and more: a 32-bit count would turn these negative.
      {qint64(2) << 30, "2,097,152.0 Kb"},
      {(qint64(3) << 30) + 512, "3,145,728.5 Kb"},
      // Past eight significant digits the decimal becomes zero.
      {qint64(100) << 30, "104,857,600.0 Kb"},
      {(qint64(100) << 30) + 5119, "104,857,600.0 Kb"},
      {(qint64(100) << 30) + 5120, "104,857,610.0 Kb"},
  };
  for (const auto& c : cases) EXPECT_EQ(kbdetailtext(c.size), QString::fromUtf8(c.text)) << c.size;
}

TEST_F(DetailSize, FollowsTheLocaleSeparators) {
  Pin(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(kbdetailtext(1048576), QStringLiteral("1.024,0 Kb"));
}

TEST(CharHelpers, CountAndPosition) {
  const QString path = QStringLiteral("C:\\A\\B\\");
  EXPECT_EQ(countchar(QLatin1Char('\\'), path), 3);
  EXPECT_EQ(countchar(QLatin1Char('\\'), QString()), 0);
  EXPECT_EQ(nthcharpos(QLatin1Char('\\'), path, 1), 3);
  EXPECT_EQ(nthcharpos(QLatin1Char('\\'), path, 3), 7);
  EXPECT_EQ(nthcharpos(QLatin1Char('\\'), path, 4), 2147483647);
  EXPECT_EQ(nthcharpos(QLatin1Char('\\'), QString(), 1), 2147483647);
}

TEST(CharHelpers, UpperCaseOnlyAsciiLetters) {
  EXPECT_EQ(asciiupper(QString::fromUtf8("c:\\caf\xC3\xA9\\x.bmp")), QString::fromUtf8("C:\\CAF\xC3\xA9\\X.BMP"));
}

TEST(CharHelpers, ExtensionAndFileName) {
  const struct {
    const char* path;
    const char* extension;
    const char* name;
  } cases[] = {
      {"C:\\pics\\old.photo.bmp", ".bmp", "old.photo.bmp"},
      {"C:\\pics.d\\readme", "", "readme"},
      {"C:\\pics\\.hidden", ".hidden", ".hidden"},
      {"x.y:z", "", "z"},
      {"drawing.DXF", ".DXF", "drawing.DXF"},
      {"C:\\dir.\\", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(extensionof(QString::fromUtf8(c.path)), QString::fromUtf8(c.extension)) << c.path;
    EXPECT_EQ(filenamepart(QString::fromUtf8(c.path)), QString::fromUtf8(c.name)) << c.path;
  }
}

ListEntry Entry(const char* caption, const char* size, const char* type, const char* date, const char* kind,
                const char* path) {
  ListEntry entry;
  entry.caption = QString::fromUtf8(caption);
  entry.subitems = {QString::fromUtf8(size), QString::fromUtf8(type), QString::fromUtf8(date),
                    QString::fromUtf8(kind), QString::fromUtf8(path)};
  return entry;
}

using Compare = PinnedLocale;

TEST_F(Compare, DirectoriesBeforeFilesWhateverTheKey) {
  const ListEntry dir = Entry("zeta", "", "File Folder", "1/1/20  1:00 AM", "dir", "C:\\zeta");
  const ListEntry file = Entry("alpha", "0 KB", "AI File", "1/1/19  1:00 AM", "file", "C:\\alpha");
  for (int k = 0; k <= 4; ++k) {
    EXPECT_EQ(compareentries(dir, file, k), -1) << k;
    EXPECT_EQ(compareentries(file, dir, k), 1) << k;
  }
}

TEST_F(Compare, KeysAsTheColumnsSortThem) {
  const ListEntry small = Entry("b.pcx", "9 KB", "PCX File", "2/1/21  1:00 AM", "file", "C:\\b.pcx");
  const ListEntry large = Entry("a.pcx", "10 KB", "PCX File", "10/1/21  1:00 AM", "file", "C:\\a.pcx");
  // Size: numeric through the zero padding, although "10 KB" < "9 KB" as text.
  EXPECT_EQ(compareentries(small, large, 0), -1);
  // Name (entry path): a.pcx first.
  EXPECT_EQ(compareentries(small, large, 4), 1);
  // Modified: text order of the date, so "10/1/21" comes before "2/1/21".
  EXPECT_EQ(compareentries(small, large, 2), 1);
  // Type equal: the upper-cased captions decide.
  EXPECT_EQ(compareentries(small, large, 1), 1);
  // Equal in everything: 0.
  EXPECT_EQ(compareentries(small, small, 3), 0);
  EXPECT_EQ(sortkey(small, 0), QByteArray("file0000009 KB"));
  EXPECT_EQ(sortkey(small, 3), QByteArray("file"));
}

TEST_F(Compare, NameKeyIsCaseSensitiveCaptionKeyIsNot) {
  const ListEntry lower = Entry("apple.bmp", "1 KB", "BMP File", "", "file", "C:\\apple.bmp");
  const ListEntry upper = Entry("Banana.bmp", "1 KB", "BMP File", "", "file", "C:\\Banana.bmp");
  EXPECT_EQ(compareentries(lower, upper, 4), 1);   // capitals before small letters
  EXPECT_EQ(compareentries(lower, upper, 3), -1);  // APPLE.BMP before BANANA.BMP
}

TEST_F(Compare, SortOrderAgreesWithTheComparison) {
  std::mt19937 random(7);
  const char* kinds[] = {"dir", "file"};
  const char* names[] = {"a", "B", "c", "a", "Zed", "zed", "10", "9", "", "m.pcx"};
  const char* sizes[] = {"", "0 KB", "1 KB", "10 KB", "9 KB", "1024 KB"};
  std::vector<ListEntry> entries;
  for (int i = 0; i < 300; ++i) {
    entries.push_back(Entry(names[random() % 10], sizes[random() % 6], names[random() % 10], names[random() % 10],
                            kinds[random() % 2], names[random() % 10]));
  }
  for (int k = 0; k <= 4; ++k) {
    const std::vector<int> order = sortorder(entries, k);
    ASSERT_EQ(order.size(), entries.size());
    for (size_t i = 1; i < order.size(); ++i) {
      const int c = compareentries(entries[size_t(order[i - 1])], entries[size_t(order[i])], k);
      EXPECT_LE(c, 0) << "k=" << k << " at " << i;
      if (c == 0) {
        EXPECT_LT(order[i - 1], order[i]) << "equal entries keep their order";
      }
    }
  }
}

TEST(ErrorDisplay, FullStopAfterCharactersBeyondThePoint) {
  const struct {
    const char* message;
    const char* shown;
  } cases[] = {
      {"Cannot open clipboard", "Cannot open clipboard."},
      {"Unable to write to C:\\SYS\\tolva.ini", "Unable to write to C:\\SYS\\tolva.ini."},
      {"Stream write error.", "Stream write error."},
      {"Unable to load picture!", "Unable to load picture!"},
      {"Why?", "Why?."},
      {"size (1)", "size (1)"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(errordisplaytext(QString::fromUtf8(c.message)), QString::fromUtf8(c.shown));
}

TEST(ErrorDisplay, HandlerErrorsReachTheBox) {
  platform::FakePrompts prompts;
  platform::ScopedPrompts scoped(&prompts);
  platform::SetApplicationTitle(QStringLiteral("Select File"));
  bool after = false;
  runhandler([] { throw DialogError(QStringLiteral("Cannot open clipboard")); });
  runhandler([&after] { after = true; });
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].kind, platform::MessageKind::ApplicationError);
  EXPECT_EQ(prompts.messages[0].caption, QStringLiteral("Select File"));
  EXPECT_EQ(prompts.messages[0].text, QStringLiteral("Cannot open clipboard."));
  EXPECT_TRUE(after);
}

TEST(ComboItems, LookOfTheFolderLevels) {
  const struct {
    const char* text;
    bool infield;
    const char* path;
    bool drives, open;
    int level, indent;
  } cases[] = {
      {"0:Drives", false, "Drives", true, false, 0, 0},
      {"T0:Drives", false, "Drives", true, true, 0, 0},
      {"1:C:\\", false, "C:\\", false, false, 1, 8},
      {"2:C:\\A\\", false, "C:\\A\\", false, false, 2, 16},
      {"T3:C:\\A\\B\\", false, "C:\\A\\B\\", false, true, 3, 24},
      {"T3:C:\\A\\B\\", true, "C:\\A\\B\\", false, true, 3, 0},
      {"12:C:\\1\\2\\3\\4\\5\\6\\7\\8\\9\\10\\11\\", false, "C:\\1\\2\\3\\4\\5\\6\\7\\8\\9\\10\\11\\", false, false, 12, 96},
  };
  for (const auto& c : cases) {
    const ComboItemLook look = comboitemlook(QString::fromUtf8(c.text), c.infield);
    EXPECT_EQ(look.path, QString::fromUtf8(c.path)) << c.text;
    EXPECT_EQ(look.drives, c.drives) << c.text;
    EXPECT_EQ(look.open, c.open) << c.text;
    EXPECT_EQ(look.level, c.level) << c.text;
    EXPECT_EQ(look.indent, c.indent) << c.text;
  }
}

}  // namespace
