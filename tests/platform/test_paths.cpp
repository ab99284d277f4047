// Drive map, path translation both ways, case-insensitive resolution, drive types and
// sizes, and the system folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "platform/drives.h"
#include "platform/mounts.h"
#include "platform/paths.h"
#include "support/platform_env.h"

using namespace platform;
using platform_test::ScopedDrives;
using platform_test::ScopedEnv;
using platform_test::ScopedWinePrefix;
using platform_test::TempTree;

namespace {

// Drives A, C and D mapped to three temporary folders; C holds A\B.
class MappedDrives : public ::testing::Test {
 protected:
  MappedDrives()
      : drives_(QStringLiteral("A=%1;c=%2/;D:=%3").arg(a_.root(), c_.root(), d_.root())) {
    c_.MakeDir("A/B");
    c_.MakeDir("Photos");
    c_.MakeDir("photos");
    c_.MakeDir("PHOTOS2");
    c_.WriteFile("A/B/Sunset.PCX", "x");
    c_.MakeDir(QString::fromUtf8("\xC3\x84rger"));  // "Ärger"
  }
  TempTree a_, c_, d_;
  ScopedDrives drives_;
};

TEST_F(MappedDrives, MaskHoldsExactlyTheMappedLetters) {
  EXPECT_EQ(GetLogicalDrives(), (1u << 0) | (1u << 2) | (1u << 3));
  EXPECT_EQ(DriveHostRoot('c'), c_.root());  // trailing "/" dropped
  EXPECT_EQ(DriveHostRoot('B'), QString());
}

TEST(DriveMap, DefaultIsCOnRootAndMalformedItemsAreIgnored) {
  {
    ScopedDrives drives{QString()};
    EXPECT_EQ(GetLogicalDrives(), 1u << 2);
    EXPECT_EQ(DriveHostRoot('C'), "/");
  }
  {
    ScopedDrives drives("AB=/x;=/y;E;F=relative;G=;1=/z;H=/srv/../opt/");
    EXPECT_EQ(GetLogicalDrives(), (1u << 2) | (1u << 7));
    EXPECT_EQ(DriveHostRoot('H'), "/opt");
  }
}

TEST_F(MappedDrives, WindowsPathsLeadToHostPaths) {
  const struct {
    QString windows;
    QString host;  // relative to C's folder unless it begins with "/" or is empty
  } cases[] = {
      {"C:\\A\\B\\", "A/B"},
      {"C:\\A\\B", "A/B"},
      {"c:/a/b/sunset.pcx", "A/B/Sunset.PCX"},
      {"C:\\A\\.\\X\\..\\B\\Sunset.PCX", "A/B/Sunset.PCX"},
      {"C:\\A\\NEW\\FILE.BMP", "A/NEW/FILE.BMP"},  // missing parts kept as written
      {"C:\\..\\..", ""},                           // never above the drive root
      {"C:", ""},
      {"C:\\", ""},
      // Windows' normalisation: one trailing period off each folder, every trailing
      // period and space off the last name; names of three periods or more are names.
      {"C:\\A\\B\\Sunset.PCX.", "A/B/Sunset.PCX"},
      {"C:\\A.\\B.\\Sunset.PCX . .", "A/B/Sunset.PCX"},
      {"C:\\A\\B.\\", "A/B"},
      {"C:\\A..\\x", "A./x"},
      {"C:\\A\\NEW \\x  ", "A/NEW /x"},
      {"C:\\A\\...\\x", "A/.../x"},
      {"C:\\A\\...", "A"},
      {"C:\\...\\..\\..", ""},
      // Device names only as the last name.
      {"C:\\NUL\\x", "NUL/x"},
      {"C:\\A\\COM10", "A/COM10"},
      {"C:\\A\\com0.txt", "A/com0.txt"},
      {"C:\\A\\console.txt", "A/console.txt"},
      {"C:\\A\\nul\\", "A/nul"},
  };
  for (const auto& c : cases) {
    const QString expected = c.host.isEmpty() ? c_.root() : c_.Path(c.host);
    EXPECT_EQ(HostPath(c.windows), expected) << c.windows.toStdString();
  }
  EXPECT_EQ(HostPath("D:\\x\\y"), d_.Path("x/y"));
  EXPECT_EQ(HostPath("a:\\"), a_.root());
  EXPECT_EQ(HostPath("E:\\x"), QString());          // unmapped
  EXPECT_EQ(HostPath("relative\\x"), QString());    // no drive, not rooted
  EXPECT_EQ(HostPath("\\\\server\\share"), QString());
  EXPECT_EQ(HostPath("\\etc\\"), "/etc");           // rooted: the host tree
  EXPECT_EQ(HostPathBytes("C:\\A"), QFile::encodeName(c_.Path("A")).toStdString());
}

TEST_F(MappedDrives, DosDeviceNamesAreNeverFiles) {
  c_.WriteFile("A/con.bmp", "x");  // a host file that Windows would not reach
  const struct {
    QString windows;
    QString device;
  } cases[] = {
      {"C:\\A\\con.bmp", "CON"},  {"D:\\com1.txt", "COM1"}, {"C:\\A\\NUL", "NUL"},
      {"c:\\a\\Aux .txt", "AUX"}, {"C:\\prn.", "PRN"},      {"C:\\lpt9:", "LPT9"},
      {"C:nul", "NUL"},             {"\\x\\Com3.a.b", "COM3"},   {"C:\\A\\lpt1\\", ""},
      {"C:\\A\\con.bmp\\x", ""},  {"C:\\A\\conx.bmp", ""},   {"C:\\A\\lpt0", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DosDeviceName(c.windows), c.device) << c.windows.toStdString();
    if (!c.device.isEmpty()) {
      EXPECT_EQ(HostPath(c.windows), QString()) << c.windows.toStdString();
    }
  }
  EXPECT_FALSE(FileExists("C:\\A\\CON.BMP"));
}

TEST_F(MappedDrives, CaseIsResolvedExactNameFirstThenFirstInNameOrder) {
  EXPECT_EQ(HostPath("C:\\photos"), c_.Path("photos"));   // exact
  EXPECT_EQ(HostPath("C:\\Photos"), c_.Path("Photos"));   // exact
  EXPECT_EQ(HostPath("C:\\PHOTOS"), c_.Path("Photos"));   // "Photos" < "photos"
  EXPECT_EQ(HostPath("C:\\photos2"), c_.Path("PHOTOS2"));
  EXPECT_EQ(HostPath(QString::fromUtf8("C:\\\xC3\xA4RGER")),  // "äRGER"
            c_.Path(QString::fromUtf8("\xC3\x84rger")));
}

TEST_F(MappedDrives, HostPathsMapBackByTheLongestDriveRoot) {
  EXPECT_EQ(WindowsPath(c_.Path("A/B")), "C:\\A\\B");
  EXPECT_EQ(WindowsPath(c_.root()), "C:\\");
  EXPECT_EQ(WindowsPath(c_.root() + "/"), "C:\\");
  EXPECT_EQ(WindowsPath(d_.Path("x/y.bmp")), "D:\\x\\y.bmp");
  // Outside every root: rooted without a drive, and back again.
  const QString outside = QDir::tempPath() + "/elsewhere";
  const QString windows = WindowsPath(outside);
  EXPECT_TRUE(windows.startsWith('\\')) << windows.toStdString();
  EXPECT_EQ(HostPath(windows), QDir::cleanPath(outside));
}

TEST(DriveMap, NestedRootWinsOverItsParent) {
  TempTree tree;
  tree.MakeDir("data/sub");
  ScopedDrives drives(QStringLiteral("C=%1;E=%1/data").arg(tree.root()));
  EXPECT_EQ(WindowsPath(tree.Path("data/sub")), "E:\\sub");
  EXPECT_EQ(WindowsPath(tree.Path("database")), "C:\\database");  // not under E
  // A root reached through a symbolic link maps by its real path as well.
  ASSERT_TRUE(QFile::link(tree.Path("data"), tree.Path("link")));
  ScopedDrives linked(QStringLiteral("C=/;F=%1/link").arg(tree.root()));
  EXPECT_EQ(WindowsPath(tree.Path("data/sub")), "F:\\sub");
}

TEST_F(MappedDrives, ExistenceTestsAndShortNames) {
  EXPECT_TRUE(DirectoryExists("c:\\a\\b\\"));
  EXPECT_FALSE(DirectoryExists("C:\\A\\B\\Sunset.pcx"));
  EXPECT_TRUE(FileExists("C:\\A\\B\\SUNSET.PCX"));
  EXPECT_FALSE(FileExists("C:\\A"));
  EXPECT_FALSE(DirectoryExists("E:\\"));
  QString shortPath = "unchanged";
  EXPECT_FALSE(GetShortPathName("C:\\A\\B\\Sunset.PCX", shortPath));
  EXPECT_EQ(shortPath, "unchanged");
}

TEST_F(MappedDrives, DriveTypesAndSizes) {
  EXPECT_EQ(GetDriveType("E:\\"), DriveNoRootDir);  // unmapped
  EXPECT_EQ(GetDriveType("\\"), DriveNoRootDir);
  const unsigned type = GetDriveType("c:\\");
  EXPECT_NE(type, DriveNoRootDir);
  EXPECT_NE(type, DriveUnknown);
  EXPECT_GT(DiskSize(3), 0);
  EXPECT_GE(DiskFree(3), 0);
  EXPECT_LE(DiskFree(3), DiskSize(3));
  EXPECT_EQ(DiskSize(2), -1);   // B unmapped
  EXPECT_EQ(DiskSize(0), -1);
  EXPECT_EQ(DiskFree(27), -1);
}

TEST(DriveMap, MappedFolderThatDoesNotExistHasNoRoot) {
  TempTree tree;
  ScopedDrives drives(QStringLiteral("M=%1/missing").arg(tree.root()));
  EXPECT_TRUE(GetLogicalDrives() & (1u << 12));
  EXPECT_EQ(GetDriveType("M:\\"), DriveNoRootDir);
  EXPECT_EQ(DriveTypeText(GetDriveType("M:\\")), "=======");
  EXPECT_EQ(DiskSize(13), -1);
  EXPECT_EQ(DiskFree(13), -1);
}

TEST(DriveTypes, TextsByCode) {
  const char* expected[] = {"Unknown",       "=======",      "Floppy Disk", "Local Drive",
                            "Network Drive", "CD-Rom Drive", "RAM-Disk",    "Unknown"};
  for (unsigned code = 0; code < 8; ++code)
    EXPECT_EQ(DriveTypeText(code), expected[code]) << code;
}

TEST(Mounts, TableIsParsedWithEscapes) {
  const auto table = ParseMountTable(
      "/dev/sda1 / ext4 rw 0 0\n"
      "tmpfs /tmp tmpfs rw 0 0\n"
      "/dev/sdb1 /media/My\\040Disk vfat rw 0 0\n"
      "server:/export/share /net nfs4 rw 0 0\n"
      "broken-line\n");
  ASSERT_EQ(table.size(), 4u);
  EXPECT_EQ(table[2].mountPoint, "/media/My Disk");
  EXPECT_EQ(table[3].device, "server:/export/share");

  EXPECT_EQ(MountOf("/home/ana", table)->mountPoint, "/");
  EXPECT_EQ(MountOf("/tmp", table)->type, "tmpfs");
  EXPECT_EQ(MountOf("/tmpfoo", table)->mountPoint, "/");  // not under /tmp
  EXPECT_EQ(MountOf("/media/My Disk/x", table)->device, "/dev/sdb1");
  EXPECT_FALSE(MountOf("/x", std::vector<MountEntry>{}));
  // A later mount on the same point hides the earlier one.
  const auto stacked = ParseMountTable("a /m ext4 rw\nb /m tmpfs rw\n");
  EXPECT_EQ(MountOf("/m/f", stacked)->device, "b");
}

TEST(Mounts, KindsByFileSystemAndDevice) {
  const struct {
    MountEntry mount;
    MountKind kind;
  } cases[] = {
      {{"/dev/sda1", "/", "ext4"}, MountKind::Fixed},
      {{"overlay", "/", "overlay"}, MountKind::Fixed},
      {{"tmpfs", "/tmp", "tmpfs"}, MountKind::Ram},
      {{"none", "/r", "ramfs"}, MountKind::Ram},
      {{"server:/x", "/n", "nfs4"}, MountKind::Network},
      {{"//srv/share", "/s", "cifs"}, MountKind::Network},
      {{"ana@host:", "/h", "fuse.sshfs"}, MountKind::Network},
      {{"/dev/sr0", "/cd", "iso9660"}, MountKind::Optical},
      {{"/dev/sr0", "/cd", "udf"}, MountKind::Optical},
      {{"/dev/fd0", "/floppy", "vfat"}, MountKind::Removable},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ClassifyMount(c.mount), c.kind) << c.mount.device << " " << c.mount.type;
}

TEST(Mounts, KindsAskedOfTheFileSystemWhereTheTableHasNoEntry) {
  const struct {
    unsigned long type;
    std::optional<MountKind> kind;
  } cases[] = {
      {0x6969, MountKind::Network},      {0xFF534D42, MountKind::Network},
      {0x9660, MountKind::Optical},      {0x15013346, MountKind::Optical},
      {0x01021994, MountKind::Ram},      {0x858458F6, MountKind::Ram},
      {0xEF53, std::nullopt},  // ext4: a disk, told apart by its device
  };
  for (const auto& c : cases) EXPECT_EQ(KindOfFileSystemType(c.type), c.kind) << c.type;
  EXPECT_FALSE(FileSystemKind("/nonexistent/folder"));
  EXPECT_TRUE(FileSystemKind(QDir::tempPath().toStdString()));
  // /dev/shm is tmpfs wherever it is mounted at all.
  const auto shm = MountOf("/dev/shm");
  if (shm && shm->type == "tmpfs") {
    EXPECT_EQ(FileSystemKind("/dev/shm"), MountKind::Ram);
  }
}

TEST(SystemFolder, FromTheEnvironmentAsAWindowsPath) {
  TempTree tree;
  tree.MakeDir("sys");
  tree.MakeDir("conf");
  tree.MakeDir("home/.config");
  ScopedDrives drives(QStringLiteral("C=%1").arg(tree.root()));
  ScopedEnv noPrefix("IMPORTDLG_WINEPREFIX", std::nullopt), noWine("WINEPREFIX", std::nullopt);
  {
    ScopedEnv sys("IMPORTDLG_SYSTEM_DIR", tree.Path("sys/"));
    ScopedEnv xdg("XDG_CONFIG_HOME", tree.Path("conf"));
    EXPECT_EQ(GetSystemDirectory(), "C:\\sys");
  }
  {
    ScopedEnv sys("IMPORTDLG_SYSTEM_DIR", std::nullopt);
    ScopedEnv xdg("XDG_CONFIG_HOME", tree.Path("conf"));
    EXPECT_EQ(GetSystemDirectory(), "C:\\conf");
  }
  {
    ScopedEnv sys("IMPORTDLG_SYSTEM_DIR", std::nullopt);
    ScopedEnv xdg("XDG_CONFIG_HOME", QString("relative/ignored"));
    ScopedEnv home("HOME", tree.Path("home"));
    EXPECT_EQ(GetSystemDirectory(), "C:\\home\\.config");
  }
  {
    ScopedEnv sys("IMPORTDLG_SYSTEM_DIR", QString("d:\\cfg\\"));
    EXPECT_EQ(GetSystemDirectory(), "d:\\cfg");
  }
  {
    ScopedEnv sys("IMPORTDLG_SYSTEM_DIR", tree.root());
    EXPECT_EQ(GetSystemDirectory(), "C:");  // the root, so "C:" + "\tolva.ini" works
  }
}

// A prefix as Wine lays it out: drive links in dosdevices, drive types in system.reg.
TEST(WinePrefix, DrivesAndSystemFolderComeFromThePrefix) {
  TempTree tree;
  tree.MakeDir("prefix/dosdevices");
  tree.MakeDir("prefix/drive_c/windows/system32");
  tree.MakeDir("prefix/drive_c/users");
  tree.MakeDir("disc");
  tree.WriteFile("prefix/system.reg",
                 "WINE REGISTRY Version 2\n"
                 "[Software\\\\Wine\\\\Drives] 1700000000\n"
                 "#time=1da0c0e0e0e0e0e\n"
                 "\"c:\"=\"hd\"\n"
                 "\"d:\"=\"cdrom\"\n"
                 "\"e:\"=\"network\"\n"
                 "\n"
                 "[Software\\\\Wine\\\\Other] 1700000000\n"
                 "\"z:\"=\"floppy\"\n");
  const QString dosdevices = tree.Path("prefix/dosdevices/");
  for (const auto& [link, target] : {std::pair<QString, QString>{"c:", "../drive_c"},
                                     {"d:", tree.Path("disc")},
                                     {"e:", tree.Path("unplugged")},
                                     // Wine looks up lower-case links only.
                                     {"E:", tree.Path("disc")},
                                     {"F:", tree.Path("disc")},
                                     {"z:", "/"},
                                     {"d::", "/dev/sr0"},
                                     {"com1", "/dev/ttyS0"}})
    ASSERT_TRUE(QFile::link(target, dosdevices + link)) << link.toStdString();
  const QString driveC = tree.Path("prefix/drive_c");

  ScopedWinePrefix wine(tree.Path("prefix"));
  ScopedEnv sys("IMPORTDLG_SYSTEM_DIR", std::nullopt);
  EXPECT_EQ(GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 4) | (1u << 25));
  EXPECT_EQ(DriveHostRoot('c'), driveC);
  EXPECT_EQ(DriveHostRoot('Z'), "/");
  EXPECT_EQ(DriveHostRoot('E'), tree.Path("unplugged"));
  EXPECT_EQ(GetDriveType("C:\\"), DriveFixed);
  EXPECT_EQ(GetDriveType("D:\\"), DriveCdrom);      // as the registry says, not tmp's type
  EXPECT_EQ(GetDriveType("E:\\"), DriveNoRootDir);  // the folder is not there
  EXPECT_NE(GetDriveType("Z:\\"), DriveUnknown);    // from the file system
  EXPECT_EQ(WindowsPath(driveC + "/users"), "C:\\users");  // C: is longer than Z:
  EXPECT_EQ(HostPath("Z:\\etc"), "/etc");

