#include "pictures/formats/icon.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/stream.h"
#include "support/byte_builders.h"
#include "support/case_names.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::AppendBytes;
using test_support::AppendLE16;
using test_support::AppendLE32;
using test_support::Bytes;
using test_support::PrintTo;
using test_support::RgbImage;
using test_support::ShellQuote;

// A DIB entry: the 40-byte header with the doubled height, then colour table, colour rows
// and mask rows as given (each bottom-up and padded to 4 bytes).
Bytes Dib(int width, int height, int bits, std::initializer_list<int> table,
          std::initializer_list<int> colourRows, std::initializer_list<int> maskRows,
          uint32_t compression = 0) {
  Bytes b;
  AppendLE32(b, 40);
  AppendLE32(b, width);
  AppendLE32(b, height * 2);  // colour rows and mask rows
  AppendLE16(b, 1);           // planes
  AppendLE16(b, bits);
  AppendLE32(b, compression);
  AppendLE32(b, 0);  // image size
  AppendLE32(b, 0);  // resolution
  AppendLE32(b, 0);
  AppendLE32(b, uint32_t(table.size() / 4));  // colours used
  AppendLE32(b, 0);
  AppendBytes(b, table);
  AppendBytes(b, colourRows);
  AppendBytes(b, maskRows);
  return b;
}

enum class Kind { Icon = 1, Cursor = 2 };

// An icon file of the given entries. The directory's size and depth fields are filled
// from `sizes` (width, height, bits) as a writer would, though the reader goes by the
// entries' own headers. A cursor's directory holds a hot spot (5, 7) in place of the
// planes and bits.
Bytes Icon(const std::vector<Bytes>& entries, std::vector<std::array<int, 3>> sizes = {},
           Kind kind = Kind::Icon) {
  Bytes b;
  AppendLE16(b, 0);  // reserved
  AppendLE16(b, uint32_t(kind));
  AppendLE16(b, uint32_t(entries.size()));
  uint32_t offset = 6 + 16 * uint32_t(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto size = i < sizes.size() ? sizes[i] : std::array<int, 3>{0, 0, 0};
    AppendBytes(b, {size[0] & 255, size[1] & 255, 0, 0});  // width, height, colour count, reserved
    AppendLE16(b, kind == Kind::Icon ? 1 : 5);              // planes, or hot spot x
    AppendLE16(b, kind == Kind::Icon ? size[2] : 7);        // bits per pixel, or hot spot y
    AppendLE32(b, uint32_t(entries[i].size()));
    AppendLE32(b, offset);
    offset += uint32_t(entries[i].size());
  }
  for (const Bytes& entry : entries) b.insert(b.end(), entry.begin(), entry.end());
  return b;
}

TIcon Load(const Bytes& bytes) {
  MemoryStream stream(bytes);
  TIcon icon;
  icon.LoadFromStream(stream);
  return icon;
}

