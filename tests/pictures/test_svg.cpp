#include "pictures/formats/svg.h"

#include <gtest/gtest.h>

#include <string>

#include "base/error.h"
#include "pictures/png_writer.h"
#include "support/byte_builders.h"
#include "support/case_names.h"
#include "support/loading.h"
#include "support/tool_files.h"

// Fontconfig, which librsvg's text layout loads, keeps its configuration and font lists for
// the life of the process: not a leak of the reader's, when the tests run under
// LeakSanitizer.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace pictures {
namespace {

using test_support::Bytes;
using test_support::Text;
using test_support::PrintTo;
using test_support::ShellQuote;

// A drawing with `attributes` on its root: shapes with partial opacity, a gradient and a
// blur, so that a difference in size, scale or blending shows.
std::string Drawing(const std::string& attributes) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" " + attributes +
         "><defs><linearGradient id=\"g\"><stop offset=\"0\" stop-color=\"#f00\"/>"
         "<stop offset=\"1\" stop-color=\"#00f\" stop-opacity=\"0.3\"/></linearGradient>"
         "<filter id=\"f\"><feGaussianBlur stdDeviation=\"1.5\"/></filter></defs>"
         "<rect x=\"2\" y=\"1.5\" width=\"30\" height=\"20\" fill=\"url(#g)\"/>"
         "<circle cx=\"15\" cy=\"15\" r=\"9\" fill=\"green\" fill-opacity=\"0.6\" filter=\"url(#f)\"/>"
         "<path d=\"M0 0 L40 25\" stroke=\"black\" stroke-width=\"2\"/></svg>";
}

struct SizeCase {
  const char* name;
  const char* attributes;  // of the root element
  int width, height;
};

class SvgSizeTest : public ::testing::TestWithParam<SizeCase> {};

// rsvg-convert draws the drawing at the size it gives it, over white here too; both use
// librsvg and cairo, so the pictures agree exactly.
TEST_P(SvgSizeTest, MatchesRsvgConvert) {
  REQUIRE_TOOL("/usr/bin/rsvg-convert");
  const SizeCase& c = GetParam();
  test_support::TempDir dir;
  const std::string svg = dir.File("drawing.svg"), reference = dir.File("reference.png");
  test_support::WriteFileBytes(svg, Text(Drawing(c.attributes)));
  const auto made = test_support::RunCommand("/usr/bin/rsvg-convert -b white " + ShellQuote(svg) +
                                             " -o " + ShellQuote(reference));
  ASSERT_EQ(made.status, 0) << made.output;
  TSVGGraphic picture;
  picture.LoadFile(svg);
  EXPECT_EQ(picture.Width(), c.width);
  EXPECT_EQ(picture.Height(), c.height);
  EXPECT_FALSE(picture.Transparent());
  EXPECT_TRUE(test_support::BitmapMatches(picture, test_support::DecodeWithPillow(reference)));
}

INSTANTIATE_TEST_SUITE_P(
    Svg, SvgSizeTest,
    ::testing::Values(SizeCase{"Pixels", "width=\"41\" height=\"29\"", 41, 29},
                      SizeCase{"FractionsRoundUp", "width=\"40.5\" height=\"28.2\"", 41, 29},
                      // 96 pixels an inch: 1 cm is 37.8 pixels.
                      SizeCase{"Units", "width=\"0.5in\" height=\"1cm\"", 48, 38},
                      SizeCase{"ScaledByItsViewBox", "width=\"80\" height=\"50\" viewBox=\"0 0 40 25\"", 80, 50},
                      SizeCase{"ViewBoxAlone", "viewBox=\"0 0 40 25\"", 40, 25},
                      SizeCase{"WidthAndViewBox", "width=\"80\" viewBox=\"0 0 40 25\"", 80, 50},
                      SizeCase{"PercentagesAndViewBox", "width=\"100%\" height=\"50%\" viewBox=\"0 0 40 25\"",
                               40, 25}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Svg, GzipCompressedDrawingIsReadToo) {
  REQUIRE_TOOL("/usr/bin/gzip");
  test_support::TempDir dir;
  const std::string svg = dir.File("drawing.svg");
  test_support::WriteFileBytes(svg, Text(Drawing("width=\"41\" height=\"29\"")));
  ASSERT_EQ(test_support::RunCommand("/usr/bin/gzip -k -S z " + ShellQuote(svg)).status, 0);
  TSVGGraphic plain, compressed;
  plain.LoadFile(svg);
  compressed.LoadFile(svg + "z");
  EXPECT_TRUE(test_support::BitmapMatches(compressed, test_support::FromBitmap(plain)));
}

// Of the pictures a drawing links, only one beside it is drawn: not one in the folder
// above, not one named by an absolute path, nothing from the network, and nothing at all
// when the drawing comes from memory.
TEST(Svg, LinkedPicturesOnlyBesideTheDrawing) {
  test_support::TempDir dir;
  ASSERT_EQ(test_support::RunCommand("mkdir " + ShellQuote(dir.File("sub"))).status, 0);
  Bitmap green;
  green.SetPixelFormat(PixelFormat::Bits24);
  green.SetSize(4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) green.ScanLine(y)[3 * x + 1] = 0xFF;
  SavePngToFile(green, dir.File("sub/beside.png"));
  SavePngToFile(green, dir.File("above.png"));
  const std::string svg = dir.File("sub/links.svg");
  test_support::WriteFileBytes(
      svg, Text("<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                "width=\"40\" height=\"10\">"
                "<image width=\"10\" height=\"10\" xlink:href=\"beside.png\"/>"
                "<image x=\"10\" width=\"10\" height=\"10\" xlink:href=\"../above.png\"/>"
                "<image x=\"20\" width=\"10\" height=\"10\" xlink:href=\"file://" + dir.File("above.png") + "\"/>"
                "<image x=\"30\" width=\"10\" height=\"10\" xlink:href=\"http://127.0.0.1:9/x.png\"/></svg>"));
  const auto colourAt = [](const Bitmap& picture, int x) {
    const uint8_t* pixel = picture.ScanLine(5) + 4 * x;
    return (pixel[2] << 16) | (pixel[1] << 8) | pixel[0];
  };
  TSVGGraphic fromFile;
  fromFile.LoadFile(svg);
  EXPECT_EQ(colourAt(fromFile, 5), 0x00FF00);
  for (int x : {15, 25, 35}) EXPECT_EQ(colourAt(fromFile, x), 0xFFFFFF) << x;
  TSVGGraphic fromMemory;
  test_support::Load(fromMemory, test_support::ReadFileBytes(svg));
  EXPECT_EQ(colourAt(fromMemory, 5), 0xFFFFFF);
}

TEST(Svg, DamagedAndOversizedDrawingsFailWithAMessage) {
  const auto root = [](const std::string& attributes) { return Text("<svg xmlns=\"http://www.w3.org/2000/svg\" " + attributes + "/>"); };
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  } cases[] = {
      {"Empty", {}, "SVG: the file is empty"},
      {"NotXml", Text("not a drawing"),
       "SVG: XML parse error: Error domain 1 code 4 on line 1 column 1 of data: Start tag expected, '<' not found"},
      {"NoSize", root(""), "SVG: the drawing has no size"},
      {"PastWhatCairoDraws", root("width=\"40000\" height=\"10\""),
       "SVG: the drawing's size of 40000 x 10 pixels is larger than can be drawn"},
      {"PastThePixelLimit", root("width=\"30000\" height=\"30000\""),
       "The picture needs more than 1 GiB of memory"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<TSVGGraphic>(c.file), c.message) << c.name;
}

}  // namespace
}  // namespace pictures
