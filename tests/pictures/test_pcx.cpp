#include "pictures/formats/pcx.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "support/byte_builders.h"
#include "support/case_names.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::LE16;
using test_support::Load;
using test_support::PrintTo;

struct Header {
  uint8_t manufacturer = 10;
  uint8_t version = 5;
  uint8_t encoding = 1;
  uint8_t bits = 8;
  uint16_t xMin = 0, yMin = 0, xMax = 1, yMax = 1;
  Bytes colourMap = Bytes(48, 0);
  uint8_t planes = 1;
  uint16_t bytesPerLine = 2;
  uint16_t paletteInfo = 1;
};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A 128-byte PCX header followed by the pixel data and `tail` (the 8-bit palette block).
Bytes Pcx(const Header& h, const Bytes& data, const Bytes& tail = {}) {
  Bytes b = Join({
      {h.manufacturer},  // 0: manufacturer (10 PCX, 205 screen capture)
      {h.version},       // 1: version
      {h.encoding},      // 2: encoding (1 run-length packed)
      {h.bits},          // 3: bits per pixel per plane
      LE16(h.xMin), LE16(h.yMin), LE16(h.xMax), LE16(h.yMax),  // 4: edges, inclusive
      LE16(72), LE16(72),  // 12: resolution
      h.colourMap,       // 16: 16 x red, green, blue
      {0},               // 64: reserved
      {h.planes},        // 65: planes
      LE16(h.bytesPerLine),  // 66: bytes per plane line
      LE16(h.paletteInfo),   // 68: palette info (2 grey)
      Bytes(58, 0),      // 70: unused
  });
  EXPECT_EQ(b.size(), 128u);
  return Join({b, data, tail});
}

