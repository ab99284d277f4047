#include "pictures/formats/gif.h"

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

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Signature and version, then the logical screen descriptor.
Bytes Head(uint16_t width, uint16_t height, uint8_t flags, const char* signature = "GIF89a",
           uint8_t background = 0) {
  return Join({Bytes(signature, signature + 6),
               LE16(width), LE16(height),  // screen size
               {flags},                  // bit 7 global table, bits 0-2 its size
               {background},             // background colour index
               {0}});                    // pixel aspect ratio
}

// A colour table of `count` entries: entry i = (base + i, 2 * i, 255 - i).
Bytes Table(int count, uint8_t base = 0) {
  Bytes b;
  for (int i = 0; i < count; ++i)
    b.insert(b.end(), {uint8_t(base + i), uint8_t(2 * i), uint8_t(255 - i)});
  return b;
}

std::vector<PaletteEntry> Palette(int count, uint8_t base = 0) {
  std::vector<PaletteEntry> p;
  for (int i = 0; i < count; ++i)
    p.push_back({uint8_t(base + i), uint8_t(2 * i), uint8_t(255 - i), 0});
  return p;
}

// Data sub-blocks of at most 255 bytes each, and the empty block that ends them.
Bytes SubBlocks(const Bytes& data, bool terminate = true) {
  Bytes b;
  for (size_t i = 0; i < data.size(); i += 255) {
    const size_t n = std::min<size_t>(255, data.size() - i);
    b.push_back(uint8_t(n));
    b.insert(b.end(), data.begin() + i, data.begin() + i + n);
  }
  if (terminate) b.push_back(0);
  return b;
}

Bytes Extension(uint8_t label, const Bytes& data) { return Join({{0x21, label}, SubBlocks(data)}); }

// A graphic control extension: transparent flag set, the given delay and transparent index.
Bytes ControlExtension(uint16_t delay, uint8_t transparent) {
  return Join({{0x21, 0xF9, 4, 0x01}, LE16(delay), {transparent}, {0}});
}

// LZW codes for `pixels`: a clear code, one literal code a pixel, the end code, with the
// widths a decoder expects (each literal after the first makes a table entry).
Bytes LiteralLzw(const Bytes& pixels, int codeSize) {
  const uint32_t clear = 1u << codeSize;
  uint32_t freeCode = clear + 2;
  bool first = true;
  Bytes out;
  uint64_t acc = 0;
  int bits = 0;
  auto emit = [&](uint32_t code) {
    int width = codeSize + 1;
    while ((1u << width) <= freeCode && width < 12) ++width;
    acc |= uint64_t(code) << bits;
    bits += width;
    for (; bits >= 8; bits -= 8, acc >>= 8) out.push_back(uint8_t(acc));
    if (code == clear) {
      freeCode = clear + 2;
      first = true;
    } else if (first) {
      first = false;
    } else if (freeCode < 4096) {
      ++freeCode;
    }
  };
  emit(clear);
  for (uint8_t p : pixels) emit(p);
  emit(clear + 1);
  if (bits > 0) out.push_back(uint8_t(acc));
  return out;
}

// An image descriptor with its (optional) local table and LZW data.
Bytes Image(uint16_t width, uint16_t height, uint8_t flags, const Bytes& localTable,
            const Bytes& pixels, int codeSize = 8, uint16_t left = 0, uint16_t top = 0) {
  return Join({{0x2C},
               LE16(left), LE16(top),         // position on the logical screen
               LE16(width), LE16(height),
               {flags},                     // bit 7 local table, bit 6 interlaced, bits 0-2 size
               localTable,
               {uint8_t(codeSize)},         // LZW minimum code size
               SubBlocks(LiteralLzw(pixels, codeSize))});
}

Bytes Counting(int count, int modulo = 256) {
  Bytes b;
  for (int i = 0; i < count; ++i) b.push_back(uint8_t(i % modulo));
  return b;
}

// The pixels of the picture, rows one after the other.
Bytes Pixels(const Bitmap& g) {
  Bytes b;
  for (int y = 0; y < g.Height(); ++y) b.insert(b.end(), g.ScanLine(y), g.ScanLine(y) + g.Width());
  return b;
}

struct Case {
  std::string name;
  Bytes file;
  int width, height;
  Bytes pixels;
  std::vector<PaletteEntry> palette;
};

