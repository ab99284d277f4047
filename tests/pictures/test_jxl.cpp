#include "pictures/formats/jxl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/error.h"
#include "support/case_names.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::Bytes;
using test_support::PrintTo;
using test_support::ShellQuote;

// Sources for cjxl, as Netpbm files: without colour information cjxl takes them for sRGB.
class JxlFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_TOOL("/usr/bin/cjxl");
    REQUIRE_TOOL("/usr/bin/djxl");
    test_support::WriteFileBytes(opaque_, test_support::EncodePnm(test_support::TestPattern(37, 23)));
    test_support::WriteFileBytes(alpha_, test_support::EncodePnm(test_support::TestPattern(37, 23, true)));
  }
  Bytes Make(const std::string& command) {
    // A picture past the size at which the reader starts a second thread, made when asked for.
    const std::string large = dir_.File("large.ppm");
    if (command.find("LARGE") != std::string::npos)
      test_support::WriteFileBytes(large, test_support::EncodePnm(test_support::TestPattern(1100, 1000)));
    const auto made = test_support::RunCommand(test_support::FillPaths(
        command, {{"OPAQUE", opaque_}, {"ALPHA", alpha_}, {"LARGE", large}, {"TEMP", dir_.File("temp")},
                  {"OUT", out_}}));
    EXPECT_EQ(made.status, 0) << made.output;
    return test_support::ReadFileBytes(out_);
  }
  test_support::TempDir dir_;
  std::string opaque_ = dir_.File("opaque.ppm");
  std::string alpha_ = dir_.File("alpha.pam");
  std::string out_ = dir_.File("out.jxl");
};

struct ToolCase {
  const char* name;
  const char* make;  // OPAQUE, ALPHA: the test pattern without and with alpha, LARGE: of 1100 x 1000
                     // pixels; TEMP: a spare file
  PixelFormat format;
  int width, height;
  int tolerance;  // for 16-bit pictures, which djxl writes at 16 bits and Pillow rounds
};

class JxlToolTest : public JxlFiles, public ::testing::WithParamInterface<ToolCase> {};

// djxl is libjxl's own decoder and writes sRGB files of these sRGB pictures, so both sides
// agree exactly.
TEST_P(JxlToolTest, MatchesDjxl) {
  const ToolCase& c = GetParam();
  TJXLGraphic picture;
  test_support::Load(picture, Make(c.make));
  EXPECT_EQ(picture.GetPixelFormat(), c.format);
  EXPECT_EQ(picture.Transparent(), c.format == PixelFormat::Bits32);
  EXPECT_EQ(picture.Width(), c.width);
  EXPECT_EQ(picture.Height(), c.height);
  const std::string reference = dir_.File("reference.png");
  const auto decoded = test_support::RunCommand("/usr/bin/djxl " + ShellQuote(out_) + " " +
                                                ShellQuote(reference) + " --quiet");
  ASSERT_EQ(decoded.status, 0) << decoded.output;
  EXPECT_TRUE(test_support::DecodedMatches(picture, test_support::DecodeWithPillow(reference),
                                           c.tolerance));
}

// Pillow writes the JPEG with an EXIF orientation of 6 (stored a quarter turn anticlockwise);
// cjxl keeps the JPEG's coefficients and records the orientation in the codestream.
constexpr const char* kOrientedJpeg =
    "/usr/bin/python3 -c \"import sys; from PIL import Image; "
    "exif = Image.Exif(); exif[0x0112] = 6; "
    "Image.open(sys.argv[1]).save(sys.argv[2], 'JPEG', quality=90, exif=exif.tobytes())\" "
    "OPAQUE TEMP && /usr/bin/cjxl TEMP OUT --quiet";

