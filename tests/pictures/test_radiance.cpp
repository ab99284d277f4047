#include "pictures/formats/radiance.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "base/error.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::Load;

Bytes File(const std::string& header, const Bytes& pixels) {
  Bytes file(header.begin(), header.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

Bytes Picture(const std::string& resolution, const Bytes& pixels) {
  return File("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=4.0\n\n" + resolution + "\n", pixels);
}

using Rgb = std::array<int, 3>;

Rgb PixelAt(const Bitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.ScanLine(y) + 3 * x;
  return {p[2], p[1], p[0]};
}

// Pixels whose red counts them: pixel k (from 1) is red 16k * 2^(128 - 136) = k / 16.
Bytes Counted(int count) {
  Bytes pixels;
  for (int k = 1; k <= count; ++k) pixels.insert(pixels.end(), {uint8_t(16 * k), 0, 0, 128});
  return pixels;
}

int CountedRed(const Bitmap& bitmap, int x, int y) { return PixelAt(bitmap, x, y)[0]; }

std::string LoadError(const Bytes& file) { return test_support::LoadError<TRadianceGraphic>(file); }

// ImageMagick's files (run-length rows, and flat rows for a picture narrower than 8),
// compared whole with its own decode, taken from linear light to sRGB by ImageMagick.
TEST(RadianceReader, ImageMagickFilesMatchItsDecode) {
  REQUIRE_TOOL(test_support::kConvert);
  test_support::TempDir dir;
  for (const char* size : {"29x17", "5x3"}) {
    const std::string hdr = dir.File("out.hdr");
    const auto made = test_support::RunCommand(std::string(test_support::kConvert) + " -size " + size +
                                               " -seed 2 plasma:fractal " + test_support::ShellQuote(hdr));
    ASSERT_EQ(made.status, 0) << made.output;
    TRadianceGraphic picture;
    picture.LoadFile(hdr);
    EXPECT_EQ(picture.GetPixelFormat(), PixelFormat::Bits24);
    EXPECT_TRUE(test_support::BitmapMatches(
        picture,
        test_support::DecodeWith(std::string(test_support::kConvert) + " " + test_support::ShellQuote(hdr) +
                                 " -set colorspace RGB -colorspace sRGB -depth 8 ppm:-"),
        1))
        << size;
  }
}

TEST(RadianceReader, ValuesGoFromLinearLightToSrgb) {
  TRadianceGraphic picture;
  // 1, 0.5 and 0.25; black (exponent 0); 255 / 256; far above 1 (clamped).
  Load(picture, Picture("-Y 1 +X 4", {128, 64, 32, 129, 200, 200, 200, 0, 0, 0, 255, 128, 255, 255, 255, 255}));
  EXPECT_EQ(PixelAt(picture, 0, 0), (Rgb{255, 188, 137}));
  EXPECT_EQ(PixelAt(picture, 1, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(PixelAt(picture, 2, 0), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(picture, 3, 0), (Rgb{255, 255, 255}));
  Load(picture, File("#?RGBE\n\n-Y 1 +X 1\n", {128, 64, 32, 129}));  // the other name
  EXPECT_EQ(PixelAt(picture, 0, 0), (Rgb{255, 188, 137}));
}

TEST(RadianceReader, EveryScanOrder) {
  // Six pixels, counted in the order they are stored; where each lands, as its count.
  struct Case {
    const char* resolution;
    std::vector<std::vector<int>> rows;
  };
  const Case cases[] = {
      {"-Y 2 +X 3", {{1, 2, 3}, {4, 5, 6}}},
      {"+Y 2 +X 3", {{4, 5, 6}, {1, 2, 3}}},
      {"-Y 2 -X 3", {{3, 2, 1}, {6, 5, 4}}},
      {"+Y 2 -X 3", {{6, 5, 4}, {3, 2, 1}}},
      {"+X 3 -Y 2", {{1, 3, 5}, {2, 4, 6}}},
      {"+X 3 +Y 2", {{2, 4, 6}, {1, 3, 5}}},
      {"-X 3 -Y 2", {{5, 3, 1}, {6, 4, 2}}},
      {"-X 3 +Y 2", {{6, 4, 2}, {5, 3, 1}}},
  };
  TRadianceGraphic reference;
  Load(reference, Picture("-Y 1 +X 6", Counted(6)));
  for (const Case& c : cases) {
    TRadianceGraphic picture;
    Load(picture, Picture(c.resolution, Counted(6)));
    ASSERT_EQ(picture.Width(), 3) << c.resolution;
    ASSERT_EQ(picture.Height(), 2) << c.resolution;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x)
        EXPECT_EQ(CountedRed(picture, x, y), CountedRed(reference, c.rows[size_t(y)][size_t(x)] - 1, 0))
            << c.resolution << " at " << x << "," << y;
  }
}

TEST(RadianceReader, RunLengthRows) {
  auto repeat = [](int n) { return Bytes{1, 1, 1, uint8_t(n)}; };
  struct Case {
    const char* name;
    int width;
    Bytes data;                     // one row
    std::vector<int> redCounts;     // the row's red, as Counted(16)'s index, 0 for black
  };
  // New run-length rows (widths 8 to 32767): each component in turn; above 128 a run.
  Bytes packed = {2, 2, 0, 10};
  for (const Bytes& component : {Bytes{3, 16, 32, 48, 128 + 7, 64},  // red: 16, 32, 48, then 64 seven times
                                 Bytes{128 + 10, 0}, Bytes{128 + 10, 0}, Bytes{128 + 10, 128}})
    packed.insert(packed.end(), component.begin(), component.end());
  Bytes old = Counted(1);
  for (const Bytes& p : {repeat(2), Counted(2)}) old.insert(old.end(), p.begin(), p.end());
  Bytes chained = Counted(1);
  // 4 copies, then 1 * 256 more; then a black pixel and 38 copies of it end the row.
  for (const Bytes& p : {repeat(4), repeat(1), Bytes{0, 0, 0, 0}, repeat(38)})
    chained.insert(chained.end(), p.begin(), p.end());
  const Case cases[] = {
      {"new run-length", 10, packed, {1, 2, 3, 4, 4, 4, 4, 4, 4, 4}},
      {"old run-length", 5, old, {1, 1, 1, 1, 2}},
      {"old runs in a chain count in 256s", 300, chained, {1, 1, 1, 1, 1}},
      // A width below 8 is never packed: 2, 2, 0, 4 is a pixel.
      {"flat", 2, {2, 2, 0, 4, 16, 0, 0, 128}, {0, 1}},
  };
  TRadianceGraphic reference;
  Load(reference, Picture("-Y 1 +X 16", Counted(16)));
  for (const Case& c : cases) {
    TRadianceGraphic picture;
    Load(picture, Picture("-Y 1 +X " + std::to_string(c.width), c.data));
    for (size_t x = 0; x < c.redCounts.size(); ++x) {
      const int expected = c.redCounts[x] ? CountedRed(reference, c.redCounts[x] - 1, 0) : 0;
      EXPECT_EQ(CountedRed(picture, int(x), 0), expected) << c.name << ", pixel " << x;
    }
    if (c.width == 300) {
      EXPECT_EQ(CountedRed(picture, 260, 0), CountedRed(reference, 0, 0));
      EXPECT_EQ(CountedRed(picture, 261, 0), 0);
    }
  }
}

TEST(RadianceReader, DamagedFilesFailWithClearMessages) {
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"empty file", {}, "Radiance: not a Radiance picture"},
      {"another format", File("P6\n1 1\n255\n", {0, 0, 0}), "Radiance: not a Radiance picture"},
      {"a header without its end", File("#?RADIANCE\nFORMAT=32-bit_rle_rgbe", {}), "Radiance: the header has no end"},
      {"XYZE pixels", File("#?RADIANCE\nFORMAT=32-bit_rle_xyze\n\n-Y 1 +X 1\n", {1, 1, 1, 1}),
       "Radiance: pictures of FORMAT=32-bit_rle_xyze are not supported"},
      {"two Y axes", Picture("-Y 1 +Y 1", Bytes(4)), "Radiance: invalid resolution line"},
      {"no size", Picture("-Y +X 1", Bytes(4)), "Radiance: invalid resolution line"},
      {"a size of 0", Picture("-Y 0 +X 1", Bytes(4)), "Radiance: invalid resolution line"},
      {"more after the sizes", Picture("-Y 1 +X 1 +Z 1", Bytes(4)), "Radiance: invalid resolution line"},
      {"a large picture from a small file", Picture("-Y 20000 +X 20000", Bytes(40000, 1)),
       "Radiance: the file is shorter than its picture"},
      {"a packed row of another width", Picture("-Y 1 +X 8", {2, 2, 0, 9, 0x88, 0, 0x88, 0, 0x88, 0, 0x88, 0}),
       "Radiance: damaged run-length data"},
      {"a packet of 0", Picture("-Y 1 +X 8", {2, 2, 0, 8, 0}), "Radiance: damaged run-length data"},
      {"a packet past the row's end", Picture("-Y 1 +X 8", {2, 2, 0, 8, 0x89, 0}), "Radiance: damaged run-length data"},
      {"a third old run marker", Picture("-Y 1 +X 300", {9, 9, 9, 130, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}),
       "Radiance: damaged run-length data"},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadError(c.file), c.message) << c.what;

  // A file cut short keeps the rows it has; the rest is black.
  Bytes cut = Picture("-Y 3 +X 2", Counted(6));
  cut.resize(cut.size() - 2);
  TRadianceGraphic picture;
  Load(picture, cut);
  EXPECT_NE(CountedRed(picture, 1, 1), 0);
  EXPECT_EQ(CountedRed(picture, 0, 2), 0);
}

}  // namespace
}  // namespace pictures
