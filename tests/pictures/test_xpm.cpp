#include "pictures/formats/xpm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/byte_builders.h"
#include "support/case_names.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::Bytes;
using test_support::Text;
using test_support::FillPaths;
using test_support::PrintTo;
using test_support::ShellQuote;

// An XPM3 file of the given strings, in the layout writers use.
Bytes Xpm(const std::vector<std::string>& strings) {
  std::string text = "/* XPM */\nstatic char *picture[] = {\n/* values */\n";
  for (const std::string& s : strings) text += "\"" + s + "\",\n";
  return Text(text + "};\n");
}

// Files written by netpbm and ImageMagick, compared whole with a decode of their own.
struct ToolCase {
  const char* name;
  const char* make;       // PPM: a 29 x 17 picture; OUT: the file
  const char* reference;  // a command that decodes OUT to PNM or PAM
  PixelFormat format;
  int tolerance = 0;
};

class XPMToolTest : public ::testing::TestWithParam<ToolCase> {};

TEST_P(XPMToolTest, MatchesTheToolsDecode) {
  const ToolCase& c = GetParam();
  REQUIRE_TOOL("/usr/bin/ppmtoxpm");
  REQUIRE_TOOL(test_support::kConvert);
  test_support::TempDir dir;
  const std::string ppm = dir.File("src.ppm"), out = dir.File("out.xpm");
  auto made = test_support::RunCommand(std::string(test_support::kConvert) +
                                       " -size 29x17 -seed 4 plasma:fractal " + ShellQuote(ppm));
  ASSERT_EQ(made.status, 0) << made.output;
  made = test_support::RunCommand(FillPaths(c.make, {{"PPM", ppm}, {"OUT", out}}));
  ASSERT_EQ(made.status, 0) << made.output;
  TXPMGraphic picture;
  picture.LoadFile(out);
  EXPECT_EQ(picture.GetPixelFormat(), c.format);
  EXPECT_TRUE(test_support::DecodedMatches(picture, test_support::DecodeWith(FillPaths(c.reference, {{"PPM", ppm}, {"OUT", out}})), c.tolerance));
}

