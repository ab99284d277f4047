#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "pictures/bitmap.h"
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

// BITMAPFILEHEADER: "BM", file size (not checked by readers), reserved, pixel offset.
void FileHeader(Bytes& b, uint32_t pixelOffset) {
  AppendBytes(b, {'B', 'M'});
  AppendLE32(b, 0);  // file size: left 0, as some writers do
  AppendLE32(b, 0);  // reserved
  AppendLE32(b, pixelOffset);
}

// The 40-byte BITMAPINFOHEADER.
void InfoHeader(Bytes& b, int32_t width, int32_t height, int bits, uint32_t compression,
                uint32_t colorsUsed = 0, uint32_t size = 40) {
  AppendLE32(b, size);         // header size
  AppendLE32(b, uint32_t(width));
  AppendLE32(b, uint32_t(height));  // negative: top-down
  AppendLE16(b, 1);            // planes
  AppendLE16(b, bits);         // bits per pixel
  AppendLE32(b, compression);  // 0 RGB, 1 RLE8, 2 RLE4, 3 BITFIELDS
  AppendLE32(b, 0);            // image size
  AppendLE32(b, 2835);         // x pixels per metre
  AppendLE32(b, 2835);         // y pixels per metre
  AppendLE32(b, colorsUsed);   // colours used
  AppendLE32(b, 0);            // colours important
}

// Fields 40..123 of a version 4 or 5 header after InfoHeader(..., size 108 or 124).
void V4Fields(Bytes& b, uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha,
              bool v5) {
  AppendLE32(b, red);
  AppendLE32(b, green);
  AppendLE32(b, blue);
  AppendLE32(b, alpha);
  AppendBytes(b, {'B', 'G', 'R', 's'});             // colour space
  for (int i = 0; i < 9 + 3; ++i) AppendLE32(b, 0);  // end points, gamma
  if (v5)
    for (int i = 0; i < 4; ++i) AppendLE32(b, 0);  // intent, profile data, profile size, reserved
}

void Rgb(Bytes& b, int red, int green, int blue) { AppendBytes(b, {blue, green, red, 0}); }

struct Expected {
  PixelFormat format;
  int width, height;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, top row first
  std::vector<uint8_t> alpha = {};  // for 32-bit results, when checked
};

struct Case {
  const char* name;
  std::function<Bytes()> build;
  Expected expected;
};

Bitmap Load(const Bytes& bytes) {
  MemoryStream stream(bytes);
  Bitmap bitmap;
  bitmap.LoadFromStream(stream);
  return bitmap;
}

void CheckPixels(const Bitmap& bitmap, const Expected& e) {
  ASSERT_EQ(bitmap.GetPixelFormat(), e.format);
  ASSERT_EQ(bitmap.Width(), e.width);
  ASSERT_EQ(bitmap.Height(), e.height);
  // A bitmap file keeps its alpha in the pixels, but is drawn without it.
  EXPECT_FALSE(bitmap.Transparent());
  RgbImage expected;
  expected.width = e.width;
  expected.height = e.height;
  for (uint32_t p : e.pixels)
    AppendBytes(expected.rgb, {int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)});
  EXPECT_TRUE(test_support::BitmapMatches(bitmap, expected));
  if (!e.alpha.empty()) {
    expected.alpha = e.alpha;
    EXPECT_TRUE(test_support::AlphaMatches(bitmap, expected));
  }
}

