// Display names, type names and icon indexes, and the two shared image lists.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "platform/folder_listing.h"
#include "platform/shell_info.h"
#include "support/platform_env.h"

using namespace platform;
using platform_test::ScopedDrives;
using platform_test::TempTree;

namespace {

bool HasVisiblePixels(const QPixmap& pixmap) {
  const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) > 0) return true;
  return false;
}

TEST(ImageLists, SharedSmallAndLargeListsWithTheComputerIconAt15) {
  SystemImageList* small = GetSystemImageList(false);
  SystemImageList* large = GetSystemImageList(true);
  ASSERT_NE(small, large);
  EXPECT_EQ(small, GetSystemImageList(false));  // one list for the whole process
  EXPECT_EQ(small->IconSize(), QSize(16, 16));
  EXPECT_EQ(large->IconSize(), QSize(32, 32));
  EXPECT_GE(small->Count(), int(kFixedIconCount));
  EXPECT_EQ(small->Count(), large->Count());
  for (int index = 0; index < kFixedIconCount; ++index) {
    EXPECT_EQ(small->Pixmap(index).size(), QSize(16, 16)) << index;
    EXPECT_EQ(large->Pixmap(index).size(), QSize(32, 32)) << index;
  }
  EXPECT_TRUE(HasVisiblePixels(small->Pixmap(IconComputer)));
  EXPECT_TRUE(HasVisiblePixels(large->Pixmap(IconFolder)));
  EXPECT_TRUE(small->Pixmap(-1).isNull());
  EXPECT_TRUE(small->Pixmap(small->Count()).isNull());

  // Drawing puts the icon where asked.
  QImage canvas(40, 40, QImage::Format_ARGB32);
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  small->Draw(painter, 20, 20, IconComputer);
  painter.end();
  bool inside = false, outside = false;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      if (qAlpha(canvas.pixel(x, y)) > 0) (x >= 20 && y >= 20 ? inside : outside) = true;
  EXPECT_TRUE(inside);
  EXPECT_FALSE(outside);

  const QIcon both = SystemIconOf(IconFolder);
  EXPECT_EQ(both.availableSizes().size(), 2);
  EXPECT_TRUE(SystemIconOf(-3).isNull());
}

TEST(ShellInfo, NamesAndTypesByAttributes) {
  const unsigned all = ShgfiDisplayName | ShgfiTypeName | ShgfiSysIconIndex |
                       ShgfiUseFileAttributes;
  const struct {
    const char* path;
    uint32_t attributes;
    unsigned extra;
    const char* name;
    const char* type;
    int icon;  // -1: a type's own index, checked below
  } cases[] = {
      {"C:\\pics\\Sunset.pcx", FileAttributeArchive, 0, "Sunset.pcx", "PCX File", -1},
      {"C:\\pics\\archive.tar.Gz", FileAttributeArchive, 0, "archive.tar.Gz", "GZ File", -1},
      {"C:\\pics\\README", FileAttributeArchive, 0, "README", "File", IconUnknownFile},
      {"C:\\pics\\.profile", FileAttributeHidden, 0, ".profile", "PROFILE File", -1},
      {"C:\\pics\\Holiday", FileAttributeDirectory, 0, "Holiday", "File Folder", IconFolder},
      {"C:\\pics\\Holiday\\", FileAttributeDirectory, ShgfiOpenIcon, "Holiday", "File Folder",
       IconFolderOpen},
      {"C:\\pics\\\xC3\xA9t\xC3\xA9.\xC3\xA9pS", FileAttributeArchive, 0,
       "\xC3\xA9t\xC3\xA9.\xC3\xA9pS", "\xC3\xA9PS File", -1},  // only a to z upper-cased
  };
  for (const auto& c : cases) {
    ShellFileInfo info;
    ASSERT_TRUE(SHGetFileInfo(QString::fromUtf8(c.path), c.attributes, &info, all | c.extra))
        << c.path;
    EXPECT_EQ(info.displayName, QString::fromUtf8(c.name)) << c.path;
    EXPECT_EQ(info.typeName, QString::fromUtf8(c.type)) << c.path;
    if (c.icon >= 0) {
      EXPECT_EQ(info.iconIndex, c.icon) << c.path;
    } else {
      EXPECT_GE(info.iconIndex, 0) << c.path;
      EXPECT_LT(info.iconIndex, GetSystemImageList(false)->Count()) << c.path;
    }
  }
}

