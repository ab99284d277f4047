#include "pictures/formats/sun_raster.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/byte_builders.h"
#include "support/case_names.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::AppendBE32;
using test_support::Bytes;
using test_support::FillPaths;
using test_support::PrintTo;

Bytes Header(uint32_t width, uint32_t height, uint32_t depth, uint32_t type,
             uint32_t mapType = 0, uint32_t mapLength = 0) {
  Bytes b;
  for (uint32_t field : {0x59A66A95u, width, height, depth, 0u, type, mapType, mapLength})
    AppendBE32(b, field);
  return b;
}

Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The pixel at (x, y) as blue, green, red, through the Bitmap's own row conversion.
Bytes Bgr(const Bitmap& bitmap, int x, int y) {
  std::vector<uint8_t> row(size_t(bitmap.Width()) * 3);
  RowToBGR(bitmap, y, row.data());
  return Bytes(row.begin() + 3 * x, row.begin() + 3 * x + 3);
}

// Files written by netpbm and ImageMagick, compared whole with netpbm's decode.
struct ToolCase {
  const char* name;
  const char* make;  // PPM, PGM, PBM: the source picture (29 x 17) in those forms; OUT: the file
  PixelFormat format;
};

class SunRasterToolTest : public ::testing::TestWithParam<ToolCase> {};

TEST_P(SunRasterToolTest, MatchesNetpbmsDecode) {
  const ToolCase& c = GetParam();
  REQUIRE_TOOL("/usr/bin/rasttopnm");
  REQUIRE_TOOL(test_support::kConvert);
  test_support::TempDir dir;
  const std::string ppm = dir.File("src.ppm"), out = dir.File("out.ras");
  auto made = test_support::RunCommand(std::string(test_support::kConvert) +
                                       " -size 29x17 -seed 4 plasma:fractal " + test_support::ShellQuote(ppm));
  ASSERT_EQ(made.status, 0) << made.output;
  // The grey and bilevel sources are made where the case uses them.
  const std::string make = c.make;
  std::string sources;
  if (make.find("PGM") != std::string::npos) sources += "/usr/bin/convert PPM -colorspace gray PGM && ";
  if (make.find("PBM") != std::string::npos) sources += "/usr/bin/convert PPM -monochrome PBM && ";
  made = test_support::RunCommand(FillPaths(
      sources + make, {{"PPM", ppm}, {"PGM", dir.File("src.pgm")}, {"PBM", dir.File("src.pbm")}, {"OUT", out}}));
  ASSERT_EQ(made.status, 0) << made.output;
  TSunRasterGraphic picture;
  picture.LoadFile(out);
  EXPECT_EQ(picture.GetPixelFormat(), c.format);
  EXPECT_TRUE(test_support::BitmapMatches(
      picture, test_support::DecodeWith("/usr/bin/rasttopnm " + test_support::ShellQuote(out) + " 2>/dev/null")));
}

