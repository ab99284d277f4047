#include "pictures/formats/ilbm.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "base/error.h"
#include "support/byte_builders.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::AppendBE16;
using test_support::AppendBE32;
using test_support::Load;

Bytes Chunk(const char* id, const Bytes& data) {
  Bytes chunk(id, id + 4);
  AppendBE32(chunk, uint32_t(data.size()));
  chunk.insert(chunk.end(), data.begin(), data.end());
  if (data.size() % 2) chunk.push_back(0);  // chunks are padded to an even length
  return chunk;
}

Bytes Form(const char* type, const std::vector<Bytes>& chunks) {
  Bytes body(type, type + 4);
  for (const Bytes& chunk : chunks) body.insert(body.end(), chunk.begin(), chunk.end());
  return Chunk("FORM", body);
}

Bytes Bmhd(int width, int height, int planes, int masking = 0, int compression = 0, int transparent = 0) {
  Bytes data;
  AppendBE16(data, uint32_t(width));
  AppendBE16(data, uint32_t(height));
  AppendBE32(data, 0);  // position on the page
  data.insert(data.end(), {uint8_t(planes), uint8_t(masking), uint8_t(compression), 0});
  AppendBE16(data, uint32_t(transparent));
  data.insert(data.end(), {10, 11});  // pixel aspect
  AppendBE16(data, uint32_t(width));
  AppendBE16(data, uint32_t(height));
  return Chunk("BMHD", data);
}

Bytes Camg(uint32_t modes) {
  Bytes data;
  AppendBE32(data, modes);
  return Chunk("CAMG", data);
}

// Rows of `planes` bit planes of the pixel values (and a mask plane after them).
Bytes Planar(const std::vector<uint32_t>& pixels, int width, int planes, const std::vector<int>& mask = {}) {
  const size_t planeBytes = size_t(width + 15) / 16 * 2;
  const size_t height = pixels.size() / size_t(width);
  Bytes out;
  for (size_t y = 0; y < height; ++y) {
    for (int p = 0; p < planes + (mask.empty() ? 0 : 1); ++p) {
      Bytes plane(planeBytes, 0);
      for (size_t x = 0; x < size_t(width); ++x) {
        const size_t i = y * size_t(width) + x;
        const bool bit = p < planes ? (pixels[i] >> p & 1) != 0 : mask[i] != 0;
        if (bit) plane[x / 8] |= uint8_t(0x80 >> (x % 8));
      }
      out.insert(out.end(), plane.begin(), plane.end());
    }
  }
  return out;
}

Bytes Colours(std::initializer_list<std::array<int, 3>> colours) {
  Bytes data;
  for (const auto& c : colours) data.insert(data.end(), {uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])});
  return Chunk("CMAP", data);
}

// A 32-entry map whose colour i is (8i, 4i, 255 - 8i).
Bytes Ramp32() {
  Bytes data;
  for (int i = 0; i < 32; ++i) data.insert(data.end(), {uint8_t(8 * i), uint8_t(4 * i), uint8_t(255 - 8 * i)});
  return Chunk("CMAP", data);
}

using Rgb = std::array<int, 3>;

std::vector<Rgb> Pixels(const Bitmap& bitmap) {
  const test_support::RgbImage image = test_support::FromBitmap(bitmap);
  std::vector<Rgb> out;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const uint8_t* p = image.Pixel(x, y);
      out.push_back({p[0], p[1], p[2]});
    }
  return out;
}

std::string LoadError(const Bytes& file) { return test_support::LoadError<TILBMGraphic>(file); }

