#include "pictures/formats/pfm.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <string>
#include <vector>

#include "base/error.h"
#include "support/byte_builders.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::Load;

// A float map of `header` text, then the samples as 32-bit floats or halves (given by their
// bits), little- or big-endian.
Bytes FloatMap(const std::string& header, const std::vector<float>& samples, bool littleEndian) {
  Bytes file(header.begin(), header.end());
  for (float v : samples) {
    const uint32_t bits = std::bit_cast<uint32_t>(v);
    littleEndian ? test_support::AppendLE32(file, bits) : test_support::AppendBE32(file, bits);
  }
  return file;
}

Bytes HalfMap(const std::string& header, const std::vector<uint16_t>& samples, bool littleEndian) {
  Bytes file(header.begin(), header.end());
  for (uint16_t v : samples) littleEndian ? test_support::AppendLE16(file, v) : test_support::AppendBE16(file, v);
  return file;
}

using Rgb = std::array<int, 3>;

Rgb PixelAt(const Bitmap& bitmap, int x, int y) {
  const test_support::RgbImage image = test_support::FromBitmap(bitmap);
  const uint8_t* p = image.Pixel(x, y);
  return {p[0], p[1], p[2]};
}

std::string LoadError(const Bytes& file) { return test_support::LoadError<TPFMGraphic>(file); }

// Files of ImageMagick and netpbm, in both byte orders, colour and grey, compared whole
// with ImageMagick's decode taken from linear light to sRGB by ImageMagick.
TEST(PFMReader, ToolFilesMatchImageMagicksDecode) {
  REQUIRE_TOOL(test_support::kConvert);
  REQUIRE_TOOL("/usr/bin/pamtopfm");
  test_support::TempDir dir;
  test_support::WriteFileBytes(dir.File("src.ppm"), test_support::EncodePnm(test_support::TestPattern(29, 17)));
  const struct {
    const char* command;
    PixelFormat format;
  } cases[] = {
      {"/usr/bin/convert SRC -endian MSB OUT", PixelFormat::Bits24},
      {"/usr/bin/convert SRC -endian LSB OUT", PixelFormat::Bits24},
      {"/usr/bin/convert SRC -colorspace gray OUT", PixelFormat::Bits8},
      {"pamtopfm -endian big SRC > OUT", PixelFormat::Bits24},
      {"ppmtopgm SRC | pamtopfm -endian little > OUT", PixelFormat::Bits8},
  };
  for (const auto& c : cases) {
    const std::string pfm = dir.File("out.pfm");
    const auto made = test_support::RunCommand(test_support::FillPaths(c.command, {{"SRC", dir.File("src.ppm")}, {"OUT", pfm}}));
    ASSERT_EQ(made.status, 0) << made.output;
    TPFMGraphic picture;
    picture.LoadFile(pfm);
    EXPECT_EQ(picture.GetPixelFormat(), c.format) << c.command;
    EXPECT_TRUE(test_support::BitmapMatches(
        picture,
        test_support::DecodeWith(std::string(test_support::kConvert) + " " + test_support::ShellQuote(pfm) +
                                 " -set colorspace RGB -colorspace sRGB -depth 8 ppm:-"),
        1))
        << c.command;
  }
}

TEST(PFMReader, VariantsByteOrdersAndRowOrder) {
  // Two rows of two pixels, the bottom row first: 0.5 is sRGB 188, 0.25 is 137; values
  // outside 0..1 and NaN are clamped.
  const std::vector<float> colour = {1.0f, 0.5f, 0.25f, 0.0f, 0.0f, 0.0f,  // bottom row
                                     2.0f, -1.0f, NAN, 0.5f, 0.5f, 0.5f};
  // Halves: 1.0 0x3C00, 0.5 0x3800, 0.25 0x3400.
  const std::vector<uint16_t> halves = {0x3C00, 0x3800, 0x3400, 0, 0, 0, 0x4000, 0xBC00, 0x7E00, 0x3800, 0x3800, 0x3800};
  struct Case {
    const char* name;
    Bytes file;
    PixelFormat format;
  };
  const Case cases[] = {
      {"PF big-endian", FloatMap("PF\n2 2\n1.0\n", colour, false), PixelFormat::Bits24},
      {"PF little-endian, a scale of its own", FloatMap("PF\n2 2\n-0.003921\n", colour, true), PixelFormat::Bits24},
      {"PF with the header on one line", FloatMap("PF 2 2 1 ", colour, false), PixelFormat::Bits24},
      {"PH big-endian", HalfMap("PH\n2 2\n1.0\n", halves, false), PixelFormat::Bits24},
      {"PH little-endian", HalfMap("PH\n2\t2\r\n-1\n", halves, true), PixelFormat::Bits24},
  };
  for (const Case& c : cases) {
    TPFMGraphic picture;
    Load(picture, c.file);
    ASSERT_EQ(picture.GetPixelFormat(), c.format) << c.name;
    EXPECT_EQ(PixelAt(picture, 0, 1), (Rgb{255, 188, 137})) << c.name;
    EXPECT_EQ(PixelAt(picture, 1, 1), (Rgb{0, 0, 0})) << c.name;
    EXPECT_EQ(PixelAt(picture, 0, 0), (Rgb{255, 0, 0})) << c.name;
    EXPECT_EQ(PixelAt(picture, 1, 0), (Rgb{188, 188, 188})) << c.name;
  }
  // Grey maps: one sample a pixel, an 8-bit grey picture.
  for (const Bytes& grey : {FloatMap("Pf\n3 1\n-1\n", {0.25f, 1.0f, 0.0f}, true),
                            HalfMap("Ph\n3 1\n1\n", {0x3400, 0x3C00, 0}, false)}) {
    TPFMGraphic picture;
    Load(picture, grey);
    ASSERT_EQ(picture.GetPixelFormat(), PixelFormat::Bits8);
    EXPECT_EQ(PixelAt(picture, 0, 0), (Rgb{137, 137, 137}));
    EXPECT_EQ(PixelAt(picture, 1, 0), (Rgb{255, 255, 255}));
  }
}

TEST(PFMReader, DamagedFilesFailWithClearMessages) {
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"empty file", {}, "PFM: not a float map"},
      {"a pixel map", FloatMap("P6\n1 1\n255\n", {}, false), "PFM: not a float map"},
      {"a longer magic", FloatMap("PFX\n1 1\n1\n", {0, 0, 0}, false), "PFM: not a float map"},
      {"no height", FloatMap("PF\n1\n", {}, false), "PFM: invalid picture size"},
      {"a width of 0", FloatMap("PF\n0 1\n1\n", {}, false), "PFM: invalid picture size"},
      {"a negative height", FloatMap("PF\n1 -1\n1\n", {}, false), "PFM: invalid picture size"},
      {"a scale of 0", FloatMap("PF\n1 1\n0\n", {0, 0, 0}, false), "PFM: invalid scale"},
      {"a scale that is no number", FloatMap("PF\n1 1\nx\n", {0, 0, 0}, false), "PFM: invalid scale"},
      {"nothing after the scale", FloatMap("PF\n1 1\n1", {}, false), "PFM: invalid scale"},
      {"samples one byte short", [] { Bytes b = FloatMap("PF\n1 1\n1\n", {0, 0, 0}, false); b.pop_back(); return b; }(),
       "PFM: the file is shorter than its picture"},
      {"a large picture from a small file", FloatMap("PF\n30000 30000\n1\n", {0, 0, 0}, false),
       "PFM: the file is shorter than its picture"},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadError(c.file), c.message) << c.what;
}

}  // namespace
}  // namespace pictures