INSTANTIATE_TEST_SUITE_P(
    SunRaster, SunRasterToolTest,
    ::testing::Values(
        ToolCase{"NetpbmPlain24", "pnmtorast -standard PPM >OUT 2>/dev/null", PixelFormat::Bits24},
        ToolCase{"NetpbmPackedMapped", "pnmquant 200 PPM 2>/dev/null | pnmtorast >OUT 2>/dev/null",
                 PixelFormat::Bits8},
        ToolCase{"NetpbmPlainMapped", "pnmquant 20 PPM 2>/dev/null | pnmtorast -standard >OUT 2>/dev/null",
                 PixelFormat::Bits8},
        ToolCase{"NetpbmPackedGrey", "pnmtorast PGM >OUT 2>/dev/null", PixelFormat::Bits8},
        ToolCase{"NetpbmPacked1Bit", "pnmtorast PBM >OUT 2>/dev/null", PixelFormat::Bits1},
        ToolCase{"NetpbmPlain1Bit", "pnmtorast -standard PBM >OUT 2>/dev/null", PixelFormat::Bits1},
        ToolCase{"ImageMagickRgbOrder", "/usr/bin/convert PPM SUN:OUT", PixelFormat::Bits24},
        ToolCase{"ImageMagickPadByte",
                 "/usr/bin/convert PPM -alpha set -channel A -fx i/w +channel SUN:OUT", PixelFormat::Bits24},
        ToolCase{"ImageMagickMapped", "/usr/bin/convert PPM -colors 16 SUN:OUT", PixelFormat::Bits8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SunRasterReader, ByteEncodedRunsAndPixelOrders) {
  struct Case {
    const char* what;
    Bytes file;
    std::vector<Bytes> pixels;  // blue, green, red of the pixels in reading order
  };
  const Case cases[] = {
      // Width 3 at 8 bits: rows of 3 bytes and a pad byte. A run of 5 fills the first
      // row and its pad and runs on into the second; 0x80 0x00 is the byte 0x80 itself.
      {"runs cross rows", Join(Header(3, 2, 8, 2), {0x80, 4, 9, 0x80, 0, 7, 0}),
       {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}, {9, 9, 9}, {0x80, 0x80, 0x80}, {7, 7, 7}}},
      {"24 bits blue first", Join(Header(1, 1, 24, 1), {1, 2, 3, 0}), {{1, 2, 3}}},
      {"24 bits red first", Join(Header(1, 1, 24, 3), {1, 2, 3, 0}), {{3, 2, 1}}},
      {"32 bits pad then blue", Join(Header(1, 1, 32, 1), {0xAA, 1, 2, 3}), {{1, 2, 3}}},
      {"32 bits pad then red", Join(Header(1, 1, 32, 3), {0xAA, 1, 2, 3}), {{3, 2, 1}}},
      {"1 bit: set bits black", Join(Header(2, 1, 1, 1), {0x40, 0}), {{255, 255, 255}, {0, 0, 0}}},
      {"colour map: reds, greens, blues", Join(Header(2, 1, 8, 1, 1, 6), {10, 11, 20, 21, 30, 31, 1, 0}),
       {{31, 21, 11}, {30, 20, 10}}},
      {"raw map passed over, grey", Join(Header(1, 1, 8, 0, 2, 3), {1, 2, 3, 200, 0}), {{200, 200, 200}}},
  };
  for (const Case& c : cases) {
    TSunRasterGraphic picture;
    test_support::Load(picture, c.file);
    for (size_t i = 0; i < c.pixels.size(); ++i)
      EXPECT_EQ(Bgr(picture, int(i) % picture.Width(), int(i) / picture.Width()), c.pixels[i])
          << c.what << ", pixel " << i;
  }
}

TEST(SunRasterReader, DamagedFilesFailWithClearMessages) {
  const Bytes kGood = Join(Header(1, 1, 8, 1), {0, 0});
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"empty", {}, "Sun raster: not a Sun raster file"},
      {"other magic", Join({0x59, 0xA6, 0x6A, 0x96}, Bytes(40, 1)), "Sun raster: not a Sun raster file"},
      {"header cut short", Bytes(kGood.begin(), kGood.begin() + 31), "Sun raster: not a Sun raster file"},
      {"4 bits", Join(Header(1, 1, 4, 1), {0, 0}), "Sun raster: unsupported depth 4"},
      {"TIFF type", Join(Header(1, 1, 8, 4), {0, 0}), "Sun raster: unsupported picture type 4"},
      {"no width", Header(0, 1, 8, 1), "Sun raster: invalid image size"},
      {"map cut short", Join(Header(1, 1, 8, 1, 1, 768), Bytes(700, 0)), "Sun raster: the colour map is cut short"},
      {"rows cut short", Join(Header(3, 2, 8, 1), {1, 2, 3, 0, 4}), "Sun raster: the file ends before its last row"},
      {"runs cut short", Join(Header(3, 2, 8, 2), {0x80, 6, 1, 0x80}), "Sun raster: the file ends before its last row"},
      // 16 GB of pixels cannot come from a run of 256 bytes.
      {"bomb", Join(Header(65536, 65536, 32, 2), {0x80, 255, 0}), "Sun raster: the file ends before its last row"},
      {"picture past 64 bits", Join(Header(0x7FFFFFFF, 0x7FFFFFFF, 32, 2), {0x80, 255, 0}),
       "Sun raster: the file ends before its last row"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<TSunRasterGraphic>(c.file), c.message) << c.what;
  EXPECT_EQ(test_support::LoadError<TSunRasterGraphic>(kGood), "no error");
}

}  // namespace
}  // namespace pictures
