// Folder listing: which entries appear, their texts, the sort orders, the drives
// pseudo-folder, the views, the status bar and the folder combo.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QListView>
#include <QPainter>
#include <QTableView>
#include <QTest>

#include "dialog/form.h"
#include "support/dialog_env.h"

using dialog_test::Captions;
using dialog_test::DialogWorld;
using dialog_test::EntryPaths;
using dialog_test::IndexOf;

namespace {

QStringList List(std::initializer_list<const char*> texts) {
  QStringList list;
  for (const char* text : texts) list << QString::fromUtf8(text);
  return list;
}

// Lists a folder of drive C: under the given file type.
void ListFolder(TForm1* form, const QString& path, int type = 0) {
  form->ComboBox2->setCurrentIndex(type);
  form->currentpath = path;
  form->ComboBox2Click();
}

const ListEntry& EntryNamed(TForm1* form, const char* caption) {
  const int index = IndexOf(*form, QString::fromUtf8(caption));
  EXPECT_GE(index, 0) << caption;
  return form->files->items()[size_t(std::max(index, 0))];
}

void ClickHeader(TForm1* form, int column) {
  QHeaderView* header = form->files->reportview()->horizontalHeader();
  const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

TEST(Listing, AllFilesListsKnownTypesOnlyFoldersFirst) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("c/pics/Sub"));
  world.tree.MakeDir(QStringLiteral("c/pics/album.bmp"));
  for (const char* name : {"readme.txt", "drawing.dxf", "photo.jpg", "scan.pcx", "clip.wmf", "logo.ai", "noext",
                           "old.photo.bmp", "photo.jpeg", "scan.tiff", ".secret.gif", "SHOUT.TGA"}) {
    world.tree.WriteFile(QStringLiteral("c/pics/") + QLatin1String(name), "x");
  }
  TForm1* form = world.Open();
  ListFolder(form, QStringLiteral("C:\\pics"));
  // Hidden files are listed; folders come first whatever their names look like.
  EXPECT_EQ(Captions(*form), List({"album.bmp", "Sub", ".secret.gif", "clip.wmf", "drawing.dxf", "logo.ai",
                                   "old.photo.bmp", "photo.jpeg", "photo.jpg", "scan.pcx", "scan.tiff", "SHOUT.TGA"}));
  EXPECT_EQ(form->currentpath, QStringLiteral("C:\\pics\\"));
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Select File to Import.. [C:\\pics]"));
  EXPECT_EQ(form->fstate->panel(0), QStringLiteral("12 Object(s)"));
  EXPECT_EQ(form->fstate->panel(1), QStringLiteral("10 Byte(s)"));
  EXPECT_TRUE(form->SpeedButton1->isEnabled());
  // The same folder listed again shows its trailing backslash.
  form->setfiles();
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Select File to Import.. [C:\\pics\\]"));
}

TEST(Listing, EntryTexts) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("c/f/Folder"));
  world.tree.WriteFile(QStringLiteral("c/f/empty.bmp"));
  world.tree.WriteFile(QStringLiteral("c/f/one.bmp"), "1");
  world.tree.WriteFile(QStringLiteral("c/f/mega.pcx"), QByteArray(1048576, 'x'));
  world.tree.SetTime(QStringLiteral("c/f/one.bmp"), 2021, 3, 4, 17, 6, 7);
  TForm1* form = world.Open();
  ListFolder(form, QStringLiteral("C:\\f\\"));
  const struct {
    const char* caption;
    const char* size;
    const char* kind;
    const char* path;
  } cases[] = {
      {"Folder", "", "dir", "C:\\f\\Folder"},
      {"empty.bmp", "0 KB", "file", "C:\\f\\empty.bmp"},
      {"one.bmp", "1 KB", "file", "C:\\f\\one.bmp"},
      {"mega.pcx", "1024 KB", "file", "C:\\f\\mega.pcx"},
  };
  for (const auto& c : cases) {
    const ListEntry& entry = EntryNamed(form, c.caption);
    EXPECT_EQ(entry.subitems[0], QString::fromUtf8(c.size)) << c.caption;
    EXPECT_EQ(entry.subitems[3], QString::fromUtf8(c.kind)) << c.caption;
    EXPECT_EQ(entry.subitems[4], QString::fromUtf8(c.path)) << c.caption;
    EXPECT_GE(entry.imageindex, 0) << c.caption;
  }
  EXPECT_EQ(EntryNamed(form, "mega.pcx").subitems[1], QStringLiteral("PCX File"));
  EXPECT_EQ(EntryNamed(form, "one.bmp").subitems[2], QStringLiteral("3/4/21  5:06 PM"));
  EXPECT_EQ(form->fstate->panel(1), QStringLiteral("1 MByte"));
}

