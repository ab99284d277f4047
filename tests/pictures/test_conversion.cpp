// The one-pass conversion into a 24-bit bitmap file (SaveAs24BitBitmap) against the way the
// dialog's steps describe it: draw the loaded picture onto a new 24-bit Bitmap and save that.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "pictures/bitmap.h"
#include "pictures/error.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

namespace fs = std::filesystem;

size_t FilesIn(const std::string& folder) {
  return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Every reader's variants, as the fuzz seeds hold them: the folder and the extension that
// chooses the reader for files whose own name does not.
struct SeedFolder {
  const char* folder;
  const char* extension;  // nullptr: the file's own extension
};

constexpr SeedFolder kSeedFolders[] = {
    {"autodesk", nullptr}, {"bmp", nullptr}, {"cut", "cut"},   {"gif", nullptr},
    {"ico", nullptr},      {"jpeg", nullptr}, {"pcd", nullptr}, {"pcx", nullptr},
    {"ppm", nullptr},      {"psd", nullptr},  {"rla", nullptr}, {"sgi", nullptr},
    {"targa", nullptr},    {"tiff", nullptr},
};

TEST(SaveAs24BitBitmap, GivesTheBytesOfDrawingOntoANew24BitBitmapForEveryReader) {
  RegisterReaders();
  const fs::path seeds = fs::path(IMPORTDLG_TESTDATA) / ".." / ".." / "fuzz" / "seeds";
  test_support::TempDir dir;
  size_t converted = 0;
  for (const SeedFolder& seed : kSeedFolders) {
    size_t inFolder = 0;
    for (const auto& entry : fs::directory_iterator(seeds / seed.folder)) {
      const std::string path = entry.path().string();
      const std::string extension = seed.extension ? seed.extension : FileExtension(path);
      const ReaderClass* readerClass = FindReaderClass(extension);
      ASSERT_NE(readerClass, nullptr) << path;
      auto picture = readerClass->create();
      try {
        picture->LoadFile(path);
      } catch (const PictureError&) {
        continue;  // seeds that must fail have nothing to convert
      }
      if (picture->Empty()) {
        EXPECT_THROW(SaveAs24BitBitmap(*picture, dir.File("out.bmp")), PictureError) << path;
        continue;
      }
      Bitmap canvas;
      canvas.SetPixelFormat(PixelFormat::Bits24);
      canvas.SetSize(picture->Width(), picture->Height());
      DrawOnCanvas(canvas, *picture);
      MemoryStream drawn;
      canvas.SaveToStream(drawn);
      SaveAs24BitBitmap(*picture, dir.File("out.bmp"));
      EXPECT_EQ(test_support::ReadFileBytes(dir.File("out.bmp")), drawn.Bytes()) << path;
      ++inFolder;
    }
    EXPECT_GT(inFolder, 0u) << seed.folder;
    converted += inFolder;
  }
  EXPECT_GE(converted, 60u);
}

TEST(SaveAs24BitBitmap, AFailedWriteLeavesNoFileAndTheOldOneAlone) {
  Bitmap picture;
  picture.SetPixelFormat(PixelFormat::Bits8);
  picture.SetSize(300, 200);
  test_support::TempDir dir;
  const std::string target = dir.File("out.bmp");
  test_support::WriteFileBytes(target, test_support::Bytes{'o', 'l', 'd'});

  // A file size limit makes the write fail part-way, as a full disk does.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  EXPECT_THROW(SaveAs24BitBitmap(picture, target), FileCreateError);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);

  EXPECT_EQ(test_support::ReadFileBytes(target), (test_support::Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(FilesIn(dir.Path()), 1u);
  EXPECT_THROW(SaveAs24BitBitmap(picture, dir.File("missing/out.bmp")), FileCreateError);
  EXPECT_THROW(SaveAs24BitBitmap(Bitmap(), dir.File("empty.bmp")), PictureError);
  EXPECT_EQ(FilesIn(dir.Path()), 1u);
}

// Large pictures get pixel memory of their own mapping; a file that ends early must still
// leave the rows it does not reach defined (black), as small pictures do.
TEST(SaveAs24BitBitmap, RowsAShortFileDoesNotFillAreBlack) {
  RegisterReaders();
  test_support::TempDir dir;
  for (const int height : {3, 3000}) {
    // An Autodesk picture 3000 pixels wide: header, a grey-ramp palette, one row of data.
    test_support::Bytes file = {0x19, 0x91, 0xB8, 0x0B, uint8_t(height), uint8_t(height >> 8)};
    file.resize(32, 0);
    for (int i = 0; i < 256; ++i) file.insert(file.end(), 3, uint8_t(i / 4));
    file.insert(file.end(), 3000, 255);
    const std::string input = dir.File("short.pic");
    test_support::WriteFileBytes(input, file);
    Picture picture;
    picture.LoadFile(input);
    ASSERT_EQ(picture.Height(), height);
    SaveAs24BitBitmap(*picture.Graphic(), dir.File("out.bmp"));
    const auto written = test_support::ReadFileBytes(dir.File("out.bmp"));
    ASSERT_EQ(written.size(), 54 + size_t(9000) * height);
    // Bottom-up: the last stored row is the file's one row (white), all others black.
    const auto top = written.end() - 9000;
    EXPECT_TRUE(std::all_of(top, written.end(), [](uint8_t v) { return v == 252; }));
    EXPECT_TRUE(std::all_of(written.begin() + 54, top, [](uint8_t v) { return v == 0; }))
        << height;
  }
}

}  // namespace
}  // namespace pictures
