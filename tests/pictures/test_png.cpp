#include "pictures/formats/png.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/formats/png_direct.h"
#include "pictures/stream.h"
#include "support/case_names.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::Bytes;
using test_support::PrintTo;

struct ToolCase {
  const char* name;
  const char* make;  // SRC: a colourful picture with an alpha ramp; OUT: the PNG
  int colourType;    // what the file must hold, as its header says
  int depth;
  bool interlaced;
  PixelFormat format;
  int tolerance;  // 1 where libpng and Pillow round 16-bit samples differently
};

class PngToolTest : public ::testing::TestWithParam<ToolCase> {
 protected:
  void SetUp() override {
    REQUIRE_TOOL(test_support::kConvert);
    REQUIRE_TOOL(test_support::kPython);
    const auto made = test_support::MakeAlphaRampSources(src_);
    ASSERT_EQ(made.status, 0) << made.output;
  }
  test_support::TempDir dir_;
  std::string src_ = dir_.File("src.png");
  std::string out_ = dir_.File("out.png");
};

TEST_P(PngToolTest, MatchesPillowsDecode) {
  const ToolCase& c = GetParam();
  const auto made = test_support::RunCommand(
      test_support::FillPaths(c.make, {{"SRC", src_}, {"OUT", out_}}));
  ASSERT_EQ(made.status, 0) << made.output;
  const Bytes file = test_support::ReadFileBytes(out_);
  ASSERT_GT(file.size(), 29u);
  // IHDR: bit depth at 24, colour type at 25, interlace method at 28.
  ASSERT_EQ(file[24], c.depth);
  ASSERT_EQ(file[25], c.colourType);
  ASSERT_EQ(file[28], c.interlaced ? 1 : 0);

  TPNGGraphic picture;
  test_support::Load(picture, file);
  EXPECT_EQ(picture.GetPixelFormat(), c.format);
  EXPECT_EQ(picture.Transparent(), c.format == PixelFormat::Bits32);
  const auto reference = test_support::DecodeWithPillow(out_);
  EXPECT_TRUE(test_support::DecodedMatches(picture, reference, c.tolerance));
}