// Pixel (x, y) as 0xAARRGGBB.
uint32_t Argb(const Bitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

struct Case {
  const char* name;
  Bytes file;
  int width, height;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB, top row first
};

class IconDecodeTest : public ::testing::TestWithParam<Case> {};

TEST_P(IconDecodeTest, DecodesToTransparent32Bit) {
  const Case& c = GetParam();
  const TIcon icon = Load(c.file);
  ASSERT_EQ(icon.GetPixelFormat(), PixelFormat::Bits32);
  EXPECT_TRUE(icon.Transparent());
  ASSERT_EQ(icon.Width(), c.width);
  ASSERT_EQ(icon.Height(), c.height);
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      EXPECT_EQ(Argb(icon, x, y), c.pixels[y * c.width + x]) << "(" << x << ", " << y << ")";
}

// Colour table entries: blue, green, red, 0.
#define RED 0, 0, 255, 0
#define GREEN 0, 255, 0, 0
#define BLUE 255, 0, 0, 0

INSTANTIATE_TEST_SUITE_P(
    Icons, IconDecodeTest,
    ::testing::Values(
        Case{"OneBitWithMask",
             Icon({Dib(2, 2, 1, {RED, GREEN},
                       {0x40, 0, 0, 0,    // bottom row: 0 1
                        0x80, 0, 0, 0},   // top row: 1 0
                       {0x40, 0, 0, 0,    // bottom row: right pixel transparent
                        0x00, 0, 0, 0})}),
             2, 2, {0xFF00FF00, 0xFFFF0000, 0xFFFF0000, 0x0000FF00}},
        Case{"FourBitShortTable",
             Icon({Dib(3, 1, 4, {RED, GREEN, BLUE}, {0x01, 0x20, 0, 0}, {0x20, 0, 0, 0})}),
             3, 1, {0xFFFF0000, 0xFF00FF00, 0x000000FF}},
        Case{"EightBit",
             Icon({Dib(1, 1, 8, {RED, BLUE}, {1, 0, 0, 0}, {0, 0, 0, 0})}),
             1, 1, {0xFF0000FF}},
        Case{"TwentyFourBitWithMask",
             Icon({Dib(2, 1, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0}, {0x80, 0, 0, 0})}),
             2, 1, {0x00030201, 0xFF060504}},
        Case{"ThirtyTwoBitOwnAlphaIgnoresMask",
             Icon({Dib(2, 1, 32, {}, {1, 2, 3, 0x80, 4, 5, 6, 0}, {0xC0, 0, 0, 0})}),
             2, 1, {0x80030201, 0x00060504}},
        Case{"ThirtyTwoBitWithoutAlphaUsesMask",
             Icon({Dib(2, 1, 32, {}, {1, 2, 3, 0, 4, 5, 6, 0}, {0x40, 0, 0, 0})}),
             2, 1, {0xFF030201, 0x00060504}},
        Case{"MissingMaskIsOpaque",
             Icon({Dib(1, 1, 24, {}, {9, 8, 7, 0}, {})}),
             1, 1, {0xFF070809}}),
    [](const auto& info) { return std::string(info.param.name); });

// Entries that differ in size and depth; each is a picture of one colour so that the
// chosen one can be told by its colour.
Bytes Plain(int size, int bits, uint8_t value) {
  Bytes b;
  AppendLE32(b, 40);
  AppendLE32(b, size);
  AppendLE32(b, size * 2);
  AppendLE16(b, 1);
  AppendLE16(b, bits);
  for (int i = 0; i < 6; ++i) AppendLE32(b, 0);
  if (bits <= 8)
    for (int i = 0; i < (1 << bits); ++i) AppendBytes(b, {value, value, value, 0});
  const size_t stride = (size_t(size) * bits + 31) / 32 * 4;
  const size_t maskStride = (size_t(size) + 31) / 32 * 4;
  b.insert(b.end(), stride * size, bits <= 8 ? 0 : value);
  b.insert(b.end(), maskStride * size, 0);
  return b;
}

struct Choice {
  const char* name;
  std::vector<std::array<int, 2>> entries;  // size, bits
  int chosen;                               // index of the entry that must be shown
  Kind kind = Kind::Icon;
};

class IconChoiceTest : public ::testing::TestWithParam<Choice> {};

TEST_P(IconChoiceTest, ShowsTheEntryTheDesktopWould) {
  const Choice& c = GetParam();
  std::vector<Bytes> entries;
  for (size_t i = 0; i < c.entries.size(); ++i)
    entries.push_back(Plain(c.entries[i][0], c.entries[i][1], uint8_t(10 + 20 * i)));
  MemoryStream stream(Icon(entries, {}, c.kind));
  TIcon icon;
  TCURGraphic cursor;
  Bitmap& picture = c.kind == Kind::Icon ? static_cast<Bitmap&>(icon) : cursor;
  picture.LoadFromStream(stream);
  EXPECT_EQ(picture.Width(), c.entries[c.chosen][0]);
  EXPECT_EQ(picture.ScanLine(0)[0], 10 + 20 * c.chosen);
  EXPECT_TRUE(picture.Transparent());
}