std::vector<Case> Cases() {
  const Bytes six = {0, 1, 2, 3, 2, 1};
  const std::vector<PaletteEntry> halftone(HalftonePalette256().begin(),
                                           HalftonePalette256().end());
  return {
      {"Plain87a", Join({Head(3, 2, 0x81, "GIF87a"), Table(4), Image(3, 2, 0, {}, six), {0x3B}}),
       3, 2, six, Palette(4)},
      {"LowerCaseSignature", Join({Head(3, 2, 0x81, "gif89a"), Table(4), Image(3, 2, 0, {}, six)}),
       3, 2, six, Palette(4)},
      {"WidthOfFourDecodesStraightIntoRows",
       Join({Head(4, 3, 0x82), Table(8), Image(4, 3, 0, {}, Counting(12, 8), 3)}), 4, 3,
       Counting(12, 8), Palette(8)},
      {"ExtensionsBeforeTheImage",
       Join({Head(3, 2, 0x81), Table(4), ControlExtension(10, 1), Extension(0xFE, {'h', 'i'}),
             Extension(0xFF, Join({Bytes(11, 'N'), {3, 1, 0, 0}})), Image(3, 2, 0, {}, six)}),
       3, 2, six, Palette(4)},
      // The delay of 0 and the transparent index ',' or ';' must not be taken for blocks.
      {"TransparentIndexIsImageSeparator",
       Join({Head(3, 2, 0x81), Table(4), ControlExtension(0, 0x2C), Image(3, 2, 0, {}, six)}),
       3, 2, six, Palette(4)},
      {"TransparentIndexIsTrailer",
       Join({Head(3, 2, 0x81), Table(4), ControlExtension(0, 0x3B), Image(3, 2, 0, {}, six)}),
       3, 2, six, Palette(4)},
      {"CommentHoldingBlockBytesAndZeros",
       Join({Head(3, 2, 0x81), Table(4), Extension(0xFE, {',', 0, ';', 0, '!', 0x2C}),
             Image(3, 2, 0, {}, six)}),
       3, 2, six, Palette(4)},
      {"StrayBytesBeforeTheImage",
       Join({Head(3, 2, 0x81), Table(4), {0x00, 0x99}, Image(3, 2, 0, {}, six)}), 3, 2, six,
       Palette(4)},
      // Rows of an interlaced picture come in the order 0, 8, 4, 2, 6, 1, 3, 5, 7, 9.
      {"Interlaced1x10", Join({Head(1, 10, 0x83), Table(16), Image(1, 10, 0x40, {}, Counting(10))}),
       1, 10, {0, 5, 3, 6, 2, 7, 4, 8, 1, 9}, Palette(16)},
      {"ZeroSizeTakesTheScreenSize",
       Join({Head(3, 2, 0x81), Table(4), Image(0, 0, 0, {}, six)}), 3, 2, six, Palette(4)},
      // The image's own size counts, whatever the screen says.
      {"ImageLargerThanScreen", Join({Head(1, 1, 0x81), Table(4), Image(3, 2, 0, {}, six)}), 3, 2,
       six, Palette(4)},
      // The image at its position on the screen; the rest in the background colour (2).
      {"ImageAtItsPositionOnTheScreen",
       Join({Head(4, 3, 0x81, "GIF89a", 2), Table(4), Image(2, 1, 0, {}, {0, 1}, 8, 1, 1)}), 4, 3,
       {2, 2, 2, 2, 2, 0, 1, 2, 2, 2, 2, 2}, Palette(4)},
      {"ImageReachingPastTheScreenEnlargesIt",
       Join({Head(2, 2, 0x81), Table(4), Image(2, 2, 0x40, {}, {1, 2, 3, 1}, 8, 1, 1)}), 3, 3,
       {0, 0, 0, 0, 1, 2, 0, 3, 1}, Palette(4)},
      // No columns at all, but rows down to the image's top: nothing to fill.
      {"ZeroWidthImageBelowTheScreen",
       Join({Head(0, 0, 0x00, "GIF89a", 5), Image(0, 0, 0, {}, {}, 8, 0, 2)}), 0, 2, {}, halftone},
      {"LocalTableReplacesGlobal",
       Join({Head(3, 2, 0x83), Table(16), Image(3, 2, 0x81, Table(4, 100), six)}), 3, 2, six,
       Palette(4, 100)},
      {"LocalTableWithoutGlobal",
       Join({Head(3, 2, 0x00), Image(3, 2, 0x80, Table(2, 50), {0, 1, 1, 0, 0, 1})}), 3, 2,
       {0, 1, 1, 0, 0, 1}, Palette(2, 50)},
      {"GlobalTableOf256", Join({Head(3, 2, 0x87), Table(256), Image(3, 2, 0, {}, six)}), 3, 2,
       six, Palette(256)},
      {"GlobalTableOf2",
       Join({Head(3, 2, 0x80), Table(2), Image(3, 2, 0, {}, {1, 0, 1, 0, 1, 0}, 2)}), 3, 2,
       {1, 0, 1, 0, 1, 0}, Palette(2)},
      {"NoColourTableKeepsHalftone", Join({Head(3, 2, 0x00), Image(3, 2, 0, {}, six)}), 3, 2, six,
       halftone},
      {"TrailerBeforeAnyImage", Join({Head(3, 2, 0x81), Table(4), {0x3B}}), 0, 0, {}, Palette(4)},
      {"AnimationShowsFirstFrame",
       Join({Head(3, 2, 0x81), Table(4), ControlExtension(5, 0), Image(3, 2, 0, {}, six),
             ControlExtension(5, 0), Image(3, 2, 0, {}, Bytes(6, 3)), {0x3B}}),
       3, 2, six, Palette(4)},
      // Image data that the end of the file cuts short: what arrived is decoded.
      {"ImageDataCutInsideABlock",
       [] {
         Bytes f = Join({Head(100, 3, 0x87), Table(256), Image(100, 3, 0, {}, Counting(300))});
         f.resize(f.size() - 150);
         return f;
       }(),
       100, 3,
       [] {
         // 198 bytes of the first block are kept: 176 nine-bit codes, the clear code and
         // 175 pixels.
         Bytes b = Counting(175);
         b.resize(300, 0);
         return b;
       }(),
       Palette(256)},
      {"ImageDataWithoutTerminator",
       [&] {
         Bytes f = Join({Head(3, 2, 0x81), Table(4), Image(3, 2, 0, {}, six)});
         f.pop_back();
         return f;
       }(),
       3, 2, six, Palette(4)},
      {"ImageDataLongerThanThePicture",
       Join({Head(3, 1, 0x81), Table(4), Image(3, 1, 0, {}, six)}), 3, 1, {0, 1, 2}, Palette(4)},
  };
}

