#include "base/pixel_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/colour_space.h"
#include "base/error.h"
#include "pictures/palette.h"
#include "base/pixel_paths.h"
#include "pictures/stream.h"

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

TEST(RowConverters, CIELabIsD50ToSRGBInEightAndSixteenBits) {
  // L as a byte (0..255 for L* 0..100), a* and b* in their units; expected values from
  // an ICC colour engine's D50 Lab to sRGB transform, computed without lookup tables.
  struct Case { uint8_t L; int8_t a, b; Bytes bgr; };
  const Case cases[] = {
      {255, 0, 0, {255, 255, 255}},
      {0, 0, 0, {0, 0, 0}},
      {128, 0, 0, {119, 119, 119}},   // mid grey goes through the transfer curve
      {10, 0, 0, {14, 14, 14}},     // the straight start of the lightness function
      {138, 81, 70, {0, 0, 255}},   // red
      {224, -79, 81, {0, 255, 9}},  // green
      {100, 20, -60, {192, 85, 64}},
      {60, -30, -30, {101, 68, 0}},
  };
  auto near = [](const Bytes& got, const Bytes& want) {
    for (int k = 0; k < 3; ++k)
      if (std::abs(got[k] - want[k]) > 2) return false;
    return true;
  };
  for (const Case& c : cases) {
    const std::string name = std::to_string(c.L) + "," + std::to_string(c.a) + "," +
                             std::to_string(c.b);
    const Bytes lab = {c.L, static_cast<uint8_t>(c.a), static_cast<uint8_t>(c.b)};
    Bytes out(3), planar(3);
    CIELabToBGR(lab.data(), out.data(), 8, 3);
    CIELabPlanarToBGR(&lab[0], &lab[1], &lab[2], planar.data(), 8, 3);
    EXPECT_TRUE(near(out, c.bgr)) << name;
    EXPECT_EQ(planar, out) << name;
    // The same colour in 16 bits: L 257 times the byte, a* and b* 256 to a unit.
    const Bytes lab16 = Words({static_cast<uint16_t>(c.L * 257), static_cast<uint16_t>(c.a * 256),
                               static_cast<uint16_t>(c.b * 256)});
    CIELabToBGR(lab16.data(), out.data(), 16, 3);
    CIELabPlanarToBGR(&lab16[0], &lab16[2], &lab16[4], planar.data(), 16, 3);
    EXPECT_TRUE(near(out, c.bgr)) << name << " 16-bit";
    EXPECT_EQ(planar, out) << name << " 16-bit";
  }
}

TEST(RowConverters, PlanarRGBTakesOneSampleFromEachPlane) {
  Bytes r = {1, 4}, g = {2, 5}, b = {3, 6}, out(6);
  RGBPlanarToBGR(r.data(), g.data(), b.data(), out.data(), 8, 6);
  EXPECT_EQ(out, (Bytes{3, 2, 1, 6, 5, 4}));
  Bytes r16 = Words({0xAB00}), g16 = Words({0xCD00}), b16 = Words({0xEF00}), out16(3);
  RGBPlanarToBGR(r16.data(), g16.data(), b16.data(), out16.data(), 16, 3);
  EXPECT_EQ(out16, (Bytes{0xEF, 0xCD, 0xAB}));
}

TEST(RowHelpers, PlanesInterleaveAndBigEndianSamplesKeepTheirFirstByte) {
  const Bytes r = {1, 4, 7, 10, 13}, g = {2, 5, 8, 11, 14}, b = {3, 6, 9, 12, 15}, a = {9, 9, 9, 9, 9};
  Bytes bgr(16, 0xEE), bgra(21, 0xEE);
  PlanesToBGR(r.data(), g.data(), b.data(), bgr.data(), 5);
  PlanesToBGRA(r.data(), g.data(), b.data(), a.data(), bgra.data(), 5);
  EXPECT_EQ(bgr, (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 0xEE}));
  EXPECT_EQ(Bytes(bgra.begin() + 16, bgra.end()), (Bytes{15, 14, 13, 9, 0xEE}));
  const Bytes words = {0x12, 0xAB, 0xFF, 0x00};
  Bytes high(2);
  HighBytesOfBE16(words.data(), high.data(), 2);
  EXPECT_EQ(high, (Bytes{0x12, 0xFF}));
}

TEST(RowHelpers, GreyRampsAndBlackWhitePalettes) {
  const LogPalette ramp = GreyRampRecord(16, 17);
  ASSERT_EQ(ramp.entries.size(), 16u);
  EXPECT_EQ(ramp.entries[15], (PaletteEntry{255, 255, 255, 0}));
  EXPECT_EQ(GreyRampRecord(3, 200).entries[2], (PaletteEntry{255, 255, 255, 0}));  // cut at 255
  EXPECT_EQ(BlackWhitePaletteRecord(ZeroBit::White).entries[0], (PaletteEntry{255, 255, 255, 0}));
  EXPECT_EQ(BlackWhitePaletteRecord(ZeroBit::Black).entries[1], (PaletteEntry{255, 255, 255, 0}));
}