  EXPECT_EQ(GetSystemDirectory(), "C:\\windows\\system32");
  tree.MakeDir("prefix/drive_c/windows/syswow64");
  EXPECT_EQ(GetSystemDirectory(), "C:\\windows\\syswow64");
  {
    ScopedEnv override("IMPORTDLG_SYSTEM_DIR", tree.Path("disc"));
    EXPECT_EQ(GetSystemDirectory(), "D:");
  }
  {
    // The prefix named the usual way works as well; a map of one's own replaces its map.
    ScopedEnv mine("IMPORTDLG_WINEPREFIX", std::nullopt);
    ScopedEnv usual("WINEPREFIX", tree.Path("prefix"));
    ReloadDriveMap();
    EXPECT_EQ(DriveHostRoot('C'), driveC);
    ScopedDrives drives(QStringLiteral("C=/"));
    EXPECT_EQ(GetLogicalDrives(), 1u << 2);
    EXPECT_EQ(DriveHostRoot('C'), "/");
  }
  {
    // A prefix without drive links leaves the default map.
    ScopedWinePrefix empty(tree.Path("disc"));
    EXPECT_EQ(GetLogicalDrives(), 1u << 2);
    EXPECT_EQ(DriveHostRoot('C'), "/");
  }
}

TEST(ProgramFile, IsAWindowsPathOfTheRunningProgram) {
  ScopedDrives drives{QString()};
  const QString path = ProgramFilePath();
  EXPECT_TRUE(path.startsWith("C:\\")) << path.toStdString();
  EXPECT_TRUE(path.endsWith("platform_test_paths")) << path.toStdString();
  EXPECT_TRUE(FileExists(path));
}

}  // namespace
