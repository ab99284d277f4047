#include "pictures/formats/jpeg2000.h"

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

// Raw samples for opj_compress: a 40 x 30 luma plane and two chroma planes of a quarter of
// its size, 8 bits each; and one plane of signed 12-bit samples in 16-bit big-endian words.
Bytes Ycc420Raw() {
  Bytes raw;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) raw.push_back(uint8_t(x * 6 + y));
  for (int plane = 0; plane < 2; ++plane)
    for (int y = 0; y < 15; ++y)
      for (int x = 0; x < 20; ++x) raw.push_back(uint8_t(plane ? 255 - x * 12 : y * 17));
  return raw;
}

Bytes Signed12Raw() {
  Bytes raw;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const int value = (x * 100 + y * 37) % 4096 - 2048;
      raw.push_back(uint8_t(uint16_t(value) >> 8));
      raw.push_back(uint8_t(value));
    }
  return raw;
}

struct ToolCase {
  const char* name;
  const char* make;  // OPAQUE, ALPHA: the test pattern without and with alpha, LARGE: of 1100 x
                     // 1000 pixels; YCC, S12: raw planes
  const char* file;  // the name of the file made
  PixelFormat format;
};

class Jpeg2000ToolTest : public ::testing::TestWithParam<ToolCase> {
 protected:
  void SetUp() override {
    REQUIRE_TOOL("/usr/bin/opj_compress");
    REQUIRE_TOOL("/usr/bin/opj_decompress");
    REQUIRE_TOOL(test_support::kConvert);
    test_support::WriteFileBytes(opaque_, test_support::EncodePnm(test_support::TestPattern(37, 23)));
    test_support::WriteFileBytes(alpha_, test_support::EncodePnm(test_support::TestPattern(37, 23, true)));
    test_support::WriteFileBytes(ycc_, Ycc420Raw());
    test_support::WriteFileBytes(s12_, Signed12Raw());
  }
  test_support::TempDir dir_;
  std::string opaque_ = dir_.File("opaque.ppm");
  std::string alpha_ = dir_.File("alpha.pam");
  std::string ycc_ = dir_.File("ycc.raw");
  std::string s12_ = dir_.File("s12.raw");
};

// opj_decompress is OpenJPEG's own decoder; it writes Netpbm files of the samples at their
// own depth (sYCC turned into RGB), which the test reads scaled to 8 bits as we scale them.
TEST_P(Jpeg2000ToolTest, MatchesOpjDecompress) {
  const ToolCase& c = GetParam();
  const std::string out = dir_.File(c.file), reference = dir_.File("reference.pnm");
  // A picture past the size at which the reader starts a second thread, made when asked for.
  const std::string large = dir_.File("large.ppm");
  if (std::string(c.make).find("LARGE") != std::string::npos)
    test_support::WriteFileBytes(large, test_support::EncodePnm(test_support::TestPattern(1100, 1000)));
  const auto made = test_support::RunCommand(
      test_support::FillPaths(c.make, {{"OPAQUE", opaque_}, {"ALPHA", alpha_}, {"LARGE", large}, {"YCC", ycc_},
                                       {"S12", s12_}, {"TEMP", dir_.File("temp.png")}, {"OUT", out}}) +
      " >/dev/null && /usr/bin/opj_decompress -i " + ShellQuote(out) + " -o " + ShellQuote(reference) +
      " >/dev/null");
  ASSERT_EQ(made.status, 0) << made.output;
  TJPEG2000Graphic picture;
  test_support::Load(picture, test_support::ReadFileBytes(out));
  EXPECT_EQ(picture.GetPixelFormat(), c.format);
  EXPECT_EQ(picture.Transparent(), c.format == PixelFormat::Bits32);
  EXPECT_TRUE(test_support::DecodedMatches(picture, test_support::ReadPnmFile(reference)));
}