INSTANTIATE_TEST_SUITE_P(
    Png, PngToolTest,
    ::testing::Values(
        ToolCase{"Grey1", "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                          "Image.open(sys.argv[1]).convert('1').save(sys.argv[2])\" SRC OUT", 0,
                 1, false, PixelFormat::Bits8, 0},
        ToolCase{"Grey2", "/usr/bin/convert SRC -alpha off -colorspace Gray -depth 2 "
                          "-define png:color-type=0 -define png:bit-depth=2 OUT", 0, 2, false,
                 PixelFormat::Bits8, 0},
        ToolCase{"Palette2", "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                          "Image.open(sys.argv[1]).convert('L').quantize(4).save(sys.argv[2], "
                          "bits=2)\" SRC OUT", 3, 2, false, PixelFormat::Bits8, 0},
        ToolCase{"Grey8", "/usr/bin/convert SRC -alpha off -colorspace Gray -depth 8 -define "
                          "png:color-type=0 OUT", 0, 8, false, PixelFormat::Bits8, 0},
        ToolCase{"Grey16", "/usr/bin/convert SRC -alpha off -colorspace Gray -depth 16 "
                           "-define png:color-type=0 OUT", 0, 16, false, PixelFormat::Bits8, 1},
        // A row wider than the whole file is: 1.2 MB of samples from a file of some 2 KB.
        ToolCase{"WideGrey16", "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                               "im = Image.new('I', (600000, 1)); "
                               "im.putdata([x // 1000 * 100 for x in range(600000)]); "
                               "im.save(sys.argv[1])\" OUT", 0, 16, false, PixelFormat::Bits8, 1},
        ToolCase{"GreyAlpha8", "/usr/bin/convert SRC -colorspace Gray -depth 8 "
                               "-define png:color-type=4 OUT",
                 4, 8, false, PixelFormat::Bits32, 0},
        ToolCase{"GreyAlpha16", "/usr/bin/convert SRC -colorspace Gray -depth 16 "
                                "-define png:color-type=4 OUT", 4, 16, false,
                 PixelFormat::Bits32, 1},
        ToolCase{"Rgb8", "/usr/bin/convert SRC -alpha off PNG24:OUT", 2, 8, false,
                 PixelFormat::Bits24, 0},
        ToolCase{"Rgb16", "/usr/bin/convert SRC -alpha off -depth 16 PNG48:OUT", 2, 16, false,
                 PixelFormat::Bits24, 1},
        ToolCase{"Rgba8", "/usr/bin/convert SRC PNG32:OUT", 6, 8, false, PixelFormat::Bits32, 0},
        ToolCase{"Rgba16", "/usr/bin/convert SRC -depth 16 PNG64:OUT", 6, 16, false,
                 PixelFormat::Bits32, 1},
        ToolCase{"Palette1", "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                             "Image.open(sys.argv[1]).convert('RGB').quantize(2).save(sys.argv[2], "
                             "bits=1)\" SRC OUT", 3, 1, false, PixelFormat::Bits8, 0},
        ToolCase{"Palette4", "/usr/bin/convert SRC -alpha off -colors 12 -define png:color-type=3 "
                             "-define png:bit-depth=4 OUT", 3, 4, false, PixelFormat::Bits8, 0},
        ToolCase{"Palette8", "/usr/bin/convert SRC -alpha off -colors 200 PNG8:OUT", 3, 8, false,
                 PixelFormat::Bits8, 0},
        ToolCase{"PaletteWithTrns", "/usr/bin/convert SRC -channel A -threshold 50% +channel "
                                    "-colors 100 PNG8:OUT", 3, 8, false, PixelFormat::Bits32, 0},
        ToolCase{"GreyWithTrns", "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                 "Image.open(sys.argv[1]).convert('L').save(sys.argv[2], "
                                 "transparency=128)\" SRC OUT", 0, 8, false,
                 PixelFormat::Bits32, 0},
        ToolCase{"RgbWithTrns", "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                "im = Image.open(sys.argv[1]).convert('RGB'); "
                                "im.save(sys.argv[2], transparency=im.getpixel((3, 3)))\" SRC OUT",
                 2, 8, false, PixelFormat::Bits32, 0},
        ToolCase{"InterlacedRgb", "/usr/bin/convert SRC -alpha off -interlace PNG PNG24:OUT", 2, 8,
                 true, PixelFormat::Bits24, 0},
        ToolCase{"InterlacedRgba16", "/usr/bin/convert SRC -depth 16 -interlace PNG PNG64:OUT", 6,
                 16, true, PixelFormat::Bits32, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A chunk: length, type, data, CRC over type and data.
void AppendChunk(Bytes& file, const char* type, const Bytes& data) {
  const auto u32 = [&](uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(uint8_t(v >> shift));
  };
  u32(uint32_t(data.size()));
  const size_t typeAt = file.size();
  file.insert(file.end(), type, type + 4);
  file.insert(file.end(), data.begin(), data.end());
  u32(uint32_t(crc32(0, &file[typeAt], uInt(file.size() - typeAt))));
}

// A PNG of the given size and colour type (8-bit samples) whose rows, filter bytes
// included, are compressed into `pieces` IDAT chunks; `checksumFlip` damages the stream's
// Adler checksum.
Bytes Png(uint32_t width, uint32_t height, uint8_t colourType, const Bytes& rows,
          size_t pieces = 1, uint8_t checksumFlip = 0) {
  Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  for (uint32_t v : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) header.push_back(uint8_t(v >> shift));
  header.insert(header.end(), {8, colourType, 0, 0, 0});  // deflate, filter 0, no interlace
  AppendChunk(file, "IHDR", header);
  AppendChunk(file, "gAMA", {0, 0, 0xB1, 0x8F});
  Bytes packed(compressBound(uLong(rows.size())));
  uLongf packedSize = uLongf(packed.size());
  compress(packed.data(), &packedSize, rows.data(), uLong(rows.size()));
  packed.resize(packedSize);
  packed.back() ^= checksumFlip;
  const size_t piece = (packed.size() + pieces - 1) / pieces;
  for (size_t at = 0; at < packed.size(); at += piece)
    AppendChunk(file, "IDAT", Bytes(packed.begin() + at, packed.begin() + std::min(at + piece, packed.size())));
  AppendChunk(file, "IEND", {});
  return file;
}

Bytes GreyPng(uint32_t width, uint32_t height, const Bytes& rows) {
  return Png(width, height, 0, rows);
}

// Rows of varied samples, each row with the next of the five filters.
Bytes FilteredRows(uint32_t width, uint32_t height, size_t pixelBytes) {
  Bytes rows;
  uint32_t seed = 7;
  for (uint32_t y = 0; y < height; ++y) {
    rows.push_back(uint8_t(y % 5));
    for (size_t i = 0; i < width * pixelBytes; ++i) {
      seed = seed * 1103515245 + 12345;
      rows.push_back(uint8_t(seed >> 16));
    }
  }
  return rows;
}

struct Broken {
  const char* name;
  Bytes file;
  const char* message;
};

class PngBrokenTest : public ::testing::TestWithParam<Broken> {};

TEST_P(PngBrokenTest, FailsWithMessage) {
  EXPECT_EQ(test_support::LoadError<TPNGGraphic>(GetParam().file), GetParam().message);
}

const Bytes kTwoByTwo = GreyPng(2, 2, {0, 10, 20, 0, 30, 40});
const Bytes kRgbRows = {0, 1, 2, 3, 4, 5, 6, 2, 7, 8, 9, 10, 11, 12};
const Bytes kRgb = Png(2, 2, 2, kRgbRows);
constexpr size_t kRgbImageData = 57;  // after the signature, IHDR, gAMA and IDAT's length

Bytes Cut(Bytes file, size_t size) {
  file.resize(size);
  return file;
}
Bytes Flip(Bytes file, size_t at) {
  file[at] ^= 0x40;
  return file;
}

INSTANTIATE_TEST_SUITE_P(
    Png, PngBrokenTest,
    ::testing::Values(
        Broken{"Empty", {}, "PNG: the file ends early"},
        Broken{"NotPng", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, "PNG: Not a PNG file"},
        Broken{"HeaderCrc", Flip(kTwoByTwo, 20), "PNG: IHDR: CRC error"},
        Broken{"CutInTheData", Cut(kTwoByTwo, kTwoByTwo.size() - 16), "PNG: the file ends early"},
        Broken{"RowsMissing", GreyPng(2, 2, {0, 10, 20}), "PNG: Not enough image data"},
        // The same faults in files of the quick path.
        Broken{"RgbImageDataCrc", Flip(kRgb, kRgb.size() - 13), "PNG: IDAT: CRC error"},
        Broken{"RgbImageDataDamaged", Flip(kRgb, kRgbImageData + 3),
               "PNG: IDAT: invalid distance too far back"},
        Broken{"RgbChecksum", Png(2, 2, 2, kRgbRows, 1, 0x01), "PNG: IDAT: incorrect data check"},
        Broken{"RgbUnknownFilter", Png(2, 2, 2, {5, 1, 2, 3, 4, 5, 6, 0, 7, 8, 9, 10, 11, 12}),
               "PNG: bad adaptive filter value"},
        Broken{"RgbRowsMissing", Png(2, 2, 2, {0, 1, 2, 3, 4, 5, 6}), "PNG: Not enough image data"},
        Broken{"RgbCutInTheData", Cut(kRgb, kRgb.size() - 16), "PNG: the file ends early"},
        // 16000 x 16000 grey pixels cannot come out of a few dozen bytes of deflate data.
        Broken{"CompressionBomb", GreyPng(16000, 16000, {0, 1}), "PNG: too little image data"},
        Broken{"TooLarge", GreyPng(100000, 100000, {0, 1}),
               "The picture needs more than 1 GiB of memory"}),
    [](const auto& info) { return std::string(info.param.name); });

// Plain 8-bit RGB and RGBA files take a quicker way than libpng's; it must give the very
// Bitmap libpng gives, for every filter and for rows with 0 to 3 bytes of padding, also
// from a mapped file (whose pages it gives back) and when it leaves a file to libpng.
TEST(Png, QuickRowsEqualLibpngRows) {
  struct Case {
    uint32_t width, height;
    uint8_t colourType;
    size_t pieces;
    uint8_t checksumFlip;
  };
  test_support::TempDir dir;
  for (const Case c : {Case{4, 11, 2, 1, 0}, Case{5, 11, 2, 3, 0}, Case{6, 11, 2, 1, 0},
                       Case{7, 11, 2, 2, 0}, Case{3, 11, 6, 1, 0}, Case{1, 11, 6, 4, 0},
                       Case{203, 120, 2, 9, 0}, Case{203, 120, 2, 9, 0x10}}) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", colour type "
                                    << int(c.colourType) << ", checksum flip "
                                    << int(c.checksumFlip));
    const size_t pixelBytes = c.colourType == 6 ? 4 : 3;
    const Bytes file = Png(c.width, c.height, c.colourType,
                           FilteredRows(c.width, c.height, pixelBytes), c.pieces, c.checksumFlip);
    ASSERT_TRUE(PlanDirectPng(file));
    Bitmap libpng;
    std::string libpngError;
    try {
      DecodePng(file, libpng, PngTarget::Natural);
    } catch (const PictureError& error) {
      libpngError = std::string("PNG: ") + error.what();
    }
    TPNGGraphic quick;
    if (file.size() < (64 << 10)) {
      test_support::Load(quick, file);
    } else {  // large enough to be mapped
      test_support::WriteFileBytes(dir.File("big.png"), file);
      try {
        quick.LoadFile(dir.File("big.png"));
      } catch (const PictureError& error) {
        EXPECT_EQ(error.what(), libpngError);
        continue;
      }
    }
    ASSERT_EQ(libpngError, "");
    ASSERT_EQ(quick.GetPixelFormat(), libpng.GetPixelFormat());
    EXPECT_EQ(quick.Transparent(), libpng.Transparent());
    for (int y = 0; y < int(c.height); ++y)
      ASSERT_EQ(Bytes(quick.ScanLine(y), quick.ScanLine(y) + quick.RowStride()),
                Bytes(libpng.ScanLine(y), libpng.ScanLine(y) + libpng.RowStride())) << "row " << y;
  }
}

TEST(Png, RowsOfAGoodFileLandInAPalettedGreyBitmap) {
  TPNGGraphic picture;
  test_support::Load(picture, kTwoByTwo);
  ASSERT_EQ(picture.GetPixelFormat(), PixelFormat::Bits8);
  EXPECT_EQ(picture.ScanLine(0)[1], 20);
  EXPECT_EQ(picture.ScanLine(1)[0], 30);
  EXPECT_EQ(picture.Palette()[30], (PaletteEntry{30, 30, 30, 0}));
}

}  // namespace
}  // namespace pictures