TEST(Listing, EmptyAndMissingFolders) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("c/empty"));
  TForm1* form = world.Open();
  for (const char* path : {"C:\\empty\\", "C:\\missing\\"}) {
    ListFolder(form, QString::fromUtf8(path));
    EXPECT_EQ(form->files->count(), 0) << path;
    EXPECT_EQ(form->fstate->panel(0), QStringLiteral("0 Object(s)")) << path;
    EXPECT_EQ(form->fstate->panel(1), QStringLiteral("0 Byte(s)")) << path;
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Select File to Import.. [") + QString::fromUtf8(path) + ']');
  }
  EXPECT_TRUE(world.prompts.messages.empty());
}

TEST(Listing, ByteTotalCountsOnlyListedFiles) {
  DialogWorld world;
  world.tree.WriteFile(QStringLiteral("c/t/a.bmp"), QByteArray(1000, 'a'));
  world.tree.WriteFile(QStringLiteral("c/t/b.bmp"), QByteArray(536, 'b'));
  world.tree.WriteFile(QStringLiteral("c/t/c.txt"), QByteArray(5000, 'c'));
  world.tree.WriteFile(QStringLiteral("c/t/d.pcx"), QByteArray(100, 'd'));
  TForm1* form = world.Open();
  ListFolder(form, QStringLiteral("C:\\t\\"));
  EXPECT_EQ(form->fstate->panel(1), QStringLiteral("1.6 KByte"));  // 1636 bytes: c.txt is not listed
  ListFolder(form, QStringLiteral("C:\\t\\"), 4);  // Windows Bitmap (*.bmp)
  EXPECT_EQ(form->fstate->panel(0), QStringLiteral("2 Object(s)"));
  EXPECT_EQ(form->fstate->panel(1), QStringLiteral("1.5 KByte"));
}

TEST(Listing, OnlyDirectoriesFlag) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("c/t/sub"));
  world.tree.WriteFile(QStringLiteral("c/t/a.bmp"));
  TForm1* form = world.Open();
  form->ch = true;  // set directly: its change handler is not the listing's
  ListFolder(form, QStringLiteral("C:\\t\\"));
  EXPECT_EQ(Captions(*form), List({"sub"}));
}

TEST(Listing, ColumnClicksSortByTheColumn) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("c/s/b"));
  world.tree.MakeDir(QStringLiteral("c/s/A"));
  world.tree.WriteFile(QStringLiteral("c/s/a.bmp"), QByteArray(10 * 1024, 'x'));
  world.tree.WriteFile(QStringLiteral("c/s/C.bmp"), QByteArray(9 * 1024, 'x'));
  world.tree.WriteFile(QStringLiteral("c/s/B.pcx"), QByteArray(100 * 1024, 'x'));
  world.tree.SetTime(QStringLiteral("c/s/a.bmp"), 2021, 2, 1, 0, 0, 0);
  world.tree.SetTime(QStringLiteral("c/s/C.bmp"), 2021, 10, 1, 0, 0, 0);
  world.tree.SetTime(QStringLiteral("c/s/B.pcx"), 2021, 3, 1, 0, 0, 0);
  world.tree.SetTime(QStringLiteral("c/s/A"), 2021, 1, 1, 0, 0, 0);
  world.tree.SetTime(QStringLiteral("c/s/b"), 2021, 1, 1, 0, 0, 0);
  TForm1* form = world.Open();
  QTest::mouseClick(form->SpeedButton4, Qt::LeftButton);
  ListFolder(form, QStringLiteral("C:\\s\\"));
  EXPECT_EQ(Captions(*form), List({"A", "b", "a.bmp", "B.pcx", "C.bmp"}));
  const struct {
    int column;
    QStringList order;
  } cases[] = {
      {0, List({"A", "b", "B.pcx", "C.bmp", "a.bmp"})},  // file system name, capitals first
      {1, List({"A", "b", "C.bmp", "a.bmp", "B.pcx"})},  // size in KB, numerically
      {2, List({"A", "b", "a.bmp", "C.bmp", "B.pcx"})},  // type name, then caption
      {3, List({"A", "b", "C.bmp", "a.bmp", "B.pcx"})},  // date text: "10/1/21" < "2/1/21" < "3/1/21"
  };
  for (const auto& c : cases) {
    ClickHeader(form, c.column);
    EXPECT_EQ(Captions(*form), c.order) << c.column;
  }
}