// Pictures written by netpbm's ppmtoilbm, compared whole with its own ilbmtoppm.
TEST(ILBMReader, NetpbmFilesMatchIlbmtoppm) {
  REQUIRE_TOOL("/usr/bin/ppmtoilbm");
  test_support::TempDir dir;
  test_support::WriteFileBytes(dir.File("src.ppm"), test_support::EncodePnm(test_support::TestPattern(29, 17)));
  const struct {
    const char* command;  // SRC: the source picture
    PixelFormat format;
    int tolerance;        // ilbmtoppm widens direct colour to the largest component's range first
  } cases[] = {
      {"pnmquant 2 SRC | ppmtoilbm -mp 1", PixelFormat::Bits8, 0},
      {"pnmquant 30 SRC | ppmtoilbm", PixelFormat::Bits8, 0},
      {"pnmquant 30 SRC | ppmtoilbm -fp 8 -nocompress", PixelFormat::Bits8, 0},
      {"pnmquant 200 SRC | ppmtoilbm -mp 8", PixelFormat::Bits8, 0},
      {"ppmtoilbm -ham6 SRC", PixelFormat::Bits24, 0},
      {"ppmtoilbm -ham8 -nocompress SRC", PixelFormat::Bits24, 0},
      {"ppmtoilbm -hamforce -hamplanes 5 SRC", PixelFormat::Bits24, 0},
      {"ppmtoilbm -24force SRC", PixelFormat::Bits24, 0},
      {"ppmtoilbm -24force -nocompress SRC", PixelFormat::Bits24, 0},
      {"ppmtoilbm -dcforce -dcbits 5 6 5 SRC", PixelFormat::Bits24, 2},
      {"ppmtoilbm -dcforce -dcbits 8 3 1 -nocompress SRC", PixelFormat::Bits24, 2},
  };
  for (const auto& c : cases) {
    const std::string iff = dir.File("out.iff");
    const auto made = test_support::RunCommand(
        test_support::FillPaths(std::string(c.command) + " > OUT 2>/dev/null", {{"SRC", dir.File("src.ppm")}, {"OUT", iff}}));
    ASSERT_EQ(made.status, 0) << c.command << ": " << made.output;
    TILBMGraphic picture;
    picture.LoadFile(iff);
    EXPECT_EQ(picture.GetPixelFormat(), c.format) << c.command;
    EXPECT_TRUE(test_support::BitmapMatches(
        picture, test_support::DecodeWith("ilbmtoppm " + test_support::ShellQuote(iff) + " 2>/dev/null"), c.tolerance))
        << c.command;
  }
}

