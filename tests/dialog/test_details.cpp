// Selection details: the "File Information" labels, the notice panel, Import and Copy to
// Disk, the Properties menu and the preview area.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QAbstractItemView>
#include <QDateTime>
#include <QFile>
#include <QTest>

#include "dialog/form.h"
#include "dialog/form_pictures.h"
#include "support/dialog_env.h"

using dialog_test::ClickEmpty;
using dialog_test::ClickEntry;
using dialog_test::DialogWorld;

namespace {

// Opens the dialog on C:\D\ of a world where the test has put its files.
TForm1* OpenOnFolder(DialogWorld& world) {
  world.WriteSettings("[Paths]\r\nImport=C:\\D\\\r\n");
  return world.Open();
}

void ExpectCleared(TForm1* form, const char* when) {
  EXPECT_EQ(form->Label5->text(), QString()) << when;
  EXPECT_EQ(form->Label7->text(), QString()) << when;
  EXPECT_EQ(form->Label9->text(), QString()) << when;
  EXPECT_EQ(form->labelfilename, QString()) << when;
  EXPECT_FALSE(form->dopen->isEnabled()) << when;
  EXPECT_FALSE(form->dcopyit->isEnabled()) << when;
}

TEST(Details, ClickedFileShowsNameSizeAndDate) {
  DialogWorld world;
  const struct {
    const char* name;
    qint64 size;
    const char* shown;
  } cases[] = {
      {"zero.bmp", 0, "0.0 Kb"},
      {"small.bmp", 1023, "1.0 Kb"},
      {"odd.bmp", 1075, "1.0 Kb"},
      {"half.bmp", 1536, "1.5 Kb"},
      {"mega.bmp", 1048576, "1,024.0 Kb"},
  };
  world.tree.MakeDir(QStringLiteral("c/D"));
  for (const auto& c : cases) {
    world.tree.WriteFile(QStringLiteral("c/D/") + QLatin1String(c.name), QByteArray(c.size, 'x'));
    world.tree.SetTime(QStringLiteral("c/D/") + QLatin1String(c.name), 2021, 3, 4, 17, 6, 7);
  }
  TForm1* form = OpenOnFolder(world);
  ExpectCleared(form, "at start");
  for (const auto& c : cases) {
    const QString name = QString::fromUtf8(c.name);
    ClickEntry(*form, name);
    EXPECT_EQ(form->Label5->text(), name);
    EXPECT_EQ(form->Label7->text(), QString::fromUtf8(c.shown)) << c.name;
    // Two-second stamp: 17:06:07 shows as 17:06:06.
    EXPECT_EQ(form->Label9->text(), QStringLiteral("3/4/21 5:06:06 PM")) << c.name;
    EXPECT_EQ(form->labelfilename, QStringLiteral("C:\\D\\") + name);
    EXPECT_EQ(form->fstate->panel(2), QStringLiteral("C:\\D\\") + name);
    EXPECT_TRUE(form->dopen->isEnabled());
    EXPECT_TRUE(form->dcopyit->isEnabled());
  }
}

TEST(Details, FilesOfTwoGigabytesAndMoreShowTheirRealSize) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("c/D"));
  const qint64 size = (qint64(3) << 30) + 512;  // sparse: takes no room on the disk
  {
    QFile file(world.tree.Path(QStringLiteral("c/D/huge.tga")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(size));
  }
  TForm1* form = OpenOnFolder(world);
  EXPECT_EQ(form->files->items()[0].subitems[0], QStringLiteral("3145728 KB"));
  EXPECT_EQ(form->fstate->panel(1), QStringLiteral("3.07E3 MByte"));
  ClickEntry(*form, QStringLiteral("huge.tga"));
  EXPECT_EQ(form->Label7->text(), QStringLiteral("3,145,728.5 Kb"));
  form->menuitemClick();
  ASSERT_EQ(world.prompts.messages.size(), 1u);
  EXPECT_EQ(world.prompts.messages[0].text,
            QStringLiteral("This is the file called C:\\D\\huge.tga\r\nIts size is 3221225984 Byte(s)"));
}

