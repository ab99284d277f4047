// The block formats as Microsoft's Direct3D documentation describes them. Interpolated
// colours of BC1 to BC5 are rounded to the nearest value; BC6H and BC7 interpolate with
// their 6-bit weights as the format fixes.
#include "compression/block_compression.h"

#include <algorithm>

#include "base/byte_reader.h"
#include "base/colour_space.h"
#include "base/pixel_helpers.h"

namespace pictures {

namespace {

// ---------------------------------------------------------------------------------------
// BC1 to BC5

Rgba8 From565(uint16_t c) {
  const int r = c >> 11, g = (c >> 5) & 0x3F, b = c & 0x1F;
  return {uint8_t(r << 3 | r >> 2), uint8_t(g << 2 | g >> 4), uint8_t(b << 3 | b >> 2), 255};
}

// (a * wa + b * wb) / (wa + wb), rounded.
uint8_t Mix(int a, int b, int wa, int wb) {
  return uint8_t((a * wa + b * wb + (wa + wb) / 2) / (wa + wb));
}

Rgba8 MixColours(Rgba8 a, Rgba8 b, int wa, int wb) {
  return {Mix(a.r, b.r, wa, wb), Mix(a.g, b.g, wa, wb), Mix(a.b, b.b, wa, wb), 255};
}

// The colour half of BC1 to BC3 blocks; `fourColours` forces the four-colour palette that
// BC2 and BC3 always use.
void DecodeColours(std::span<const uint8_t, 8> block, bool fourColours, BlockPixels& out) {
  const uint16_t c0 = LoadU16LE(block.data());
  const uint16_t c1 = LoadU16LE(block.subspan<2, 2>().data());
  const uint32_t indices = LoadU32LE(block.subspan<4, 4>().data());
  std::array<Rgba8, 4> palette{From565(c0), From565(c1)};
  if (fourColours || c0 > c1) {
    palette[2] = MixColours(palette[0], palette[1], 2, 1);
    palette[3] = MixColours(palette[0], palette[1], 1, 2);
  } else {
    palette[2] = MixColours(palette[0], palette[1], 1, 1);
    palette[3] = {0, 0, 0, 0};
  }
  for (size_t i = 0; i < 16; ++i) {
    const Rgba8 colour = palette[(indices >> (2 * i)) & 3];
    out[i].r = colour.r;
    out[i].g = colour.g;
    out[i].b = colour.b;
    if (!fourColours) out[i].a = colour.a;
  }
}

// The eight values of a BC4 block: two ends and six between, or four between and the
// range's two ends when the first end is not the greater.
std::array<int, 8> ChannelPalette(int e0, int e1, int low, int high) {
  std::array<int, 8> values{e0, e1};
  auto between = [](int a, int b, int wa, int wb) {
    const int sum = a * wa + b * wb, n = wa + wb;
    return sum >= 0 ? (sum + n / 2) / n : -((-sum + n / 2) / n);
  };
  if (e0 > e1) {
    for (int i = 1; i <= 6; ++i) values[size_t(i + 1)] = between(e0, e1, 7 - i, i);
  } else {
    for (int i = 1; i <= 4; ++i) values[size_t(i + 1)] = between(e0, e1, 5 - i, i);
    values[6] = low;
    values[7] = high;
  }
  return values;
}

}  // namespace

void DecodeBC1(std::span<const uint8_t, 8> block, BlockPixels& out) {
  DecodeColours(block, false, out);
}

void DecodeBC2(std::span<const uint8_t, 16> block, BlockPixels& out) {
  const uint64_t alpha = LoadU64LE(block.data());
  for (size_t i = 0; i < 16; ++i) out[i].a = uint8_t(((alpha >> (4 * i)) & 0xF) * 17);
  DecodeColours(block.subspan<8, 8>(), true, out);
}

void DecodeBC3(std::span<const uint8_t, 16> block, BlockPixels& out) {
  BlockValues alpha;
  DecodeBC4(block.subspan<0, 8>(), false, alpha);
  for (size_t i = 0; i < 16; ++i) out[i].a = alpha[i];
  DecodeColours(block.subspan<8, 8>(), true, out);
}

void DecodeBC4(std::span<const uint8_t, 8> block, bool isSigned, BlockValues& out) {
  const uint64_t indices = LoadU64LE(block.data()) >> 16;
  if (!isSigned) {
    const std::array<int, 8> values = ChannelPalette(block[0], block[1], 0, 255);
    for (size_t i = 0; i < 16; ++i) out[i] = uint8_t(values[(indices >> (3 * i)) & 7]);
    return;
  }
  // Signed ends run from -127 to 127 (-128 counts as -127) and are shown on 0..255.
  auto end = [](uint8_t v) { return std::max<int>(int8_t(v), -127); };
  const std::array<int, 8> values = ChannelPalette(end(block[0]), end(block[1]), -127, 127);
  for (size_t i = 0; i < 16; ++i)
    out[i] = uint8_t(((values[(indices >> (3 * i)) & 7] + 127) * 255 + 127) / 254);
}

void DecodeBC5(std::span<const uint8_t, 16> block, bool isSigned, BlockPixels& out) {
  BlockValues red, green;
  DecodeBC4(block.subspan<0, 8>(), isSigned, red);
  DecodeBC4(block.subspan<8, 8>(), isSigned, green);
  for (size_t i = 0; i < 16; ++i) out[i] = {red[i], green[i], 0, 255};
}

namespace {

// ---------------------------------------------------------------------------------------
// What BC6H and BC7 share: the bits of a block read from the least significant on, the
// partitions of the pixels into subsets, and the interpolation weights.

class BlockBits {
 public:
  explicit BlockBits(std::span<const uint8_t, 16> block)
      : low_(LoadU64LE(block.data())), high_(LoadU64LE(block.subspan<8, 8>().data())) {}

