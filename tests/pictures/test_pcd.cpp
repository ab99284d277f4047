#include "pictures/formats/pcd.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "base/error.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "support/loading.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::Load;

constexpr int W = 768, H = 512;
constexpr size_t kData = 0x30000;  // the base image's luma and chroma
constexpr size_t kPackSize = kData + W * H * 3 / 2;

// A pack whose base image has luma `y` and neutral chroma (C1 156, C2 137) everywhere.
struct Pack {
  Bytes bytes = Bytes(kPackSize, 0);

  explicit Pack(int orientation = 0, uint8_t y = 0) {
    std::memcpy(&bytes[2048], "PCD_IPI", 7);  // the signature
    bytes[0x2F84B] = uint8_t(orientation);     // the attribute byte: bits 0-1
    for (int k = 0; k < H / 2; ++k) {
      std::memset(Block(k), y, 2 * W);
      std::memset(Block(k) + 2 * W, 156, W / 2);
      std::memset(Block(k) + 2 * W + W / 2, 137, W / 2);
    }
  }
  // Block k: luma rows 2k and 2k + 1, then C1 and C2 (W / 2 samples each) for both rows.
  uint8_t* Block(int k) { return &bytes[kData + size_t(k) * W * 3]; }
  uint8_t& Luma(int row, int x) { return Block(row / 2)[(row % 2) * W + x]; }
  uint8_t& C1(int k, int j) { return Block(k)[2 * W + j]; }
  uint8_t& C2(int k, int j) { return Block(k)[2 * W + W / 2 + j]; }
};

const uint8_t* Pixel(const TPCDGraphic& g, int row, int column) {
  return g.ScanLine(row) + size_t(column) * 3;
}

// Blue, green, red of one luma/chroma sample, by the conversion's formula.
std::vector<int> Bgr(int y, int c1, int c2) {
  auto clamp = [](double v) { return int(std::min(255.0, std::max(0.0, std::nearbyint(v)))); };
  return {clamp(1.3584 * y + 2.2179 * (c1 - 156)),
          clamp(1.3584 * y - 0.9271435 * (c2 - 137) - 0.4302726 * (c1 - 156)),
          clamp(1.3584 * y + 1.8215 * (c2 - 137))};
}

std::vector<int> PixelOf(const TPCDGraphic& g, int row, int column) {
  const uint8_t* p = Pixel(g, row, column);
  return {p[0], p[1], p[2]};
}

TEST(PCD, NeutralChromaGivesGreyFromBlackToWhite) {
  TPCDGraphic g;
  Load(g, Pack(0, 0).bytes);
  EXPECT_EQ(g.GetPixelFormat(), PixelFormat::Bits24);
  EXPECT_EQ(PixelOf(g, 0, 0), (std::vector<int>{0, 0, 0}));
  // 1.3584 x 188 = 255.4, rounded to 255; 100 gives 135.84, rounded to 136.
  Load(g, Pack(0, 188).bytes);
  EXPECT_EQ(PixelOf(g, 511, 767), (std::vector<int>{255, 255, 255}));
  Load(g, Pack(0, 100).bytes);
  EXPECT_EQ(PixelOf(g, 7, 9), (std::vector<int>{136, 136, 136}));
  // C1 166 at luma 100: blue 135.84 + 22.179, green 135.84 - 4.3027.
  Pack tinted(0, 100);
  tinted.C1(0, 0) = 166;
  tinted.C1(1, 0) = 166;
  Load(g, tinted.bytes);
  EXPECT_EQ(PixelOf(g, 0, 0), (std::vector<int>{158, 132, 136}));
}