INSTANTIATE_TEST_SUITE_P(
    Icons, IconChoiceTest,
    ::testing::Values(Choice{"StandardSize", {{16, 32}, {32, 4}, {48, 32}}, 1},
                      Choice{"StandardSizeMostColours", {{32, 4}, {32, 24}, {32, 8}, {16, 32}}, 1},
                      Choice{"FirstOfEqualEntries", {{32, 8}, {32, 8}}, 0},
                      Choice{"NearestSize", {{16, 32}, {24, 4}, {64, 32}}, 1},
                      Choice{"LargerOfEquallyNear", {{16, 32}, {48, 8}}, 1},
                      Choice{"NearestThenMostColours", {{48, 4}, {48, 32}, {128, 32}}, 1},
                      // Cursors show their largest picture.
                      Choice{"CursorLargest", {{32, 32}, {64, 4}, {48, 32}}, 1, Kind::Cursor},
                      Choice{"CursorLargestMostColours", {{48, 4}, {48, 32}, {16, 32}}, 1, Kind::Cursor},
                      Choice{"CursorFirstOfEqual", {{32, 8}, {32, 8}}, 0, Kind::Cursor}),
    [](const auto& info) { return std::string(info.param.name); });

struct Broken {
  const char* name;
  Bytes file;
  const char* message;
  Kind kind = Kind::Icon;
};

class IconBrokenTest : public ::testing::TestWithParam<Broken> {};

TEST_P(IconBrokenTest, FailsWithMessage) {
  try {
    MemoryStream stream(GetParam().file);
    if (GetParam().kind == Kind::Icon)
      TIcon().LoadFromStream(stream);
    else
      TCURGraphic().LoadFromStream(stream);
    FAIL() << "loaded";
  } catch (const PictureError& error) {
    EXPECT_STREQ(error.what(), GetParam().message);
  }
}

Bytes WithDirectoryField(Bytes file, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(value >> (8 * i));
  return file;
}

const Bytes kGood = Icon({Dib(1, 1, 24, {}, {1, 2, 3, 0}, {0, 0, 0, 0})});

// A PNG of 8-bit RGBA pixels whose image data is `idat` as given.
Bytes Png(uint32_t width, uint32_t height, const Bytes& idat) {
  Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&](const char* type, const Bytes& data) {
    test_support::AppendBE32(b, uint32_t(data.size()));
    const size_t start = b.size();
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), data.begin(), data.end());
    test_support::AppendBE32(b, uint32_t(crc32(0, &b[start], uInt(b.size() - start))));
  };
  Bytes header;
  test_support::AppendBE32(header, width);
  test_support::AppendBE32(header, height);
  AppendBytes(header, {8, 6, 0, 0, 0});  // depth, colour type RGBA, methods, no interlace
  chunk("IHDR", header);
  chunk("IDAT", idat);
  chunk("IEND", {});
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Icons, IconBrokenTest,
    ::testing::Values(
        Broken{"Empty", {}, "Icon image is not valid"},
        Broken{"NotAnIcon", {'B', 'M', 0, 0, 0, 0, 0, 0}, "Icon image is not valid"},
        Broken{"NoEntries", {0, 0, 1, 0, 0, 0}, "Icon image is not valid"},
        Broken{"DirectoryCutShort", {0, 0, 1, 0, 1, 0, 32, 32}, "Icon image is not valid"},
        Broken{"OffsetPastTheEnd", WithDirectoryField(kGood, 6 + 12, 100000), "Icon image is not valid"},
        Broken{"ColourRowsCutShort",
               Icon({Dib(4, 4, 24, {}, {1, 2, 3}, {})}), "Icon image is not valid"},
        Broken{"RunLengthEntry",
               Icon({Dib(2, 1, 8, {RED}, {2, 0, 0, 1}, {}, 1)}), "Icon image is not valid"},
        Broken{"BadPng",
               Icon({Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H',
                           'D', 'R', 0, 0, 0, 1, 0, 0, 0, 1, 8, 6, 0, 0, 0, 0, 0, 0, 0}}),
               "Icon image is not valid (IHDR: CRC error)"},
        // 256 MB of pixels cannot come from 10 bytes of Deflate data (1032 at most from one).
        Broken{"SmallPngDeclaringALargePicture",
               Icon({Png(8000, 8000, {0x78, 0x9C, 0x63, 0, 1, 0, 0, 5, 0, 1})}),
               "Icon image is not valid (too little image data)"},
        Broken{"CursorWithoutEntries", Icon({}, {}, Kind::Cursor), "CUR: cursor image is not valid",
               Kind::Cursor},
        Broken{"CursorBadPng",
               Icon({Png(8000, 8000, {0x78, 0x9C, 0x63, 0, 1, 0, 0, 5, 0, 1})}, {}, Kind::Cursor),
               "CUR: cursor image is not valid (too little image data)", Kind::Cursor}),
    [](const auto& info) { return std::string(info.param.name); });