const std::vector<Case>& DecodeCases() {
  static const std::vector<Case> cases = {
      {"OneBitBottomUp",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 8);
         InfoHeader(b, 3, 2, 1, 0);
         Rgb(b, 0, 0, 0);      // index 0
         Rgb(b, 255, 0, 0);    // index 1
         AppendBytes(b, {0xA0, 0, 0, 0});  // bottom row: 1 0 1, padded to 4 bytes
         AppendBytes(b, {0x40, 0, 0, 0});  // top row: 0 1 0
         return b;
       },
       {PixelFormat::Bits1, 3, 2, {0x000000, 0xFF0000, 0x000000, 0xFF0000, 0x000000, 0xFF0000}}},
      {"FourBitTopDownShortPalette",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 12);
         InfoHeader(b, 3, -2, 4, 0, 3);  // negative height: top-down; three colours
         Rgb(b, 10, 20, 30);
         Rgb(b, 40, 50, 60);
         Rgb(b, 70, 80, 90);
         AppendBytes(b, {0x01, 0x20, 0, 0});  // top row: 0 1 2
         AppendBytes(b, {0x21, 0x00, 0, 0});  // second row: 2 1 0
         return b;
       },
       {PixelFormat::Bits4, 3, 2, {0x0A141E, 0x28323C, 0x46505A, 0x46505A, 0x28323C, 0x0A141E}}},
      {"EightBitCoreHeader",
       [] {
         Bytes b;
         FileHeader(b, 14 + 12 + 256 * 3);
         AppendLE32(b, 12);  // BITMAPCOREHEADER
         AppendLE16(b, 2);   // width
         AppendLE16(b, 1);   // height
         AppendLE16(b, 1);   // planes
         AppendLE16(b, 8);   // bits
         // RGBTRIPLEs: blue, green, red
         for (int i = 0; i < 256; ++i) AppendBytes(b, {i, 255 - i, 7});
         AppendBytes(b, {3, 250, 0, 0});  // one row, padded
         return b;
       },
       {PixelFormat::Bits8, 2, 1, {0x07FC03, 0x0705FA}}},
      {"EightBitOs2Version2",
       [] {
         Bytes b;
         FileHeader(b, 14 + 64 + 2 * 4);
         InfoHeader(b, 1, 1, 8, 0, 2, 64);
         for (int i = 0; i < 6; ++i) AppendLE32(b, 0);  // units .. identifier: 24 more bytes
         Rgb(b, 1, 2, 3);
         Rgb(b, 4, 5, 6);
         AppendBytes(b, {1, 0, 0, 0});
         return b;
       },
       {PixelFormat::Bits8, 1, 1, {0x040506}}},
      {"SixteenBitRgbIs555",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40);
         InfoHeader(b, 2, 1, 16, 0);
         AppendLE16(b, 0x7C00);  // red
         AppendLE16(b, 0x03FF);  // green + blue
         return b;
       },
       {PixelFormat::Bits15, 2, 1, {0xFF0000, 0x00FFFF}}},
      {"SixteenBit565BitFieldsAfterHeader",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 12);
         InfoHeader(b, 3, 1, 16, 3);
         AppendLE32(b, 0xF800);  // red mask
         AppendLE32(b, 0x07E0);  // green mask
         AppendLE32(b, 0x001F);  // blue mask
         AppendLE16(b, 0xF800);
         AppendLE16(b, 0x0400);  // green 32 of 63
         AppendLE16(b, 0x0001);  // blue 1 of 31
         AppendBytes(b, {0, 0});  // padding
         return b;
       },
       {PixelFormat::Bits24, 3, 1, {0xFF0000, 0x008200, 0x000008}}},
      {"TwentyFourBitBottomUp",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40);
         InfoHeader(b, 1, 2, 24, 0);
         AppendBytes(b, {1, 2, 3, 0});  // bottom row: blue 1, green 2, red 3, padding
         AppendBytes(b, {4, 5, 6, 0});  // top row
         return b;
       },
       {PixelFormat::Bits24, 1, 2, {0x060504, 0x030201}}},
      {"ThirtyTwoBitRgbIgnoresFourthByte",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40);
         InfoHeader(b, 2, 1, 32, 0);
         AppendBytes(b, {1, 2, 3, 0, 4, 5, 6, 77});
         return b;
       },
       {PixelFormat::Bits32, 2, 1, {0x030201, 0x060504}, {255, 255}}},
      {"ThirtyTwoBitV5AlphaMask",
       [] {
         Bytes b;
         FileHeader(b, 14 + 124);
         InfoHeader(b, 2, 1, 32, 3, 0, 124);
         V4Fields(b, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, true);
         AppendBytes(b, {1, 2, 3, 0, 4, 5, 6, 128});
         return b;
       },
       {PixelFormat::Bits32, 2, 1, {0x030201, 0x060504}, {0, 128}}},
      {"ThirtyTwoBitAlphaAllZeroIsOpaque",
       [] {
         Bytes b;
         FileHeader(b, 14 + 108);
         InfoHeader(b, 2, 1, 32, 3, 0, 108);
         V4Fields(b, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, false);
         AppendBytes(b, {1, 2, 3, 0, 4, 5, 6, 0});
         return b;
       },
       {PixelFormat::Bits32, 2, 1, {0x030201, 0x060504}, {255, 255}}},
      {"ThirtyTwoBitOtherMasksWithoutAlpha",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 12);
         InfoHeader(b, 1, 1, 32, 3);
         AppendLE32(b, 0x000000FF);  // red in the first byte
         AppendLE32(b, 0x0000FF00);
         AppendLE32(b, 0x00FF0000);  // blue in the third
         AppendBytes(b, {0x11, 0x22, 0x33, 0x44});
         return b;
       },
       {PixelFormat::Bits24, 1, 1, {0x112233}}},
      {"TenBitChannelsAreScaled",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 12);
         InfoHeader(b, 1, 1, 32, 3);
         AppendLE32(b, 0x3FF00000);  // 10-bit red
         AppendLE32(b, 0x000FFC00);
         AppendLE32(b, 0x000003FF);
         AppendLE32(b, 0x3FF00000 | (512 << 10) | 0);  // red max, green about half, blue 0
         return b;
       },
       {PixelFormat::Bits24, 1, 1, {0xFF8000}}},
      {"SixteenBit1555AlphaFromV4",
       [] {
         Bytes b;
         FileHeader(b, 14 + 108);
         InfoHeader(b, 2, 1, 16, 3, 0, 108);
         V4Fields(b, 0x7C00, 0x03E0, 0x001F, 0x8000, false);
         AppendLE16(b, 0x8000 | 0x7C00);  // opaque red
         AppendLE16(b, 0x001F);           // transparent blue
         return b;
       },
       {PixelFormat::Bits32, 2, 1, {0xFF0000, 0x0000FF}, {255, 0}}},
      {"Version3HeaderWithMasksInside",
       [] {
         Bytes b;
         FileHeader(b, 14 + 56);
         InfoHeader(b, 1, 1, 16, 3, 0, 56);
         AppendLE32(b, 0xF800);
         AppendLE32(b, 0x07E0);
         AppendLE32(b, 0x001F);
         AppendLE32(b, 0);  // no alpha
         AppendLE16(b, 0x07E0);
         AppendBytes(b, {0, 0});
         return b;
       },
       {PixelFormat::Bits24, 1, 1, {0x00FF00}}},
      {"Rle8RunsLiteralsDeltaAndEnds",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 4 * 4);
         InfoHeader(b, 4, 3, 8, 1, 4);
         Rgb(b, 0, 0, 0);
         Rgb(b, 255, 0, 0);
         Rgb(b, 0, 255, 0);
         Rgb(b, 0, 0, 255);
         AppendBytes(b, {2, 1});        // bottom row: two of colour 1
         AppendBytes(b, {0, 0});        // end of row
         AppendBytes(b, {0, 3, 2, 3, 1, 0});  // literal 2 3 1, padded to even length
         AppendBytes(b, {0, 2, 0, 1});  // delta: none right, one up: (3, top row)
         AppendBytes(b, {1, 3});        // one of colour 3
         AppendBytes(b, {0, 1});        // end of picture
         AppendBytes(b, {5, 2});        // never read
         return b;
       },
       {PixelFormat::Bits8,
        4,
        3,
        {0x000000, 0x000000, 0x000000, 0x0000FF,    // top row
         0x00FF00, 0x0000FF, 0xFF0000, 0x000000,    // middle row: literal
         0xFF0000, 0xFF0000, 0x000000, 0x000000}}},  // bottom row: run
      {"Rle4RunsAndOddLiteral",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 3 * 4);
         InfoHeader(b, 5, -1, 4, 2, 3);  // top-down RLE4 is read too
         Rgb(b, 0, 0, 0);
         Rgb(b, 255, 0, 0);
         Rgb(b, 0, 255, 0);
         AppendBytes(b, {3, 0x12});        // 1 2 1
         AppendBytes(b, {0, 3, 0x21, 0x20});  // literal 2 1 2 (two bytes, already even)
         AppendBytes(b, {0, 1});
         return b;
       },
       {PixelFormat::Bits4, 5, 1, {0xFF0000, 0x00FF00, 0xFF0000, 0x00FF00, 0xFF0000}}},
      {"Rle4LiteralsArePaddedByTheirBytes",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 3 * 4);
         InfoHeader(b, 11, -1, 4, 2, 3);
         Rgb(b, 0, 0, 0);
         Rgb(b, 255, 0, 0);
         Rgb(b, 0, 255, 0);
         AppendBytes(b, {0, 3, 0x12, 0x10});           // 1 2 1: an odd count in two bytes
         AppendBytes(b, {0, 6, 0x21, 0x12, 0x21, 0});  // 2 1 1 2 2 1: three bytes and a pad
         AppendBytes(b, {2, 0x12});                    // 1 2, in the same row
         AppendBytes(b, {0, 1});
         return b;
       },
       {PixelFormat::Bits4, 11, 1,
        {0xFF0000, 0x00FF00, 0xFF0000, 0x00FF00, 0xFF0000, 0xFF0000, 0x00FF00, 0x00FF00,
         0xFF0000, 0xFF0000, 0x00FF00}}},
      {"Rle8RunPastTheEdgeIsClipped",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 2 * 4);
         InfoHeader(b, 2, 2, 8, 1, 2);
         Rgb(b, 0, 0, 0);
         Rgb(b, 9, 9, 9);
         AppendBytes(b, {200, 1});  // a run of 200 in a row of 2
         AppendBytes(b, {0, 0});
         AppendBytes(b, {0, 2, 250, 7});  // delta far past the right edge and past the top
         AppendBytes(b, {1, 1});
         return b;
       },
       {PixelFormat::Bits8, 2, 2, {0, 0, 0x090909, 0x090909}}},
      {"Rle8DataEndingEarlyStops",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 2 * 4);
         InfoHeader(b, 3, 1, 8, 1, 2);
         Rgb(b, 0, 0, 0);
         Rgb(b, 255, 255, 255);
         AppendBytes(b, {0, 5, 1, 1});  // a literal of five pixels with only two there
         return b;
       },
       {PixelFormat::Bits8, 3, 1, {0xFFFFFF, 0xFFFFFF, 0}}},
      {"Os2Rle24",
       [] {
         Bytes b;
         FileHeader(b, 14 + 64);
         InfoHeader(b, 3, 1, 24, 4, 0, 64);  // compression 4 in an OS/2 header: RLE24
         for (int i = 0; i < 6; ++i) AppendLE32(b, 0);
         AppendBytes(b, {2, 1, 2, 3});      // two pixels blue 1, green 2, red 3
         AppendBytes(b, {0, 1});
         return b;
       },
       {PixelFormat::Bits24, 3, 1, {0x030201, 0x030201, 0}}},
      {"PackedDibWithoutFileHeader",
       [] {
         Bytes b;
         InfoHeader(b, 1, 1, 8, 0, 2);
         Rgb(b, 1, 1, 1);
         Rgb(b, 200, 100, 50);
         AppendBytes(b, {1, 0, 0, 0});
         return b;
       },
       {PixelFormat::Bits8, 1, 1, {0xC86432}}},
      {"PixelOffsetShortensPalette",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 2 * 4);  // room for two colours only
         InfoHeader(b, 2, 1, 8, 0);       // declares 256
         Rgb(b, 10, 10, 10);
         Rgb(b, 20, 20, 20);
         AppendBytes(b, {1, 5, 0, 0});  // index 5 is past the short palette: black
         return b;
       },
       {PixelFormat::Bits8, 2, 1, {0x141414, 0x000000}}},
      {"PixelOffsetSkipsGap",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 10);
         InfoHeader(b, 1, 1, 24, 0);
         for (int i = 0; i < 10; ++i) b.push_back(0xEE);  // gap before the pixels
         AppendBytes(b, {7, 8, 9, 0});
         return b;
       },
       {PixelFormat::Bits24, 1, 1, {0x090807}}},
      {"LastRowPaddingMayBeMissing",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40);
         InfoHeader(b, 1, 2, 24, 0);
         AppendBytes(b, {1, 1, 1, 0});
         AppendBytes(b, {2, 2, 2});  // no padding after the last row
         return b;
       },
       {PixelFormat::Bits24, 1, 2, {0x020202, 0x010101}}},
  };
  return cases;
}