TEST(ILBMReader, ViewportModesMasksAndColourMaps) {
  const Rgb black{0, 0, 0};
  struct Case {
    const char* name;
    Bytes file;
    std::vector<Rgb> expected;  // the first pixels, row by row
  };
  // Six planes: indices 1 and 33 (half of colour 1), 31 and 63.
  const std::vector<uint32_t> halfBrite = {1, 33, 31, 63};
  // Hold-and-modify six planes: colour 2, then blue, red and green set to 0xF (top bits).
  const std::vector<uint32_t> ham = {2, 0x1F, 0x2F, 0x3F, 0x20, 0};
  const Case cases[] = {
      {"extra half-brite from the viewport modes",
       Form("ILBM", {Bmhd(4, 1, 6), Camg(0x80), Ramp32(), Chunk("BODY", Planar(halfBrite, 4, 6))}),
       {{8, 4, 247}, {4, 2, 123}, {248, 124, 7}, {124, 62, 3}}},
      {"extra half-brite from a map of 32 colours",
       Form("ILBM", {Bmhd(4, 1, 6), Ramp32(), Chunk("BODY", Planar(halfBrite, 4, 6))}),
       {{8, 4, 247}, {4, 2, 123}, {248, 124, 7}, {124, 62, 3}}},
      // Each row starts from colour 0; a modified component keeps the low bits it had.
      {"hold-and-modify from a map of 16 colours",
       Form("ILBM", {Bmhd(6, 1, 6), Colours({{0x11, 0x22, 0x33}, {0, 0, 0}, {0x45, 0x67, 0x89}}),
                     Chunk("BODY", Planar(ham, 6, 6))}),
       {{0x45, 0x67, 0x89}, {0x45, 0x67, 0xF9}, {0xF5, 0x67, 0xF9}, {0xF5, 0xF7, 0xF9}, {0x05, 0xF7, 0xF9}, {0x11, 0x22, 0x33}}},
      {"hold-and-modify eight planes",
       Form("ILBM", {Bmhd(2, 1, 8), Camg(0x800), Colours({{1, 2, 3}}), Chunk("BODY", Planar({0x40 | 0x3F, 0x80 | 0x01}, 2, 8))}),
       {{1, 2, 255}, {5, 2, 255}}},
      {"a colour map too short leaves the other colours black",
       Form("ILBM", {Bmhd(4, 1, 2), Colours({{10, 20, 30}, {40, 50, 60}}), Chunk("BODY", Planar({0, 1, 2, 3}, 4, 2))}),
       {{10, 20, 30}, {40, 50, 60}, black, black}},
      {"no colour map: a grey ramp",
       Form("ILBM", {Bmhd(4, 1, 2), Chunk("BODY", Planar({0, 1, 2, 3}, 4, 2))}),
       {black, {85, 85, 85}, {170, 170, 170}, {255, 255, 255}}},
      {"a mask plane is stepped over",
       Form("ILBM", {Bmhd(3, 2, 1, 1), Colours({{0, 0, 0}, {200, 100, 50}}),
                     Chunk("BODY", Planar({1, 0, 1, 0, 1, 1}, 3, 1, {1, 1, 0, 0, 1, 0}))}),
       {{200, 100, 50}, black, {200, 100, 50}, black, {200, 100, 50}, {200, 100, 50}}},
      {"the transparent colour shows as it is",
       Form("ILBM", {Bmhd(2, 1, 1, 2, 0, 1), Colours({{0, 0, 0}, {200, 100, 50}}), Chunk("BODY", Planar({1, 0}, 2, 1))}),
       {{200, 100, 50}, black}},
      // An odd chunk is padded; a chunk the reader does not know is stepped over.
      {"odd chunks before the picture",
       Form("ILBM", {Chunk("ANNO", {'o', 'd', 'd'}), Bmhd(2, 1, 1), Chunk("GRAB", {1, 2, 3, 4, 5}),
                     Colours({{0, 0, 0}, {9, 9, 9}}), Chunk("BODY", Planar({1, 0}, 2, 1))}),
       {{9, 9, 9}, black}},
      {"direct colour of 1, 2 and 1 bits",
       Form("ILBM", {Bmhd(2, 1, 4), Chunk("DCOL", {1, 2, 1, 0}), Chunk("BODY", Planar({1 | 2 << 1 | 1 << 3, 0b0110}, 2, 4))}),
       {{255, 170, 255}, {0, 255, 0}}},
      {"a PBM picture ignores a DCOL chunk, even of zero bits",
       Form("PBM ", {Bmhd(2, 1, 8), Chunk("DCOL", {0, 0, 0, 0}), Colours({{0, 0, 0}, {9, 9, 9}}), Chunk("BODY", {1, 0})}),
       {{9, 9, 9}, black}},
  };
  for (const Case& c : cases) {
    TILBMGraphic picture;
    Load(picture, c.file);
    const std::vector<Rgb> pixels = Pixels(picture);
    ASSERT_GE(pixels.size(), c.expected.size()) << c.name;
    for (size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_EQ(pixels[i], c.expected[i]) << c.name << ", pixel " << i;
  }
}

TEST(ILBMReader, DeepChunkyAndPackedRows) {
  // 32 planes: red, green, blue and alpha, 8 each, lowest bit first; the alpha is real.
  const std::vector<uint32_t> deep = {0x80402010, 0xFF0000FF};
  TILBMGraphic picture;
  Load(picture, Form("ILBM", {Bmhd(2, 1, 32), Chunk("BODY", Planar(deep, 2, 32))}));
  ASSERT_EQ(picture.GetPixelFormat(), PixelFormat::Bits32);
  EXPECT_TRUE(picture.Transparent());
  EXPECT_EQ(Bytes(picture.ScanLine(0), picture.ScanLine(0) + 8), (Bytes{0x40, 0x20, 0x10, 0x80, 0, 0, 0xFF, 0xFF}));

  // PBM: a byte a pixel, rows padded to even lengths, packed; a run may cross into the
  // next row. Here 3 x 2 pixels are a run of 5 and a literal of 2.
  Load(picture, Form("PBM ", {Bmhd(3, 2, 8, 0, 1), Colours({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}}),
                              Chunk("BODY", {0xFC, 2, 0x01, 3, 1})}));
  ASSERT_EQ(picture.GetPixelFormat(), PixelFormat::Bits8);
  EXPECT_EQ(Bytes(picture.ScanLine(0), picture.ScanLine(0) + 3), (Bytes{2, 2, 2}));
  EXPECT_EQ(Bytes(picture.ScanLine(1), picture.ScanLine(1) + 3), (Bytes{2, 3, 1}));

  // A packed BODY that ends early leaves the rows it does not reach black.
  Load(picture, Form("ILBM", {Bmhd(16, 3, 1, 0, 1), Colours({{0, 0, 0}, {255, 255, 255}}),
                              Chunk("BODY", {0xFF, 0xFF, 0x00, 0x80})}));
  EXPECT_EQ(Bytes(picture.ScanLine(0), picture.ScanLine(0) + 3), (Bytes{1, 1, 1}));
  EXPECT_EQ(Bytes(picture.ScanLine(1), picture.ScanLine(1) + 3), (Bytes{1, 0, 0}));
  EXPECT_EQ(Bytes(picture.ScanLine(2), picture.ScanLine(2) + 3), (Bytes{0, 0, 0}));
}

