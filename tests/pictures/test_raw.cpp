#include "pictures/formats/raw.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "base/error.h"
#include "support/case_names.h"
#include "support/dng_file.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::Bytes;
using test_support::DngPicture;
using test_support::PrintTo;

struct RawCase {
  const char* name;
  DngPicture picture;
  int width;  // of the developed picture, turned upright
  int height;
};

class RawFileTest : public ::testing::TestWithParam<RawCase> {};

// dcraw_emu is LibRaw's own developer; with -w it takes the camera's white balance, and
// otherwise its defaults are ours: AHD demosaicing, sRGB, 8 bits, turned upright.
TEST_P(RawFileTest, MatchesDcrawEmu) {
  REQUIRE_TOOL("/usr/bin/dcraw_emu");
  const RawCase& c = GetParam();
  test_support::TempDir dir;
  const std::string path = dir.File("shot.dng");
  const Bytes file = test_support::MakeDng(c.picture);
  test_support::WriteFileBytes(path, file);
  TRAWGraphic picture;
  test_support::Load(picture, file);
  EXPECT_EQ(picture.GetPixelFormat(), PixelFormat::Bits24);
  EXPECT_EQ(picture.Width(), c.width);
  EXPECT_EQ(picture.Height(), c.height);
  EXPECT_TRUE(test_support::BitmapMatches(
      picture,
      test_support::DecodeWith("/usr/bin/dcraw_emu -w -Z - " + test_support::ShellQuote(path))));
}

INSTANTIATE_TEST_SUITE_P(
    Raw, RawFileTest,
    ::testing::Values(
        RawCase{"Rggb", {}, 40, 30},
        RawCase{"BggrTurnedClockwise", {.pattern = {2, 1, 1, 0}, .orientation = 6}, 30, 40},
        RawCase{"GrbgHalfTurn", {.width = 37, .pattern = {1, 0, 2, 1}, .orientation = 3}, 37, 30},
        RawCase{"Gbrg12BitTurnedAnticlockwise",
                {.pattern = {1, 2, 0, 1}, .orientation = 8, .black = 64, .white = 4095},
                30,
                40}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Raw, DamagedFilesFailWithAMessage) {
  const Bytes good = test_support::MakeDng({});
  const size_t directory = good[4] | good[5] << 8 | good[6] << 16 | good[7] << 24;
  // 60000 x 60000 pixels declared in a file of 2,400 bytes of samples.
  Bytes huge = good;
  for (const size_t entry : {1, 2})  // ImageWidth, ImageLength
    huge[directory + 2 + 12 * entry + 8] = 0x60, huge[directory + 2 + 12 * entry + 9] = 0xEA;
  // The samples start 100 bytes before the end of the file.
  Bytes pastTheEnd = good;
  const size_t strip = directory + 2 + 12 * 8 + 8;  // StripOffsets
  pastTheEnd[strip] = uint8_t(good.size() - 100),
  pastTheEnd[strip + 1] = uint8_t((good.size() - 100) >> 8);
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  } cases[] = {
      {"Empty", {}, "RAW: the file ends early"},
      {"Short", Bytes(40, 'x'), "RAW: the file ends early"},
      {"NotRaw", Bytes(4096, 'x'),
       "RAW: not a camera raw file, or one of a camera that LibRaw does not know"},
      {"SamplesPastTheEnd", pastTheEnd, "RAW: the file ends early"},
      {"HugeDeclaredPicture", huge, "RAW: the file is too small for the picture it declares"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<TRAWGraphic>(c.file), c.message) << c.name;
}

// Found by fuzzing: a DNG whose colour filter pattern has 36 entries makes LibRaw 0.20 crash
// while it reads the file's directory. The crash ends only the process that develops the
// file; its wording is the C library's name of the signal.
TEST(Raw, CrashOfLibRawIsThePicturesError) {
  const Bytes file =
      test_support::ReadFileBytes(std::string(IMPORTDLG_TESTDATA) + "/raw/cfa-pattern-36-entries.dng");
  EXPECT_THAT(test_support::LoadError<TRAWGraphic>(file),
              ::testing::AnyOf(::testing::StartsWith("RAW: LibRaw crashed on this file ("),
                               ::testing::StartsWith("RAW: not a camera raw file")));
}

}  // namespace
}  // namespace pictures