TEST(Listing, SortingKeepsTheSelection) {
  DialogWorld world;
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) world.tree.WriteFile(QStringLiteral("c/k/") + QLatin1String(name));
  world.tree.WriteFile(QStringLiteral("c/k/big.bmp"), QByteArray(5000, 'x'));
  TForm1* form = world.Open();
  ListFolder(form, QStringLiteral("C:\\k\\"));
  form->files->setselectedindex(IndexOf(*form, QStringLiteral("big.bmp")));
  form->filesColumnClick(1);
  ASSERT_NE(form->files->selected(), nullptr);
  EXPECT_EQ(form->files->selected()->caption, QStringLiteral("big.bmp"));
  EXPECT_EQ(form->files->selectedindex(), 3);
}

TEST(Listing, DrivesPseudoFolder) {
  DialogWorld world(QStringLiteral("D=%1/d;A=%1/a;C=%1/c;Z=%1/missing"));
  TForm1* form = world.Open();
  QTest::mouseClick(form->SpeedButton4, Qt::LeftButton);
  form->currentpath = QStringLiteral("Drives");
  form->setfiles();
  EXPECT_EQ(EntryPaths(*form), List({"A:\\", "C:\\", "D:\\", "Z:\\"}));
  for (const ListEntry& entry : form->files->items()) {
    EXPECT_EQ(entry.subitems[3], QStringLiteral("drive"));
    EXPECT_TRUE(entry.caption.contains(entry.subitems[4].left(2))) << entry.caption.toStdString();
  }
  const ListEntry& a = form->files->items()[0];
  EXPECT_TRUE(a.subitems[1].endsWith(QStringLiteral("Byte")) || a.subitems[1].endsWith(QStringLiteral("Byte(s)")));
  const ListEntry& z = form->files->items()[3];
  EXPECT_EQ(z.subitems[0], QStringLiteral("======="));
  EXPECT_EQ(z.subitems[1], QString());
  EXPECT_EQ(z.subitems[2], QString());
  EXPECT_EQ(form->fstate->panel(0), QStringLiteral("4 Object(s)"));
  EXPECT_EQ(form->fstate->panel(1), QString());
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Select File to Import.. [Drives]"));
  EXPECT_FALSE(form->SpeedButton1->isEnabled());
  EXPECT_EQ(form->files->viewstyle(), dialog::ViewStyle::Report);
  QStringList headers;
  for (const dialog::ListColumn& column : form->files->columns()) headers << column.caption;
  EXPECT_EQ(headers, List({"Name", "Type", "Disksize", "Free Space"}));
  EXPECT_EQ(form->files->columns()[2].alignment, Qt::AlignRight);
  // A change of filter lists the drives again.
  dialog_test::Choose(form->ComboBox2, 5);
  EXPECT_EQ(form->files->count(), 4);
  // The file columns come back only when they are installed.
  form->currentpath = QStringLiteral("C:\\");
  form->setfiles();
  EXPECT_EQ(form->files->columns()[1].caption, QStringLiteral("Type"));
  form->setcolumnforfiles();
  EXPECT_EQ(form->files->columns()[1].caption, QStringLiteral("Size"));
  EXPECT_EQ(form->files->columns()[1].alignment, Qt::AlignRight);
}

TEST(Listing, ViewButtonsSwitchTheStyleWhichListingsKeep) {
  DialogWorld world;
  world.tree.WriteFile(QStringLiteral("c/v/a.bmp"));
  TForm1* form = world.Open();
  ListFolder(form, QStringLiteral("C:\\v\\"));
  const struct {
    QToolButton* button;
    dialog::ViewStyle style;
  } cases[] = {
      {form->SpeedButton2, dialog::ViewStyle::Icon},
      {form->SpeedButton4, dialog::ViewStyle::Report},
      {form->SpeedButton3, dialog::ViewStyle::List},
  };
  for (const auto& c : cases) {
    QTest::mouseClick(c.button, Qt::LeftButton);
    EXPECT_TRUE(c.button->isChecked());
    EXPECT_EQ(form->files->viewstyle(), c.style);
    form->setfiles();
    EXPECT_EQ(form->files->viewstyle(), c.style);
    EXPECT_TRUE(form->files->currentview()->isVisible());
  }
  QTest::mouseClick(form->SpeedButton2, Qt::LeftButton);
  EXPECT_EQ(form->files->listview()->viewMode(), QListView::IconMode);
  EXPECT_EQ(form->files->listview()->iconSize(), QSize(32, 32));
  QTest::mouseClick(form->SpeedButton4, Qt::LeftButton);
  EXPECT_TRUE(form->files->reportview()->showGrid());
  EXPECT_FALSE(form->files->listview()->isVisible());
}

TEST(Listing, ColumnsFitTheirCaptionsAndTheLastFillsTheList) {
  DialogWorld world;
  TForm1* form = world.Open();
  QTest::mouseClick(form->SpeedButton4, Qt::LeftButton);
  QHeaderView* header = form->files->reportview()->horizontalHeader();
  header->resizeSection(0, 200);
  form->setcolumnforfiles();
  const QFontMetrics metrics(header->font());
  EXPECT_LT(header->sectionSize(0), 200);
  EXPECT_GE(header->sectionSize(0), metrics.horizontalAdvance(QStringLiteral("Name")));
  EXPECT_TRUE(header->stretchLastSection());
}

