// Folder enumeration: which entries are listed, their attributes, 64-bit sizes and times.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include <QFile>

#include "platform/folder_listing.h"
#include "platform/paths.h"
#include "support/platform_env.h"

using namespace platform;
using platform_test::ScopedDrives;
using platform_test::TempTree;

namespace {

struct Seen {
  uint32_t attributes;
  int64_t size;
  FileTime time;
};

std::map<std::string, Seen> ByName(const FolderListing& listing) {
  std::map<std::string, Seen> seen;
  for (const FolderEntry& entry : listing)
    seen[std::string(listing.NameBytes(entry))] = {entry.attributes, entry.size,
                                                   entry.lastWriteTime};
  return seen;
}

class Listing : public ::testing::Test {
 protected:
  Listing() : drives_(QStringLiteral("C=%1").arg(tree_.root())) {
    tree_.MakeDir("f/Sub");
    tree_.WriteFile("f/a.txt", "abc");
    tree_.WriteFile("f/.hidden", "12345");
    tree_.WriteFile("f/ro.bin", "1");
    chmod(QFile::encodeName(tree_.Path("f/ro.bin")).constData(), 0444);
    // Names with a character of a Windows path's syntax are not listed.
    tree_.WriteFile("f/back\\slash.txt", "x");
    for (const char* name : {"f/colon:name?.png", "f/star*.gif", "f/quote\".bmp", "f/angle<s>.bmp", "f/bar|.bmp"})
      tree_.WriteFile(QString::fromUtf8(name), "x");
    tree_.MakeDir("f/colon:dir");
    // Names with a control character are left out as well; a no-break space is not one.
    for (const char* name : {"f/line\nbreak.pcx", "f/tab\tname.gif", "f/del\x7F.bmp",
                             "f/next\xC2\x85line.bmp", "f/cr\r"})
      tree_.WriteFile(QString::fromUtf8(name), "x");
    tree_.MakeDir(QString::fromUtf8("f/line\nbreak"));
    tree_.WriteFile(QString::fromUtf8("f/no\xC2\xA0" "break.bmp"), "nbsp");
    // Names that Windows reads as another name or as a device are left out; names that
    // only look like them are not.
    for (const char* name : {"f/dot.", "f/space.bmp ", "f/con.bmp", "f/NUL", "f/Com1 .txt", "f/lpt9"})
      tree_.WriteFile(QString::fromUtf8(name), "x");
    tree_.MakeDir("f/folder.");
    for (const char* name : {"f/...", "f/com10.txt", "f/conx.bmp", "f/.dot"}) tree_.WriteFile(QString::fromUtf8(name), "kept");
    mkfifo(QFile::encodeName(tree_.Path("f/pipe")).constData(), 0600);
    QFile::link(tree_.Path("f/Sub"), tree_.Path("f/link-to-dir"));
    QFile::link(tree_.Path("f/nowhere"), tree_.Path("f/broken-link"));
    tree_.WriteFile(QString::fromUtf8("f/\xC3\xA9t\xC3\xA9.gif"), "gif");  // "été.gif"
  }
  TempTree tree_;
  ScopedDrives drives_;
};

TEST_F(Listing, EntriesAndAttributes) {
  FolderListing listing;
  ASSERT_TRUE(listing.Read("C:\\F\\"));
  const auto seen = ByName(listing);
  const struct {
    const char* name;
    uint32_t attributes;
    int64_t size;
  } expected[] = {
      {"Sub", FileAttributeDirectory, 0},
      {"a.txt", FileAttributeArchive, 3},
      {".hidden", FileAttributeArchive | FileAttributeHidden, 5},
      {"ro.bin", FileAttributeArchive | FileAttributeReadOnly, 1},
      {"link-to-dir", FileAttributeDirectory, 0},
      {"broken-link", FileAttributeArchive, 0},
      {"\xC3\xA9t\xC3\xA9.gif", FileAttributeArchive, 3},
      {"no\xC2\xA0" "break.bmp", FileAttributeArchive, 4},
      {"...", FileAttributeArchive | FileAttributeHidden, 4},
      {"com10.txt", FileAttributeArchive, 4},
      {"conx.bmp", FileAttributeArchive, 4},
      {".dot", FileAttributeArchive | FileAttributeHidden, 4},
  };
  for (const auto& e : expected) {
    auto it = seen.find(e.name);
    ASSERT_NE(it, seen.end()) << e.name;
    EXPECT_EQ(it->second.attributes, e.attributes) << e.name;
    EXPECT_EQ(it->second.size, e.size) << e.name;
  }
  // Not listed: ".", "..", names with one of "\ : * ? \" < > |" or a control character,
  // names ending in a period or a space, device names, a named pipe.
  EXPECT_EQ(seen.size(), std::size(expected));
  // Names decode as the host spells them.
  for (const FolderEntry& entry : listing) {
    if (listing.NameBytes(entry).starts_with("\xC3\xA9")) {
      EXPECT_EQ(listing.Name(entry), QString::fromUtf8("\xC3\xA9t\xC3\xA9.gif"));
    }
  }
}

TEST_F(Listing, AttributeMaskLeavesOutHiddenAndDirectoriesAsFindFunctionsDo) {
  FolderListing listing;
  ASSERT_TRUE(listing.Read("C:\\f", FileAttributeReadOnly | FileAttributeArchive));
  const auto seen = ByName(listing);
  EXPECT_FALSE(seen.count(".hidden"));
  EXPECT_FALSE(seen.count("Sub"));
  EXPECT_FALSE(seen.count("link-to-dir"));
  EXPECT_TRUE(seen.count("a.txt"));
  EXPECT_TRUE(seen.count("ro.bin"));
}

TEST_F(Listing, UnreadableOrMissingFolderGivesAnEmptyListing) {
  FolderListing listing;
  ASSERT_TRUE(listing.Read("C:\\f"));
  ASSERT_FALSE(listing.empty());
  EXPECT_FALSE(listing.Read("C:\\nothing\\here\\"));
  EXPECT_TRUE(listing.empty());
  EXPECT_FALSE(listing.Read("Q:\\"));  // unmapped drive
  EXPECT_FALSE(listing.Read("C:\\f\\a.txt"));  // a file, not a folder
}

TEST_F(Listing, SizesBeyondTwoGigabytesAndExactTimes) {
  // A sparse file takes no disk space but reports its full size.
  const int64_t size = (int64_t(3) << 30) + 5;
  const QByteArray path = QFile::encodeName(tree_.Path("f/big.raw"));
  const int fd = open(path.constData(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, size), 0);
  close(fd);
  // 2001-09-09 01:46:40.5 UTC.
  const struct timespec times[2] = {{1000000000, 500000000}, {1000000000, 500000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.constData(), times, 0), 0);

  FolderListing listing;
  ASSERT_TRUE(listing.Read("C:\\f\\"));
  const auto seen = ByName(listing);
  ASSERT_TRUE(seen.count("big.raw"));
  EXPECT_EQ(seen.at("big.raw").size, size);
  EXPECT_EQ(seen.at("big.raw").time, FileTimeFromUnix(1000000000, 500000000));
  // 100-ns steps since 1601: (1000000000 + 11644473600) s and 0.5 s.
  EXPECT_EQ(seen.at("big.raw").time.value, 126444736005000000);

  FoundFile found;
  ASSERT_TRUE(FindFile("C:\\F\\BIG.RAW", &found));
  EXPECT_EQ(found.name, "big.raw");
  EXPECT_EQ(found.size, size);
  EXPECT_EQ(found.attributes, FileAttributeArchive);
  EXPECT_EQ(found.lastWriteTime, FileTimeFromUnix(1000000000, 500000000));
}

TEST_F(Listing, FindFileOnOneEntry) {
  FoundFile found;
  ASSERT_TRUE(FindFile("C:\\f\\sub\\", &found));
  EXPECT_EQ(found.name, "Sub");
  EXPECT_EQ(found.attributes, FileAttributeDirectory);
  EXPECT_EQ(found.size, 0);
  EXPECT_FALSE(FindFile("C:\\f\\missing.txt", &found));
  EXPECT_FALSE(FindFile("C:\\f\\pipe", &found));
}

// Large folders are read on two threads; every entry must still come out once, with
// its own status.
TEST(LargeListing, EveryEntryOnceWithItsOwnStatus) {
  TempTree tree;
  const int count = 4500;  // above the size that is read on two threads
  const std::string root = QFile::encodeName(tree.root()).toStdString();
  for (int i = 0; i < count; ++i) {
    const std::string path = root + (i % 10 == 0 ? "/.f" : "/f") + std::to_string(i);
    if (i % 97 == 0) {
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
      continue;
    }
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "xxxxxxxxxxxxx", i % 13), i % 13);
    close(fd);
  }
  FolderListing listing;
  ASSERT_TRUE(listing.ReadHost(QFile::encodeName(tree.root()).toStdString()));
  ASSERT_EQ(listing.size(), size_t(count));
  std::vector<bool> seen(count);
  for (const FolderEntry& entry : listing) {
    std::string name(listing.NameBytes(entry));
    const bool hidden = name[0] == '.';
    if (hidden) name.erase(0, 1);
    const int i = std::stoi(name.substr(1));
    ASSERT_FALSE(seen[i]) << i;
    seen[i] = true;
    EXPECT_EQ(hidden, i % 10 == 0) << i;
    EXPECT_EQ(bool(entry.attributes & FileAttributeHidden), hidden) << i;
    EXPECT_EQ(bool(entry.attributes & FileAttributeDirectory), i % 97 == 0) << i;
    EXPECT_EQ(entry.size, i % 97 == 0 ? 0 : i % 13) << i;
  }
  // Leaving out hidden entries keeps the others in place.
  ASSERT_TRUE(listing.ReadHost(QFile::encodeName(tree.root()).toStdString(),
                               kAnyFileAttributes & ~FileAttributeHidden));
  EXPECT_EQ(listing.size(), size_t(count - count / 10));
  for (const FolderEntry& entry : listing) EXPECT_NE(listing.NameBytes(entry)[0], '.');
}

TEST(NameExtension, FromTheLastDot) {
  EXPECT_EQ(NameExtension("a.b.PCX"), ".PCX");
  EXPECT_EQ(NameExtension("noext"), "");
  EXPECT_EQ(NameExtension(".bashrc"), ".bashrc");
  EXPECT_EQ(NameExtension("trailing."), ".");
}

}  // namespace
