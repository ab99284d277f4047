#include "pictures/bitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/error.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;

class PixelLimitGuard {
 public:
  explicit PixelLimitGuard(uint64_t bytes) : saved_(Bitmap::PixelMemoryLimit()) {
    Bitmap::SetPixelMemoryLimit(bytes);
  }
  ~PixelLimitGuard() { Bitmap::SetPixelMemoryLimit(saved_); }

 private:
  uint64_t saved_;
};

Bytes CanvasRow(const Bitmap& canvas, int y) {
  const uint8_t* row = canvas.ScanLine(y);
  return Bytes(row, row + 3 * canvas.Width());
}

TEST(Bitmap, RowsArePaddedToFourBytesForEveryFormat) {
  struct Case { PixelFormat format; int width; size_t rowBytes; size_t stride; };
  const Case cases[] = {
      {PixelFormat::Bits1, 10, 2, 4},   {PixelFormat::Bits1, 33, 5, 8},
      {PixelFormat::Bits4, 3, 2, 4},    {PixelFormat::Bits8, 5, 5, 8},
      {PixelFormat::Bits15, 3, 6, 8},   {PixelFormat::Bits24, 1, 3, 4},
      {PixelFormat::Bits24, 5, 15, 16}, {PixelFormat::Bits32, 3, 12, 12},
      {PixelFormat::Device, 2, 8, 8},
  };
  for (const Case& c : cases) {
    Bitmap bitmap;
    bitmap.SetPixelFormat(c.format);
    bitmap.SetSize(c.width, 2);
    EXPECT_EQ(bitmap.RowBytes(), c.rowBytes) << PixelFormatName(c.format);
    EXPECT_EQ(bitmap.RowStride(), c.stride) << PixelFormatName(c.format);
    EXPECT_EQ(bitmap.ScanLine(1) - bitmap.ScanLine(0), std::ptrdiff_t(c.stride));
  }
}

TEST(Bitmap, WidthAndHeightInEitherOrderKeepThePixelsInside) {
  Bitmap bitmap;
  bitmap.SetPixelFormat(PixelFormat::Bits8);
  bitmap.SetHeight(3);
  EXPECT_TRUE(bitmap.Empty());
  bitmap.SetWidth(4);
  ASSERT_EQ(bitmap.Width(), 4);
  ASSERT_EQ(bitmap.Height(), 3);
  for (int y = 0; y < 3; ++y) std::memset(bitmap.ScanLine(y), 10 + y, 4);
  bitmap.SetWidth(2);
  bitmap.SetHeight(4);
  EXPECT_EQ(bitmap.ScanLine(0)[1], 10);
  EXPECT_EQ(bitmap.ScanLine(2)[0], 12);
  EXPECT_EQ(bitmap.ScanLine(3)[0], 0);  // new rows are zero
  EXPECT_THROW(bitmap.ScanLine(4), PictureError);
  EXPECT_THROW(bitmap.ScanLine(-1), PictureError);
}

TEST(Bitmap, StartingPalettesFollowThePixelFormat) {
  Bitmap bitmap;
  bitmap.SetPixelFormat(PixelFormat::Bits1);
  ASSERT_EQ(bitmap.Palette().size(), 2u);
  EXPECT_EQ(bitmap.Palette()[1], (PaletteEntry{255, 255, 255, 0}));
  bitmap.SetPixelFormat(PixelFormat::Bits4);
  ASSERT_EQ(bitmap.Palette().size(), 16u);
  EXPECT_EQ(bitmap.Palette()[9], (PaletteEntry{255, 0, 0, 0}));
  bitmap.SetPixelFormat(PixelFormat::Bits8);
  ASSERT_EQ(bitmap.Palette().size(), 256u);
  EXPECT_EQ(bitmap.Palette()[0], (PaletteEntry{0, 0, 0, 0}));
  EXPECT_EQ(bitmap.Palette()[255], (PaletteEntry{255, 255, 255, 0}));
  bitmap.SetPixelFormat(PixelFormat::Bits24);
  EXPECT_TRUE(bitmap.Palette().empty());

  // A palette of its own replaces the starting one; an empty handle changes nothing.
  bitmap.SetPixelFormat(PixelFormat::Bits8);
  bitmap.SetPalette(CreatePalette(GreyPaletteRecord()));
  EXPECT_EQ(bitmap.Palette()[10], (PaletteEntry{10, 10, 10, 0}));
  bitmap.SetPalette(CreatePalette(LogPalette()));
  EXPECT_EQ(bitmap.Palette()[10], (PaletteEntry{10, 10, 10, 0}));
}