// Icons written by ImageMagick and PIL, compared with ImageMagick's decode of the entry
// we chose, both drawn over white as the conversion draws them.
struct ToolCase {
  const char* name;
  const char* make;  // SRC: a 64 x 64 PNG with an alpha gradient; OUT: the icon
  int width;         // the size of the entry that must be chosen
};

class IconToolTest : public ::testing::TestWithParam<ToolCase> {};

TEST_P(IconToolTest, MatchesImageMagicksDecodeOfTheChosenEntry) {
  const ToolCase& c = GetParam();
  if (!test_support::ToolAvailable(test_support::kConvert)) GTEST_SKIP() << "no ImageMagick";
  test_support::TempDir dir;
  const std::string src = dir.File("src.png"), out = dir.File("out.ico");
  auto made = test_support::RunCommand(
      std::string(test_support::kConvert) + " -size 64x64 -seed 9 plasma:fractal -alpha set "
      "-channel A -fx 'i/w' +channel " + ShellQuote(src));
  ASSERT_EQ(made.status, 0) << made.output;
  made = test_support::RunCommand(test_support::FillPaths(c.make, {{"SRC", src}, {"OUT", out}}));
  ASSERT_EQ(made.status, 0) << made.output;

  TIcon icon;
  icon.LoadFile(out);
  ASSERT_EQ(icon.Width(), c.width);
  // The index of that entry, as ImageMagick numbers them.
  const auto sizes = test_support::RunCommand("identify -format '%w\\n' " + ShellQuote(out));
  ASSERT_EQ(sizes.status, 0);
  int index = 0;
  for (size_t start = 0; std::stoi(sizes.output.substr(start)) != c.width; ++index)
    start = sizes.output.find('\n', start) + 1;
  const std::string entry = ShellQuote(out + "[" + std::to_string(index) + "]");

  Bitmap canvas;
  canvas.SetPixelFormat(PixelFormat::Bits24);
  canvas.SetSize(icon.Width(), icon.Height());
  DrawOnCanvas(canvas, icon);
  const RgbImage flat = test_support::DecodeWith(std::string(test_support::kConvert) + " " +
                                                 entry + " -background white -alpha remove -depth 8 ppm:-");
  // ImageMagick writes 16-bit PNG entries; reducing them to 8 bits may round an alpha
  // differently by one, which moves a blended colour by up to two.
  EXPECT_TRUE(test_support::BitmapMatches(canvas, flat, 2));
  const RgbImage withAlpha =
      test_support::DecodeWith(std::string(test_support::kConvert) + " " + entry + " -depth 8 pam:-");
  EXPECT_TRUE(test_support::AlphaMatches(icon, withAlpha, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Icons, IconToolTest,
    ::testing::Values(
        ToolCase{"ImageMagickSeveralSizes",
                 "/usr/bin/convert SRC -define icon:auto-resize=16,48,32,256 OUT", 32},
        ToolCase{"ImageMagickNoStandardSize",
                 "/usr/bin/convert SRC -define icon:auto-resize=16,48 OUT", 48},
        ToolCase{"ImageMagickPngOnly", "/usr/bin/convert SRC -define icon:auto-resize=256 OUT",
                 256},
        ToolCase{"ImageMagickFourBit",
                 "/usr/bin/convert SRC -alpha off -resize 32x32 -colors 16 -type Palette OUT", 32},
        ToolCase{"PilPng",
                 "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                 "Image.open(sys.argv[1]).save(sys.argv[2], sizes=[(16, 16), (32, 32), (48, 48)])\" "
                 "SRC OUT",
                 32},
        ToolCase{"PilBitmapWithMask",
                 "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                 "Image.open(sys.argv[1]).save(sys.argv[2], sizes=[(16, 16), (32, 32)], "
                 "bitmap_format='bmp')\" SRC OUT",
                 32}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pictures