TEST(ILBMReader, DamagedAndUnsupportedFilesFailWithClearMessages) {
  const Bytes body = Chunk("BODY", Bytes(8, 0));
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"empty file", {}, "IFF: not an IFF file"},
      {"another container", Chunk("RIFF", {'W', 'E', 'B', 'P'}), "IFF: not an IFF file"},
      {"another form", Form("8SVX", {}), "IFF: not an ILBM or PBM picture"},
      {"no bitmap header", Form("ILBM", {body}), "IFF: the file has no BMHD chunk"},
      {"short bitmap header", Form("ILBM", {Chunk("BMHD", Bytes(10)), body}), "IFF: the BMHD chunk is too short"},
      {"a colour map alone", Form("ILBM", {Bmhd(4, 4, 0), Colours({{1, 2, 3}})}),
       "IFF: the file holds a colour map but no picture"},
      {"no BODY", Form("ILBM", {Bmhd(4, 4, 1)}), "IFF: the file has no BODY chunk"},
      {"no width", Form("ILBM", {Bmhd(0, 4, 1), body}), "IFF: invalid picture size"},
      {"unknown compression", Form("ILBM", {Bmhd(4, 4, 1, 0, 2), body}), "IFF: unknown compression 2"},
      {"twelve planes", Form("ILBM", {Bmhd(4, 1, 12), Chunk("BODY", Bytes(24))}), "IFF: 12 bit planes are not supported"},
      {"direct colour of the wrong planes", Form("ILBM", {Bmhd(4, 1, 12), Chunk("DCOL", {4, 4, 5, 0}), body}),
       "IFF: the DCOL chunk does not match the number of bit planes"},
      {"direct colour of 9 bits", Form("ILBM", {Bmhd(4, 1, 18), Chunk("DCOL", {9, 4, 5, 0}), body}),
       "IFF: direct colour must have 1 to 8 bits a component"},
      {"a plain BODY one byte short", Form("ILBM", {Bmhd(16, 4, 1), Chunk("BODY", Bytes(7))}),
       "IFF: the BODY is too short for the picture"},
      {"a large picture from a small packed BODY", Form("ILBM", {Bmhd(32000, 32000, 8, 0, 1), Chunk("BODY", {0x81, 0})}),
       "IFF: the BODY is too short for the picture"},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadError(c.file), c.message) << c.what;
  // A FORM that claims more than the file has, and a BODY cut short, are read as far as
  // they go.
  Bytes cut = Form("ILBM", {Bmhd(16, 4, 1, 0, 1), Chunk("BODY", {0x81, 0xAA, 0x81, 0x55, 0x81, 0xAA, 0x81, 0x55})});
  cut.resize(cut.size() - 3);
  EXPECT_EQ(LoadError(cut), "no error");
}

}  // namespace
}  // namespace pictures