// The table lookup gives the byte the curve itself rounds to, at the ends of the range, at
// the points where one byte turns into the next and for a spread of values between.
TEST(Srgb, TableLookupRoundsAsTheCurveDoes) {
  const auto curve = [](double v) { return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055; };
  EXPECT_NEAR(LinearToSRGB(0.0031308f), 0.04045, 1e-5);  // the two pieces meet
  EXPECT_NEAR(LinearToSRGB(0.5f), 0.735357, 1e-6);
  for (const float clamped : {-1.0f, 0.0f, NAN, -INFINITY}) EXPECT_EQ(LinearToSRGB8(clamped), 0);
  for (const float clamped : {1.0f, 1.5f, INFINITY}) EXPECT_EQ(LinearToSRGB8(clamped), 255);
  std::vector<float> values;
  for (int b = 0; b < 255; ++b) {
    const double encoded = (b + 0.5) / 255;
    const double edge = encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
    for (const float v : {std::nextafter(float(edge), 0.0f), std::nextafter(float(edge), 1.0f)})
      values.push_back(v);
  }
  for (int i = 1; i < 100000; ++i) values.push_back(float(i) / 100000);
  for (const float v : values)
    ASSERT_EQ(LinearToSRGB8(v), std::lround(255 * curve(v))) << v;
}

TEST(StreamNumbers, ReadInTheirByteOrderAndSkipSaturates) {
  MemoryStream stream(Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A});
  EXPECT_EQ(ReadU16BE(stream), 0x0102);
  EXPECT_EQ(ReadU16LE(stream), 0x0403);
  stream.Seek(0);
  EXPECT_EQ(ReadU64BE(stream), 0x0102030405060708u);
  EXPECT_THROW(ReadU32BE(stream), StreamReadError);
  stream.Seek(2);
  EXPECT_EQ(ReadU32LE(stream), 0x06050403u);
  Skip(stream, UINT64_MAX);  // a lying length: the next read fails, nothing overflows
  EXPECT_EQ(stream.Position(), INT64_MAX);
  EXPECT_THROW(ReadU16BE(stream), StreamReadError);
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

// Every path of the converters that have a faster form must give the result of the plain
// rule on rows of every length, including the lengths that leave a partial step at the
// end, and write nothing past the row: each output is followed by guard bytes.
constexpr uint32_t kMaxPixels = 70;
constexpr size_t kGuard = 32;
constexpr uint8_t kGuardByte = 0xA5;

Bytes RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(count);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// The rules, written out byte by byte.
Bytes ReferenceBGR(const Bytes& in, uint32_t pixels, uint32_t samples) {
  Bytes out(size_t(pixels) * samples);
  for (size_t i = 0; i < pixels; ++i)
    for (uint32_t c = 0; c < samples; ++c)
      out[i * samples + c] = in[i * samples + (c < 3 ? 2 - c : c)];
  return out;
}

Bytes ReferencePlanar(const Bytes& r, const Bytes& g, const Bytes& b, uint32_t pixels) {
  Bytes out;
  for (size_t i = 0; i < pixels; ++i) out.insert(out.end(), {b[i], g[i], r[i]});
  return out;
}

struct Path {
  std::string name;
  std::function<void(const uint8_t*, uint8_t*, uint32_t)> rgb, rgba;
  std::function<void(const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, uint32_t)> planar;
};

std::vector<Path> Paths() {
  namespace pp = pixel_paths;
  std::vector<Path> paths = {
      {"dispatched",
       [](const uint8_t* in, uint8_t* out, uint32_t n) { RGBToBGR(in, out, 8, 3 * n); },
       [](const uint8_t* in, uint8_t* out, uint32_t n) { RGBAToBGRA(in, out, 8, 4 * n); },
       [](const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* out, uint32_t n) {
         RGBPlanarToBGR(r, g, b, out, 8, 3 * n);
       }},
      {"plain", pp::RGBToBGRPlain, pp::RGBAToBGRAPlain, pp::RGBPlanarToBGRPlain},
  };
  if (pp::HasByteShuffles())
    paths.push_back({"shuffle", pp::RGBToBGRShuffle, pp::RGBAToBGRAShuffle,
                     pp::RGBPlanarToBGRShuffle});
  return paths;
}

// The output area of `pixels` pixels of `size` bytes, then the guard bytes.
Bytes Guarded(uint32_t pixels, uint32_t size) {
  Bytes out(size_t(pixels) * size + kGuard, 0);
  std::fill(out.end() - kGuard, out.end(), kGuardByte);
  return out;
}

::testing::AssertionResult MatchesAndGuardIntact(const Bytes& out, const Bytes& expected) {
  if (!std::equal(expected.begin(), expected.end(), out.begin()))
    return ::testing::AssertionFailure() << "pixels differ from the rule";
  for (size_t i = expected.size(); i < out.size(); ++i)
    if (out[i] != kGuardByte)
      return ::testing::AssertionFailure() << "byte " << i - expected.size() << " past the row written";
  return ::testing::AssertionSuccess();
}

