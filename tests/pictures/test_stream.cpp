// Files on disk: how the atomic output file treats what it replaces.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "pictures/atomic_file.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

namespace fs = std::filesystem;
using test_support::Bytes;
using test_support::TempDir;

std::string Contents(const std::string& path) {
  const Bytes bytes = test_support::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

void WriteOld(const std::string& path, mode_t mode) {
  test_support::WriteFileBytes(path, Bytes{'o', 'l', 'd'});
  ::chmod(path.c_str(), mode);
}

// What saving over a name does to the file and the names around it. Each case writes
// "new" to `write`, which must then be read at `shows` with `mode`, while `keeps` still
// holds "old"; a symbolic link stays one, and no temporary file is left behind.
TEST(AtomicFile, ReplacesWhatANameLeadsToAndKeepsItsMode) {
  const std::string longName(251, 'n');
  const struct {
    const char* name;
    mode_t umask;
    std::function<void(const TempDir&)> prepare;
    std::string write, shows, keeps;
    mode_t mode;
  } cases[] = {
      {"new file", 022, [](const TempDir&) {}, "a.bmp", "a.bmp", "", 0644},
      {"new file, private umask", 077, [](const TempDir&) {}, "a.bmp", "a.bmp", "", 0600},
      {"private file", 022, [](const TempDir& d) { WriteOld(d.File("a.bmp"), 0600); }, "a.bmp", "a.bmp", "", 0600},
      {"group file", 077, [](const TempDir& d) { WriteOld(d.File("a.bmp"), 0664); }, "a.bmp", "a.bmp", "", 0664},
      {"link", 022,
       [](const TempDir& d) {
         fs::create_directory(d.File("real"));
         WriteOld(d.File("real/a.bmp"), 0600);
         fs::create_symlink("real/a.bmp", d.File("link.bmp"));
       },
       "link.bmp", "real/a.bmp", "", 0600},
      {"link to nowhere", 022, [](const TempDir& d) { fs::create_symlink("made.bmp", d.File("link.bmp")); },
       "link.bmp", "made.bmp", "", 0644},
      {"hard link", 022,
       [](const TempDir& d) {
         WriteOld(d.File("a.bmp"), 0644);
         fs::create_hard_link(d.File("a.bmp"), d.File("other.bmp"));
       },
       "a.bmp", "a.bmp", "other.bmp", 0644},
      {"long name", 022, [](const TempDir&) {}, longName + ".bmp", longName + ".bmp", "", 0644},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.prepare(dir);
    const std::string write = dir.File(c.write);
    const bool wasLink = fs::is_symlink(write);
    const mode_t savedMask = ::umask(c.umask);
    const std::string text = "new";
    WriteFileAtomically(write, Bytes(text.begin(), text.end()));
    ::umask(savedMask);
    EXPECT_EQ(Contents(dir.File(c.shows)), "new");
    EXPECT_EQ(ModeOf(dir.File(c.shows)), c.mode);
    EXPECT_EQ(fs::is_symlink(write), wasLink);
    if (!c.keeps.empty()) {
      EXPECT_EQ(Contents(dir.File(c.keeps)), "old");
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
      EXPECT_EQ(entry.path().filename().string().find(".part-"), std::string::npos) << entry.path();
  }
}

// A FIFO that something reads is written to in place, not replaced by a file; a folder
// is not replaced at all.
TEST(AtomicFile, WritesOtherKindsOfFileInPlaceAndRefusesFolders) {
  TempDir dir;
  const std::string fifo = dir.File("pipe.bmp");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  WriteFileAtomically(fifo, Bytes{'n', 'e', 'w'});
  char got[8] = {};
  EXPECT_EQ(::read(reader, got, sizeof got), 3);
  EXPECT_STREQ(got, "new");
  EXPECT_TRUE(fs::is_fifo(fifo));
  ::close(reader);

  fs::create_directory(dir.File("folder.bmp"));
  try {
    WriteFileAtomically(dir.File("folder.bmp"), Bytes{1});
    ADD_FAILURE();
  } catch (const FileCreateError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + dir.File("folder.bmp") + "\". Is a directory");
  }
}

// Outputs written on several threads at once, as the batch conversion writes them, all
// get the umask's permissions without the process umask being changed, even for a moment:
// the calls of this program to umask are counted.
std::atomic<int> umaskCalls{0};

TEST(AtomicFile, ThreadsWritingAtOnceAllGetTheUmasksPermissions) {
  TempDir dir;
  const mode_t savedMask = ::umask(027);
  umaskCalls = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i)
        WriteFileAtomically(dir.File(std::to_string(t) + "-" + std::to_string(i)), Bytes{1});
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(umaskCalls, 0);
  EXPECT_EQ(::umask(savedMask), mode_t(027));
  int wrong = 0;
  for (const auto& entry : fs::directory_iterator(dir.Path())) wrong += ModeOf(entry.path()) != 0640;
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace pictures

extern "C" mode_t umask(mode_t mask) {
  ++pictures::umaskCalls;
  return mode_t(::syscall(SYS_umask, mask));
}
