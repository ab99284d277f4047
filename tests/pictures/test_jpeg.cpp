#include "pictures/formats/jpeg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/formats/mpo.h"
#include "pictures/stream.h"
#include "support/case_names.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::Bytes;
using test_support::PrintTo;
using test_support::RgbImage;
using test_support::ShellQuote;

// Our decoder and ImageMagick's both use libjpeg, so they normally agree exactly; a
// tolerance of 2 per channel leaves room for a different IDCT or upsampling choice.
constexpr int kTolerance = 2;

TJPEGImage Decode(const Bytes& bytes) {
  MemoryStream stream(bytes);
  TJPEGImage image;
  image.LoadFromStream(stream);
  return image;
}

class JpegFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::ToolAvailable(test_support::kConvert)) GTEST_SKIP() << "no ImageMagick";
    const auto made = test_support::RunCommand(std::string(test_support::kConvert) +
                                               " -size 61x37 -seed 3 plasma:fractal " +
                                               ShellQuote(src_));
    ASSERT_EQ(made.status, 0) << made.output;
  }

  // Writes a JPEG with `command` (SRC and OUT stand for the source and the JPEG file).
  Bytes Make(const std::string& command) {
    const auto made =
        test_support::RunCommand(test_support::FillPaths(command, {{"SRC", src_}, {"OUT", out_}}));
    EXPECT_EQ(made.status, 0) << made.output;
    return test_support::ReadFileBytes(out_);
  }

  RgbImage Reference(const std::string& path) {
    return test_support::DecodeWith(std::string(test_support::kConvert) + " " +
                                    ShellQuote(path) + " -depth 8 ppm:-");
  }

  test_support::TempDir dir_;
  std::string src_ = dir_.File("src.png");
  std::string out_ = dir_.File("out.jpg");
};

struct ToolCase {
  const char* name;
  const char* make;
};

class JpegToolTest : public JpegFiles, public ::testing::WithParamInterface<ToolCase> {};

TEST_P(JpegToolTest, MatchesImageMagicksDecode) {
  const Bytes bytes = Make(GetParam().make);
  const TJPEGImage image = Decode(bytes);
  EXPECT_EQ(image.GetPixelFormat(), PixelFormat::Bits24);
  EXPECT_TRUE(test_support::BitmapMatches(image, Reference(out_), kTolerance));
}

INSTANTIATE_TEST_SUITE_P(
    Jpeg, JpegToolTest,
    ::testing::Values(
        ToolCase{"Baseline420", "/usr/bin/convert SRC -quality 85 OUT"},
        ToolCase{"Baseline444", "/usr/bin/convert SRC -quality 95 -sampling-factor 1x1 OUT"},
        ToolCase{"Progressive", "/usr/bin/convert SRC -interlace JPEG OUT"},
        ToolCase{"Grey", "/usr/bin/convert SRC -colorspace Gray OUT"},
        ToolCase{"GreyProgressive", "/usr/bin/convert SRC -colorspace Gray -interlace JPEG OUT"},
        // Arithmetic coding packs a flat picture of 2048 x 2048 into some 200 bytes.
        ToolCase{"ArithmeticFlat",
                 "/usr/bin/convert -size 2048x2048 xc:#336699 ppm:- | /usr/bin/cjpeg "
                 "-arithmetic > OUT"},
        // ImageMagick writes CMYK as Adobe YCCK; PIL writes Adobe CMYK. Both are inverted.
        ToolCase{"AdobeYcck", "/usr/bin/convert SRC -colorspace CMYK OUT"},
        ToolCase{"AdobeCmyk",
                 "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                 "Image.open(sys.argv[1]).convert('CMYK').save(sys.argv[2], quality=90)\" SRC OUT"},
        ToolCase{"PilRgbOptimized",
                 "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                 "Image.open(sys.argv[1]).save(sys.argv[2], optimize=True, subsampling=1)\" SRC OUT"}),
    [](const auto& info) { return std::string(info.param.name); });

// Photos come out upright: for each EXIF orientation that Pillow records (big-endian
// EXIF for odd ones, little-endian for even ones), the picture equals Pillow's own
// exif_transpose of the file.
TEST_F(JpegFiles, ExifOrientationTurnsThePictureUpright) {
  REQUIRE_TOOL(test_support::kPython);
  const std::string python = std::string(test_support::kPython) + " -c ";
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const std::string save =
        "import sys; from PIL import Image; im = Image.open(sys.argv[1]).convert('RGB'); "
        "exif = Image.Exif(); exif[0x0112] = " + std::to_string(orientation) + "; "
        "exif.endian = '" + (orientation % 2 ? ">" : "<") + "'; "
        "im.save(sys.argv[2], quality=95, exif=exif.tobytes())";
    const TJPEGImage image = Decode(Make(python + ShellQuote(save) + " SRC OUT"));
    const std::string upright =
        "import sys; from PIL import Image, ImageOps; "
        "im = ImageOps.exif_transpose(Image.open(sys.argv[1])); "
        "sys.stdout.buffer.write(b'P6 %d %d 255\\n' % im.size + im.tobytes())";
    EXPECT_TRUE(test_support::BitmapMatches(
        image, test_support::DecodeWith(python + ShellQuote(upright) + " " + ShellQuote(out_)),
        kTolerance))
        << orientation;
  }
}