class DecodeTest : public ::testing::TestWithParam<Case> {};

TEST_P(DecodeTest, DecodesToNaturalFormat) {
  const Case& c = GetParam();
  CheckPixels(Load(c.build()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Bitmaps, DecodeTest, ::testing::ValuesIn(DecodeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

struct Malformed {
  const char* name;
  std::function<Bytes()> build;
  const char* message;
};

const std::vector<Malformed>& MalformedCases() {
  static const std::vector<Malformed> cases = {
      {"NotABitmap", [] { return Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0}; },
       "Bitmap image is not valid"},
      {"Empty", [] { return Bytes{}; }, "Bitmap image is not valid"},
      {"HeaderSizeTooSmall",
       [] {
         Bytes b;
         FileHeader(b, 54);
         AppendLE32(b, 8);  // no header has 8 bytes
         AppendBytes(b, {0, 0, 0, 0, 0, 0, 0, 0});
         return b;
       },
       "Bitmap image is not valid"},
      {"HeaderCutShort",
       [] {
         Bytes b;
         FileHeader(b, 54);
         AppendLE32(b, 40);
         AppendBytes(b, {1, 0, 0, 0});  // the file ends inside the header
         return b;
       },
       "Bitmap image is not valid"},
      {"ZeroWidth",
       [] {
         Bytes b;
         FileHeader(b, 54);
         InfoHeader(b, 0, 1, 24, 0);
         return b;
       },
       "Bitmap image is not valid"},
      {"ZeroHeight",
       [] {
         Bytes b;
         FileHeader(b, 54);
         InfoHeader(b, 1, 0, 24, 0);
         return b;
       },
       "Bitmap image is not valid"},
      {"NegativeWidth",
       [] {
         Bytes b;
         FileHeader(b, 54);
         InfoHeader(b, -4, 1, 24, 0);
         return b;
       },
       "Bitmap image is not valid"},
      {"TwoBitsPerPixel",
       [] {
         Bytes b;
         FileHeader(b, 54);
         InfoHeader(b, 1, 1, 2, 0);
         return b;
       },
       "Bitmap bit depth is not supported"},
      {"JpegInside",
       [] {
         Bytes b;
         FileHeader(b, 54);
         InfoHeader(b, 1, 1, 24, 4);
         return b;
       },
       "Bitmap compression is not supported"},
      {"PngInside",
       [] {
         Bytes b;
         FileHeader(b, 54);
         InfoHeader(b, 1, 1, 32, 5);
         return b;
       },
       "Bitmap compression is not supported"},
      {"Os2Huffman",
       [] {
         Bytes b;
         FileHeader(b, 14 + 64);
         InfoHeader(b, 8, 1, 1, 3, 0, 64);
         for (int i = 0; i < 6; ++i) AppendLE32(b, 0);
         return b;
       },
       "Bitmap compression is not supported"},
      {"Rle8WithFourBits",
       [] {
         Bytes b;
         FileHeader(b, 54);
         InfoHeader(b, 1, 1, 4, 1);
         return b;
       },
       "Bitmap image is not valid"},
      {"BitFieldsWith24Bits",
       [] {
         Bytes b;
         FileHeader(b, 54);
         InfoHeader(b, 1, 1, 24, 3);
         return b;
       },
       "Bitmap image is not valid"},
      {"BitFieldsAllZero",
       [] {
         Bytes b;
         FileHeader(b, 66);
         InfoHeader(b, 1, 1, 32, 3);
         AppendLE32(b, 0);
         AppendLE32(b, 0);
         AppendLE32(b, 0);
         AppendBytes(b, {1, 2, 3, 4});
         return b;
       },
       "Bitmap image is not valid"},
      {"SixteenBitMaskWiderThanPixel",
       [] {
         Bytes b;
         FileHeader(b, 66);
         InfoHeader(b, 1, 1, 16, 3);
         AppendLE32(b, 0xFF0000);
         AppendLE32(b, 0xFF00);
         AppendLE32(b, 0xFF);
         AppendBytes(b, {1, 2, 0, 0});
         return b;
       },
       "Bitmap image is not valid"},
      {"PixelsMissing",
       [] {
         Bytes b;
         FileHeader(b, 54);
         InfoHeader(b, 2, 2, 24, 0);
         AppendBytes(b, {1, 2, 3, 4, 5, 6, 0, 0});  // one row of two
         return b;
       },
       "Bitmap image is truncated"},
      {"HugeSizeTinyFile",
       [] {
         Bytes b;
         FileHeader(b, 54);
         InfoHeader(b, 0x7FFFFFFF, -0x7FFFFFFF, 32, 0);  // must fail before allocating
         AppendBytes(b, {1, 2, 3, 4});
         return b;
       },
       "Bitmap image is truncated"},
      {"PaletteCutShort",
       [] {
         Bytes b;
         InfoHeader(b, 1, 1, 8, 0);  // a packed DIB declaring 256 colours
         Rgb(b, 1, 1, 1);
         return b;
       },
       "Bitmap image is truncated"},
      {"PixelOffsetPastTheEnd",
       [] {
         Bytes b;
         FileHeader(b, 100000);
         InfoHeader(b, 1, 1, 24, 0);
         AppendBytes(b, {1, 2, 3, 0});
         return b;
       },
       "Bitmap image is truncated"},
      {"PixelOffsetLeavesNoPalette",
       [] {
         Bytes b;
         FileHeader(b, 54);  // points right after the header of an 8-bit picture
         InfoHeader(b, 1, 1, 8, 0);
         AppendBytes(b, {0, 0, 0, 0});
         return b;
       },
       "Bitmap image is not valid"},
      {"RleWithNoData",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 4);
         InfoHeader(b, 1, 1, 8, 1, 1);
         Rgb(b, 1, 1, 1);
         return b;
       },
       "Bitmap image is truncated"},
      // Run-length data must be able to fill the picture at 255 pixels a packet (two bytes,
      // four for RLE24) before the picture takes its memory.
      {"Rle8SmallFileDeclaringALargePicture",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 4);
         InfoHeader(b, 16000, 16000, 8, 1, 1);  // 256 MB of pixels from 100 bytes
         Rgb(b, 1, 1, 1);
         for (int i = 0; i < 49; ++i) AppendBytes(b, {255, 0});
         AppendBytes(b, {0, 1});
         return b;
       },
       "Bitmap image is truncated"},
      {"Rle8OneByteShortOfFillingThePicture",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 4);
         InfoHeader(b, 256, 2, 8, 1, 1);  // 512 pixels need 5 bytes at the best expansion
         Rgb(b, 1, 1, 1);
         AppendBytes(b, {255, 0, 0, 1});
         return b;
       },
       "Bitmap image is truncated"},
      {"Rle4SmallFileDeclaringALargePicture",
       [] {
         Bytes b;
         FileHeader(b, 14 + 40 + 4);
         InfoHeader(b, 60000, 60000, 4, 2, 1);  // beyond the memory limit, from 4 bytes
         Rgb(b, 1, 1, 1);
         AppendBytes(b, {0, 1, 0, 1});
         return b;
       },
       "Bitmap image is truncated"},
      {"Rle24SmallFileDeclaringALargePicture",
       [] {
         Bytes b;
         FileHeader(b, 14 + 64);
         InfoHeader(b, 2000, 2000, 24, 4, 0, 64);
         for (int i = 0; i < 6; ++i) AppendLE32(b, 0);
         // 4,000,000 pixels need 62,746 bytes; these are 62,745.
         for (int i = 0; i < 15686; ++i) AppendBytes(b, {255, 1, 2, 3});
         AppendBytes(b, {0});
         return b;
       },
       "Bitmap image is truncated"},
  };
  return cases;
}