TEST(Palette, CreatePaletteRefusesRecordsItCannotMake) {
  EXPECT_EQ(CreatePalette(LogPalette()), nullptr);
  EXPECT_EQ(CreatePalette(LogPalette(257)), nullptr);
  LogPalette wrongVersion(2);
  wrongVersion.version = 0x200;
  EXPECT_EQ(CreatePalette(wrongVersion), nullptr);
  EXPECT_NE(CreatePalette(LogPalette(256)), nullptr);
}

TEST(Bitmap, SizesPastTheMemoryLimitFailAndLeaveTheBitmapAsItWas) {
  PixelLimitGuard limit(1 << 20);
  Bitmap bitmap;
  bitmap.SetPixelFormat(PixelFormat::Bits24);
  bitmap.SetSize(10, 10);
  EXPECT_THROW(bitmap.SetSize(1000, 1000), BitmapTooLarge);
  EXPECT_EQ(bitmap.Width(), 10);
  EXPECT_EQ(bitmap.Height(), 10);
  EXPECT_THROW(bitmap.SetSize(0x7FFFFFFF, 0x7FFFFFFF), BitmapTooLarge);
  EXPECT_THROW(bitmap.SetSize(-1, 5), PictureError);
  EXPECT_THROW(CheckedBufferSize({uint64_t(1) << 40, uint64_t(1) << 40}), BitmapTooLarge);
  EXPECT_EQ(CheckedBufferSize({3, 4, 5}), 60u);
}

TEST(Bitmap, CanFillComparesDataAtItsBestExpansionWithTheNeed) {
  struct Row { uint64_t data, expansion, needed; bool fills; };
  for (const Row& row : {Row{100, 1, 100, true}, Row{99, 1, 100, false},
                         Row{2, 128, 256, true}, Row{1, 128, 129, false},
                         Row{0, 5, 0, true}, Row{1000, 0, 1, false},
                         Row{1, ~uint64_t(0), ~uint64_t(0), true}}) {
    EXPECT_EQ(CanFill(row.data, row.expansion, row.needed), row.fills)
        << row.data << " x " << row.expansion << " for " << row.needed;
  }
  EXPECT_THROW(RequireFill(1, 2, 3), StreamReadError);
}

TEST(Bitmap, AssignCopiesPixelsPaletteAndTransparency) {
  Bitmap source;
  source.SetPixelFormat(PixelFormat::Bits8);
  source.SetSize(3, 2);
  source.SetPalette(CreatePalette(GreyPaletteRecord()));
  source.ScanLine(1)[2] = 77;
  source.SetTransparent(true);
  Bitmap copy;
  copy = source;
  source.ScanLine(1)[2] = 1;
  EXPECT_EQ(copy.GetPixelFormat(), PixelFormat::Bits8);
  EXPECT_EQ(copy.ScanLine(1)[2], 77);
  EXPECT_EQ(copy.Palette()[77], (PaletteEntry{77, 77, 77, 0}));
  EXPECT_TRUE(copy.Transparent());
  copy.Clear();
  EXPECT_TRUE(copy.Empty());
  EXPECT_EQ(copy.GetPixelFormat(), PixelFormat::None);
}

Bitmap Canvas(int width, int height, uint8_t fill) {
  Bitmap canvas;
  canvas.SetPixelFormat(PixelFormat::Bits24);
  canvas.SetSize(width, height);
  for (int y = 0; y < height; ++y) std::memset(canvas.ScanLine(y), fill, canvas.RowBytes());
  return canvas;
}