INSTANTIATE_TEST_SUITE_P(
    Jpeg2000, Jpeg2000ToolTest,
    ::testing::Values(
        ToolCase{"Rgb", "/usr/bin/opj_compress -n 3 -i OPAQUE -o OUT", "rgb.jp2", PixelFormat::Bits24},
        ToolCase{"RgbCodestream", "/usr/bin/opj_compress -n 3 -i OPAQUE -o OUT", "rgb.j2k",
                 PixelFormat::Bits24},
        ToolCase{"LossyInTiles", "/usr/bin/opj_compress -n 2 -r 20 -t 16,16 -i OPAQUE -o OUT",
                 "tiles.j2c", PixelFormat::Bits24},
        ToolCase{"Rgba", "/usr/bin/opj_compress -n 3 -i ALPHA -o OUT", "rgba.jp2", PixelFormat::Bits32},
        ToolCase{"Grey", "/usr/bin/convert OPAQUE -colorspace Gray TEMP && /usr/bin/opj_compress -n 3 -i TEMP -o OUT",
                 "grey.jp2", PixelFormat::Bits8},
        ToolCase{"GreyAlpha",
                 "/usr/bin/convert ALPHA -colorspace Gray TEMP && /usr/bin/opj_compress -n 3 -i TEMP -o OUT",
                 "grey_alpha.jp2", PixelFormat::Bits32},
        ToolCase{"OneBit",
                 "/usr/bin/convert OPAQUE -colorspace Gray -threshold 50% TEMP.pbm && "
                 "/usr/bin/opj_compress -n 3 -i TEMP.pbm -o OUT",
                 "bilevel.jp2", PixelFormat::Bits8},
        ToolCase{"Signed12Bits", "/usr/bin/opj_compress -n 3 -F 40,30,1,12,s@1x1 -i S12 -o OUT",
                 "signed.j2k", PixelFormat::Bits8},
        // Past a megapixel the picture is decoded on two threads.
        ToolCase{"TwoThreads",
                 "/usr/bin/opj_compress -r 40 -t 512,512 -i LARGE -o OUT",
                 "large.jp2", PixelFormat::Bits24},
        // A JP2 file says its colours are sYCC; a codestream's subsampled chroma says so.
        ToolCase{"Sycc420", "/usr/bin/opj_compress -n 3 -F 40,30,3,8,u@1x1:2x2:2x2 -i YCC -o OUT",
                 "ycc.jp2", PixelFormat::Bits24},
        ToolCase{"Ycc420Codestream",
                 "/usr/bin/opj_compress -n 3 -F 40,30,3,8,u@1x1:2x2:2x2 -i YCC -o OUT", "ycc.j2k",
                 PixelFormat::Bits24}),
    [](const auto& info) { return std::string(info.param.name); });

// A bare codestream's start and image and tile size marker: `side` x `side` pixels in
// tiles of `tile` x `tile`, of `components` 8-bit components.
Bytes Codestream(uint32_t side, uint32_t tile, uint16_t components) {
  Bytes bytes = {0xFF, 0x4F, 0xFF, 0x51};
  const auto u16 = [&](uint32_t v) { bytes.insert(bytes.end(), {uint8_t(v >> 8), uint8_t(v)}); };
  const auto u32 = [&](uint32_t v) { u16(v >> 16), u16(v & 0xFFFF); };
  u16(38 + 3u * components);
  u16(0);                  // capabilities
  u32(side), u32(side);    // the reference grid
  u32(0), u32(0);          // the image's offset on it
  u32(tile), u32(tile);    // tile size
  u32(0), u32(0);          // tile offset
  u16(components);
  for (uint16_t c = 0; c < components; ++c) bytes.insert(bytes.end(), {7, 1, 1});
  bytes.resize(bytes.size() + 64);  // a little room for what would follow
  return bytes;
}

TEST(Jpeg2000, DamagedAndOversizedFilesFailBeforeDecoding) {
  const Bytes signature = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A,
                           0, 0, 0, 0x0C, 'f', 't', 'y', 'p', 'j', 'p', '2', ' '};
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  } cases[] = {
      {"Empty", {}, "JPEG 2000: the file ends early"},
      {"NotJpeg2000", Bytes(40, 'x'), "JPEG 2000: the codestream does not start with its size marker"},
      {"NoCodestreamBox", signature, "JPEG 2000: the file holds no codestream"},
      {"PastThePixelLimit", Codestream(100000, 100000, 1), "The picture needs more than 1 GiB of memory"},
      // 16000 x 16000 pixels fit the Bitmap, but not four components of 32-bit samples.
      {"ComponentsPastTheLimit", Codestream(16000, 16000, 4), "The picture needs more than 1 GiB of memory"},
      {"MoreTilesThanTheFileHolds", Codestream(8000, 1, 1),
       "JPEG 2000: the file is too short for its 64000000 tiles"},
      {"NoTileData", Codestream(64, 64, 1),
       "JPEG 2000: A marker ID was expected (0xff--) instead of 00000000"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<TJPEG2000Graphic>(c.file), c.message) << c.name;
}

}  // namespace
}  // namespace pictures