TEST(Listing, ListStyleShowsEveryNameWholeWhereTheListHasRoom) {
  DialogWorld world;
  // Many names of one length: the widest is not among the longest by characters.
  for (int i = 0; i < 300; ++i) world.tree.WriteFile(QStringLiteral("c/v/file_%1.png").arg(i, 4, 10, QLatin1Char('0')));
  const QString toolong = QString(200, QLatin1Char('x')) + QStringLiteral(".bmp");
  for (const QString& name : {QStringLiteral("file_0002.bmp"), QStringLiteral("in space.jpg"), toolong})
    world.tree.WriteFile(QStringLiteral("c/v/") + name);
  TForm1* form = world.Open();
  QListView* view = form->files->listview();
  const struct {
    QString name;
    bool whole;
  } cases[] = {{"file_0002.bmp", true}, {"in space.jpg", true}, {"file_0001.png", true}, {toolong, false}};
  for (bool withlongest : {true, false}) {
    SCOPED_TRACE(withlongest);
    if (!withlongest) {
      ASSERT_TRUE(QFile::remove(world.tree.Path(QStringLiteral("c/v/") + toolong)));
    }
    ListFolder(form, QStringLiteral("C:\\v\\"));
    for (const auto& c : cases) {
      const int row = IndexOf(*form, c.name);
      if (row < 0) continue;
      const QModelIndex index = view->model()->index(row, 0);
      // As wide as the name needs, or else as wide as the list.
      if (c.whole) {
        EXPECT_GE(view->visualRect(index).width(), view->sizeHintForIndex(index).width()) << c.name.toStdString();
      }
      EXPECT_LE(view->visualRect(index).width(), view->viewport()->width()) << c.name.toStdString();
    }
  }
}

TEST(FolderCombo, ItemsFromTheDrivesToTheCurrentFolder) {
  const struct {
    const char* path;
    QStringList items;
    int current;
  } cases[] = {
      {"C:\\A\\B\\", List({"0:Drives", "1:A:\\", "1:C:\\", "2:C:\\A\\", "T3:C:\\A\\B\\", "1:D:\\"}), 4},
      {"C:\\", List({"0:Drives", "1:A:\\", "T1:C:\\", "1:D:\\"}), 2},
      {"D:\\", List({"0:Drives", "1:A:\\", "1:C:\\", "T1:D:\\"}), 3},
      {"Drives", List({"T0:Drives", "1:A:\\", "1:C:\\", "1:D:\\"}), 0},
      {"\\A\\", List({"0:Drives", "1:A:\\", "1:C:\\", "1:D:\\"}), -1},
  };
  for (const auto& c : cases) {
    DialogWorld world;
    world.tree.MakeDir(QStringLiteral("c/A/B"));
    TForm1* form = world.Open();
    form->currentpath = QString::fromUtf8(c.path);
    form->setfiles();
    QStringList items;
    for (int i = 0; i < form->ComboBox1->count(); ++i) items << form->ComboBox1->itemText(i);
    EXPECT_EQ(items, c.items) << c.path;
    EXPECT_EQ(form->ComboBox1->currentIndex(), c.current) << c.path;
  }
}

// The first column, from the left, where an image differs from its top-left pixel.
int FirstInkColumn(const QImage& image) {
  const QRgb ground = image.pixel(0, 0);
  for (int x = 0; x < image.width(); ++x) {
    for (int y = 0; y < image.height(); ++y) {
      if (image.pixel(x, y) != ground) return x;
    }
  }
  return -1;
}

TEST(FolderCombo, OpenListIndentsByLevelTheFieldDoesNot) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("c/A/B"));
  TForm1* form = world.Open();
  form->currentpath = QStringLiteral("C:\\A\\B\\");
  form->setfiles();
  auto draw = [form](int index, bool infield) {
    QImage image(200, 18, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    form->ComboBox1DrawItem(painter, index, QRect(0, 0, 200, 18), false, infield);
    return image;
  };
  const int field = FirstInkColumn(draw(4, true));
  const int open = FirstInkColumn(draw(4, false));
  const int root = FirstInkColumn(draw(2, false));
  ASSERT_GE(field, 0);
  EXPECT_EQ(open - field, 24);
  EXPECT_EQ(open - root, 16);
  // The closed combo draws the current item into its own field.
  const QImage closed = form->ComboBox1->grab().toImage();
  EXPECT_NE(closed.pixel(30, 12), closed.pixel(closed.width() / 2, 1));
}

}  // namespace
