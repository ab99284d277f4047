// The block decoders on blocks whose pixels can be worked out by hand from the format
// descriptions; the DDS reader's tests compare whole pictures of random blocks with Pillow.
#include "compression/block_compression.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace pictures {
namespace {

using Block = std::array<uint8_t, 16>;

// Builds a block field by field, each from its least significant bit on.
class BlockWriter {
 public:
  BlockWriter& Put(uint64_t value, int bits) {
    for (int i = 0; i < bits; ++i, ++position_)
      if (value >> i & 1) block_[size_t(position_ / 8)] |= uint8_t(1 << (position_ % 8));
    return *this;
  }
  // The same 16 indices of `bits` bits, the first (the anchor) one bit shorter.
  BlockWriter& Indices(const std::array<int, 16>& indices, int bits) {
    for (size_t i = 0; i < 16; ++i) Put(uint64_t(indices[i]), i == 0 ? bits - 1 : bits);
    return *this;
  }
  const Block& Done() const { return block_; }

 private:
  Block block_{};
  int position_ = 0;
};

std::array<int, 16> Cycle(int period) {
  std::array<int, 16> indices;
  for (int i = 0; i < 16; ++i) indices[size_t(i)] = i % period;
  return indices;
}

// Colour end points 565 and the 2-bit indices of BC1, as the block stores them.
BlockWriter ColourBlock(uint16_t c0, uint16_t c1, const std::array<int, 16>& indices) {
  BlockWriter w;
  w.Put(c0, 16).Put(c1, 16);
  for (int index : indices) w.Put(uint64_t(index), 2);
  return w;
}

std::array<uint8_t, 8> Half(const Block& block, size_t from) {
  std::array<uint8_t, 8> half;
  std::copy_n(block.begin() + ptrdiff_t(from), 8, half.begin());
  return half;
}

Block Join(const Block& first, const Block& second) {
  Block joined;
  std::copy_n(first.begin(), 8, joined.begin());
  std::copy_n(second.begin(), 8, joined.begin() + 8);
  return joined;
}

TEST(BlockCompression, BC1ToBC3ColoursAndAlpha) {
  const Rgba8 red{255, 0, 0, 255}, blue{0, 0, 255, 255}, green{0, 255, 0, 255};
  struct Case {
    const char* name;
    int format;  // 1, 2 or 3
    Block block;
    std::vector<Rgba8> firstPixels;  // pixels 0, 1, ...
  };
  BlockWriter explicitAlpha;
  for (int i = 0; i < 16; ++i) explicitAlpha.Put(uint64_t(i), 4);
  BlockWriter eightAlphas, sixAlphas;
  eightAlphas.Put(255, 8).Put(0, 8);
  sixAlphas.Put(0, 8).Put(255, 8);
  for (int i = 0; i < 16; ++i) {
    eightAlphas.Put(uint64_t(i % 8), 3);
    sixAlphas.Put(uint64_t(i % 8), 3);
  }
  const Block white = ColourBlock(0xFFFF, 0xFFFF, Cycle(1)).Done();
  auto withAlpha = [](Rgba8 c, uint8_t a) { return Rgba8{c.r, c.g, c.b, a}; };
  const Rgba8 w{255, 255, 255, 255};
  const Case cases[] = {
      {"four colours, two thirds between", 1, ColourBlock(0xF800, 0x001F, Cycle(4)).Done(),
       {red, blue, {170, 0, 85, 255}, {85, 0, 170, 255}, red}},
      {"three colours and transparent black", 1, ColourBlock(0x001F, 0xF800, Cycle(4)).Done(),
       {blue, red, {128, 0, 128, 255}, {0, 0, 0, 0}}},
      {"explicit alpha; colours always four", 2,
       Join(explicitAlpha.Done(), ColourBlock(0x07E0, 0x07E0, Cycle(1)).Done()),
       {withAlpha(green, 0), withAlpha(green, 17), withAlpha(green, 34), withAlpha(green, 51)}},
      {"interpolated alpha, eight values", 3, Join(eightAlphas.Done(), white),
       {withAlpha(w, 255), withAlpha(w, 0), withAlpha(w, 219), withAlpha(w, 182),
        withAlpha(w, 146), withAlpha(w, 109), withAlpha(w, 73), withAlpha(w, 36)}},
      {"interpolated alpha, six values and the ends", 3, Join(sixAlphas.Done(), white),
       {withAlpha(w, 0), withAlpha(w, 255), withAlpha(w, 51), withAlpha(w, 102),
        withAlpha(w, 153), withAlpha(w, 204), withAlpha(w, 0), withAlpha(w, 255)}},
  };
  for (const Case& c : cases) {
    BlockPixels out;
    out.fill({1, 2, 3, 4});
    if (c.format == 1) {
      DecodeBC1(std::span<const uint8_t, 8>(c.block.data(), 8), out);
    } else if (c.format == 2) {
      DecodeBC2(c.block, out);
    } else {
      DecodeBC3(c.block, out);
    }
    if (c.format == 2) {
      EXPECT_EQ(out[15].a, 255) << c.name;  // the last nibble, 15 * 17
    }
    for (size_t i = 0; i < c.firstPixels.size(); ++i) {
      const Rgba8 got = out[i], want = c.firstPixels[i];
      EXPECT_EQ(got, want) << c.name << ", pixel " << i << ": " << int(got.r) << "," << int(got.g)
                           << "," << int(got.b) << "," << int(got.a);
    }
  }
}

TEST(BlockCompression, SignedBC4AndBC5SpreadMinusOneToOneOver0To255) {
  struct Case {
    int e0, e1;  // stored bytes
    std::array<int, 16> indices;
    std::vector<uint8_t> firstValues;
  };
  const Case cases[] = {
      {0x7F, 0x81, Cycle(2), {255, 0}},                        // 127 and -127
      {0x80, 0x7F, {7, 6, 0, 1}, {255, 0, 0, 255}},            // -128 counts as -127
      {0x00, 0x00, Cycle(1), {128, 128}},                      // 0 in the middle
  };
  for (const Case& c : cases) {
    BlockWriter w;
    w.Put(uint64_t(c.e0), 8).Put(uint64_t(c.e1), 8);
    for (int index : c.indices) w.Put(uint64_t(index), 3);
    const Block block = w.Done();
    BlockValues values;
    DecodeBC4(Half(block, 0), true, values);
    for (size_t i = 0; i < c.firstValues.size(); ++i) EXPECT_EQ(values[i], c.firstValues[i]) << c.e0 << " " << i;
    // BC5 is two such blocks: red, then green; blue is 0.
    BlockPixels pixels;
    DecodeBC5(Join(block, block), true, pixels);
    EXPECT_EQ(pixels[0], (Rgba8{values[0], values[0], 0, 255}));
  }
  BlockValues unsignedValues;
  DecodeBC4(Half(BlockWriter().Put(200, 8).Put(100, 8).Put(1, 3).Done(), 0), false, unsignedValues);
  EXPECT_EQ(unsignedValues[0], 100);
  EXPECT_EQ(unsignedValues[1], 200);
}

TEST(BlockCompression, BC7Mode6InterpolatesWithFourBitWeights) {
  // Mode 6: one subset, 7-bit end points and a p-bit each, 4-bit indices. Red runs from
  // 255 (127 and p-bit 1) to 0; green is 0x55 at both ends; alpha 255 to 1.
  BlockWriter w;
  w.Put(0b1000000, 7);                     // mode 6
  w.Put(127, 7).Put(0, 7);                 // red
  w.Put(0x2A, 7).Put(0x2A, 7);             // green: 0x54 | p-bit
  w.Put(0, 7).Put(0, 7);                   // blue
  w.Put(127, 7).Put(0, 7);                 // alpha
  w.Put(1, 1).Put(1, 1);                   // p-bits
  std::array<int, 16> indices;
  for (int i = 0; i < 16; ++i) indices[size_t(i)] = i < 8 ? i : 15;
  w.Indices(indices, 4);
  BlockPixels out;
  DecodeBC7(w.Done(), out);
  // ((64 - weight) * e0 + weight * e1 + 32) >> 6 with weights 0, 4, 9, 13, ...
  EXPECT_EQ(out[0], (Rgba8{255, 0x55, 1, 255}));
  EXPECT_EQ(out[1], (Rgba8{239, 0x55, 1, 239}));
  EXPECT_EQ(out[2], (Rgba8{219, 0x55, 1, 219}));
  EXPECT_EQ(out[15], (Rgba8{1, 0x55, 1, 1}));

  BlockPixels reserved;
  DecodeBC7(Block{}, reserved);  // no mode bit at all
  EXPECT_EQ(reserved[7], Rgba8{});
}

TEST(BlockCompression, BC6HOneSubsetModeAndSignedValues) {
  // Mode 11 (bits 00011): 10-bit end points, no differences, 4-bit indices. 512 unquantizes
  // to 32800 on the 16-bit scale, then 31/64 of that is the half 0x3E0F = 1.5146484375.
  auto mode11 = [](uint32_t value) {
    BlockWriter w;
    w.Put(0b00011, 5);
    for (int i = 0; i < 6; ++i) w.Put(value, 10);
    return w.Done();
  };
  BlockFloats out;
  DecodeBC6H(mode11(512), false, out);
  EXPECT_FLOAT_EQ(out[0][0], 1.5146484375f);
  EXPECT_FLOAT_EQ(out[15][2], 1.5146484375f);
  // Signed: -256 (0x300) unquantizes to -16416, then -(16416 * 31 >> 5) is the half 0xBE1F.
  DecodeBC6H(mode11(0x300), true, out);
  EXPECT_FLOAT_EQ(out[3][1], -1.5302734375f);
  DecodeBC6H(mode11(1023), false, out);
  EXPECT_FLOAT_EQ(out[0][0], 65504.0f);  // the largest half

  // Mode 1 (bits 00) stores the other end points as 5-bit differences from the base; a
  // difference of 0 from a negative base is that base: -100 is -(6432 * 31 >> 5), the half
  // 0x9857.
  BlockWriter differences;
  differences.Put(0, 2).Put(0, 3);
  for (int c = 0; c < 3; ++c) differences.Put(0x39C, 10);
  differences.Put(0, 82 - 35).Put(0, 46);  // every other field and every index 0
  DecodeBC6H(differences.Done(), true, out);
  EXPECT_FLOAT_EQ(out[0][0], -0.0021190643310546875f);
  EXPECT_FLOAT_EQ(out[15][2], -0.0021190643310546875f);

  BlockWriter reserved;
  reserved.Put(0b10011, 5).Put(0x3FF, 10);
  out[0] = {1, 1, 1};
  DecodeBC6H(reserved.Done(), false, out);
  EXPECT_EQ(out[0], (std::array<float, 3>{0, 0, 0}));
}

}  // namespace
}  // namespace pictures