TEST(PCD, OrientationTurnsThePictureUpright) {
  // Three marked stored pixels (row, column, luma); everything else is black.
  struct Mark { int row, column; uint8_t y; };
  const Mark marks[] = {{0, 0, 100}, {1, 767, 50}, {511, 5, 150}};
  struct Case {
    int orientation;
    int width, height;
    // Where stored pixel (r, x) lands: scan line and column.
    int (*line)(int r, int x);
    int (*column)(int r, int x);
  };
  const Case cases[] = {
      {0, W, H, [](int r, int) { return r; }, [](int, int x) { return x; }},
      {1, H, W, [](int, int x) { return W - 1 - x; }, [](int r, int) { return r; }},
      {2, W, H, [](int r, int) { return H - 1 - r; }, [](int, int x) { return x; }},
      {3, H, W, [](int, int x) { return x; }, [](int r, int) { return r; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.orientation);
    Pack pack(c.orientation | 0xFC);  // the other attribute bits play no part
    for (const Mark& m : marks) pack.Luma(m.row, m.column) = m.y;
    TPCDGraphic g;
    Load(g, pack.bytes);
    ASSERT_EQ(g.Width(), c.width);
    ASSERT_EQ(g.Height(), c.height);
    int lit = 0;
    for (int y = 0; y < g.Height(); ++y)
      for (int x = 0; x < g.Width(); ++x) lit += Pixel(g, y, x)[0] != 0;
    EXPECT_EQ(lit, 3);
    for (const Mark& m : marks) {
      const int grey = Bgr(m.y, 156, 137)[0];
      EXPECT_EQ(PixelOf(g, c.line(m.row, m.column), c.column(m.row, m.column)),
                (std::vector<int>{grey, grey, grey}))
          << "stored pixel " << m.row << ", " << m.column;
    }
  }
}

TEST(PCD, ChromaIsInterpolatedBetweenColumnsAndRowPairs) {
  Pack pack(0, 100);
  // Block 0 and block 1, first two samples of C1; the sums are odd, so fractions drop.
  pack.C1(0, 0) = 166;
  pack.C1(0, 1) = 177;
  pack.C1(1, 0) = 186;
  pack.C1(1, 1) = 196;
  // The last samples of block 0's C2: the last column repeats the last sample.
  pack.C2(0, 382) = 100;
  pack.C2(0, 383) = 201;
  // The last row pair has no next pair and blends with its own chroma.
  pack.C1(255, 0) = 220;
  TPCDGraphic g;
  Load(g, pack.bytes);
  EXPECT_EQ(PixelOf(g, 0, 0), Bgr(100, 166, 137));
  EXPECT_EQ(PixelOf(g, 0, 1), Bgr(100, (166 + 177) >> 1, 137));
  EXPECT_EQ(PixelOf(g, 1, 0), Bgr(100, (166 + 186) >> 1, 137));
  EXPECT_EQ(PixelOf(g, 1, 1), Bgr(100, (166 + 177 + 186 + 196) >> 2, 137));
  EXPECT_EQ(PixelOf(g, 0, 765), Bgr(100, 156, (100 + 201) >> 1));
  EXPECT_EQ(PixelOf(g, 0, 766), Bgr(100, 156, 201));
  EXPECT_EQ(PixelOf(g, 0, 767), Bgr(100, 156, 201));
  EXPECT_EQ(PixelOf(g, 1, 767), Bgr(100, 156, (201 + 137) >> 1));
  EXPECT_EQ(PixelOf(g, 510, 0), Bgr(100, 220, 137));
  EXPECT_EQ(PixelOf(g, 511, 0), Bgr(100, 220, 137));
  EXPECT_EQ(PixelOf(g, 511, 1), Bgr(100, (220 + 156) >> 1, 137));
  // Block 254's lower row blends towards block 255.
  EXPECT_EQ(PixelOf(g, 509, 0), Bgr(100, (156 + 220) >> 1, 137));
}

TEST(PCD, APackLaterInTheStreamIsReadFromWhereItStarts) {
  Pack pack(2, 100);
  pack.Luma(0, 0) = 0;
  Bytes file = pack.bytes;
  file.insert(file.begin(), 100, 0xEE);
  MemoryStream stream(file);
  stream.Seek(100);
  TPCDGraphic g;
  g.LoadFromStream(stream);
  EXPECT_EQ(PixelOf(g, 511, 0), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(PixelOf(g, 0, 0), (std::vector<int>{136, 136, 136}));
}

TEST(PCD, RefusesPacksWithoutSignatureOrCutShort) {
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  };
  const Bytes pack = Pack().bytes;
  Bytes noSignature = pack;
  noSignature[2048 + 6] = 'X';
  // A pack copied without its first sectors has something else at offset 2048.
  const Bytes firstSectorsLost(pack.begin() + 2048, pack.end());
  const Bytes noAttribute(pack.begin(), pack.begin() + 0x2F84B);
  Bytes cutInData = pack;
  cutInData.resize(kPackSize - 1);
  const Case cases[] = {
      {"signature changed", noSignature, "PCD: wrong image format."},
      {"first sectors lost", firstSectorsLost, "PCD: wrong image format."},
      {"too short for the signature", Bytes(2050, 0), "Stream read error"},
      {"too short for the attribute byte", noAttribute, "Stream read error"},
      {"image data one byte short", cutInData, "Stream read error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPCDGraphic g;
    try {
      Load(g, c.file);
      ADD_FAILURE() << "no error";
    } catch (const PictureError& e) {
      EXPECT_STREQ(e.what(), c.message);
      EXPECT_TRUE(g.Empty());
    }
  }
}

TEST(PCD, TheRegistryChoosesThisReaderForItsExtensions) {
  RegisterReaders();
  for (const char* extension : {"pcd", "PCD"})
    EXPECT_EQ(FindReaderClass(extension), &TPCDGraphic::StaticClass()) << extension;
}

}  // namespace
}  // namespace pictures