// The index of the first marker `code` (0xFF code) at or after `from`.
size_t FindMarker(const Bytes& bytes, uint8_t code, size_t from = 0) {
  for (size_t i = from; i + 1 < bytes.size(); ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] == code) return i;
  return std::string::npos;
}

TEST_F(JpegFiles, CmykWithoutAdobeMarkerIsTakenAsInvertedToo) {
  // Nearly every CMYK JPEG comes from Adobe software, and a file that lost its APP14
  // segment on the way is still inverted; ImageMagick and PIL read it so as well.
  Bytes bytes = Make("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                     "Image.open(sys.argv[1]).convert('CMYK').save(sys.argv[2])\" SRC OUT");
  const size_t app14 = FindMarker(bytes, 0xEE);
  ASSERT_NE(app14, std::string::npos);
  const size_t length = size_t(bytes[app14 + 2]) << 8 | bytes[app14 + 3];
  bytes.erase(bytes.begin() + app14, bytes.begin() + app14 + 2 + length);
  const std::string plain = dir_.File("plain.jpg");
  test_support::WriteFileBytes(plain, bytes);
  EXPECT_TRUE(test_support::BitmapMatches(Decode(bytes), Reference(plain), kTolerance));
}

TEST_F(JpegFiles, TruncatedFileShowsWhatIsThere) {
  Bytes bytes = Make("/usr/bin/convert SRC -quality 90 -sampling-factor 1x1 OUT");
  const Bytes whole = bytes;
  bytes.resize(bytes.size() * 2 / 3);
  const TJPEGImage cut = Decode(bytes);
  const TJPEGImage full = Decode(whole);
  ASSERT_EQ(cut.Width(), 61);
  ASSERT_EQ(cut.Height(), 37);
  // The first rows decode as in the whole file.
  EXPECT_EQ(0, std::memcmp(cut.ScanLine(0), full.ScanLine(0), cut.RowBytes()));
}

TEST_F(JpegFiles, AbsurdScanCountFails) {
  // A progressive file whose first (DC) scan is repeated 1100 times: libjpeg would go
  // over the picture for every scan.
  const Bytes bytes = Make("/usr/bin/convert SRC -interlace JPEG OUT");
  const size_t sos = FindMarker(bytes, 0xDA);
  ASSERT_NE(sos, std::string::npos);
  // The scan's data ends at the next marker other than a stuffed 0xFF00 or a restart.
  size_t next = sos + 2;
  while (next + 1 < bytes.size() &&
         !(bytes[next] == 0xFF && bytes[next + 1] != 0 && (bytes[next + 1] & 0xF8) != 0xD0))
    ++next;
  Bytes many(bytes.begin(), bytes.begin() + sos);
  for (int i = 0; i < 1100; ++i) many.insert(many.end(), bytes.begin() + sos, bytes.begin() + next);
  many.push_back(0xFF);
  many.push_back(0xD9);
  try {
    Decode(many);
    FAIL() << "decoded";
  } catch (const PictureError& error) {
    EXPECT_STREQ(error.what(), "JPEG image has more than 1000 scans");
  }
}

TEST_F(JpegFiles, SizesTheFileCannotHoldFailBeforeDecoding) {
  struct Case {
    const char* make;
    uint8_t frame;  // the SOF marker's code
    uint16_t size;  // given to both width and height
    const char* message;
  };
  const Case cases[] = {
      // Within libjpeg's own bounds, but beyond the pixel memory limit.
      {"/usr/bin/convert SRC OUT", 0xC0, 65000, "The picture needs more than 1 GiB of memory"},
      // Within the limit, but a few kilobytes of data cannot fill so many blocks.
      {"/usr/bin/convert SRC OUT", 0xC0, 16000, "Premature end of JPEG file"},
      {"/usr/bin/convert SRC -interlace JPEG OUT", 0xC2, 8000, "Premature end of JPEG file"},
  };
  for (const Case& c : cases) {
    Bytes bytes = Make(c.make);
    const size_t sof = FindMarker(bytes, c.frame);
    ASSERT_NE(sof, std::string::npos) << c.make;
    // SOF: length (2), precision (1), height (2), width (2).
    bytes[sof + 5] = bytes[sof + 7] = uint8_t(c.size >> 8);
    bytes[sof + 6] = bytes[sof + 8] = uint8_t(c.size);
    try {
      Decode(bytes);
      ADD_FAILURE() << c.size << ": decoded";
    } catch (const PictureError& error) {
      EXPECT_STREQ(error.what(), c.message) << c.size;
    }
  }
}

