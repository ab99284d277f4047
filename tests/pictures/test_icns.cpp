#include "pictures/formats/icns.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/byte_builders.h"
#include "support/case_names.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::AppendBE32;
using test_support::Bytes;
using test_support::FillPaths;
using test_support::PrintTo;
using test_support::ShellQuote;

struct Element {
  const char* type;
  Bytes data;
};

Bytes Icns(const std::vector<Element>& elements) {
  Bytes body;
  for (const Element& e : elements) {
    body.insert(body.end(), e.type, e.type + 4);
    AppendBE32(body, uint32_t(e.data.size() + 8));
    body.insert(body.end(), e.data.begin(), e.data.end());
  }
  Bytes file = {'i', 'c', 'n', 's'};
  AppendBE32(file, uint32_t(body.size() + 8));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

// A channel of `count` equal bytes as the old entries pack it: runs of at most 130.
Bytes Packed(size_t count, uint8_t value) {
  Bytes out;
  for (; count > 0; count -= std::min<size_t>(count, 130)) {
    const size_t n = std::min<size_t>(count, 130);
    if (n >= 3)
      out.insert(out.end(), {uint8_t(n + 125), value});
    else
      out.insert(out.end(), {uint8_t(n - 1), value, value});
  }
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Pixel (x, y) as blue, green, red, alpha.
Bytes Bgra(const Bitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
  return Bytes(p, p + 4);
}

// Icons written by icnsutils and Pillow, compared whole with their own decode of the entry
// that must be shown.
struct ToolCase {
  const char* name;
  const char* make;       // S16 ... S256: PNGs of those sizes with an alpha ramp; OUT: the icon
  int size;               // the entry that must be shown
  const char* reference;  // decodes that entry to PAM
};

class ICNSToolTest : public ::testing::TestWithParam<ToolCase> {};

TEST_P(ICNSToolTest, ShowsTheLargestEntryAsTheToolDecodesIt) {
  const ToolCase& c = GetParam();
  REQUIRE_TOOL("/usr/bin/png2icns");
  REQUIRE_TOOL(test_support::kConvert);
  test_support::TempDir dir;
  for (int s : {16, 32, 48, 128, 256}) {
    if (std::string(c.make).find("S" + std::to_string(s) + " ") == std::string::npos) continue;
    const auto made = test_support::RunCommand(
        std::string(test_support::kConvert) + " -size 64x64 -seed 9 plasma:fractal -alpha set -channel A "
        "-fx i/w +channel -resize " + std::to_string(s) + "x" + std::to_string(s) + "! " +
        ShellQuote(dir.File("s" + std::to_string(s) + ".png")));
    ASSERT_EQ(made.status, 0) << made.output;
  }
  auto fill = [&](const std::string& command) {
    return FillPaths(command, {{"S16", dir.File("s16.png")}, {"S32", dir.File("s32.png")},
                               {"S48", dir.File("s48.png")}, {"S128", dir.File("s128.png")},
                               {"S256", dir.File("s256.png")}, {"OUT", dir.File("out.icns")},
                               {"DIR", dir.Path()}});
  };
  const auto made = test_support::RunCommand(fill(c.make));
  ASSERT_EQ(made.status, 0) << made.output;
  TICNSGraphic picture;
  picture.LoadFile(dir.File("out.icns"));
  ASSERT_EQ(picture.Width(), c.size);
  EXPECT_TRUE(picture.Transparent());
  EXPECT_TRUE(test_support::DecodedMatches(picture, test_support::DecodeWith(fill(c.reference))));
}

INSTANTIATE_TEST_SUITE_P(
    ICNS, ICNSToolTest,
    ::testing::Values(
        ToolCase{"RunLengthWithMasks", "png2icns OUT S16 S32 S48 S128 >/dev/null", 128,
                 "icns2png -x -s 128x128 -o DIR OUT >/dev/null && /usr/bin/convert DIR/out_128x128x32.png pam:-"},
        ToolCase{"SmallRunLength", "png2icns OUT S32 S16 >/dev/null", 32,
                 "icns2png -x -s 32x32 -o DIR OUT >/dev/null && /usr/bin/convert DIR/out_32x32x32.png pam:-"},
        // icnsutils writes 256 pixels as JPEG 2000, through OpenJPEG.
        ToolCase{"JpegTwoThousand", "png2icns OUT S128 S256 >/dev/null", 256,
                 "icns2png -x -s 256x256 -o DIR OUT >/dev/null && /usr/bin/convert DIR/out_256x256x32.png pam:-"},
        // Pillow writes PNG entries up to 1024 pixels, enlarging the picture.
        ToolCase{"PillowPng",
                 "/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])\" "
                 "S256 OUT",
                 1024,
                 "/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])\" "
                 "OUT DIR/ref.png && /usr/bin/convert DIR/ref.png pam:-"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ICNSReader, OldEntries) {
  const size_t px16 = 256, px32 = 1024;
  struct Case {
    const char* what;
    Bytes file;
    int size;
    Bytes pixel;  // the top-left pixel as blue, green, red, alpha
  };
  const Case cases[] = {
      {"colours with their mask", Icns({{"is32", Concat({Packed(px16, 1), Packed(px16, 2), Packed(px16, 3)})},
                                        {"s8mk", Bytes(px16, 77)}}),
       16, {3, 2, 1, 77}},
      {"colours without a mask are opaque", Icns({{"is32", Concat({Packed(px16, 1), Packed(px16, 2), Packed(px16, 3)})}}),
       16, {3, 2, 1, 255}},
      {"literal bytes", Icns({{"is32", Concat({{2, 9, 8, 7}, Packed(px16 - 3, 1), Packed(px16, 2), Packed(px16, 3)})}}),
       16, {3, 2, 9, 255}},
      {"colours stored without packing", Icns({{"is32", Concat({{5, 6, 7}, Bytes(3 * px16 - 3, 0)})}}),
       16, {7, 6, 5, 255}},
      {"ARGB", Icns({{"ic05", Concat({{'A', 'R', 'G', 'B'}, Packed(px32, 40), Packed(px32, 1), Packed(px32, 2), Packed(px32, 3)})}}),
       32, {3, 2, 1, 40}},
      {"the 128-pixel entry's zero header",
       Icns({{"it32", Concat({{0, 0, 0, 0}, Packed(16384, 4), Packed(16384, 5), Packed(16384, 6)})}}), 128, {6, 5, 4, 255}},
      {"the larger entry", Icns({{"il32", Concat({Packed(px32, 1), Packed(px32, 1), Packed(px32, 1)})},
                                {"is32", Concat({Packed(px16, 2), Packed(px16, 2), Packed(px16, 2)})}}),
       32, {1, 1, 1, 255}},
      {"a damaged larger entry gives way",
       Icns({{"is32", Concat({Packed(px16, 2), Packed(px16, 2), Packed(px16, 2)})}, {"il32", Packed(px32, 1)}}),
       16, {2, 2, 2, 255}},
      {"unknown entries passed over",
       Icns({{"TOC ", {1, 2, 3}}, {"icnV", {0, 0, 0, 0}}, {"is32", Concat({Packed(px16, 1), Packed(px16, 2), Packed(px16, 3)})}}),
       16, {3, 2, 1, 255}},
  };
  for (const Case& c : cases) {
    TICNSGraphic picture;
    test_support::Load(picture, c.file);
    ASSERT_EQ(picture.Width(), c.size) << c.what;
    EXPECT_EQ(Bgra(picture, 0, 0), c.pixel) << c.what;
  }
}

TEST(ICNSReader, DamagedFilesFailWithClearMessages) {
  const Bytes jp2 = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 13, 10, 0x87, 10};
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"empty", {}, "ICNS: not an Apple icon file"},
      {"other magic", {'i', 'c', 'n', 'x', 0, 0, 0, 8}, "ICNS: not an Apple icon file"},
      {"no entries", Icns({}), "ICNS: the icon holds no picture this reader can show"},
      {"JPEG 2000 cut short", Icns({{"ic08", jp2}, {"ic09", jp2}}), "ICNS: the ic09 entry is damaged (JPEG 2000: the file holds no codestream)"},
      {"channel data missing", Icns({{"is32", Packed(256, 1)}}), "ICNS: the is32 entry is damaged (Stream read error)"},
      {"run past the channel", Icns({{"is32", Concat({Packed(250, 1), {0xFF, 1}})}}),
       "ICNS: the is32 entry is damaged (a run-length entry runs past its channel)"},
      {"PNG cut short", Icns({{"ic07", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                        0, 0, 0, 1, 0, 0, 0, 1}}}),
       "ICNS: the ic07 entry is damaged (the file ends early)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<TICNSGraphic>(c.file), c.message) << c.what;
}

}  // namespace
}  // namespace pictures