TEST(Details, MidnightShowsTheDateAlone) {
  DialogWorld world;
  world.tree.WriteFile(QStringLiteral("c/D/exact.bmp"));
  world.tree.WriteFile(QStringLiteral("c/D/second.bmp"));
  world.tree.SetTime(QStringLiteral("c/D/exact.bmp"), 2020, 12, 31, 0, 0, 0);
  world.tree.SetTime(QStringLiteral("c/D/second.bmp"), 2020, 12, 31, 0, 0, 1);
  TForm1* form = OpenOnFolder(world);
  for (const char* name : {"exact.bmp", "second.bmp"}) {
    ClickEntry(*form, QString::fromUtf8(name));
    EXPECT_EQ(form->Label9->text(), QStringLiteral("12/31/20")) << name;
  }
}

TEST(Details, FilesThatCannotBeReadShowTheirSizeAndDate) {
  DialogWorld world;
  const struct {
    const char* name;
    QFile::Permissions permissions;
  } cases[] = {
      {"locked.gif", QFile::ReadOwner | QFile::ReadOther},
      {"unreadable.gif", {}},
  };
  for (const auto& c : cases) {
    const QString path = QStringLiteral("c/D/") + QLatin1String(c.name);
    world.tree.WriteFile(path, QByteArray(2048, 'g'));
    world.tree.SetTime(path, 2021, 3, 4, 17, 6, 7);
    QFile::setPermissions(world.tree.Path(path), c.permissions);
  }
  TForm1* form = OpenOnFolder(world);
  for (const auto& c : cases) {
    ClickEntry(*form, QLatin1String(c.name));
    EXPECT_EQ(form->Label7->text(), QStringLiteral("2.0 Kb")) << c.name;
    EXPECT_EQ(form->Label9->text(), QStringLiteral("3/4/21 5:06:06 PM")) << c.name;
  }
}

TEST(Details, SizeAndDateOfAVanishedFileOrAPipeAreLeftEmpty) {
  DialogWorld world;
  world.tree.WriteFile(QStringLiteral("c/D/gone.pcx"), "pcx");
  world.tree.WriteFile(QStringLiteral("c/D/swap.bmp"), "bmp");
  TForm1* form = OpenOnFolder(world);
  ASSERT_TRUE(QFile::remove(world.tree.Path(QStringLiteral("c/D/gone.pcx"))));
  // A pipe put in a file's place would block an open until some other program wrote to it.
  const QByteArray pipe = QFile::encodeName(world.tree.Path(QStringLiteral("c/D/swap.bmp")));
  ASSERT_TRUE(QFile::remove(QString::fromLocal8Bit(pipe)));
  ASSERT_EQ(mkfifo(pipe.constData(), 0600), 0);
  for (const char* name : {"gone.pcx", "swap.bmp"}) {
    ClickEntry(*form, QLatin1String(name));
    EXPECT_EQ(form->Label5->text(), QLatin1String(name));
    EXPECT_EQ(form->Label7->text(), QString()) << name;
    EXPECT_EQ(form->Label9->text(), QString()) << name;
    EXPECT_TRUE(form->dopen->isEnabled());
    EXPECT_TRUE(form->dcopyit->isEnabled());
  }
  ClickEntry(*form, QStringLiteral("gone.pcx"));
  form->menuitemClick();
  ASSERT_EQ(world.prompts.messages.size(), 1u);
  EXPECT_EQ(world.prompts.messages[0].text, QStringLiteral("Sorry, but the file doesn't exist ?!"));
}

TEST(Details, FolderDriveAndEmptyClicksClearTheDetails) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("c/D/inner"));
  world.tree.WriteFile(QStringLiteral("c/D/a.bmp"), "a");
  TForm1* form = OpenOnFolder(world);
  ClickEntry(*form, QStringLiteral("a.bmp"));
  ASSERT_TRUE(form->dopen->isEnabled());
  ClickEntry(*form, QStringLiteral("inner"));
  ExpectCleared(form, "after a folder");
  EXPECT_EQ(form->fstate->panel(2), QStringLiteral("C:\\D\\inner"));

  ClickEntry(*form, QStringLiteral("a.bmp"));
  ClickEmpty(*form);
  ExpectCleared(form, "after the empty part");
  EXPECT_EQ(form->files->selected(), nullptr);
  EXPECT_EQ(form->fstate->panel(2), QStringLiteral("C:\\D\\a.bmp"));

  form->currentpath = QStringLiteral("Drives");
  form->setfiles();
  form->files->setselectedindex(1);
  form->filesClick();
  ExpectCleared(form, "after a drive");
  EXPECT_EQ(form->fstate->panel(2), QStringLiteral("C:\\"));
}

