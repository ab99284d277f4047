#include "pictures/formats/autodesk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "support/byte_builders.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::AppendLE16;
using test_support::Load;

// Palette entry i of the test files: red i mod 64, green 63 - i mod 64, blue i / 4.
Bytes TestPalette() {
  Bytes palette;
  for (int i = 0; i < 256; ++i) {
    palette.push_back(uint8_t(i % 64));
    palette.push_back(uint8_t(63 - i % 64));
    palette.push_back(uint8_t(i / 4));
  }
  return palette;
}

PaletteEntry TestEntry(int i) {
  return {uint8_t(i % 64 * 4), uint8_t((63 - i % 64) * 4), uint8_t(i / 4 * 4), 0};
}

uint8_t Index(int x, int y) { return uint8_t(x * 3 + y * 50); }

// A whole file. Header (32 bytes, little-endian): the magic 0x9119, width, height, then 26
// bytes the reader does not use. Then 768 bytes of palette (red, green, blue, 0..63 each),
// then width x height indices, top row first.
Bytes File(int width, int height, Bytes palette = TestPalette()) {
  Bytes file;
  AppendLE16(file, 0x9119);  // magic
  AppendLE16(file, width);
  AppendLE16(file, height);
  AppendLE16(file, 0);  // x offset
  AppendLE16(file, 0);  // y offset
  file.push_back(8);  // bits per pixel
  file.push_back(0);  // compression
  AppendLE16(file, 0);  // packed size
  file.resize(32, 0);  // the rest of the header
  file.insert(file.end(), palette.begin(), palette.end());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) file.push_back(Index(x, y));
  return file;
}

std::string LoadError(const Bytes& file) { return test_support::LoadError<TAutodeskGraphic>(file); }

TEST(AutodeskReader, ReadsIndicesAndThePaletteScaledToBytes) {
  const Bytes file = File(320, 200);
  ASSERT_EQ(file.size(), 64800u);
  TAutodeskGraphic picture;
  Load(picture, file);
  ASSERT_EQ(picture.GetPixelFormat(), PixelFormat::Bits8);
  ASSERT_EQ(picture.Width(), 320);
  ASSERT_EQ(picture.Height(), 200);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x) ASSERT_EQ(picture.ScanLine(y)[x], Index(x, y)) << x << "," << y;
  ASSERT_EQ(picture.Palette().size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(picture.Palette()[size_t(i)], TestEntry(i)) << i;
}

TEST(AutodeskReader, PaletteComponentsAreMultipliedByFourWithinAByte) {
  const std::pair<uint8_t, uint8_t> cases[] = {{0, 0}, {1, 4}, {63, 252}, {64, 0}, {65, 4}, {255, 252}};
  for (const auto& [stored, shown] : cases) {
    Bytes palette(768, 0);
    palette[3] = stored;      // red of entry 1
    palette[3 * 255 + 2] = stored;  // blue of entry 255
    TAutodeskGraphic picture;
    Load(picture, File(1, 1, palette));
    EXPECT_EQ(picture.Palette()[1].red, shown) << int(stored);
    EXPECT_EQ(picture.Palette()[255].blue, shown) << int(stored);
  }
}

TEST(AutodeskReader, OtherFilesAreRejectedAtTheirFirstWord) {
  const char* message = "Cannot load image. Only old style Autodesk images are supported.";
  Bytes swapped = File(4, 4);
  std::swap(swapped[0], swapped[1]);
  Bytes newStyle = File(4, 4);
  newStyle[0] = 0x19;
  newStyle[1] = 0x92;
  const Bytes cases[] = {swapped, newStyle, {}, {0x19}, Bytes(800, 0)};
  for (const Bytes& file : cases) EXPECT_EQ(LoadError(file), message) << file.size() << " bytes";
}

TEST(AutodeskReader, FilesThatCannotFillTheirPictureFailBeforeItIsMade) {
  const Bytes full = File(4, 3);
  auto cut = [&](size_t size) { return Bytes(full.begin(), full.begin() + long(size)); };
  Bytes bomb = File(8000, 8000);  // 64 MB of pixels declared ...
  bomb.resize(800 + 100);         // ... and 100 bytes there
  const std::pair<const char*, Bytes> cases[] = {
      {"one index short", cut(full.size() - 1)},
      {"no pixels", cut(800)},
      {"palette cut after entry 9", cut(32 + 30)},
      {"header only", cut(32)},
      {"header cut after the height", cut(6)},
      {"without its width and height", cut(5)},
      {"a large picture declared by a small file", bomb},
  };
  for (const auto& [what, file] : cases) EXPECT_EQ(LoadError(file), "Stream read error") << what;
  EXPECT_EQ(LoadError(full), "no error");
}

TEST(AutodeskReader, EmptyPictures) {
  for (auto [width, height] : {std::pair{0, 0}, {0, 5}, {5, 0}}) {
    TAutodeskGraphic picture;
    Load(picture, File(width, height));
    EXPECT_TRUE(picture.Empty());
    EXPECT_EQ(picture.GetPixelFormat(), PixelFormat::Bits8);
  }
}

TEST(AutodeskReader, PicturesLoadByNameThroughTheRegistry) {
  RegisterReaders();
  test_support::TempDir dir;
  for (const char* name : {"logo.cel", "LOGO.PIC", "logo.Pic"}) {
    test_support::WriteFileBytes(dir.File(name), File(6, 2));
    Picture holder;
    holder.LoadFile(dir.File(name));
    ASSERT_NE(holder.Graphic(), nullptr) << name;
    EXPECT_EQ(&holder.Graphic()->Class(), &TAutodeskGraphic::StaticClass()) << name;
    EXPECT_EQ(holder.Graphic()->ScanLine(1)[5], Index(5, 1)) << name;
  }
}

}  // namespace
}  // namespace pictures