  // The next `count` bits (at most 32) as a number; past the block's end, zeros.
  uint32_t Read(int count) {
    uint64_t window = 0;
    if (position_ < 64) {
      window = low_ >> position_;
      if (position_ > 0) window |= high_ << (64 - position_);
    } else if (position_ < 128) {
      window = high_ >> (position_ - 64);
    }
    position_ += count;
    return uint32_t(window & ((uint64_t(1) << count) - 1));
  }

 private:
  uint64_t low_, high_;
  int position_ = 0;
};

// The subset of each pixel in the 64 partitions of two subsets (BC6H uses the first 32)
// and of three subsets.
constexpr const char* kTwoSubsets[64] = {
    "0011001100110011", "0001000100010001", "0111011101110111", "0001001100110111",
    "0000000100010011", "0011011101111111", "0001001101111111", "0000000100110111",
    "0000000000010011", "0011011111111111", "0000000101111111", "0000000000010111",
    "0001011111111111", "0000000011111111", "0000111111111111", "0000000000001111",
    "0000100011101111", "0111000100000000", "0000000010001110", "0111001100010000",
    "0011000100000000", "0000100011001110", "0000000010001100", "0111001100110001",
    "0011000100010000", "0000100010001100", "0110011001100110", "0011011001101100",
    "0001011111101000", "0000111111110000", "0111000110001110", "0011100110011100",
    "0101010101010101", "0000111100001111", "0101101001011010", "0011001111001100",
    "0011110000111100", "0101010110101010", "0110100101101001", "0101101010100101",
    "0111001111001110", "0001001111001000", "0011001001001100", "0011101111011100",
    "0110100110010110", "0011110011000011", "0110011010011001", "0000011001100000",
    "0100111001000000", "0010011100100000", "0000001001110010", "0000010011100100",
    "0110110010010011", "0011011011001001", "0110001110011100", "0011100111000110",
    "0110110011001001", "0110001100111001", "0111111010000001", "0001100011100111",
    "0000111100110011", "0011001111110000", "0010001011101110", "0100010001110111",
};

constexpr const char* kThreeSubsets[64] = {
    "0011001102212222", "0001001122112221", "0000200122112211", "0222002200110111",
    "0000000011221122", "0011001100220022", "0022002211111111", "0011001122112211",
    "0000000011112222", "0000111111112222", "0000111122222222", "0012001200120012",
    "0112011201120112", "0122012201220122", "0011011211221222", "0011200122002220",
    "0001001101121122", "0111001120012200", "0000112211221122", "0022002200221111",
    "0111011102220222", "0001000122212221", "0000001101220122", "0000110022102210",
    "0122012200110000", "0012001211222222", "0110122112210110", "0000011012211221",
    "0022110211020022", "0110011020022222", "0011012201220011", "0000200022112221",
    "0000000211221222", "0222002200120011", "0011001200220222", "0120012001200120",
    "0000111122220000", "0120120120120120", "0120201212010120", "0011220011220011",
    "0011112222000011", "0101010122222222", "0000000021212121", "0022112200221122",
    "0022001100220011", "0220122102201221", "0101222222220101", "0000212121212121",
    "0101010101012222", "0222011102220111", "0002111200021112", "0000211221122112",
    "0222011101110222", "0002111211120002", "0110011001102222", "0000000021122112",
    "0110011022222222", "0022001100110022", "0022112211220022", "0000000000002112",
    "0002000100020001", "0222122202221222", "0101222222222222", "0111201122012220",
};

// The pixel of the second subset, and of the third, whose index is stored one bit short
// (its highest bit is 0); the first subset's is always pixel 0.
constexpr uint8_t kSecondAnchorOfTwo[64] = {
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
    15, 2,  8,  2,  2,  8,  8,  15, 2,  8,  2,  2,  8,  8,  2,  2,
    15, 15, 6,  8,  2,  8,  15, 15, 2,  8,  2,  2,  2,  15, 15, 6,
    6,  2,  6,  8,  15, 15, 2,  2,  15, 15, 15, 15, 15, 2,  2,  15,
};
constexpr uint8_t kSecondAnchorOfThree[64] = {
    3,  3,  15, 15, 8,  3,  15, 15, 8,  8,  6,  6,  6,  5,  3,  3,
    3,  3,  8,  15, 3,  3,  6,  10, 5,  8,  8,  6,  8,  5,  15, 15,
    8,  15, 3,  5,  6,  10, 8,  15, 15, 3,  15, 5,  15, 15, 15, 15,
    3,  15, 5,  5,  5,  8,  5,  10, 5,  10, 8,  13, 15, 12, 3,  3,
};
constexpr uint8_t kThirdAnchorOfThree[64] = {
    15, 8,  8,  3,  15, 15, 3,  8,  15, 15, 15, 15, 15, 15, 15, 8,
    15, 8,  15, 3,  15, 8,  15, 8,  3,  15, 6,  10, 15, 15, 10, 8,
    15, 3,  15, 10, 10, 8,  9,  10, 6,  15, 8,  15, 3,  6,  6,  8,
    15, 3,  15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 3,  15, 15, 8,
};

int SubsetOf(int subsets, int partition, size_t pixel) {
  if (subsets == 1) return 0;
  const char* row = subsets == 2 ? kTwoSubsets[partition] : kThreeSubsets[partition];
  return row[pixel] - '0';
}

bool IsAnchor(int subsets, int partition, size_t pixel) {
  if (pixel == 0) return true;
  if (subsets == 2) return pixel == kSecondAnchorOfTwo[partition];
  if (subsets == 3)
    return pixel == kSecondAnchorOfThree[partition] || pixel == kThirdAnchorOfThree[partition];
  return false;
}

// Reads 16 indices of `bits` bits, the anchors' one bit shorter.
std::array<uint8_t, 16> ReadIndices(BlockBits& bits, int indexBits, int subsets, int partition) {
  std::array<uint8_t, 16> indices{};
  for (size_t i = 0; i < 16; ++i)
    indices[i] = uint8_t(bits.Read(IsAnchor(subsets, partition, i) ? indexBits - 1 : indexBits));
  return indices;
}

constexpr int kWeights2[4] = {0, 21, 43, 64};
constexpr int kWeights3[8] = {0, 9, 18, 27, 37, 46, 55, 64};
constexpr int kWeights4[16] = {0, 4, 9, 13, 17, 21, 26, 30, 34, 38, 43, 47, 51, 55, 60, 64};

int Weight(int indexBits, int index) {
  return indexBits == 2 ? kWeights2[index] : indexBits == 3 ? kWeights3[index] : kWeights4[index];
}

int Interpolate(int e0, int e1, int weight) { return ((64 - weight) * e0 + weight * e1 + 32) >> 6; }

// ---------------------------------------------------------------------------------------
// BC7

struct BC7Mode {
  int subsets;
  int partitionBits;
  int rotationBits;
  int selectionBits;
  int colourBits;
  int alphaBits;
  int endpointPBits;  // one bit for each end point
  int sharedPBits;    // one bit for each subset, shared by its two end points
  int indexBits;
  int secondIndexBits;
};

constexpr BC7Mode kBC7Modes[8] = {
    {3, 4, 0, 0, 4, 0, 1, 0, 3, 0}, {2, 6, 0, 0, 6, 0, 0, 1, 3, 0},
    {3, 6, 0, 0, 5, 0, 0, 0, 2, 0}, {2, 6, 0, 0, 7, 0, 1, 0, 2, 0},
    {1, 0, 2, 1, 5, 6, 0, 0, 2, 3}, {1, 0, 2, 0, 7, 8, 0, 0, 2, 2},
    {1, 0, 0, 0, 7, 7, 1, 0, 4, 0}, {2, 6, 0, 0, 5, 5, 1, 0, 2, 0},
};

// A value of `bits` bits widened to 8 by repeating its top bits below it.
int Widen(int value, int bits) { return value << (8 - bits) | value >> (2 * bits - 8); }

}  // namespace

void DecodeBC7(std::span<const uint8_t, 16> block, BlockPixels& out) {
  BlockBits bits(block);
  int mode = 0;
  while (mode < 8 && bits.Read(1) == 0) ++mode;
  if (mode == 8) {  // reserved
    out.fill({});
    return;
  }
  const BC7Mode& m = kBC7Modes[mode];
  const int partition = int(bits.Read(m.partitionBits));
  const int rotation = int(bits.Read(m.rotationBits));
  const bool swapIndices = bits.Read(m.selectionBits) != 0;

  // End points: each channel in turn, both ends of each subset.
  const int ends = 2 * m.subsets;
  std::array<std::array<int, 4>, 6> endpoint{};
  for (int c = 0; c < 3; ++c)
    for (int e = 0; e < ends; ++e) endpoint[size_t(e)][size_t(c)] = int(bits.Read(m.colourBits));
  for (int e = 0; e < ends; ++e) endpoint[size_t(e)][3] = int(bits.Read(m.alphaBits));
  std::array<int, 6> pBit{};
  for (int e = 0; e < ends && m.endpointPBits; ++e) pBit[size_t(e)] = int(bits.Read(1));
  for (int s = 0; s < m.subsets && m.sharedPBits; ++s)
    pBit[size_t(2 * s)] = pBit[size_t(2 * s + 1)] = int(bits.Read(1));
  const int extra = m.endpointPBits | m.sharedPBits;
  for (int e = 0; e < ends; ++e) {
    auto& p = endpoint[size_t(e)];
    for (int c = 0; c < 3; ++c) p[size_t(c)] = Widen(p[size_t(c)] << extra | pBit[size_t(e)], m.colourBits + extra);
    p[3] = m.alphaBits ? Widen(p[3] << extra | pBit[size_t(e)], m.alphaBits + extra) : 255;
  }

  const std::array<uint8_t, 16> first = ReadIndices(bits, m.indexBits, m.subsets, partition);
  const std::array<uint8_t, 16> second =
      m.secondIndexBits ? ReadIndices(bits, m.secondIndexBits, 1, 0) : first;
  // Modes with two index sets take colour from the first and alpha from the second, or the
  // other way round when the selection bit is set.
  const int colourBits = swapIndices ? m.secondIndexBits : m.indexBits;
  const int alphaBits = m.secondIndexBits ? (swapIndices ? m.indexBits : m.secondIndexBits) : m.indexBits;
  for (size_t i = 0; i < 16; ++i) {
    const int s = SubsetOf(m.subsets, partition, i);
    const auto& e0 = endpoint[size_t(2 * s)];
    const auto& e1 = endpoint[size_t(2 * s + 1)];
    const int colourWeight = Weight(colourBits, swapIndices ? second[i] : first[i]);
    const int alphaWeight = Weight(alphaBits, swapIndices ? first[i] : second[i]);
    std::array<uint8_t, 4> v;
    for (size_t c = 0; c < 3; ++c) v[c] = uint8_t(Interpolate(e0[c], e1[c], colourWeight));
    v[3] = uint8_t(Interpolate(e0[3], e1[3], alphaWeight));
    // A rotation swaps alpha with red (1), green (2) or blue (3).
    if (rotation) std::swap(v[3], v[size_t(rotation - 1)]);
    out[i] = {v[0], v[1], v[2], v[3]};
  }
}

namespace {

// ---------------------------------------------------------------------------------------
// BC6H

// The fields of a BC6H block: four end points of three channels (w and x end the first
// subset, y and z the second) and the partition.
enum Field : uint8_t { RW, RX, RY, RZ, GW, GX, GY, GZ, BW, BX, BY, BZ, D };

// A run of bits of one field in the block's order: the first goes to bit `first`, the
// next ones towards bit `last` (some modes store high bits in descending order).
struct BitRun {
  Field field;
  uint8_t first, last;
};

struct BC6HMode {
  uint8_t code;  // the mode bits as a number (2 bits for the first two modes, else 5)
  int modeBits;
  int precision;  // bits of the base end point
  std::array<int, 3> deltaBits;  // bits of the other end points of red, green and blue
  bool transformed;  // the other end points are differences from the base
  int subsets;
  std::array<BitRun, 25> layout;  // the field runs after the mode bits, until a zero run
};

// The field runs of each mode; runs of zero length end a list.
constexpr BC6HMode kBC6HModes[14] = {
    {0x00, 2, 10, {5, 5, 5}, true, 2,
     {{{GY, 4, 4}, {BY, 4, 4}, {BZ, 4, 4}, {RW, 0, 9}, {GW, 0, 9}, {BW, 0, 9}, {RX, 0, 4},
       {GZ, 4, 4}, {GY, 0, 3}, {GX, 0, 4}, {BZ, 0, 0}, {GZ, 0, 3}, {BX, 0, 4}, {BZ, 1, 1},
       {BY, 0, 3}, {RY, 0, 4}, {BZ, 2, 2}, {RZ, 0, 4}, {BZ, 3, 3}, {D, 0, 4}}}},
    {0x01, 2, 7, {6, 6, 6}, true, 2,
     {{{GY, 5, 5}, {GZ, 4, 5}, {RW, 0, 6}, {BZ, 0, 1}, {BY, 4, 4}, {GW, 0, 6}, {BY, 5, 5},
       {BZ, 2, 2}, {GY, 4, 4}, {BW, 0, 6}, {BZ, 3, 3}, {BZ, 5, 4}, {RX, 0, 5}, {GY, 0, 3},
       {GX, 0, 5}, {GZ, 0, 3}, {BX, 0, 5}, {BY, 0, 3}, {RY, 0, 5}, {RZ, 0, 5}, {D, 0, 4}}}},
    {0x02, 5, 11, {5, 4, 4}, true, 2,
     {{{RW, 0, 9}, {GW, 0, 9}, {BW, 0, 9}, {RX, 0, 4}, {RW, 10, 10}, {GY, 0, 3}, {GX, 0, 3},
       {GW, 10, 10}, {BZ, 0, 0}, {GZ, 0, 3}, {BX, 0, 3}, {BW, 10, 10}, {BZ, 1, 1}, {BY, 0, 3},
       {RY, 0, 4}, {BZ, 2, 2}, {RZ, 0, 4}, {BZ, 3, 3}, {D, 0, 4}}}},
    {0x06, 5, 11, {4, 5, 4}, true, 2,
     {{{RW, 0, 9}, {GW, 0, 9}, {BW, 0, 9}, {RX, 0, 3}, {RW, 10, 10}, {GZ, 4, 4}, {GY, 0, 3},
       {GX, 0, 4}, {GW, 10, 10}, {GZ, 0, 3}, {BX, 0, 3}, {BW, 10, 10}, {BZ, 1, 1}, {BY, 0, 3},
       {RY, 0, 3}, {BZ, 0, 0}, {BZ, 2, 2}, {RZ, 0, 3}, {GY, 4, 4}, {BZ, 3, 3}, {D, 0, 4}}}},
    {0x0A, 5, 11, {4, 4, 5}, true, 2,
     {{{RW, 0, 9}, {GW, 0, 9}, {BW, 0, 9}, {RX, 0, 3}, {RW, 10, 10}, {BY, 4, 4}, {GY, 0, 3},
       {GX, 0, 3}, {GW, 10, 10}, {BZ, 0, 0}, {GZ, 0, 3}, {BX, 0, 4}, {BW, 10, 10}, {BY, 0, 3},
       {RY, 0, 3}, {BZ, 1, 2}, {RZ, 0, 3}, {BZ, 4, 4}, {BZ, 3, 3}, {D, 0, 4}}}},
    {0x0E, 5, 9, {5, 5, 5}, true, 2,
     {{{RW, 0, 8}, {BY, 4, 4}, {GW, 0, 8}, {GY, 4, 4}, {BW, 0, 8}, {BZ, 4, 4}, {RX, 0, 4},
       {GZ, 4, 4}, {GY, 0, 3}, {GX, 0, 4}, {BZ, 0, 0}, {GZ, 0, 3}, {BX, 0, 4}, {BZ, 1, 1},
       {BY, 0, 3}, {RY, 0, 4}, {BZ, 2, 2}, {RZ, 0, 4}, {BZ, 3, 3}, {D, 0, 4}}}},
    {0x12, 5, 8, {6, 5, 5}, true, 2,
     {{{RW, 0, 7}, {GZ, 4, 4}, {BY, 4, 4}, {GW, 0, 7}, {BZ, 2, 2}, {GY, 4, 4}, {BW, 0, 7},
       {BZ, 3, 4}, {RX, 0, 5}, {GY, 0, 3}, {GX, 0, 4}, {BZ, 0, 0}, {GZ, 0, 3}, {BX, 0, 4},
       {BZ, 1, 1}, {BY, 0, 3}, {RY, 0, 5}, {RZ, 0, 5}, {D, 0, 4}}}},
    {0x16, 5, 8, {5, 6, 5}, true, 2,
     {{{RW, 0, 7}, {BZ, 0, 0}, {BY, 4, 4}, {GW, 0, 7}, {GY, 5, 4}, {BW, 0, 7}, {GZ, 5, 5},
       {BZ, 4, 4}, {RX, 0, 4}, {GZ, 4, 4}, {GY, 0, 3}, {GX, 0, 5}, {GZ, 0, 3}, {BX, 0, 4},
       {BZ, 1, 1}, {BY, 0, 3}, {RY, 0, 4}, {BZ, 2, 2}, {RZ, 0, 4}, {BZ, 3, 3}, {D, 0, 4}}}},
    {0x1A, 5, 8, {5, 5, 6}, true, 2,
     {{{RW, 0, 7}, {BZ, 1, 1}, {BY, 4, 4}, {GW, 0, 7}, {BY, 5, 5}, {GY, 4, 4}, {BW, 0, 7},
       {BZ, 5, 4}, {RX, 0, 4}, {GZ, 4, 4}, {GY, 0, 3}, {GX, 0, 4}, {BZ, 0, 0}, {GZ, 0, 3},
       {BX, 0, 5}, {BY, 0, 3}, {RY, 0, 4}, {BZ, 2, 2}, {RZ, 0, 4}, {BZ, 3, 3}, {D, 0, 4}}}},
    {0x1E, 5, 6, {6, 6, 6}, false, 2,
     {{{RW, 0, 5}, {GZ, 4, 4}, {BZ, 0, 1}, {BY, 4, 4}, {GW, 0, 5}, {GY, 5, 5}, {BY, 5, 5},
       {BZ, 2, 2}, {GY, 4, 4}, {BW, 0, 5}, {GZ, 5, 5}, {BZ, 3, 3}, {BZ, 5, 4}, {RX, 0, 5},
       {GY, 0, 3}, {GX, 0, 5}, {GZ, 0, 3}, {BX, 0, 5}, {BY, 0, 3}, {RY, 0, 5}, {RZ, 0, 5},
       {D, 0, 4}}}},
    {0x03, 5, 10, {10, 10, 10}, false, 1,
     {{{RW, 0, 9}, {GW, 0, 9}, {BW, 0, 9}, {RX, 0, 9}, {GX, 0, 9}, {BX, 0, 9}}}},
    {0x07, 5, 11, {9, 9, 9}, true, 1,
     {{{RW, 0, 9}, {GW, 0, 9}, {BW, 0, 9}, {RX, 0, 8}, {RW, 10, 10}, {GX, 0, 8}, {GW, 10, 10},
       {BX, 0, 8}, {BW, 10, 10}}}},
    {0x0B, 5, 12, {8, 8, 8}, true, 1,
     {{{RW, 0, 9}, {GW, 0, 9}, {BW, 0, 9}, {RX, 0, 7}, {RW, 11, 10}, {GX, 0, 7}, {GW, 11, 10},
       {BX, 0, 7}, {BW, 11, 10}}}},
    {0x0F, 5, 16, {4, 4, 4}, true, 1,
     {{{RW, 0, 9}, {GW, 0, 9}, {BW, 0, 9}, {RX, 0, 3}, {RW, 15, 10}, {GX, 0, 3}, {GW, 15, 10},
       {BX, 0, 3}, {BW, 15, 10}}}},
};

const BC6HMode* FindBC6HMode(BlockBits& bits) {
  const uint32_t low = bits.Read(2);
  if (low < 2) return &kBC6HModes[low];
  const uint32_t code = low | bits.Read(3) << 2;
  for (const BC6HMode& mode : kBC6HModes)
    if (mode.modeBits == 5 && mode.code == code) return &mode;
  return nullptr;  // reserved
}

int SignExtend(int value, int bits) {
  const int sign = 1 << (bits - 1);
  return (value & (sign - 1)) - (value & sign);
}

// An end point component of `bits` bits on the 16-bit scale the interpolation works in.
int Unquantize(int value, int bits, bool isSigned) {
  if (!isSigned) {
    if (bits >= 15 || value == 0) return value;
    if (value == (1 << bits) - 1) return 0xFFFF;
    return ((value << 16) + 0x8000) >> bits;
  }
  if (bits >= 16) return value;
  const bool negative = value < 0;
  const int magnitude = negative ? -value : value;
  int result;
  if (magnitude == 0)
    result = 0;
  else if (magnitude >= (1 << (bits - 1)) - 1)
    result = 0x7FFF;
  else
    result = ((magnitude << 15) + 0x4000) >> (bits - 1);
  return negative ? -result : result;
}

// An interpolated component to its half float bits: the 16-bit scale takes 31/64 (unsigned)
// or 31/32 (signed) of it to the largest finite half.
uint16_t FinishUnquantize(int value, bool isSigned) {
  if (!isSigned) return uint16_t((value * 31) >> 6);
  if (value < 0) return uint16_t(0x8000 | (((-value) * 31) >> 5));
  return uint16_t((value * 31) >> 5);
}

}  // namespace

void DecodeBC6H(std::span<const uint8_t, 16> block, bool isSigned, BlockFloats& out) {
  BlockBits bits(block);
  const BC6HMode* mode = FindBC6HMode(bits);
  if (!mode) {
    for (auto& pixel : out) pixel = {0, 0, 0};
    return;
  }
  std::array<int, 13> field{};
  for (const BitRun& run : mode->layout) {
    if (run.first == 0 && run.last == 0 && run.field == RW) break;  // the end of the list
    const int step = run.last >= run.first ? 1 : -1;
    for (int b = run.first;; b += step) {
      field[run.field] |= int(bits.Read(1)) << b;
      if (b == run.last) break;
    }
  }
  const int partition = field[D];

  // End points: [subset end][channel], w x y z in order.
  std::array<std::array<int, 3>, 4> endpoint;
  for (int c = 0; c < 3; ++c)
    for (int e = 0; e < 4; ++e) endpoint[size_t(e)][size_t(c)] = field[size_t(4 * c + e)];
  const int ends = 2 * mode->subsets;
  for (size_t c = 0; c < 3; ++c) {
    const int precision = mode->precision;
    if (isSigned) endpoint[0][c] = SignExtend(endpoint[0][c], precision);
    for (size_t e = 1; e < size_t(ends); ++e) {
      int& v = endpoint[e][c];
      const int stored = mode->transformed ? mode->deltaBits[c] : precision;
      if (isSigned || mode->transformed) v = SignExtend(v, stored);
      if (mode->transformed) {
        v = (endpoint[0][c] + v) & ((1 << precision) - 1);
        if (isSigned) v = SignExtend(v, precision);
      }
    }
    for (size_t e = 0; e < size_t(ends); ++e)
      endpoint[e][c] = Unquantize(endpoint[e][c], precision, isSigned);
  }

  const int indexBits = mode->subsets == 2 ? 3 : 4;
  const std::array<uint8_t, 16> indices = ReadIndices(bits, indexBits, mode->subsets, partition);
  for (size_t i = 0; i < 16; ++i) {
    const int s = SubsetOf(mode->subsets, partition, i);
    const int weight = Weight(indexBits, indices[i]);
    for (size_t c = 0; c < 3; ++c) {
      const int v = Interpolate(endpoint[size_t(2 * s)][c], endpoint[size_t(2 * s + 1)][c], weight);
      out[i][c] = HalfToFloat(FinishUnquantize(v, isSigned));
    }
  }
}

}  // namespace pictures