INSTANTIATE_TEST_SUITE_P(
    Jxl, JxlToolTest,
    ::testing::Values(
        ToolCase{"Lossy", "/usr/bin/cjxl -d 1 OPAQUE OUT --quiet", PixelFormat::Bits24, 37, 23, 0},
        ToolCase{"Lossless", "/usr/bin/cjxl -d 0 OPAQUE OUT --quiet", PixelFormat::Bits24, 37, 23, 0},
        ToolCase{"LossyAlpha", "/usr/bin/cjxl -d 1 ALPHA OUT --quiet", PixelFormat::Bits32, 37, 23, 0},
        ToolCase{"LosslessAlpha", "/usr/bin/cjxl -d 0 ALPHA OUT --quiet", PixelFormat::Bits32, 37,
                 23, 0},
        ToolCase{"Grey", "/usr/bin/convert OPAQUE -colorspace Gray pgm:TEMP && /usr/bin/cjxl -d 0 TEMP OUT --quiet",
                 PixelFormat::Bits24, 37, 23, 0},
        ToolCase{"SixteenBits",
                 "/usr/bin/convert OPAQUE -depth 16 -evaluate multiply 0.9 ppm:TEMP && "
                 "/usr/bin/cjxl -d 0 TEMP OUT --quiet",
                 PixelFormat::Bits24, 37, 23, 1},
        ToolCase{"RecompressedJpegTurnedUpright", kOrientedJpeg, PixelFormat::Bits24, 23, 37, 0},
        // Past a megapixel the picture is decoded on two threads.
        ToolCase{"TwoThreads",
                 "/usr/bin/cjxl -d 2 -e 1 LARGE OUT --quiet",
                 PixelFormat::Bits24, 1100, 1000, 0},
        // Of an animation, the first frame: djxl writes it first.
        ToolCase{"Animation",
                 "/usr/bin/convert -delay 10 OPAQUE ALPHA gif:TEMP && /usr/bin/cjxl -d 0 TEMP OUT --quiet",
                 PixelFormat::Bits32, 37, 23, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A lossless picture stored in linear light comes in that colour space and is turned into
// sRGB here: each sample goes through the sRGB transfer curve, alpha stays as it is.
TEST_F(JxlFiles, LinearLightBecomesSrgb) {
  TJXLGraphic picture;
  test_support::Load(picture,
                     Make("/usr/bin/cjxl -d 0 -x color_space=RGB_D65_SRG_Rel_Lin ALPHA OUT --quiet"));
  test_support::RgbImage expected = test_support::TestPattern(37, 23, true);
  for (uint8_t& sample : expected.rgb) {
    const double linear = sample / 255.0;
    const double encoded =
        linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    sample = uint8_t(std::lround(encoded * 255));
  }
  picture.SetTransparent(false);  // the colours as stored, not drawn over white
  EXPECT_TRUE(test_support::BitmapMatches(picture, expected, 1));
  EXPECT_TRUE(test_support::AlphaMatches(picture, expected));
}

TEST_F(JxlFiles, DamagedFilesFailWithAMessage) {
  const Bytes good = Make("/usr/bin/cjxl -d 1 OPAQUE OUT --quiet");
  Bytes zeroed = good;
  std::fill(zeroed.begin() + long(zeroed.size() / 2), zeroed.end(), 0);
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  } cases[] = {
      {"Empty", {}, "JXL: the file ends early"},
      {"NotJxl", Bytes(40, 'x'), "JXL: not a JPEG XL file"},
      {"CutShort", Bytes(good.begin(), good.begin() + long(good.size() / 2)), "JXL: the file ends early"},
      {"Zeroed", zeroed, "JXL: the picture data is damaged"},
      // A bare codestream whose size header declares 100000 x 100000 pixels, and image
      // metadata of all defaults: refused before libjxl decodes anything.
      {"Huge",
       {0xFF, 0x0A, 0xFE, 0x34, 0x0C, 0x00, 0xF0, 0xA7, 0x61, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0},
       "The picture needs more than 1 GiB of memory"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<TJXLGraphic>(c.file), c.message) << c.name;
}

}  // namespace
}  // namespace pictures
