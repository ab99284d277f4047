#include "pictures/formats/targa.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::FromBitmap;
using test_support::Load;

struct Header {
  uint8_t idLength = 0;
  uint8_t mapType = 0;
  uint8_t imageType = 2;
  uint16_t mapLength = 0;
  uint8_t mapEntrySize = 0;
  uint16_t width = 2;
  uint16_t height = 2;
  uint8_t depth = 24;
  uint8_t descriptor = 0;
};

// An 18-byte Targa header followed by `rest` (ID field, colour map, pixels).
Bytes Tga(const Header& h, const Bytes& rest) {
  Bytes b = {
      h.idLength,                                   // 0: ID length
      h.mapType,                                    // 1: colour map type
      h.imageType,                                  // 2: image type
      0, 0,                                         // 3: first colour map index
      uint8_t(h.mapLength), uint8_t(h.mapLength >> 8),  // 5: colour map length
      h.mapEntrySize,                               // 7: colour map entry size
      0, 0, 0, 0,                                   // 8: X and Y origin
      uint8_t(h.width), uint8_t(h.width >> 8),      // 12: width
      uint8_t(h.height), uint8_t(h.height >> 8),    // 14: height
      h.depth,                                      // 16: pixel depth
      h.descriptor,                                 // 17: descriptor (0x20: top row first)
  };
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The 2 x 2 picture most cases show: red, green on the top row; blue, white below.
const Bytes kRgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
const Bytes kRedBgr = {0, 0, 255}, kGreenBgr = {0, 255, 0}, kBlueBgr = {255, 0, 0},
            kWhiteBgr = {255, 255, 255};

TEST(Targa, ReadsEveryVariantOfASmallPicture) {
  struct Case {
    const char* name;
    Bytes file;
    PixelFormat format;
    Bytes rgb;
  };
  const Bytes top24 = Join({kRedBgr, kGreenBgr}), bottom24 = Join({kBlueBgr, kWhiteBgr});
  const Bytes map24 = Join({kRedBgr, kGreenBgr, kBlueBgr, kWhiteBgr});
  const Case cases[] = {
      {"24-bit, bottom row first", Tga({}, Join({bottom24, top24})), PixelFormat::Bits24, kRgb},
      {"24-bit, top row first", Tga({.descriptor = 0x20}, Join({top24, bottom24})),
       PixelFormat::Bits24, kRgb},
      {"ID field skipped", Tga({.idLength = 3}, Join({{'a', 'b', 'c'}, bottom24, top24})),
       PixelFormat::Bits24, kRgb},
      {"colour-mapped, 24-bit map",
       Tga({.mapType = 1, .imageType = 1, .mapLength = 4, .mapEntrySize = 24, .depth = 8},
           Join({map24, {2, 3, 0, 1}})),
       PixelFormat::Bits8, kRgb},
      {"colour-mapped, 32-bit map (fourth byte skipped)",
       Tga({.mapType = 1, .imageType = 1, .mapLength = 2, .mapEntrySize = 32, .depth = 8},
           Join({{0, 0, 255, 9, 255, 0, 0, 9}, {1, 1, 0, 0}})),
       PixelFormat::Bits8, {255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255}},
      {"colour-mapped, 16-bit map widened by shifting",
       Tga({.mapType = 1, .imageType = 1, .mapLength = 3, .mapEntrySize = 16, .depth = 8},
           // red 0x7C00, green 0x03E0, blue 0x001F
           Join({{0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00}, {2, 2, 0, 1}})),
       PixelFormat::Bits8, {248, 0, 0, 0, 248, 0, 0, 0, 248, 0, 0, 248}},
      {"grey, no colour map read", Tga({.imageType = 3, .depth = 8}, {170, 255, 0, 85}),
       PixelFormat::Bits8, {0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}},
      {"grey with an announced colour map, which is skipped",
       Tga({.mapType = 1, .imageType = 3, .mapLength = 2, .mapEntrySize = 24, .depth = 8},
           Join({{9, 9, 9, 9, 9, 9}, {170, 255, 0, 85}})),
       PixelFormat::Bits8, {0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}},
      {"packed 24-bit: a raw packet and a run packet",
       Tga({.imageType = 10, .descriptor = 0x20}, Join({{0x01}, top24, {0x81}, kBlueBgr})),
       PixelFormat::Bits24, {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 255}},
      {"packed: one raw packet crossing the row end carries on into the next row",
       Tga({.imageType = 10}, Join({{0x03}, bottom24, top24})), PixelFormat::Bits24, kRgb},
      {"packed: one run packet covering both rows",
       Tga({.imageType = 10}, Join({{0x83}, kGreenBgr})), PixelFormat::Bits24,
       {0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0}},
      {"packed colour-mapped",
       Tga({.mapType = 1, .imageType = 9, .mapLength = 4, .mapEntrySize = 24, .depth = 8},
           Join({map24, {0x81, 2, 0x01, 0, 1}})),
       PixelFormat::Bits8, {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 255}},
      {"packed grey", Tga({.imageType = 11, .depth = 8}, {0x83, 85}), PixelFormat::Bits8,
       {85, 85, 85, 85, 85, 85, 85, 85, 85, 85, 85, 85}},
      {"24-bit, right to left", Tga({.descriptor = 0x10}, Join({kWhiteBgr, kBlueBgr, kGreenBgr, kRedBgr})),
       PixelFormat::Bits24, kRgb},
      {"packed 24-bit, right to left, top row first",
       Tga({.imageType = 10, .descriptor = 0x30}, Join({{0x03}, kGreenBgr, kRedBgr, kWhiteBgr, kBlueBgr})),
       PixelFormat::Bits24, kRgb},
      // 16-bit grey pixels: a grey byte, then an alpha byte that is dropped.
      {"grey and alpha", Tga({.imageType = 3, .depth = 16}, {170, 9, 255, 9, 0, 9, 85, 9}),
       PixelFormat::Bits8, {0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}},
      {"packed grey and alpha, right to left",
       Tga({.imageType = 11, .depth = 16, .descriptor = 0x10}, {0x01, 255, 1, 170, 2, 0x01, 85, 3, 0, 4}),
       PixelFormat::Bits8, {0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}},
      {"packed file cut short leaves the rest black",
       Tga({.imageType = 10, .descriptor = 0x20}, Join({{0x00}, kWhiteBgr})),
       PixelFormat::Bits24, {255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"packed, right to left, cut short inside a row",
       Tga({.imageType = 10, .descriptor = 0x30}, Join({{0x00}, kWhiteBgr})),
       PixelFormat::Bits24, {0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTargaGraphic g;
    ASSERT_NO_THROW(Load(g, c.file));
    EXPECT_EQ(g.GetPixelFormat(), c.format);
    ASSERT_EQ(g.Width(), 2);
    ASSERT_EQ(g.Height(), 2);
    EXPECT_EQ(FromBitmap(g).rgb, c.rgb);
  }
}

TEST(Targa, SixteenAndThirtyTwoBitRowsAreStoredAsTheyAre) {
  // 15/16-bit pixels are little-endian words; 32-bit ones keep their alpha byte.
  const Bytes words = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x80, 0xFF, 0x7F};
  for (uint8_t depth : {15, 16}) {
    TTargaGraphic g;
    Load(g, Tga({.height = 1, .depth = depth, .descriptor = 0x20}, {words.begin(), words.begin() + 4}));
    EXPECT_EQ(g.GetPixelFormat(), PixelFormat::Bits15);
    EXPECT_EQ(Bytes(g.ScanLine(0), g.ScanLine(0) + 4), Bytes(words.begin(), words.begin() + 4));
  }
  const Bytes bgra = {1, 2, 3, 4, 5, 6, 7, 8};
  TTargaGraphic g;
  Load(g, Tga({.height = 1, .depth = 32}, bgra));
  EXPECT_EQ(g.GetPixelFormat(), PixelFormat::Bits32);
  EXPECT_EQ(Bytes(g.ScanLine(0), g.ScanLine(0) + 8), bgra);
}

TEST(Targa, APacketOf128PixelsFillsA128PixelRowAndTheNextRowStartsAtTheNextPacket) {
  // Row 1 (the bottom row, stored first): one run of 128 grey 7s; row 0: a run of 128 9s.
  TTargaGraphic g;
  Load(g, Tga({.imageType = 11, .width = 128, .depth = 8}, {0xFF, 7, 0xFF, 9}));
  for (int x = 0; x < 128; ++x) {
    ASSERT_EQ(g.ScanLine(1)[x], 7);
    ASSERT_EQ(g.ScanLine(0)[x], 9);
  }
}

TEST(Targa, AColourMapOfMoreThan256EntriesKeepsTheFirst256AndSkipsTheRest) {
  // 300 16-bit entries: entry i has blue = i mod 32; entry 255 is marked pure red.
  Bytes map;
  for (int i = 0; i < 300; ++i) {
    const uint16_t w = i == 255 ? 0x7C00 : uint16_t(i % 32);
    map.push_back(uint8_t(w));
    map.push_back(uint8_t(w >> 8));
  }
  TTargaGraphic g;
  Load(g, Tga({.mapType = 1, .imageType = 1, .mapLength = 300, .mapEntrySize = 16,
               .width = 2, .height = 1, .depth = 8},
              Join({map, {255, 3}})));
  ASSERT_EQ(g.Palette().size(), 256u);
  EXPECT_EQ(FromBitmap(g).rgb, (Bytes{248, 0, 0, 0, 0, 24}));
}

TEST(Targa, ImageTypeZeroIsAPictureOfTheHeadersSizeWithNoPixels) {
  TTargaGraphic g;
  Load(g, Tga({.imageType = 0, .width = 3, .height = 2, .depth = 0}, {}));
  EXPECT_EQ(g.Width(), 3);
  EXPECT_EQ(g.Height(), 2);
}

TEST(Targa, RefusesFilesItCannotRead) {
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      {"header cut short", Bytes(17, 0)},
      {"plain row missing a byte", Tga({}, Bytes(11, 0))},
      {"plain rows missing", Tga({.width = 100, .height = 100}, Bytes(100, 0))},
      {"unknown image type", Tga({.imageType = 32}, Bytes(12, 0))},
      {"unknown pixel depth", Tga({.depth = 12}, Bytes(12, 0))},
      {"packed, unknown pixel depth", Tga({.imageType = 10, .depth = 0}, {0x83, 1})},
      // Packed data that cannot fill the picture even if every packet were a run of 128.
      {"packed 8000 x 8000 from 6 bytes",
       Tga({.imageType = 11, .width = 8000, .height = 8000, .depth = 8}, {0xFF, 4, 0xFF, 5, 0x00, 6})},
      {"packed 65 x 2 from one run packet",
       Tga({.imageType = 11, .width = 65, .height = 2, .depth = 8}, {0xFF, 4})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTargaGraphic g;
    try {
      Load(g, c.file);
      ADD_FAILURE() << "no error";
    } catch (const PictureError& e) {
      EXPECT_STREQ(e.what(), "Targa: invalid image");
    }
  }
}

TEST(Targa, AHugeDeclaredSizeFailsCleanly) {
  TTargaGraphic g;
  EXPECT_THROW(Load(g, Tga({.width = 65535, .height = 65535, .depth = 32}, {1, 2, 3, 4})),
               PictureError);
  EXPECT_THROW(Load(g, Tga({.imageType = 10, .width = 65535, .height = 65535, .depth = 32},
                           {0x80, 1, 2, 3, 4})),
               PictureError);
}

// Files written by independent tools, compared with each tool's own decode.
TEST(Targa, MatchesFilesWrittenByOtherTools) {
  using namespace test_support;
  if (!ToolAvailable(kConvert) || !ToolAvailable(kPython) || !ToolAvailable("/usr/bin/pamtotga"))
    GTEST_SKIP() << "tools missing";
  TempDir dir;
  WriteFileBytes(dir.File("src.ppm"), EncodePnm(TestPattern(37, 23)));
  WriteFileBytes(dir.File("src.pam"), EncodePnm(TestPattern(37, 23, true)));
  const std::string src = ShellQuote(dir.File("src.ppm")), pam = ShellQuote(dir.File("src.pam"));
  const std::string py = std::string(kPython) + " -c ";
  struct Case {
    const char* file;
    std::string write;      // writes the file
    std::string reference;  // the tool's own decode of it, as PNM/PAM on standard output
    int tolerance = 0;
  };
  // ImageMagick writes its rows top first but marks them bottom first, and its own reader
  // only notes the mark; -auto-orient applies it, as every other reader does.
  auto im = [&](const std::string& f) {
    return std::string(kConvert) + " " + ShellQuote(dir.File(f)) + " -auto-orient pam:-";
  };
  auto pilPpm = [&](const std::string& f) {
    return py + ShellQuote("import sys; from PIL import Image; Image.open(sys.argv[1]).convert('RGB').save(sys.stdout.buffer, 'PPM')") +
           " " + ShellQuote(dir.File(f));
  };
  auto pilSave = [&](const std::string& mode, const std::string& f, const std::string& options) {
    return py + ShellQuote("import sys; from PIL import Image; Image.open(sys.argv[1]).convert('" + mode +
                           "').save(sys.argv[2]" + options + ")") +
           " " + src + " " + ShellQuote(dir.File(f));
  };
  auto pamtotga = [&](const std::string& options, const std::string& f) {
    return "/usr/bin/pamtotga " + options + " " + src + " > " + ShellQuote(dir.File(f));
  };
  auto tgatoppm = [&](const std::string& f) { return "/usr/bin/tgatoppm " + ShellQuote(dir.File(f)); };
  const Case cases[] = {
      {"im.tga", std::string(kConvert) + " " + src + " -compress None " + ShellQuote(dir.File("im.tga")), im("im.tga")},
      {"im_rle.tga", std::string(kConvert) + " " + src + " -compress RLE " + ShellQuote(dir.File("im_rle.tga")), im("im_rle.tga")},
      {"im_alpha.tga", std::string(kConvert) + " " + pam + " " + ShellQuote(dir.File("im_alpha.tga")), im("im_alpha.tga")},
      {"im_alpha_rle.tga", std::string(kConvert) + " " + pam + " -compress RLE " + ShellQuote(dir.File("im_alpha_rle.tga")), im("im_alpha_rle.tga")},
      {"im_grey.tga", std::string(kConvert) + " " + src + " -colorspace Gray -type Grayscale " + ShellQuote(dir.File("im_grey.tga")), im("im_grey.tga")},
      {"im_palette.tga", std::string(kConvert) + " " + src + " -colors 50 -type Palette " + ShellQuote(dir.File("im_palette.tga")), im("im_palette.tga")},
      {"im_palette_rle.vda", std::string(kConvert) + " " + src + " -colors 50 -type Palette -compress RLE tga:" + ShellQuote(dir.File("im_palette_rle.vda")), im("im_palette_rle.vda")},
      {"pil.tga", pilSave("RGB", "pil.tga", ""), pilPpm("pil.tga")},
      {"pil_rle.tga", pilSave("RGB", "pil_rle.tga", ", compression='tga_rle'"), pilPpm("pil_rle.tga")},
      {"pil_grey_rle.tga", pilSave("L", "pil_grey_rle.tga", ", compression='tga_rle'"), pilPpm("pil_grey_rle.tga")},
      {"pil_palette.tga", pilSave("P", "pil_palette.tga", ""), pilPpm("pil_palette.tga")},
      {"pil_grey_alpha.tga", pilSave("LA", "pil_grey_alpha.tga", ""), pilPpm("pil_grey_alpha.tga")},
      {"pil_grey_alpha_rle.tga", pilSave("LA", "pil_grey_alpha_rle.tga", ", compression='tga_rle'"), pilPpm("pil_grey_alpha_rle.tga")},
      {"pil_top_down.tga", pilSave("RGB", "pil_top_down.tga", ", orientation=1"), pilPpm("pil_top_down.tga")},
      {"netpbm.tga", pamtotga("-norle -rgb", "netpbm.tga"), tgatoppm("netpbm.tga")},
      {"netpbm_rle.tga", pamtotga("-rgb", "netpbm_rle.tga"), tgatoppm("netpbm_rle.tga")},
      {"netpbm_cmap_rle.tga", "/usr/bin/pnmquant 40 " + src + " 2>/dev/null | /usr/bin/pamtotga -cmap > " + ShellQuote(dir.File("netpbm_cmap_rle.tga")), tgatoppm("netpbm_cmap_rle.tga")},
      {"netpbm_cmap16.tga", "/usr/bin/pnmquant 40 " + src + " 2>/dev/null | /usr/bin/pamtotga -norle -cmap16 > " + ShellQuote(dir.File("netpbm_cmap16.tga")), tgatoppm("netpbm_cmap16.tga"),
       // 16-bit map entries are widened by shifting (31 gives 248); tgatoppm scales them.
       7},
      {"netpbm_grey.tga", "/usr/bin/ppmtopgm " + src + " | /usr/bin/pamtotga -mono > " + ShellQuote(dir.File("netpbm_grey.tga")), tgatoppm("netpbm_grey.tga")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    // Grouped, so that the helper's own 2>&1 does not send messages into a redirected file.
    const CommandResult written = RunCommand("{ " + c.write + "; }");
    ASSERT_EQ(written.status, 0) << written.output;
    const RgbImage expected = DecodeWith(c.reference);
    TTargaGraphic g;
    ASSERT_NO_THROW(g.LoadFile(dir.File(c.file)));
    EXPECT_TRUE(BitmapMatches(g, expected, c.tolerance));
    if (!expected.alpha.empty() && g.GetPixelFormat() == PixelFormat::Bits32) {
      EXPECT_TRUE(AlphaMatches(g, expected));
    }
  }
}

TEST(Targa, TheRegistryChoosesThisReaderForItsExtensions) {
  RegisterReaders();
  for (const char* extension : {"tga", "vda", "icb", "vst", "win", "TGA"})
    EXPECT_EQ(FindReaderClass(extension), &TTargaGraphic::StaticClass()) << extension;
}

}  // namespace
}  // namespace pictures