TEST(ShellInfo, OneEntryPerFileTypeAndIndexesValidInBothLists) {
  ShellFileInfo a, b, c;
  ShellInfoForEntry("one.png", false, &a);
  ShellInfoForEntry("two.PNG", false, &b);
  ShellInfoForEntry("three.png", false, &c);
  EXPECT_EQ(a.iconIndex, b.iconIndex);
  EXPECT_EQ(a.iconIndex, c.iconIndex);
  EXPECT_EQ(b.typeName, "PNG File");
  EXPECT_EQ(a.displayName, "one.png");
  // An image type gets an icon of its own family, not the unknown-file icon.
  EXPECT_NE(a.iconIndex, IconUnknownFile);
  for (const char* name : {"x.png", "x.txt", "x.pdf", "x.zzqq", "x.bmp", "x.tif"}) {
    ShellFileInfo info;
    ShellInfoForEntry(name, false, &info);
    EXPECT_FALSE(GetSystemImageList(false)->Pixmap(info.iconIndex).isNull()) << name;
    EXPECT_FALSE(GetSystemImageList(true)->Pixmap(info.iconIndex).isNull()) << name;
  }
  ShellFileInfo folder;
  ShellInfoForEntry("Sub", true, &folder);
  EXPECT_EQ(folder.typeName, "File Folder");
  EXPECT_EQ(folder.iconIndex, IconFolder);
}

TEST(ShellInfo, LongNamesAreCutToTheShellsLimits) {
  ShellFileInfo info;
  const QString name = QString(300, 'n') + "." + QString(90, 'e');
  SHGetFileInfo("C:\\" + name, FileAttributeArchive, &info,
                ShgfiDisplayName | ShgfiTypeName | ShgfiUseFileAttributes);
  EXPECT_EQ(info.displayName.size(), 259);
  EXPECT_EQ(info.typeName.size(), 79);
}

class ShellLookups : public ::testing::Test {
 protected:
  ShellLookups() : drives_(QStringLiteral("C=%1;M=%1/missing").arg(tree_.root())) {
    tree_.MakeDir("My Pictures");
    tree_.WriteFile("My Pictures/Sunset.Pcx", "x");
  }
  TempTree tree_;
  ScopedDrives drives_;
};

TEST_F(ShellLookups, PathsAreLookedUpAndShowTheFileSystemsSpelling) {
  const unsigned flags = ShgfiDisplayName | ShgfiTypeName | ShgfiSysIconIndex;
  ShellFileInfo info;
  ASSERT_TRUE(SHGetFileInfo("C:\\MY PICTURES\\", 0, &info, flags));
  EXPECT_EQ(info.displayName, "My Pictures");
  EXPECT_EQ(info.typeName, "File Folder");
  EXPECT_EQ(info.iconIndex, IconFolder);
  ASSERT_TRUE(SHGetFileInfo("C:\\MY PICTURES\\SUNSET.PCX", 0, &info, flags));
  EXPECT_EQ(info.displayName, "Sunset.Pcx");
  EXPECT_EQ(info.typeName, "PCX File");
  // Missing: false, but described as far as the text allows.
  EXPECT_FALSE(SHGetFileInfo("C:\\Gone\\", 0, &info, flags));
  EXPECT_EQ(info.displayName, "Gone");
  EXPECT_EQ(info.typeName, "File Folder");
}

TEST_F(ShellLookups, DriveRootsHaveDriveNamesTypesAndIcons) {
  const unsigned flags = ShgfiDisplayName | ShgfiTypeName | ShgfiSysIconIndex;
  ShellFileInfo info;
  ASSERT_TRUE(SHGetFileInfo("c:\\", 0, &info, flags));
  EXPECT_TRUE(info.displayName.endsWith(" (C:)")) << info.displayName.toStdString();
  EXPECT_FALSE(info.typeName.isEmpty());
  EXPECT_TRUE(info.iconIndex >= IconFloppy525 && info.iconIndex <= IconRamDrive);
  // A mapped folder that is missing: still a name, no success.
  EXPECT_FALSE(SHGetFileInfo("M:\\", 0, &info, flags));
  EXPECT_EQ(info.displayName, "Drive (M:)");
  EXPECT_EQ(info.iconIndex, IconHardDrive);
}

}  // namespace
