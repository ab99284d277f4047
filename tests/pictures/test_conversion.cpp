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
#include "base/error.h"
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
    {"targa", nullptr},    {"tiff", nullptr},  {"png", nullptr}, {"webp", nullptr},
    {"ilbm", nullptr},     {"dds", nullptr},   {"radiance", nullptr}, {"pfm", nullptr},
    {"qoi", nullptr},      {"sun_raster", nullptr}, {"xpm", nullptr}, {"xbm", nullptr},
    {"icns", nullptr},     {"cur", nullptr},   {"openraster", nullptr},
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
    // A run-length Windows bitmap 3000 pixels wide whose data ends (end of bitmap) after
    // the bottom two thirds of its rows, each 30 runs of 100 white pixels.
    const int filled = height * 2 / 3;
    test_support::Bytes data;
    for (int row = 0; row < filled; ++row) {
      for (int run = 0; run < 30; ++run) data.insert(data.end(), {100, 1});
      data.insert(data.end(), {0, 0});  // end of line
    }
    data.insert(data.end(), {0, 1});  // end of bitmap
    test_support::Bytes file = {'B', 'M'};
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) file.push_back(uint8_t(v >> (8 * i))); };
    auto u16 = [&](uint32_t v) { file.insert(file.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    u32(0), u32(0), u32(14 + 40 + 8);  // file size, reserved, pixel offset
    u32(40), u32(3000), u32(uint32_t(height)), u16(1), u16(8), u32(1), u32(uint32_t(data.size()));
    u32(0), u32(0), u32(2), u32(0);            // resolution, two colours used
    u32(0x000000), u32(0xFFFFFF);              // black, white
    file.insert(file.end(), data.begin(), data.end());
    const std::string input = dir.File("short.bmp");
    test_support::WriteFileBytes(input, file);
    Picture picture;
    picture.LoadFile(input);
    ASSERT_EQ(picture.Height(), height);
    SaveAs24BitBitmap(*picture.Graphic(), dir.File("out.bmp"));
    const auto written = test_support::ReadFileBytes(dir.File("out.bmp"));
    ASSERT_EQ(written.size(), 54 + size_t(9000) * height);
    // Stored bottom-up, as the file's own rows: the filled rows first.
    const auto top = written.begin() + 54 + ptrdiff_t(9000) * filled;
    EXPECT_TRUE(std::all_of(written.begin() + 54, top, [](uint8_t v) { return v == 255; }));
    EXPECT_TRUE(std::all_of(top, written.end(), [](uint8_t v) { return v == 0; })) << height;
  }
}

}  // namespace
}  // namespace pictures
