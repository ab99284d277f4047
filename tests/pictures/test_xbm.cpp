#include "pictures/formats/xbm.h"

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

// Files written by netpbm and ImageMagick, compared whole with netpbm's decode.
struct ToolCase {
  const char* name;
  const char* make;  // PBM: a 29 x 17 picture; OUT: the file
};

class XBMToolTest : public ::testing::TestWithParam<ToolCase> {};

TEST_P(XBMToolTest, MatchesNetpbmsDecode) {
  REQUIRE_TOOL("/usr/bin/pbmtoxbm");
  REQUIRE_TOOL(test_support::kConvert);
  test_support::TempDir dir;
  const std::string pbm = dir.File("src.pbm"), out = dir.File("out.xbm");
  auto made = test_support::RunCommand(std::string(test_support::kConvert) +
                                       " -size 29x17 -seed 4 plasma:fractal -monochrome " + ShellQuote(pbm));
  ASSERT_EQ(made.status, 0) << made.output;
  made = test_support::RunCommand(FillPaths(GetParam().make, {{"PBM", pbm}, {"OUT", out}}));
  ASSERT_EQ(made.status, 0) << made.output;
  TXBMGraphic picture;
  picture.LoadFile(out);
  EXPECT_EQ(picture.GetPixelFormat(), PixelFormat::Bits1);
  EXPECT_TRUE(test_support::BitmapMatches(picture, test_support::DecodeWith("xbmtopbm " + ShellQuote(out))));
}

INSTANTIATE_TEST_SUITE_P(XBM, XBMToolTest,
                         ::testing::Values(ToolCase{"NetpbmX11", "pbmtoxbm PBM >OUT"},
                                           ToolCase{"NetpbmX10", "pbmtoxbm -x10 PBM >OUT"},
                                           ToolCase{"ImageMagick", "/usr/bin/convert PBM XBM:OUT"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(XBMReader, NumbersAndNames) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<int> row;  // the first row: 1 for black
  };
  const Case cases[] = {
      {"lowest bit leftmost, rows padded to bytes",
       "#define a_width 10\n#define a_height 2\nstatic char a_bits[] = { 0x01, 0x02, 0, 0 };",
       {1, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {"decimal and octal", "#define b_width 8\n#define b_height 1\nstatic unsigned char b_bits[] = {0200};",
       {0, 0, 0, 0, 0, 0, 0, 1}},
      {"X10 words: the low byte first",
       "#define c_width 12\n#define c_height 1\nstatic short c_bits[] = {0x0801};",
       {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {"defines without a prefix, comments", "/* x */ #define width 2\n#define height 1\nchar bits[] = {3};",
       {1, 1}},
  };
  for (const Case& c : cases) {
    TXBMGraphic picture;
    test_support::Load(picture, Text(c.text));
    ASSERT_EQ(picture.Width(), int(c.row.size())) << c.what;
    std::vector<uint8_t> bgr(c.row.size() * 3);
    RowToBGR(picture, 0, bgr.data());
    for (size_t x = 0; x < c.row.size(); ++x) EXPECT_EQ(bgr[3 * x], c.row[x] ? 0 : 255) << c.what << ", pixel " << x;
  }
}

TEST(XBMReader, DamagedFilesFailWithClearMessages) {
  struct Case {
    const char* what;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"empty", "", "XBM: not an X bitmap file"},
      {"no height", "#define a_width 8\nstatic char a_bits[] = {0};", "XBM: not an X bitmap file"},
      {"no array", "#define a_width 8\n#define a_height 1\n", "XBM: not an X bitmap file"},
      {"no width", "#define a_width 0\n#define a_height 1\nchar a_bits[] = {0};", "XBM: invalid image size"},
      {"too few numbers", "#define a_width 8\n#define a_height 3\nchar a_bits[] = {0, 1};",
       "XBM: the file ends before its last pixel"},
      {"array closed early", "#define a_width 8\n#define a_height 2\nchar a_bits[] = {0};        ",
       "XBM: the file ends before its last pixel"},
      {"not a number", "#define a_width 8\n#define a_height 1\nchar a_bits[] = {zz};",
       "XBM: the pixel data holds something other than numbers"},
      {"bomb", "#define a_width 65536\n#define a_height 65536\nchar a_bits[] = {0};",
       "XBM: the file ends before its last pixel"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<TXBMGraphic>(Text(c.text)), c.message) << c.what;
}

}  // namespace
}  // namespace pictures
