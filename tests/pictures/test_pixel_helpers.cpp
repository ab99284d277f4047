#include "pictures/pixel_helpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;

// Little-endian 16-bit samples as bytes.
Bytes Words(std::initializer_list<uint16_t> values) {
  Bytes bytes;
  for (uint16_t v : values) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  }
  return bytes;
}

TEST(ByteOrder, SwapsInPlaceAndCountZeroTouchesNothing) {
  Bytes shorts = {1, 2, 3, 4, 5};
  SwapShorts(shorts.data(), 2);
  EXPECT_EQ(shorts, (Bytes{2, 1, 4, 3, 5}));
  Bytes longs = {1, 2, 3, 4, 9};
  SwapLongs(longs.data(), 1);
  EXPECT_EQ(longs, (Bytes{4, 3, 2, 1, 9}));
  Bytes untouched = {7, 8};
  SwapShorts(untouched.data(), 0);
  SwapLongs(untouched.data(), 0);
  EXPECT_EQ(untouched, (Bytes{7, 8}));
  EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
}

TEST(MulDiv, RoundsToNearestWithHalvesAwayFromZero) {
  struct Case { int32_t a, b, c, expected; };
  const Case cases[] = {
      {10, 10, 3, 33},      {10, 10, 6, 17},       {255, 128, 255, 128}, {1, 1, 2, 1},
      {-1, 1, 2, -1},       {3, 1, 2, 2},          {5, 1, 0, -1},        {65535, 65535, 65535, 65535},
      {-7, 3, -2, 11},      {100000, 100000, 7, 1428571429},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << " * " << c.b << " / " << c.c;
}

TEST(RowConverters, SixteenBitSamplesKeepTheirUpperByte) {
  Bytes in = Words({0x12AB, 0xFF00, 0x00FF});
  Bytes out(3);
  Samples16To8(in.data(), out.data(), 8, 3);  // the width argument is ignored
  EXPECT_EQ(out, (Bytes{0x12, 0xFF, 0x00}));
}

TEST(RowConverters, RGBAndRGBAReorderToBlueGreenRed) {
  Bytes rgb = {1, 2, 3, 4, 5, 6, 99};
  Bytes bgr(6, 0xEE);
  RGBToBGR(rgb.data(), bgr.data(), 8, 7);  // 7 samples are 2 whole pixels
  EXPECT_EQ(bgr, (Bytes{3, 2, 1, 6, 5, 4}));

  Bytes rgb16 = Words({0x1000, 0x2000, 0x3000});
  Bytes bgr16(3);
  RGBToBGR(rgb16.data(), bgr16.data(), 16, 3);
  EXPECT_EQ(bgr16, (Bytes{0x30, 0x20, 0x10}));

  Bytes rgba = {1, 2, 3, 4};
  Bytes bgra(4);
  RGBAToBGRA(rgba.data(), bgra.data(), 8, 4);
  EXPECT_EQ(bgra, (Bytes{3, 2, 1, 4}));
  Bytes rgba16 = Words({0x1100, 0x2200, 0x3300, 0x4400});
  RGBAToBGRA(rgba16.data(), bgra.data(), 16, 4);
  EXPECT_EQ(bgra, (Bytes{0x33, 0x22, 0x11, 0x44}));
}

TEST(RowConverters, UnsupportedSampleWidthsWriteNothing) {
  Bytes in(16, 0x55);
  for (uint8_t bits : {1, 4, 12, 32}) {
    Bytes out(12, 0xEE);
    RGBToBGR(in.data(), out.data(), bits, 3);
    RGBAToBGRA(in.data(), out.data(), bits, 4);
    CMYKToBGR(in.data(), out.data(), bits, 4);
    RGBPlanarToBGR(in.data(), in.data(), in.data(), out.data(), bits, 3);
    CMYKPlanarToBGR(in.data(), in.data(), in.data(), in.data(), out.data(), bits, 4);
    EXPECT_EQ(out, Bytes(12, 0xEE)) << int(bits);
  }
}

TEST(RowConverters, CMYKFollowsTheInkFormula) {
  struct Case { Bytes cmyk; Bytes bgr; };
  const Case cases[] = {
      {{0, 0, 0, 0}, {255, 255, 255}},        // no ink is white
      {{10, 200, 30, 255}, {0, 0, 0}},        // full black wins over any colour
      {{255, 0, 0, 0}, {255, 255, 0}},        // pure cyan
      {{100, 50, 25, 128}, {115, 102, 77}},   // 255 - (c - MulDiv(c, 128, 255) + 128)
  };
  for (const Case& c : cases) {
    Bytes out(3);
    CMYKToBGR(c.cmyk.data(), out.data(), 8, 4);
    EXPECT_EQ(out, c.bgr);
    const uint8_t* p = c.cmyk.data();
    Bytes planar(3);
    CMYKPlanarToBGR(p, p + 1, p + 2, p + 3, planar.data(), 8, 4);
    EXPECT_EQ(planar, c.bgr);
  }
  Bytes white16 = Words({0, 0, 0, 0});
  Bytes out(3);
  CMYKToBGR(white16.data(), out.data(), 16, 4);
  EXPECT_EQ(out, (Bytes{255, 255, 255}));
  Bytes black16 = Words({0x1234, 0, 0xFFFF, 0xFFFF});
  CMYKToBGR(black16.data(), out.data(), 16, 4);
  EXPECT_EQ(out, (Bytes{0, 0, 0}));
}

TEST(RowConverters, CIELabEndsAndMidGrey) {
  struct Case { Bytes lab; Bytes bgr; };
  const Case cases[] = {
      {{255, 0, 0}, {255, 255, 255}},  // L = 100 clamps to white
      {{0, 0, 0}, {0, 0, 0}},          // L = 0 is black
      {{10, 0, 0}, {1, 1, 1}},         // the linear branch below L' = 7.9996
  };
  for (const Case& c : cases) {
    Bytes out(3);
    CIELabToBGR(c.lab.data(), out.data(), 16, 3);  // always 8-bit input
    EXPECT_EQ(out, c.bgr) << int(c.lab[0]);
    const uint8_t* p = c.lab.data();
    Bytes planar(3);
    CIELabPlanarToBGR(p, p + 1, p + 2, planar.data(), 8, 3);
    EXPECT_EQ(planar, c.bgr);
  }
  // Positive a is red-ward, negative b is blue-ward.
  Bytes red = {128, 80, 0}, out(3);
  CIELabToBGR(red.data(), out.data(), 8, 3);
  EXPECT_GT(out[2], out[1]);
  Bytes blue = {128, 0, static_cast<uint8_t>(-80)};
  CIELabToBGR(blue.data(), out.data(), 8, 3);
  EXPECT_GT(out[0], out[2]);
}

TEST(RowConverters, PlanarRGBTakesOneSampleFromEachPlane) {
  Bytes r = {1, 4}, g = {2, 5}, b = {3, 6}, out(6);
  RGBPlanarToBGR(r.data(), g.data(), b.data(), out.data(), 8, 6);
  EXPECT_EQ(out, (Bytes{3, 2, 1, 6, 5, 4}));
  Bytes r16 = Words({0xAB00}), g16 = Words({0xCD00}), b16 = Words({0xEF00}), out16(3);
  RGBPlanarToBGR(r16.data(), g16.data(), b16.data(), out16.data(), 16, 3);
  EXPECT_EQ(out16, (Bytes{0xEF, 0xCD, 0xAB}));
}

TEST(Prediction, UndoesHorizontalDifferencing) {
  Bytes row = {10, 1, 1, 1};
  UndoPredictor1(row.data(), 3);
  EXPECT_EQ(row, (Bytes{10, 11, 12, 13}));
  Bytes wrap = {250, 10};
  UndoPredictor1(wrap.data(), 1);
  EXPECT_EQ(wrap, (Bytes{250, 4}));

  Bytes rgb = {1, 2, 3, 1, 1, 1, 2, 2, 2};
  UndoPredictor3(rgb.data(), 2);
  EXPECT_EQ(rgb, (Bytes{1, 2, 3, 2, 3, 4, 4, 5, 6}));
  Bytes rgba = {1, 2, 3, 4, 1, 1, 1, 1};
  UndoPredictor4(rgba.data(), 1);
  EXPECT_EQ(rgba, (Bytes{1, 2, 3, 4, 2, 3, 4, 5}));

  // A one-pixel row (N = 0) stays as it is, and nothing past it is touched.
  Bytes single = {5, 7, 9, 11, 13};
  UndoPredictor1(single.data(), 0);
  UndoPredictor3(single.data(), 0);
  UndoPredictor4(single.data(), 0);
  EXPECT_EQ(single, (Bytes{5, 7, 9, 11, 13}));
}

}  // namespace
}  // namespace pictures