TEST(RowConverterPaths, EveryPathFollowsTheRuleOnRowsOfEveryLength) {
  ASSERT_GE(Paths().size(), 2u);
  for (const Path& path : Paths()) {
    for (uint32_t n = 0; n <= kMaxPixels; ++n) {
      SCOPED_TRACE(path.name + ", " + std::to_string(n) + " pixels");
      const Bytes rgb = RandomBytes(3 * n, n);
      Bytes out = Guarded(n, 3);
      path.rgb(rgb.data(), out.data(), n);
      EXPECT_TRUE(MatchesAndGuardIntact(out, ReferenceBGR(rgb, n, 3)));

      // In place, as the portable bitmap reader turns its rows.
      Bytes inPlace = rgb;
      inPlace.resize(rgb.size() + kGuard, kGuardByte);
      path.rgb(inPlace.data(), inPlace.data(), n);
      EXPECT_TRUE(MatchesAndGuardIntact(inPlace, ReferenceBGR(rgb, n, 3)));

      const Bytes rgba = RandomBytes(4 * n, 100 + n);
      out = Guarded(n, 4);
      path.rgba(rgba.data(), out.data(), n);
      EXPECT_TRUE(MatchesAndGuardIntact(out, ReferenceBGR(rgba, n, 4)));

      const Bytes r = RandomBytes(n, 200 + n), g = RandomBytes(n, 300 + n),
                  b = RandomBytes(n, 400 + n);
      out = Guarded(n, 3);
      path.planar(r.data(), g.data(), b.data(), out.data(), n);
      EXPECT_TRUE(MatchesAndGuardIntact(out, ReferencePlanar(r, g, b, n)));
    }
  }
}

TEST(Prediction, KeepsToTheRuleOnRowsOfEveryLength) {
  using Undo = void (*)(uint8_t*, uint32_t);
  const struct {
    Undo undo;
    uint32_t size;
  } predictors[] = {{UndoPredictor1, 1}, {UndoPredictor3, 3}, {UndoPredictor4, 4}};
  for (const auto& p : predictors) {
    for (uint32_t n = 0; n < kMaxPixels; ++n) {
      SCOPED_TRACE(std::to_string(p.size) + " bytes a pixel, N = " + std::to_string(n));
      Bytes row = RandomBytes(size_t(n + 1) * p.size, 500 + n);
      Bytes expected = row;
      for (size_t j = 0; j < size_t(n) * p.size; ++j)
        expected[j + p.size] = static_cast<uint8_t>(expected[j + p.size] + expected[j]);
      row.resize(row.size() + kGuard, kGuardByte);
      p.undo(row.data(), n);
      EXPECT_TRUE(MatchesAndGuardIntact(row, expected));
    }
  }
}

// Half floats of every kind, and the sRGB curve with its straight segment, which also
// carries values below 0.
TEST(ColourSpace, HalfFloatsAndTheSRGBCurve) {
  const struct {
    uint16_t half;
    float value;
  } halves[] = {{0x3C00, 1}, {0xC000, -2}, {0x7BFF, 65504}, {0x0001, 5.9604645e-8f},
                {0x3555, 0.33325195f}, {0x8000, -0.0f}, {0x03FF, 1023 * 0x1p-24f}, {0xFC00, -INFINITY}};
  for (const auto& c : halves) EXPECT_EQ(HalfToFloat(c.half), c.value) << c.half;
  EXPECT_TRUE(std::isinf(HalfToFloat(0x7C00)));
  EXPECT_TRUE(std::isnan(HalfToFloat(0x7E00)));

  EXPECT_NEAR(SRGBToLinear(0.5f), 0.21404f, 1e-5);
  EXPECT_NEAR(SRGBToLinear(-0.1f), -0.1f / 12.92f, 1e-7);
  EXPECT_NEAR(LinearToSRGB(SRGBToLinear(0.8f)), 0.8f, 1e-6);
  for (int v : {0, 1, 10, 128, 254, 255})
    EXPECT_EQ(LinearToSRGB8(SRGB8ToLinear(uint8_t(v))), v) << v;
  // The straight start of the curve (12.92 times), its power part, and the clamps.
  const struct {
    float linear;
    int srgb;
  } levels[] = {{-1.0f, 0}, {NAN, 0}, {0.003f, 10}, {0.5f, 188}, {0.2158605f, 128}, {2.0f, 255}};
  for (const auto& c : levels) EXPECT_EQ(LinearToSRGB8(c.linear), c.srgb) << c.linear;
  EXPECT_EQ(UnitToByte(std::nanf("")), 0);
  EXPECT_EQ(UnitToByte(0.5f), 128);
}

}  // namespace
}  // namespace pictures