TEST(Details, KeyboardMovesUpdateTheDetails) {
  DialogWorld world;
  world.tree.WriteFile(QStringLiteral("c/D/a.bmp"), "a");
  world.tree.WriteFile(QStringLiteral("c/D/b.bmp"), QByteArray(1536, 'b'));
  TForm1* form = OpenOnFolder(world);
  ClickEntry(*form, QStringLiteral("a.bmp"));
  QTest::keyClick(form->files->currentview(), Qt::Key_Down);
  EXPECT_EQ(form->labelfilename, QStringLiteral("C:\\D\\b.bmp"));
  EXPECT_EQ(form->Label7->text(), QStringLiteral("1.5 Kb"));
}

TEST(Details, LongNamesWrapInTheNameField) {
  DialogWorld world;
  const QString name = QStringLiteral("a rather long file name that needs two lines.bmp");
  world.tree.WriteFile(QStringLiteral("c/D/") + name);
  TForm1* form = OpenOnFolder(world);
  ClickEntry(*form, name);
  EXPECT_EQ(form->Label5->text(), name);
  EXPECT_EQ(form->Label5->size(), QSize(185, 25));
  EXPECT_TRUE(form->Label5->wordWrap());
  EXPECT_GT(form->Label5->heightForWidth(185), form->Label5->fontMetrics().height());
}

TEST(Details, PropertiesDescribeTheSelectedEntry) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("c/D/sub"));
  world.tree.WriteFile(QStringLiteral("c/D/sub/inside.bmp"));
  world.tree.WriteFile(QStringLiteral("c/D/half.bmp"), QByteArray(1536, 'h'));
  TForm1* form = OpenOnFolder(world);

  form->files->setselectedindex(-1);
  emit form->menu->aboutToShow();
  EXPECT_FALSE(form->menuitem->isEnabled());

  const struct {
    const char* caption;
    const char* text;
  } cases[] = {
      {"sub", "This is a directory.\r\nDoubleclick this item to browse ."},
      {"half.bmp", "This is the file called C:\\D\\half.bmp\r\nIts size is 1536 Byte(s)"},
  };
  for (const auto& c : cases) {
    world.prompts.messages.clear();
    form->files->setselectedindex(dialog_test::IndexOf(*form, QString::fromUtf8(c.caption)));
    emit form->menu->aboutToShow();
    EXPECT_TRUE(form->menuitem->isEnabled());
    form->menuitem->trigger();
    ASSERT_EQ(world.prompts.messages.size(), 1u) << c.caption;
    EXPECT_EQ(world.prompts.messages[0].text, QString::fromUtf8(c.text));
    EXPECT_EQ(world.prompts.messages[0].kind, platform::MessageKind::Plain);
  }
  world.prompts.messages.clear();
  form->currentpath = QStringLiteral("Drives");
  form->setfiles();
  form->files->setselectedindex(0);
  form->menuitem->trigger();
  ASSERT_EQ(world.prompts.messages.size(), 1u);
  EXPECT_EQ(world.prompts.messages[0].text,
            QStringLiteral("This is a drive.\r\nDoubleclick this item to browse its root-directory."));
}

TEST(Details, PreviewShowsTheIllustrationOnTheFormsGround) {
  DialogWorld world;
  TForm1* form = world.Open();
  const QImage shown = form->PaintBox3->grab().toImage();
  ASSERT_EQ(shown.size(), QSize(160, 140));
  const QColor ground = form->palette().color(QPalette::Window);
  EXPECT_EQ(QColor(shown.pixel(0, 0)), ground);
  EXPECT_EQ(QColor(shown.pixel(159, 139)), ground);
  int drawn = 0;
  for (int y = 0; y < 140; ++y) {
    for (int x = 0; x < 160; ++x) drawn += QColor(shown.pixel(x, y)) != ground;
  }
  EXPECT_GT(drawn, 160 * 140 / 4);

  // A picture drawn once stays only until the next repaint.
  QImage picture(40, 30, QImage::Format_RGB32);
  picture.fill(Qt::magenta);
  form->PaintBox3->drawonce(picture);
  EXPECT_EQ(QColor(form->PaintBox3->grab().toImage().pixel(0, 0)), ground);
}

}  // namespace
