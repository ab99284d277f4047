// Files on disk: what the file stream opens and how it reads a file that changes under it,
// and how the atomic output file treats what it replaces.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "pictures/atomic_file.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "support/tool_files.h"

namespace pictures {

// A reader that, once its file is open, changes the file as another program might (cuts
// it down to a few bytes, or writes into it), then reads its last 4 KB: through the plain
// read or straight from the stream's memory.
class TChangingGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  static inline std::string path;
  static inline bool truncates = true, fromMemory = false;
  void LoadFromStream(Stream& stream) override {
    if (truncates) {
      if (::truncate(path.c_str(), 100) != 0) throw PictureError("truncate failed");
    } else {
      std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(50) << "changed";
    }
    std::vector<uint8_t> buffer(4096), storage;
    stream.Seek(stream.Size() - 4096);
    if (fromMemory) {
      const auto view = stream.ReadView(buffer.size(), storage);
      buffer.assign(view.begin(), view.end());
    } else {
      stream.ReadBuffer(buffer.data(), buffer.size());
    }
    SetPixelFormat(PixelFormat::Bits8);
    SetSize(int(buffer.size()), 1);
    std::copy(buffer.begin(), buffer.end(), ScanLine(0));
  }
};
PICTURES_DEFINE_READER_CLASS(TChangingGraphic, Bitmap)

namespace {

namespace fs = std::filesystem;
using test_support::Bytes;
using test_support::TempDir;

std::string LoadError(const std::string& path) {
  try {
    Picture picture;
    picture.LoadFile(path);
  } catch (const PictureError& error) {
    return error.what();
  }
  return "no error";
}

// Only regular files are opened as pictures; anything else fails at once, by the load
// that both the dialog and picconv use.
TEST(FileStream, OpensRegularFilesOnly) {
  RegisterReaders();
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("pipe.bmp").c_str(), 0600), 0);
  fs::create_directory(dir.File("folder.pcx"));
  fs::create_symlink("/dev/null", dir.File("device.tga"));
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir.File("socket.gif");
  socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {
      {"pipe.bmp", "Is a named pipe (FIFO), not a regular file"},
      {"folder.pcx", "Is a directory"},
      {"device.tga", "Is a device, not a regular file"},
      {"socket.gif", "Is a socket, not a regular file"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.File(c.name);
    EXPECT_EQ(LoadError(path), "Cannot open file \"" + path + "\". " + c.reason);
  }
  ::close(listener);
}

// The most memory of this process that was in RAM since the last ResetPeak, in kB.
long PeakResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// A large file whose header is wrong is refused without being read whole.
TEST(FileStream, HeaderIsCheckedBeforeTheFileIsBroughtIn) {
  RegisterReaders();
  TempDir dir;
  for (const char* name : {"large.bmp", "large.ico", "large.heic", "large.ppm"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.File(name);
    test_support::WriteFileBytes(path, Bytes(16, 'X'));
    ASSERT_EQ(::truncate(path.c_str(), 256 << 20), 0);  // a sparse file of 256 MB
    ResetPeak();
    const long before = PeakResidentKb();
    {
      FileStream stream(path);
      auto picture = FindReaderClass(FileExtension(path))->create();
      EXPECT_THROW(picture->LoadFromStream(stream), PictureError);
    }
    EXPECT_LT(PeakResidentKb() - before, 16 << 10);
  }
}

// A file that shrinks or is written to while it is read gives the read error, whatever
// the reader made of the bytes; a mapped file (64 KB or more) reads zeros where it lost
// its pages instead of ending the process.
TEST(FileStream, FileThatChangesWhileReadFailsWithTheReadError) {
  RegisterFormat("changing", "Changing", TChangingGraphic::StaticClass());
  TempDir dir;
  const struct {
    size_t size;
    bool truncates, fromMemory;
  } cases[] = {
      {256 << 10, true, false}, {256 << 10, true, true}, {256 << 10, false, false}, {8 << 10, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << (c.truncates ? " truncated" : " written") << c.fromMemory);
    TChangingGraphic::path = dir.File("file.changing");
    TChangingGraphic::truncates = c.truncates;
    TChangingGraphic::fromMemory = c.fromMemory;
    test_support::WriteFileBytes(TChangingGraphic::path, Bytes(c.size, 7));
    // An older time of change, so that a write in the same clock tick still changes it.
    const timespec old[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, TChangingGraphic::path.c_str(), old, 0), 0);
    EXPECT_EQ(LoadError(TChangingGraphic::path), "Stream read error");
  }
  UnregisterReaderClass(TChangingGraphic::StaticClass());
}

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