class GifLayouts : public ::testing::TestWithParam<Case> {};

TEST_P(GifLayouts, Decode) {
  const Case& c = GetParam();
  TGIFGraphic g;
  Load(g, c.file);
  EXPECT_EQ(g.GetPixelFormat(), PixelFormat::Bits8);
  EXPECT_EQ(g.Width(), c.width);
  EXPECT_EQ(g.Height(), c.height);
  EXPECT_EQ(Pixels(g), c.pixels);
  EXPECT_EQ(g.Palette(), c.palette);
}

INSTANTIATE_TEST_SUITE_P(Built, GifLayouts, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST(Gif, RejectsWhatItCannotRead) {
  const Bytes good = Join({Head(3, 2, 0x81), Table(4), Image(3, 2, 0, {}, {0, 1, 2, 3, 2, 1})});
  auto cut = [&](size_t size) { return Bytes(good.begin(), good.begin() + size); };
  struct Bad {
    const char* name;
    Bytes file;
    const char* message;
  };
  const Bad cases[] = {
      {"another signature", Join({{'B', 'M', 'P'}, Bytes(good.begin() + 3, good.end())}),
       "Not a valid GIF file."},
      {"header cut short", cut(4), "Stream read error"},
      {"screen descriptor cut short", cut(10), "Stream read error"},
      {"global table cut short", cut(16), "Stream read error"},
      {"no image and no trailer", Join({Head(3, 2, 0x81), Table(4)}), "Stream read error"},
      {"extension cut short", Join({Head(3, 2, 0x81), Table(4), {0x21, 0xFE, 10, 'a', 'b'}}),
       "Stream read error"},
      {"image descriptor cut short", cut(13 + 12 + 5), "Stream read error"},
      {"local table cut short",
       Join({Head(3, 2, 0x00), {0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0x81}, Table(2)}),
       "Stream read error"},
      {"no code size after the descriptor", cut(13 + 12 + 10), "Stream read error"},
      // A code above the next free entry (the 9-bit code 300 right after a literal).
      // Data that cannot fill the image even with the longest string for every code.
      {"65535 x 65535 from one code", Join({Head(0, 0, 0x00), Image(65535, 65535, 0, {}, {0})}),
       "Stream read error"},
      {"20000 x 20000 from a few hundred codes",
       Join({Head(0, 0, 0x81), Table(4), Image(20000, 20000, 0, {}, Counting(300, 4), 2)}),
       "Stream read error"},
      {"impossible LZW code",
       Join({Head(3, 2, 0x81), Table(4), {0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0}, {8},
             SubBlocks({0x00, 0x01, 0xB0, 0x04})}),
       "GIF LZW: invalid opcode."},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.name);
    TGIFGraphic g;
    try {
      Load(g, c.file);
      ADD_FAILURE() << "loaded";
    } catch (const PictureError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

TEST(Gif, RegisteredForItsExtension) {
  RegisterReaders();
  EXPECT_EQ(FindReaderClass("gif"), &TGIFGraphic::StaticClass());
  EXPECT_EQ(FindReaderClass("GIF"), &TGIFGraphic::StaticClass());
}

// Files written by independent tools, compared pixel by pixel with the tool's own decode
// of their first image.
struct ToolCase {
  std::string name;
  std::string make;    // {in}: the test pattern as PPM; {out}: the GIF to write
  std::string decode;  // prints the tool's decode of {out} as PNM
};

std::string Fill(const std::string& text, const test_support::TempDir& dir) {
  return test_support::FillPaths(text,
                                 {{"{in}", dir.File("in.ppm")}, {"{out}", dir.File("out.gif")}});
}

class GifTools : public ::testing::TestWithParam<ToolCase> {};

TEST_P(GifTools, MatchTheirOwnDecode) {
  const ToolCase& c = GetParam();
  test_support::TempDir dir;
  for (auto [w, h] : {std::pair{37, 23}, {320, 203}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    test_support::WriteFileBytes(dir.File("in.ppm"),
                                 test_support::EncodePnm(test_support::TestPattern(w, h)));
    const auto made = test_support::RunCommand(Fill(c.make, dir));
    ASSERT_EQ(made.status, 0) << made.output;
    const auto expected = test_support::DecodeWith(Fill(c.decode, dir));
    TGIFGraphic g;
    g.LoadFile(dir.File("out.gif"));
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
const std::string kConvert = test_support::kConvert;

INSTANTIATE_TEST_SUITE_P(
    Files, GifTools,
    ::testing::Values(
        // PIL interlaces pictures of 16 rows and more.
        ToolCase{"PilInterlaced", Pil("im.quantize(200).save(sys.argv[2])", "{in} {out}"),
                 kPilDecode},
        ToolCase{"PilPlain",
                 Pil("im.quantize(256).save(sys.argv[2], interlace=False)", "{in} {out}"),
                 kPilDecode},
        // A graphic control extension with delay 0 and transparent index 44 (",").
        ToolCase{"PilTransparentIndex44",
                 Pil("im.quantize(64).save(sys.argv[2], transparency=44, duration=0, "
                     "optimize=False)",
                     "{in} {out}"),
                 kPilDecode},
        ToolCase{"ImageMagick", kConvert + " {in} {out}", kConvert + " {out} ppm:-"},
        // One colour: the data expands as far as LZW data can, and must still load.
        ToolCase{"PilOneColour", Pil("im.point(lambda v: 7).quantize(2).save(sys.argv[2])", "{in} {out}"),
                 kPilDecode},
        // An image smaller than the screen, at its position; the background index is 0.
        ToolCase{"ImageMagickImageOnScreen", kConvert + " {in} -colors 50 -repage 400x300+7+5 {out}",
                 kPilDecode},
        ToolCase{"ImageMagickFewColours", kConvert + " {in} -colors 5 {out}",
                 kConvert + " {out} ppm:-"},
        ToolCase{"ImageMagickInterlaced", kConvert + " {in} -interlace GIF {out}",
                 kConvert + " {out} ppm:-"},
        ToolCase{"ImageMagickAnimation",
                 kConvert + " -delay 10 {in} \\( {in} -negate \\) -loop 0 {out}",
                 kConvert + " {out}[0] ppm:-"},
        ToolCase{"Netpbm", kConvert + " {in} -colors 100 ppm:- | ppmtogif > {out} 2>/dev/null",
                 "giftopnm {out}"},
        ToolCase{"NetpbmInterlaced",
                 kConvert + " {in} -colors 30 ppm:- | ppmtogif -interlace > {out} 2>/dev/null",
                 "giftopnm {out}"},
        ToolCase{"Giflib", kConvert + " {in} -colors 16 -depth 8 rgb:- | gif2rgb -1 -c 4 -s $(" +
                               kConvert + " {in} -format \"%w %h\" info:) > {out}",
                 "giftopnm {out}"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pictures