TEST(DrawOnCanvas, ConvertsEveryFormatToBlueGreenRed) {
  Bitmap mono;
  mono.SetPixelFormat(PixelFormat::Bits1);
  mono.SetSize(10, 1);
  mono.ScanLine(0)[0] = 0b10000000;
  mono.ScanLine(0)[1] = 0b01000000;  // pixel 9
  Bitmap canvas = Canvas(10, 1, 0x55);
  DrawOnCanvas(canvas, mono);
  Bytes row = CanvasRow(canvas, 0);
  EXPECT_EQ(row[0], 255);
  EXPECT_EQ(row[3], 0);
  EXPECT_EQ(row[27], 255);

  Bitmap nibbles;
  nibbles.SetPixelFormat(PixelFormat::Bits4);
  nibbles.SetSize(3, 1);
  nibbles.ScanLine(0)[0] = 0x9C;  // red, blue
  nibbles.ScanLine(0)[1] = 0xF0;  // white
  canvas = Canvas(3, 1, 0);
  DrawOnCanvas(canvas, nibbles);
  EXPECT_EQ(CanvasRow(canvas, 0), (Bytes{0, 0, 255, 255, 0, 0, 255, 255, 255}));

  // Indices past a short palette draw black.
  Bitmap indexed;
  indexed.SetPixelFormat(PixelFormat::Bits8);
  indexed.SetSize(2, 1);
  LogPalette two(2);
  two.entries[1] = {10, 20, 30, 0};
  indexed.SetPalette(CreatePalette(two));
  indexed.ScanLine(0)[0] = 1;
  indexed.ScanLine(0)[1] = 200;
  canvas = Canvas(2, 1, 0x55);
  DrawOnCanvas(canvas, indexed);
  EXPECT_EQ(CanvasRow(canvas, 0), (Bytes{30, 20, 10, 0, 0, 0}));

  Bitmap high;
  high.SetPixelFormat(PixelFormat::Bits15);
  high.SetSize(2, 1);
  const uint16_t words[2] = {0x7FFF, 0x7C00};  // white, pure red
  std::memcpy(high.ScanLine(0), words, 4);
  canvas = Canvas(2, 1, 0);
  DrawOnCanvas(canvas, high);
  EXPECT_EQ(CanvasRow(canvas, 0), (Bytes{255, 255, 255, 0, 0, 255}));

  Bitmap opaque;
  opaque.SetPixelFormat(PixelFormat::Bits32);
  opaque.SetSize(1, 1);
  const uint8_t bgra[4] = {1, 2, 3, 0};  // alpha 0 is dropped, not applied
  std::memcpy(opaque.ScanLine(0), bgra, 4);
  canvas = Canvas(1, 1, 0x55);
  DrawOnCanvas(canvas, opaque);
  EXPECT_EQ(CanvasRow(canvas, 0), (Bytes{1, 2, 3}));
}

TEST(DrawOnCanvas, BlendsTransparentPicturesOverWhiteAndClipsToTheCanvas) {
  Bitmap icon;
  icon.SetPixelFormat(PixelFormat::Bits32);
  icon.SetTransparent(true);
  icon.SetSize(3, 3);
  const uint8_t pixels[3][4] = {{0, 0, 0, 0}, {200, 100, 0, 255}, {0, 50, 250, 128}};
  std::memcpy(icon.ScanLine(0), pixels, sizeof pixels);
  // Whatever the canvas held, the picture is shown as on a white page; RowToBGR agrees.
  Bitmap canvas = Canvas(3, 1, 100);
  DrawOnCanvas(canvas, icon);
  const Bytes overWhite = {255, 255, 255, 200, 100, 0, 127, 152, 252};
  EXPECT_EQ(CanvasRow(canvas, 0), overWhite);
  Bytes row(9);
  RowToBGR(icon, 0, row.data());
  EXPECT_EQ(row, overWhite);

  Bitmap small = Canvas(2, 2, 9);
  Bitmap large = Canvas(5, 5, 7);
  DrawOnCanvas(small, large);
  EXPECT_EQ(CanvasRow(small, 1), Bytes(6, 7));
  Bitmap paletted;
  paletted.SetPixelFormat(PixelFormat::Bits8);
  paletted.SetSize(1, 1);
  EXPECT_THROW(DrawOnCanvas(paletted, small), PictureError);
}

}  // namespace
}  // namespace pictures