// An MPO file as stereo cameras write it: the first picture with a multi-picture index in
// an APP2 segment right after its start (when `indexed`), then the second picture.
Bytes MakeMpo(const Bytes& first, const Bytes& second, bool indexed) {
  Bytes index;
  const auto u16 = [&](uint32_t v) { index.insert(index.end(), {uint8_t(v >> 8), uint8_t(v)}); };
  const auto u32 = [&](uint32_t v) { u16(v >> 16), u16(v & 0xFFFF); };
  constexpr uint32_t kSegment = 2 + 2 + 4 + 8 + 2 + 12 + 4 + 32;  // marker to the last entry
  const uint32_t firstLength = uint32_t(first.size()) + kSegment;
  index.insert(index.end(), {0xFF, 0xE2});
  u16(kSegment - 2);
  index.insert(index.end(), {'M', 'P', 'F', 0, 'M', 'M', 0, 42});  // big-endian TIFF header
  u32(8);                                       // the index's one IFD
  u16(1), u16(0xB002), u16(7), u32(32), u32(26);  // MP entries: 2 x 16 bytes at 26
  u32(0);                                       // no next IFD
  u32(0x20030000), u32(firstLength), u32(0), u32(0);  // the first picture, at the start
  u32(0), u32(uint32_t(second.size())), u32(firstLength - 8), u32(0);
  Bytes mpo;
  mpo.reserve(first.size() + index.size() + second.size());
  mpo.insert(mpo.end(), first.begin(), first.begin() + 2);
  if (indexed) mpo.insert(mpo.end(), index.begin(), index.end());
  mpo.insert(mpo.end(), first.begin() + 2, first.end());
  mpo.insert(mpo.end(), second.begin(), second.end());
  return mpo;
}

// Of an MPO, the first picture is shown, upright by its own EXIF orientation; its index
// holds the decoder to that picture's bytes, so that data of the second cannot fill a
// frame the first declares.
TEST_F(JpegFiles, MpoShowsItsFirstPictureUpright) {
  REQUIRE_TOOL(test_support::kPython);
  const Bytes first = Make(std::string(test_support::kPython) +
                           " -c \"import sys; from PIL import Image; exif = Image.Exif(); "
                           "exif[0x0112] = 6; Image.open(sys.argv[1]).convert('RGB')"
                           ".save(sys.argv[2], quality=90, exif=exif.tobytes())\" SRC OUT");
  const Bytes second = Make("/usr/bin/convert SRC -negate OUT");
  const TJPEGImage upright = Decode(first);
  ASSERT_EQ(upright.Width(), 37);
  Bytes oversized = first;
  const size_t sof = FindMarker(oversized, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  oversized[sof + 5] = oversized[sof + 7] = 2000 >> 8;  // 2000 x 2000 pixels
  oversized[sof + 6] = oversized[sof + 8] = 2000 & 0xFF;
  Bytes padded = second;
  padded.resize(padded.size() + 40000);
  struct Case {
    const char* name;
    Bytes file;
    const char* message;  // or nullptr when the first picture is shown
  } cases[] = {
      {"Indexed", MakeMpo(first, second, true), nullptr},
      {"WithoutIndex", MakeMpo(first, second, false), nullptr},
      {"FrameOnlyTheSecondCouldFill", MakeMpo(oversized, padded, true), "Premature end of JPEG file"},
  };
  for (const Case& c : cases) {
    MemoryStream stream(c.file);
    TMPOGraphic mpo;
    try {
      mpo.LoadFromStream(stream);
      EXPECT_EQ(c.message, nullptr) << c.name;
      EXPECT_TRUE(test_support::BitmapMatches(mpo, test_support::FromBitmap(upright))) << c.name;
    } catch (const PictureError& error) {
      EXPECT_STREQ(error.what(), c.message) << c.name;
    }
  }
}

struct Broken {
  const char* name;
  Bytes bytes;
  const char* message;  // libjpeg's own
};

class JpegBrokenTest : public ::testing::TestWithParam<Broken> {};

TEST_P(JpegBrokenTest, FailsWithLibjpegsMessage) {
  try {
    Decode(GetParam().bytes);
    FAIL() << "decoded";
  } catch (const PictureError& error) {
    EXPECT_STREQ(error.what(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Jpeg, JpegBrokenTest,
    ::testing::Values(
        Broken{"Empty", {}, "Empty input file"},
        Broken{"NotJpeg", {'G', 'I', 'F', '8'}, "Not a JPEG file: starts with 0x47 0x49"},
        // SOI, then the file ends: libjpeg supplies an end marker and finds no picture.
        Broken{"OnlyStart", {0xFF, 0xD8}, "JPEG datastream contains no image"},
        // SOI, SOF1 of a 12-bit picture (1 x 1, one component), SOS of that component.
        Broken{"TwelveBit",
               {0xFF, 0xD8, 0xFF, 0xC1, 0, 11, 12, 0, 1, 0, 1, 1, 1, 0x11, 0,
                0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0},
               "Unsupported JPEG data precision 12"},
        // SOF0 with a width of 0.
        Broken{"ZeroWidth",
               {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 1, 0, 0, 1, 1, 0x11, 0},
               "Empty JPEG image (DNL not supported)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pictures