// The 8-bit palette block: marker 12, then entry i = (i, 255 - i, i / 2).
Bytes PaletteBlock(uint8_t marker = 12) {
  Bytes b{marker};
  for (int i = 0; i < 256; ++i) b.insert(b.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
  return b;
}

Bytes ColourMap16() {
  Bytes b;
  for (int i = 0; i < 16; ++i)
    b.insert(b.end(), {uint8_t(i * 10), uint8_t(i * 3), uint8_t(200 - i)});
  return b;
}

std::vector<Bytes> Rows(const Bitmap& g) {
  std::vector<Bytes> rows;
  for (int y = 0; y < g.Height(); ++y) {
    const uint8_t* p = g.ScanLine(y);
    rows.emplace_back(p, p + g.RowBytes());
  }
  return rows;
}

std::vector<PaletteEntry> Grey(int count, int step) {
  std::vector<PaletteEntry> p;
  for (int i = 0; i < count; ++i) {
    const auto v = uint8_t(i * step);
    p.push_back({v, v, v, 0});
  }
  return p;
}

struct Case {
  std::string name;
  Bytes file;
  PixelFormat format;
  int width, height;
  std::vector<Bytes> rows;               // the bytes of each row that hold pixels
  std::vector<PaletteEntry> palette;     // empty: not checked
};

std::vector<Case> Cases() {
  std::vector<PaletteEntry> map16;
  const Bytes cm = ColourMap16();
  for (int i = 0; i < 16; ++i) map16.push_back({cm[3 * i], cm[3 * i + 1], cm[3 * i + 2], 0});
  std::vector<PaletteEntry> block;
  for (int i = 0; i < 256; ++i) block.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0});
  const std::vector<PaletteEntry> standard(StandardPalette16().begin(), StandardPalette16().end());
  const std::vector<PaletteEntry> blackWhite = {{0, 0, 0, 0}, {255, 255, 255, 0}};

  return {
      // 1 bit, 10 pixels wide: two bytes a line, both kept; the header's colours are not used.
      {"Mono10Wide",
       Pcx({.bits = 1, .xMax = 9, .yMax = 1, .colourMap = ColourMap16(), .bytesPerLine = 2},
           {0xAA, 0xC1, 0xC0,           // line 0: AA, then a run of one C0
            0xC2, 0xFF}),               // line 1: a run of two FF
       PixelFormat::Bits1, 10, 2, {{0xAA, 0xC0}, {0xFF, 0xFF}}, blackWhite},
      {"ScreenCaptureManufacturer205",
       Pcx({.manufacturer = 205, .bits = 1, .xMax = 7, .yMax = 0, .bytesPerLine = 1}, {0x0F}),
       PixelFormat::Bits1, 8, 1, {{0x0F}}, blackWhite},
      // 16 colours: planes p0..p3 of a line one after the other; pixel = p3 p2 p1 p0.
      {"Planes16ColourMap",
       Pcx({.encoding = 0, .bits = 1, .xMax = 7, .yMax = 0, .colourMap = ColourMap16(),
            .planes = 4, .bytesPerLine = 1, .paletteInfo = 1},
           {0xF0, 0xCC, 0xAA, 0x01}),
       // pixels 0..7: 7, 3, 5, 1, 6, 2, 4, 8
       PixelFormat::Bits4, 8, 1, {{0x73, 0x51, 0x62, 0x48}}, map16},
      {"Planes16OddWidthLeavesLastNibbleZero",
       Pcx({.encoding = 0, .bits = 1, .xMax = 2, .yMax = 0, .planes = 4, .bytesPerLine = 2},
           {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}),
       PixelFormat::Bits4, 3, 1, {{0x11, 0x10}}, {}},
      {"Planes16TwoBytesAPlane",
       Pcx({.bits = 1, .xMax = 11, .yMax = 0, .planes = 4, .bytesPerLine = 2},
           {0x80, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30}),
       PixelFormat::Bits4, 12, 1, {{0x10, 0x00, 0x00, 0x00, 0x00, 0x89}}, {}},
      {"Planes16GreyPaletteInfo",
       Pcx({.bits = 1, .xMax = 7, .yMax = 0, .colourMap = ColourMap16(), .planes = 4,
            .bytesPerLine = 1, .paletteInfo = 2},
           {0, 0, 0, 0}),
       PixelFormat::Bits4, 8, 1, {{0, 0, 0, 0}}, Grey(16, 16)},
      {"Planes16Version3StandardPalette",
       Pcx({.version = 3, .bits = 1, .xMax = 7, .yMax = 0, .colourMap = ColourMap16(),
            .planes = 4, .bytesPerLine = 1},
           {0, 0, 0, 0}),
       PixelFormat::Bits4, 8, 1, {{0, 0, 0, 0}}, standard},
      // 1-bit planes of 4 and 8 colours: pixel = p2 p1 p0, colours from the header's map.
      {"BitPlanes2",
       Pcx({.encoding = 0, .bits = 1, .xMax = 7, .yMax = 0, .colourMap = ColourMap16(),
            .planes = 2, .bytesPerLine = 1}, {0xF0, 0xCC}),
       PixelFormat::Bits4, 8, 1, {{0x33, 0x11, 0x22, 0x00}}, {map16.begin(), map16.begin() + 4}},
      {"BitPlanes3GreyInfo",
       Pcx({.encoding = 0, .bits = 1, .xMax = 7, .yMax = 0, .colourMap = ColourMap16(),
            .planes = 3, .bytesPerLine = 1, .paletteInfo = 2}, {0xF0, 0xCC, 0xAA}),
       PixelFormat::Bits4, 8, 1, {{0x73, 0x51, 0x62, 0x40}},
       {{0, 0, 0, 0}, {36, 36, 36, 0}, {72, 72, 72, 0}, {109, 109, 109, 0},
        {145, 145, 145, 0}, {182, 182, 182, 0}, {218, 218, 218, 0}, {255, 255, 255, 0}}},
      // 2 bits, one plane: four pixels a byte. A map with colours holds red, green, blue.
      {"TwoBitsHeaderColours",
       Pcx({.encoding = 0, .bits = 2, .xMax = 4, .yMax = 0, .colourMap = ColourMap16(),
            .bytesPerLine = 2}, {0x1B, 0xC0}),
       PixelFormat::Bits4, 5, 1, {{0x01, 0x23, 0x30}}, {map16.begin(), map16.begin() + 4}},
      // A map that holds only the adapter's settings: background 1 (blue); palette 1,
      // bright (light cyan, light magenta, white); or no colour burst, dim (cyan, red, grey).
      {"TwoBitsAdapterSettings",
       Pcx({.encoding = 0, .bits = 2, .xMax = 3, .yMax = 0,
            .colourMap = [] { Bytes m(48, 0); m[0] = 0x10; m[3] = 0x60; return m; }(),
            .bytesPerLine = 1}, {0x1B}),
       PixelFormat::Bits4, 4, 1, {{0x01, 0x23}},
       {{0, 0, 170, 0}, {85, 255, 255, 0}, {255, 85, 255, 0}, {255, 255, 255, 0}}},
      {"TwoBitsAdapterMonochrome",
       Pcx({.encoding = 0, .bits = 2, .xMax = 3, .yMax = 0,
            .colourMap = [] { Bytes m(48, 0); m[3] = 0x80; return m; }(), .bytesPerLine = 1},
           {0x1B}),
       PixelFormat::Bits4, 4, 1, {{0x01, 0x23}},
       {{0, 0, 0, 0}, {0, 170, 170, 0}, {170, 0, 0, 0}, {170, 170, 170, 0}}},
      {"TwoBitsGreyInfo",
       Pcx({.encoding = 0, .bits = 2, .xMax = 3, .yMax = 0, .colourMap = ColourMap16(),
            .bytesPerLine = 1, .paletteInfo = 2}, {0x1B}),
       PixelFormat::Bits4, 4, 1, {{0x01, 0x23}},
       {{0, 0, 0, 0}, {85, 85, 85, 0}, {170, 170, 170, 0}, {255, 255, 255, 0}}},
      // 16 colours packed two a byte in one plane; the nibble past an odd width is cleared.
      {"FourBitsOnePlane",
       Pcx({.encoding = 0, .bits = 4, .xMax = 2, .yMax = 0, .colourMap = ColourMap16(),
            .bytesPerLine = 2}, {0x12, 0x3F}),
       PixelFormat::Bits4, 3, 1, {{0x12, 0x30}}, map16},
      // 256 colours with the palette block at the end.
      {"Indexed256WithBlock",
       Pcx({.xMax = 2, .yMax = 1, .bytesPerLine = 4},
           {0xC3, 0x05, 0x09,           // line 0: 5 5 5 9 (a run, then a plain byte)
            0x01, 0xC1, 0xC7, 0x02, 0x03}, PaletteBlock()),  // line 1: 1 C7 2 3
       PixelFormat::Bits8, 3, 2, {{5, 5, 5}, {1, 0xC7, 2}}, block},
      {"Indexed256Version3GetsSixteenColours",
       Pcx({.version = 3, .xMax = 1, .yMax = 0}, {7, 8}, PaletteBlock()), PixelFormat::Bits8, 2, 1,
       {{7, 8}}, standard},
      {"Indexed256NoBlockGreyInfo",
       Pcx({.xMax = 1, .yMax = 0, .paletteInfo = 2}, {7, 8}, PaletteBlock(0)),
       PixelFormat::Bits8, 2, 1, {{7, 8}}, Grey(256, 1)},
      // Without a block a colour picture has no colours of its own: a grey ramp stands in.
      {"Indexed256NoBlockColourInfo",
       Pcx({.xMax = 1, .yMax = 0, .paletteInfo = 1}, {7, 8}, PaletteBlock(13)),
       PixelFormat::Bits8, 2, 1, {{7, 8}}, Grey(256, 1)},
      // Less than 769 bytes after the header: no block, and all of it is pixel data.
      {"Indexed256ShortFileHasNoBlock",
       Pcx({.xMax = 1, .yMax = 1, .paletteInfo = 1}, {1, 2, 3, 4}),
       PixelFormat::Bits8, 2, 2, {{1, 2}, {3, 4}}, Grey(256, 1)},
      // 24 bits: red, green and blue planes become blue, green, red pixels.
      {"Rgb24",
       Pcx({.xMax = 1, .yMax = 0, .planes = 3, .bytesPerLine = 2},
           {10, 11, 20, 21, 30, 31}),
       PixelFormat::Bits24, 2, 1, {{30, 20, 10, 31, 21, 11}}, {}},
      // Four planes: red, green, blue and alpha, which is kept as the fourth byte.
      {"Rgba32",
       Pcx({.encoding = 0, .xMax = 1, .yMax = 0, .planes = 4, .bytesPerLine = 2},
           {10, 11, 20, 21, 30, 31, 40, 41}),
       PixelFormat::Bits32, 2, 1, {{30, 20, 10, 40, 31, 21, 11, 41}}, {}},
      // Lines exactly as long as the rows (3 planes of 4 bytes): a run crosses from the red
      // plane into the green one.
      {"Rgb24LinesAsLongAsRows",
       Pcx({.xMax = 3, .yMax = 1, .planes = 3, .bytesPerLine = 4},
           {1, 2, 3, 0xC3, 9, 5, 6, 7, 8, 0xC2, 0xC8,  // line 0: R 1 2 3 9, G 9 9 5 6, B 7 8 C8 C8
            0xCC, 0x01}),                               // line 1: all 1
       PixelFormat::Bits24, 4, 2,
       {{7, 9, 1, 8, 9, 2, 0xC8, 5, 3, 0xC8, 6, 9}, Bytes(12, 1)}, {}},
      {"EdgesNotAtZero",
       Pcx({.bits = 1, .xMin = 10, .yMin = 5, .xMax = 19, .yMax = 6, .bytesPerLine = 2},
           {0xC4, 0x00}),
       PixelFormat::Bits1, 10, 2, {{0, 0}, {0, 0}}, {}},
      {"Encoding0IsPlain",
       Pcx({.encoding = 0, .xMax = 1, .yMax = 0, .planes = 3, .bytesPerLine = 2},
           {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6}),
       PixelFormat::Bits24, 2, 1, {{0xC5, 0xC3, 0xC1, 0xC6, 0xC4, 0xC2}}, {}},
      {"Encoding2IsPlain",
       Pcx({.encoding = 2, .bits = 1, .xMax = 7, .yMax = 1, .bytesPerLine = 1}, {0xC1, 0x02}),
       PixelFormat::Bits1, 8, 2, {{0xC1}, {0x02}}, {}},
      // Packed data that ends early: what arrived is shown, the rest stays empty.
      {"PackedDataEndsEarly",
       Pcx({.xMax = 2, .yMax = 2, .bytesPerLine = 3, .paletteInfo = 2}, {0xC4, 0x09}),
       PixelFormat::Bits8, 3, 3, {{9, 9, 9}, {9, 0, 0}, {0, 0, 0}}, {}},
      // A plane line shorter than the width: pixels past it are 0.
      {"BytesPerLineShorterThanWidth",
       Pcx({.encoding = 0, .xMax = 3, .yMax = 0, .planes = 3, .bytesPerLine = 1},
           {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
       PixelFormat::Bits24, 4, 1, {{3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}}, {}},
      {"BytesPerLineZero",
       Pcx({.encoding = 0, .xMax = 3, .yMax = 0, .bytesPerLine = 0}, {1, 2, 3, 4}),
       PixelFormat::Bits8, 4, 1, {{0, 0, 0, 0}}, {}},
  };
}

class PcxLayouts : public ::testing::TestWithParam<Case> {};

TEST_P(PcxLayouts, Decode) {
  const Case& c = GetParam();
  TPCXGraphic g;
  Load(g, c.file);
  EXPECT_EQ(g.GetPixelFormat(), c.format);
  EXPECT_EQ(g.Width(), c.width);
  EXPECT_EQ(g.Height(), c.height);
  EXPECT_EQ(Rows(g), c.rows);
  if (!c.palette.empty()) {
    EXPECT_EQ(g.Palette(), c.palette);
  }
}

INSTANTIATE_TEST_SUITE_P(Built, PcxLayouts, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST(Pcx, RejectsWhatItCannotRead) {
  struct Bad {
    const char* name;
    Bytes file;
    const char* message;
  };
  const Bad cases[] = {
      {"manufacturer 11", Pcx({.manufacturer = 11}, {1, 2, 3, 4}), "Not a PCX or SCR file."},
      {"empty stream", {}, "Not a PCX or SCR file."},
      {"header cut short", [] {
         Bytes b = Pcx({.bits = 1}, {});
         b.resize(100);
         return b;
       }(), "Not a PCX or SCR file."},
      {"4 bits, 2 planes", Pcx({.bits = 4, .planes = 2}, {}), "PCX: wrong pixel format"},
      {"2 bits, 2 planes", Pcx({.bits = 2, .planes = 2}, {}), "PCX: wrong pixel format"},
      {"8 bits, 2 planes", Pcx({.planes = 2}, {}), "PCX: wrong pixel format"},
      {"1 bit, 5 planes", Pcx({.bits = 1, .planes = 5}, {}), "PCX: wrong pixel format"},
      {"Xmax below Xmin", Pcx({.xMin = 5, .xMax = 4}, {}), "PCX: wrong pixel format"},
      {"Ymax below Ymin", Pcx({.yMin = 1, .yMax = 0}, {}), "PCX: wrong pixel format"},
      // Data that cannot fill the picture, even with every pair of bytes a run of 63, is
      // refused before the picture takes memory.
      {"16000 x 16000 from 100 bytes",
       Pcx({.xMax = 15999, .yMax = 15999, .bytesPerLine = 16000}, Bytes(100, 0xFF)),
       "Stream read error"},
      {"lines shorter than the width",
       Pcx({.xMax = 15999, .yMax = 15999, .bytesPerLine = 1}, Bytes(2000, 0xFF)),
       "Stream read error"},
      {"lines of 65535 bytes", Pcx({.xMax = 0, .yMax = 4000, .planes = 3, .bytesPerLine = 65535},
                                   {0xC1, 0}), "Stream read error"},
      {"plain data short of the picture",
       Pcx({.encoding = 0, .xMax = 1, .yMax = 2, .planes = 3, .bytesPerLine = 2}, Bytes(17, 1)),
       "Stream read error"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.name);
    TPCXGraphic g;
    try {
      Load(g, c.file);
      ADD_FAILURE() << "loaded";
    } catch (const PictureError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_TRUE(g.Empty());
  }
}

// Lines as long as the Bitmap's rows are unpacked straight into them; the bytes past the
// pixels (here the 9 that pads each 3-pixel line to 4 bytes) stay 0 all the same.
TEST(Pcx, RowPaddingStaysClear) {
  TPCXGraphic g;
  Load(g, Pcx({.xMax = 2, .yMax = 1, .bytesPerLine = 4}, {0xC3, 0x05, 0x09, 1, 2, 3, 9},
              PaletteBlock()));
  ASSERT_EQ(g.RowStride(), 4u);
  EXPECT_EQ(Bytes(g.ScanLine(0), g.ScanLine(0) + 4), (Bytes{5, 5, 5, 0}));
  EXPECT_EQ(Bytes(g.ScanLine(1), g.ScanLine(1) + 4), (Bytes{1, 2, 3, 0}));
}

TEST(Pcx, ReadsFromTheStreamPositionAndTheRegistryExtensions) {
  const Bytes file = Pcx({.xMax = 1, .yMax = 0}, {7, 8}, PaletteBlock());
  Bytes prefixed(10, 0xEE);
  prefixed.insert(prefixed.end(), file.begin(), file.end());
  MemoryStream stream(prefixed);
  stream.Seek(10);
  TPCXGraphic g;
  g.LoadFromStream(stream);
  EXPECT_EQ(Rows(g), (std::vector<Bytes>{{7, 8}}));
  EXPECT_EQ(g.Palette()[7], (PaletteEntry{7, 248, 3, 0}));

  RegisterReaders();
  for (const char* ext : {"pcx", "PCC", "scr"})
    EXPECT_EQ(FindReaderClass(ext), &TPCXGraphic::StaticClass()) << ext;
}

// Files written by independent tools, compared pixel by pixel with the tool's own decode.
struct ToolCase {
  std::string name;
  std::string make;    // writes in.pnm (the test pattern) to out.pcx; {in}, {out} replaced
  std::string decode;  // prints the tool's decode of {out} as PNM
  PixelFormat format;
};

std::string Fill(const std::string& text, const test_support::TempDir& dir) {
  return test_support::FillPaths(text, {{"{in}", dir.File("in.ppm")},
                                        {"{bw}", dir.File("in.pbm")},
                                        {"{out}", dir.File("out.pcx")}});
}

class PcxTools : public ::testing::TestWithParam<ToolCase> {};

TEST_P(PcxTools, MatchTheirOwnDecode) {
  const ToolCase& c = GetParam();
  test_support::TempDir dir;
  for (auto [w, h] : {std::pair{37, 23}, {300, 201}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    test_support::WriteFileBytes(dir.File("in.ppm"),
                                 test_support::EncodePnm(test_support::TestPattern(w, h)));
    const std::string threshold = std::string(test_support::kConvert) + " {in} -threshold 50% {bw}";
    ASSERT_EQ(test_support::RunCommand(Fill(threshold, dir)).status, 0);
    const auto made = test_support::RunCommand(Fill(c.make, dir));
    ASSERT_EQ(made.status, 0) << made.output;
    const auto expected = test_support::DecodeWith(Fill(c.decode, dir));
    TPCXGraphic g;
    g.LoadFile(dir.File("out.pcx"));
    EXPECT_EQ(g.GetPixelFormat(), c.format);
    EXPECT_TRUE(test_support::BitmapMatches(g, expected));
  }
}

// A PIL one-liner on the picture `im` opened from the first argument.
std::string Pil(const std::string& body, const std::string& arguments) {
  return std::string(test_support::kPython) +
         " -c 'import sys; from PIL import Image; im = Image.open(sys.argv[1]); " + body + "' " +
         arguments;
}
const std::string kPilDecode = Pil("im.convert(\"RGB\").save(sys.stdout.buffer, \"PPM\")", "{out}");

INSTANTIATE_TEST_SUITE_P(
    Files, PcxTools,
    ::testing::Values(
        ToolCase{"NetpbmMono", "ppmtopcx {bw} > {out}", "pcxtoppm {out}", PixelFormat::Bits1},
        ToolCase{"NetpbmPlanes16",
                 "/usr/bin/convert {in} -colors 16 ppm:- | ppmtopcx > {out}", "pcxtoppm {out}",
                 PixelFormat::Bits4},
        ToolCase{"NetpbmIndexed256", "ppmtopcx -8bit {bw} > {out}", "pcxtoppm {out}",
                 PixelFormat::Bits8},
        ToolCase{"NetpbmIndexed200",
                 "/usr/bin/convert {in} -colors 200 ppm:- | ppmtopcx > {out}", "pcxtoppm {out}",
                 PixelFormat::Bits8},
        ToolCase{"NetpbmRgb24", "ppmtopcx {in} > {out}", "pcxtoppm {out}", PixelFormat::Bits24},
        ToolCase{"NetpbmTwoBits",
                 "/usr/bin/convert {in} -colors 4 ppm:- | ppmtopcx -packed > {out}",
                 "pcxtoppm {out}", PixelFormat::Bits4},
        ToolCase{"NetpbmFourBitsPacked",
                 "/usr/bin/convert {in} -colors 16 ppm:- | ppmtopcx -packed > {out}",
                 "pcxtoppm {out}", PixelFormat::Bits4},
        ToolCase{"NetpbmTwoPlanes",
                 "/usr/bin/convert {in} -colors 4 ppm:- | ppmtopcx -planes=2 > {out}",
                 "pcxtoppm {out}", PixelFormat::Bits4},
        ToolCase{"NetpbmThreePlanes",
                 "/usr/bin/convert {in} -colors 8 ppm:- | ppmtopcx -planes=3 > {out}",
                 "pcxtoppm {out}", PixelFormat::Bits4},
        ToolCase{"ImageMagickRgba",
                 "/usr/bin/convert {in} -alpha set -channel A -fx i/w +channel {out}",
                 "/usr/bin/convert {out} -alpha off ppm:-", PixelFormat::Bits32},
        ToolCase{"ImageMagickRgb24", "/usr/bin/convert {in} {out}",
                 "/usr/bin/convert {out} ppm:-", PixelFormat::Bits24},
        ToolCase{"ImageMagickPalette", "/usr/bin/convert {in} -colors 100 -type palette {out}",
                 "/usr/bin/convert {out} ppm:-", PixelFormat::Bits8},
        ToolCase{"PilMono", Pil("im.convert(\"1\").save(sys.argv[2])", "{bw} {out}"), kPilDecode,
                 PixelFormat::Bits1},
        ToolCase{"PilGrey", Pil("im.convert(\"L\").save(sys.argv[2])", "{in} {out}"), kPilDecode,
                 PixelFormat::Bits8},
        ToolCase{"PilPalette", Pil("im.quantize(77).save(sys.argv[2])", "{in} {out}"), kPilDecode,
                 PixelFormat::Bits8},
        ToolCase{"PilRgb", Pil("im.save(sys.argv[2])", "{in} {out}"), kPilDecode,
                 PixelFormat::Bits24}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pictures
