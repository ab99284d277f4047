#include "pictures/formats/heif.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "pictures/error.h"
#include "pictures/registry.h"
#include "support/case_names.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::Bytes;
using test_support::PrintTo;
using test_support::ShellQuote;

struct ToolCase {
  const char* name;
  const char* make;  // SRC: a picture with an alpha ramp; OPAQUE: the same without alpha
  const char* file;  // the name of the file made, which tells the reader class
  PixelFormat format;
  int width;
  int height;
  int tolerance;  // for 10-bit pictures, rounded to 8 bits by both sides
};

class HeifToolTest : public ::testing::TestWithParam<ToolCase> {
 protected:
  void SetUp() override {
    REQUIRE_TOOL(test_support::kConvert);
    REQUIRE_TOOL("/usr/bin/heif-enc");
    REQUIRE_TOOL("/usr/bin/avifenc");
    REQUIRE_TOOL("/usr/bin/heif-convert");
    const std::string convert = std::string(test_support::kConvert) +
                                " -size 29x17 -seed 4 plasma:fractal ";
    const auto made = test_support::RunCommand(
        convert + "-alpha set -channel A -fx 'i/w' +channel " + ShellQuote(src_) + " && " +
        convert + "PNG24:" + ShellQuote(opaque_));
    ASSERT_EQ(made.status, 0) << made.output;
  }
  test_support::TempDir dir_;
  std::string src_ = dir_.File("src.png");
  std::string opaque_ = dir_.File("opaque.png");
};

// heif-convert is libheif's own converter: the same decoders and the same colour
// conversion, so the pictures agree (the 10-bit one within rounding).
TEST_P(HeifToolTest, MatchesHeifConvert) {
  const ToolCase& c = GetParam();
  const std::string out = dir_.File(c.file), reference = dir_.File("reference.png");
  const auto made = test_support::RunCommand(
      test_support::FillPaths(c.make, {{"SRC", src_}, {"OPAQUE", opaque_}, {"OUT", out}}) +
      " && /usr/bin/heif-convert " + ShellQuote(out) + " " + ShellQuote(reference));
  ASSERT_EQ(made.status, 0) << made.output;

  Picture holder;
  RegisterReaders();
  holder.LoadFile(out);
  const Bitmap& picture = *holder.Graphic();
  EXPECT_EQ(picture.GetPixelFormat(), c.format);
  EXPECT_EQ(picture.Transparent(), c.format == PixelFormat::Bits32);
  EXPECT_EQ(picture.Width(), c.width);
  EXPECT_EQ(picture.Height(), c.height);
  const auto expected = test_support::DecodeWithPillow(reference);
  EXPECT_TRUE(test_support::DecodedMatches(picture, expected, c.tolerance));

  // The same file cut short fails with a message of its format.
  Bytes cut = test_support::ReadFileBytes(out);
  cut.resize(cut.size() * 2 / 3);
  const bool avif = holder.Graphic()->Class().InheritsFrom(TAVIFGraphic::StaticClass());
  EXPECT_THAT(avif ? test_support::LoadError<TAVIFGraphic>(cut)
                   : test_support::LoadError<THEIFGraphic>(cut),
              ::testing::StartsWith(avif ? "AVIF: " : "HEIF: "));
}

INSTANTIATE_TEST_SUITE_P(
    Heif, HeifToolTest,
    ::testing::Values(
        ToolCase{"Heic", "/usr/bin/heif-enc -q 90 OPAQUE -o OUT", "a.heic", PixelFormat::Bits24,
                 29, 17, 0},
        ToolCase{"HeicAlpha", "/usr/bin/heif-enc -q 90 SRC -o OUT", "a.HEIF",
                 PixelFormat::Bits32, 29, 17, 0},
        ToolCase{"Avif", "/usr/bin/avifenc -s 10 OPAQUE OUT", "a.avif", PixelFormat::Bits24, 29,
                 17, 0},
        ToolCase{"AvifAlpha10Bit", "/usr/bin/avifenc -s 10 -d 10 SRC OUT", "a.avif",
                 PixelFormat::Bits32, 29, 17, 1},
        // Turned a quarter anticlockwise and mirrored: the picture comes out upright.
        ToolCase{"AvifRotatedAndMirrored", "/usr/bin/avifenc -s 10 --irot 1 --imir 0 OPAQUE OUT",
                 "a.avif", PixelFormat::Bits24, 17, 29, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Heif, DamagedFilesFailWithAMessage) {
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  } cases[] = {
      {"Empty", {}, "HEIF: Invalid input: No 'ftyp' box"},
      {"NotHeif", Bytes(40, 'x'), "HEIF: Invalid input: No 'ftyp' box"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<THEIFGraphic>(c.file), c.message) << c.name;
  EXPECT_EQ(test_support::LoadError<TAVIFGraphic>({}), "AVIF: Invalid input: No 'ftyp' box");
}

}  // namespace
}  // namespace pictures