class MalformedTest : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedTest, FailsWithMessage) {
  const Malformed& c = GetParam();
  try {
    Load(c.build());
    FAIL() << "loaded";
  } catch (const PictureError& error) {
    EXPECT_STREQ(error.what(), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(Bitmaps, MalformedTest, ::testing::ValuesIn(MalformedCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BitmapLoad, ReadsFromTheStreamPosition) {
  Bytes b = {'x', 'y', 'z'};
  FileHeader(b, 14 + 40);  // the offset counts from the file header's start
  InfoHeader(b, 1, 1, 24, 0);
  AppendBytes(b, {3, 2, 1, 0});
  MemoryStream stream(b);
  stream.Seek(3);
  Bitmap bitmap;
  bitmap.LoadFromStream(stream);
  EXPECT_EQ(bitmap.ScanLine(0)[2], 1);
}

// Round trip through our own writer and reader for every pixel format and odd sizes.
void FillPattern(Bitmap& bitmap) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (size_t i = 0; i < bitmap.RowBytes(); ++i) row[i] = uint8_t(y * 31 + i * 7 + 1);
    if (bitmap.GetPixelFormat() == PixelFormat::Bits15)
      for (size_t i = 1; i < bitmap.RowBytes(); i += 2) row[i] &= 0x7F;
  }
}

class RoundTripTest
    : public ::testing::TestWithParam<std::tuple<PixelFormat, std::pair<int, int>>> {};

TEST_P(RoundTripTest, SavesAndLoadsTheSamePixels) {
  const auto [format, size] = GetParam();
  Bitmap original;
  original.SetPixelFormat(format);
  if (format == PixelFormat::Bits8 || format == PixelFormat::Bits4) {
    LogPalette record(5);  // a short palette: the rest is saved as black
    for (int i = 0; i < 5; ++i) record.entries[i] = {uint8_t(i * 50), uint8_t(i), uint8_t(255 - i), 0};
    original.SetPalette(CreatePalette(record));
  }
  original.SetSize(size.first, size.second);
  FillPattern(original);

  MemoryStream stream;
  original.SaveToStream(stream);
  const int bits = BitsPerPixel(format);
  const size_t stride = ((size_t(size.first) * bits + 31) / 32) * 4;
  const size_t table = bits <= 8 ? (size_t(1) << bits) * 4 : 0;
  ASSERT_EQ(stream.Bytes().size(), 14 + 40 + table + stride * size.second);

  // The file writer gives the stream writer's bytes, and the one-pass 24-bit conversion
  // the bytes of drawing onto a new 24-bit Bitmap and saving that.
  test_support::TempDir dir;
  original.SaveToFile(dir.File("own.bmp"));
  EXPECT_EQ(test_support::ReadFileBytes(dir.File("own.bmp")), stream.Bytes());
  Bitmap canvas;
  canvas.SetPixelFormat(PixelFormat::Bits24);
  canvas.SetSize(size.first, size.second);
  DrawOnCanvas(canvas, original);
  MemoryStream drawn;
  canvas.SaveToStream(drawn);
  SaveAs24BitBitmap(original, dir.File("24.bmp"));
  EXPECT_EQ(test_support::ReadFileBytes(dir.File("24.bmp")), drawn.Bytes());

  const Bitmap loaded = Load(stream.Bytes());
  const PixelFormat expectedFormat = format == PixelFormat::Device ? PixelFormat::Bits32 : format;
  ASSERT_EQ(loaded.GetPixelFormat(), expectedFormat);
  ASSERT_EQ(loaded.Width(), size.first);
  ASSERT_EQ(loaded.Height(), size.second);
  EXPECT_TRUE(test_support::BitmapMatches(loaded, test_support::FromBitmap(original)));
  if (bits <= 8) {
    ASSERT_EQ(loaded.Palette().size(), size_t(1) << bits);
    for (size_t i = 0; i < loaded.Palette().size(); ++i) {
      const PaletteEntry expected =
          i < original.Palette().size() ? original.Palette()[i] : PaletteEntry{};
      EXPECT_EQ(loaded.Palette()[i], expected) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bitmaps, RoundTripTest,
    ::testing::Combine(::testing::Values(PixelFormat::Bits1, PixelFormat::Bits4, PixelFormat::Bits8,
                                         PixelFormat::Bits15, PixelFormat::Bits24,
                                         PixelFormat::Bits32, PixelFormat::Device),
                       ::testing::Values(std::pair{1, 1}, std::pair{3, 5}, std::pair{17, 3})),
    [](const auto& info) {
      return std::string("Bits") + PixelFormatName(std::get<0>(info.param)) + "_" +
             std::to_string(std::get<1>(info.param).first) + "x" +
             std::to_string(std::get<1>(info.param).second);
    });

TEST(BitmapSave, EmptyBitmapIsRefused) {
  Bitmap bitmap;
  MemoryStream stream;
  EXPECT_THROW(bitmap.SaveToStream(stream), PictureError);
}

TEST(BitmapSave, FileIsWrittenWholeOrNotAtAll) {
  test_support::TempDir dir;
  Bitmap bitmap;
  bitmap.SetPixelFormat(PixelFormat::Bits24);
  bitmap.SetSize(3, 2);
  bitmap.ScanLine(1)[0] = 200;
  bitmap.SaveToFile(dir.File("out.bmp"));
  Bitmap loaded;
  loaded.LoadFile(dir.File("out.bmp"));
  EXPECT_EQ(loaded.ScanLine(1)[0], 200);

  EXPECT_THROW(bitmap.SaveToFile(dir.File("missing/out.bmp")), FileCreateError);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

// Files written by independent tools, compared with the tools' own decodes.
struct ToolCase {
  const char* name;
  const char* make;       // shell command; SRC is the source picture, OUT the bitmap file
  const char* reference;  // shell command printing a PNM/PAM decode of OUT
  PixelFormat format;
  bool alpha;
  // Bits per colour and alpha sample in the file: only those are compared, since tools
  // widen few-bit samples differently (ImageMagick shifts them left, we scale them).
  int bits = 8;
  int alphaBits = 8;
};

const char* const kImageMagickRef = "/usr/bin/convert OUT -alpha off -depth 8 ppm:-";
const char* const kImageMagickAlphaRef = "/usr/bin/convert OUT -depth 8 pam:-";
const char* const kPilRef =
    "/usr/bin/python3 -c \"import sys; from PIL import Image; "
    "Image.open(sys.argv[1]).convert('RGB').save(sys.stdout.buffer, 'PPM')\" OUT";
const char* const kNetpbmRef = "bmptopnm OUT";

const std::vector<ToolCase>& ToolCases() {
  static const std::vector<ToolCase> cases = {
      {"ImageMagickOs2Core24", "/usr/bin/convert SRC BMP2:OUT", kImageMagickRef, PixelFormat::Bits24, false},
      {"ImageMagickV3_24", "/usr/bin/convert SRC BMP3:OUT", kImageMagickRef, PixelFormat::Bits24, false},
      {"ImageMagickV3_1", "/usr/bin/convert SRC -monochrome BMP3:OUT", kImageMagickRef, PixelFormat::Bits1, false},
      {"ImageMagickV3_4", "/usr/bin/convert SRC -colors 16 -type Palette BMP3:OUT", kImageMagickRef, PixelFormat::Bits4, false},
      {"ImageMagickV3_8", "/usr/bin/convert SRC -colors 200 -type Palette -compress None BMP3:OUT", kImageMagickRef, PixelFormat::Bits8, false},
      {"ImageMagickRle8", "/usr/bin/convert SRC -colors 200 -type Palette -compress RLE BMP3:OUT", kImageMagickRef, PixelFormat::Bits8, false},
      {"ImageMagickOs2Core4", "/usr/bin/convert SRC -colors 16 -type Palette BMP2:OUT", kImageMagickRef, PixelFormat::Bits4, false},
      {"ImageMagickV5_565", "/usr/bin/convert SRC -define bmp:subtype=RGB565 BMP:OUT", kImageMagickRef, PixelFormat::Bits24, false, 5},
      {"ImageMagickV5_555", "/usr/bin/convert SRC -define bmp:subtype=RGB555 BMP:OUT", kImageMagickRef, PixelFormat::Bits15, false, 5},
      {"ImageMagickV5_1555", "/usr/bin/convert SRC -alpha set -channel A -fx 'i<w/2' +channel -define bmp:subtype=ARGB1555 BMP:OUT", kImageMagickAlphaRef, PixelFormat::Bits32, true, 5, 1},
      {"ImageMagickV5_4444", "/usr/bin/convert SRC -alpha set -channel A -fx 'i/w' +channel -define bmp:subtype=ARGB4444 BMP:OUT", kImageMagickAlphaRef, PixelFormat::Bits32, true, 4, 4},
      {"ImageMagickV5_32Alpha", "/usr/bin/convert SRC -alpha set -channel A -fx 'j/h' +channel BMP:OUT", kImageMagickAlphaRef, PixelFormat::Bits32, true},
      {"PilRgb", "/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])\" SRC OUT", kPilRef, PixelFormat::Bits24, false},
      {"PilRgbaAlphaIgnored", "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]).convert('RGBA'); im.putalpha(77); im.save(sys.argv[2])\" SRC OUT", kPilRef, PixelFormat::Bits32, false},
      {"PilGrey", "/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).convert('L').save(sys.argv[2])\" SRC OUT", kPilRef, PixelFormat::Bits8, false},
      {"PilOneBit", "/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).convert('1').save(sys.argv[2])\" SRC OUT", kPilRef, PixelFormat::Bits1, false},
      {"NetpbmWindows24", "/usr/bin/convert SRC ppm:- | ppmtobmp -windows > OUT", kNetpbmRef, PixelFormat::Bits24, false},
      {"NetpbmOs2_24", "/usr/bin/convert SRC ppm:- | ppmtobmp -os2 > OUT", kNetpbmRef, PixelFormat::Bits24, false},
      {"NetpbmWindows4", "/usr/bin/convert SRC -colors 12 ppm:- | ppmtobmp -windows -bpp=4 > OUT", kNetpbmRef, PixelFormat::Bits4, false},
      {"NetpbmWindows8", "/usr/bin/convert SRC -colors 100 ppm:- | ppmtobmp -windows -bpp=8 > OUT", kNetpbmRef, PixelFormat::Bits8, false},
  };
  return cases;
}

std::string Substitute(const std::string& command, const std::string& src, const std::string& out) {
  return test_support::FillPaths(command, {{"SRC", src}, {"OUT", out}});
}

class ToolTest : public ::testing::TestWithParam<ToolCase> {};

TEST_P(ToolTest, MatchesTheToolsOwnDecode) {
  const ToolCase& c = GetParam();
  if (!test_support::ToolAvailable(test_support::kConvert)) GTEST_SKIP() << "no ImageMagick";
  test_support::TempDir dir;
  const std::string src = dir.File("src.png");
  const std::string out = dir.File("out.bmp");
  // An odd-sized picture with smooth and sharp colour changes.
  auto made = test_support::RunCommand(std::string(test_support::kConvert) +
                                       " -size 37x23 -seed 7 plasma:fractal " +
                                       test_support::ShellQuote(src));
  ASSERT_EQ(made.status, 0) << made.output;
  made = test_support::RunCommand(Substitute(c.make, src, out));
  ASSERT_EQ(made.status, 0) << made.output;

  Bitmap bitmap;
  bitmap.LoadFile(out);
  EXPECT_EQ(bitmap.GetPixelFormat(), c.format);
  EXPECT_FALSE(bitmap.Transparent());
  RgbImage reference = test_support::DecodeWith(Substitute(c.reference, src, out));
  RgbImage ours = test_support::FromBitmap(bitmap);
  if (!c.alpha) ours.alpha.clear();
  EXPECT_TRUE(test_support::ImagesMatch(test_support::TopBits(ours, c.bits, c.alphaBits),
                                        test_support::TopBits(reference, c.bits, c.alphaBits)));
}

INSTANTIATE_TEST_SUITE_P(Bitmaps, ToolTest, ::testing::ValuesIn(ToolCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pictures
