#include "pictures/formats/webp.h"

#include <gtest/gtest.h>

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

struct ToolCase {
  const char* name;
  const char* make;  // SRC: a picture with an alpha ramp; OPAQUE: the same without alpha
  PixelFormat format;
};

class WebpFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_TOOL(test_support::kConvert);
    REQUIRE_TOOL("/usr/bin/cwebp");
    const auto made = test_support::MakeAlphaRampSources(src_, opaque_);
    ASSERT_EQ(made.status, 0) << made.output;
  }
  Bytes Make(const char* command) {
    const auto made = test_support::RunCommand(
        test_support::FillPaths(command, {{"SRC", src_}, {"OPAQUE", opaque_}, {"OUT", out_}}));
    EXPECT_EQ(made.status, 0) << made.output;
    return test_support::ReadFileBytes(out_);
  }
  test_support::TempDir dir_;
  std::string src_ = dir_.File("src.png");
  std::string opaque_ = dir_.File("opaque.png");
  std::string out_ = dir_.File("out.webp");
};

class WebpToolTest : public WebpFiles, public ::testing::WithParamInterface<ToolCase> {};

// dwebp is libwebp's own decoder; both sides use the same library, so they agree exactly.
TEST_P(WebpToolTest, MatchesDwebp) {
  REQUIRE_TOOL("/usr/bin/dwebp");
  TWebPGraphic picture;
  test_support::Load(picture, Make(GetParam().make));
  EXPECT_EQ(picture.GetPixelFormat(), GetParam().format);
  EXPECT_EQ(picture.Transparent(), GetParam().format == PixelFormat::Bits32);
  const auto reference = test_support::DecodeWith(
      "/usr/bin/dwebp -quiet -pam " + ShellQuote(out_) + " -o /dev/stdout");
  EXPECT_TRUE(test_support::DecodedMatches(picture, reference));
}

INSTANTIATE_TEST_SUITE_P(
    Webp, WebpToolTest,
    ::testing::Values(
        ToolCase{"Lossy", "/usr/bin/cwebp -quiet -q 80 OPAQUE -o OUT", PixelFormat::Bits24},
        ToolCase{"Lossless", "/usr/bin/cwebp -quiet -lossless OPAQUE -o OUT", PixelFormat::Bits24},
        ToolCase{"LossyAlpha", "/usr/bin/cwebp -quiet -q 80 SRC -o OUT", PixelFormat::Bits32},
        ToolCase{"LosslessAlpha", "/usr/bin/cwebp -quiet -lossless -exact SRC -o OUT",
                 PixelFormat::Bits32}),
    [](const auto& info) { return std::string(info.param.name); });

// Of an animation, the first frame is shown: a lossless frame of the opaque picture is
// given back exactly, whatever the frames after it hold.
TEST_F(WebpFiles, AnimationShowsItsFirstFrame) {
  REQUIRE_TOOL("/usr/bin/img2webp");
  TWebPGraphic picture;
  test_support::Load(picture, Make("/usr/bin/img2webp -lossless OPAQUE SRC -o OUT"));
  EXPECT_EQ(picture.GetPixelFormat(), PixelFormat::Bits32);
  EXPECT_TRUE(test_support::BitmapMatches(picture, test_support::DecodeWithPillow(opaque_)));
}

TEST_F(WebpFiles, DamagedFilesFailWithAMessage) {
  const Bytes good = Make("/usr/bin/cwebp -quiet -q 80 OPAQUE -o OUT");
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  } cases[] = {
      {"Empty", {}, "WebP: the file ends early"},
      {"NotWebp", Bytes(40, 'x'), "WebP: the picture data is damaged or not WebP"},
      {"CutShort", Bytes(good.begin(), good.begin() + good.size() / 2),
       "WebP: the file ends early"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<TWebPGraphic>(c.file), c.message) << c.name;
}

}  // namespace
}  // namespace pictures