INSTANTIATE_TEST_SUITE_P(
    XPM, XPMToolTest,
    ::testing::Values(
        ToolCase{"NetpbmTwoCharacters", "ppmtoxpm -hexonly PPM >OUT 2>/dev/null", "xpmtoppm OUT 2>/dev/null",
                 PixelFormat::Bits24},
        ToolCase{"NetpbmSixteenColours", "pnmquant 16 PPM 2>/dev/null | ppmtoxpm -hexonly >OUT 2>/dev/null",
                 "xpmtoppm OUT 2>/dev/null", PixelFormat::Bits8},
        // Named where a colour has an X11 name; netpbm's own decode takes some of those
        // names from other tables, so the source is the reference.
        ToolCase{"NetpbmX11Names",
                 "/usr/bin/convert -size 3x2 xc:'sky blue' xc:gray50 xc:DarkOliveGreen3 xc:white xc:black "
                 "+append PPM && ppmtoxpm PPM >OUT 2>/dev/null",
                 "cat PPM", PixelFormat::Bits8},
        // ImageMagick writes 16-bit colours and reads them back to 8 bits one lower at times.
        ToolCase{"ImageMagickNone",
                 "/usr/bin/convert PPM -alpha set -channel A -fx 'i>w/2?1:0' +channel -colors 8 XPM:OUT",
                 "/usr/bin/convert OUT -depth 8 pam:-", PixelFormat::Bits32, 1},
        ToolCase{"ImageMagickSixteenBitColours", "/usr/bin/convert PPM XPM:OUT",
                 "/usr/bin/convert OUT -depth 8 ppm:-", PixelFormat::Bits8, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(XPMReader, ColoursAndCharacters) {
  struct Case {
    const char* what;
    std::vector<std::string> strings;
    std::vector<Bytes> pixels;  // blue, green, red (and alpha) of the first row
  };
  const Case cases[] = {
      {"hex forms scaled to 8 bits",
       {"4 1 4 1", "a c #F00", "b c #00FF80", "c c #800000fff", "d c #FFFF80000000", "abcd"},
       {{0, 0, 255}, {128, 255, 0}, {255, 0, 128}, {0, 128, 255}}},
      {"names without regard to case or spaces",
       {"3 1 3 1", "a c Light Goldenrod Yellow", "b c gray50", "c c NAVY", "abc"},
       {{210, 250, 250}, {127, 127, 127}, {128, 0, 0}}},
      {"grey and mono keys when there is no colour key", {"2 1 2 1", "a m black", "b s sym g white", "ab"},
       {{0, 0, 0}, {255, 255, 255}}},
      {"two characters, an escaped quote among them",
       {"2 1 2 2", "\\\"x c red", "xx c blue", "xx\\\"x"}, {{255, 0, 0}, {0, 0, 255}}},
      {"None is transparent", {"2 1 2 1", "  c None", ". c #010203", " ."}, {{0, 0, 0, 0}, {3, 2, 1, 255}}},
  };
  for (const Case& c : cases) {
    TXPMGraphic picture;
    test_support::Load(picture, Xpm(c.strings));
    const size_t size = c.pixels[0].size();
    std::vector<uint8_t> row(size_t(picture.Width()) * 3);
    RowToBGR(picture, 0, row.data());
    for (size_t x = 0; x < c.pixels.size(); ++x) {
      const uint8_t* p = size == 4 ? picture.ScanLine(0) + 4 * x : &row[3 * x];
      EXPECT_EQ(Bytes(p, p + size), c.pixels[x]) << c.what << ", pixel " << x;
    }
  }
}

TEST(XPMReader, DamagedFilesFailWithClearMessages) {
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"empty", {}, "XPM: not an XPM file"},
      {"no XPM comment", Text("static char *x[] = {\"1 1 1 1\", \"a c red\", \"a\"};"), "XPM: not an XPM file"},
      {"XPM2", Text("! XPM2\n1 1 1 1\na c red\na\n"), "XPM: not an XPM file"},
      {"values missing", Xpm({"1 1 1"}),
       "XPM: the first string must give width, height, colours and characters per pixel"},
      {"no width", Xpm({"0 1 1 1", "a c red", ""}), "XPM: invalid image size"},
      {"no colours", Xpm({"1 1 0 1", "a"}), "XPM: a picture needs colours and characters per pixel"},
      {"unknown name", Xpm({"1 1 1 1", "a c GoldenrodLight", "a"}), "XPM: unknown colour \"GoldenrodLight\""},
      {"bad hex", Xpm({"1 1 1 1", "a c #12345", "a"}), "XPM: unknown colour \"#12345\""},
      {"no value", Xpm({"1 1 1 1", "a c", "a"}), "XPM: colour 1 has no colour value"},
      {"colours missing", Xpm({"1 2 2 1", "a c red"}), "XPM: the file ends before its last colour"},
      {"rows missing", Xpm({"1 2 1 1", "a c red", "a"}), "XPM: the file ends before its last pixel row"},
      {"row cut short", Xpm({"3 1 1 1", "a c red", "aa"}), "XPM: pixel row 1 is cut short"},
      {"undefined characters", Xpm({"2 1 1 1", "a c red", "ab"}), "XPM: pixel row 1 uses a colour it does not define"},
      {"string not closed", Text("/* XPM */ {\"1 1 1 1\", \"a c red\", \"a"), "XPM: a string is not closed"},
      // 4 GB of pixels cannot come from a few bytes.
      {"bomb", Xpm({"65536 65536 1 1", "a c red", "a"}), "XPM: the file ends before its last pixel row"},
      {"picture past 64 bits", Xpm({"2147483647 2147483647 4294967295 4294967295", "a c red", "a"}),
       "XPM: the file ends before its last pixel row"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<TXPMGraphic>(c.file), c.message) << c.what;
}

}  // namespace
}  // namespace pictures
