#include "pictures/formats/pcd.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "base/error.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TPCDGraphic, Bitmap)

namespace {

constexpr int64_t kSignatureOffset = 2048;
constexpr int64_t kAttributeOffset = 0x2F84B;
constexpr int64_t kDataOffset = 0x30000;
constexpr int W = 768;
constexpr int H = 512;
constexpr int kBlockBytes = W * 3;  // two luma rows and the chroma they share
constexpr int kChroma = W / 2;

// The colour conversion, split into per-sample terms so that each pixel costs three sums.
// Every term is the same double the whole expression would compute, so the sums round
// exactly as the expression does.
struct ColourTables {
  std::array<double, 256> luma{}, redC2{}, greenC2{}, greenC1{}, blueC1{};
  ColourTables() {
    for (int v = 0; v < 256; ++v) {
      luma[v] = 1.3584 * v;
      redC2[v] = 1.8215 * (v - 137);
      greenC2[v] = 0.9271435 * (v - 137);
      greenC1[v] = 0.4302726 * (v - 156);
      blueC1[v] = 2.2179 * (v - 156);
    }
  }
};

// Rounds to the nearest integer, halves to even, and limits the result to a byte.
uint8_t ToByte(double value) {
  const double r = std::nearbyint(value);
  return uint8_t(r < 0 ? 0 : r > 255 ? 255 : r);
}

// Expands one row of chroma (one sample for every two columns) to full width: the upper
// row of a pair takes its own chroma, the lower row the average with the next pair's.
void ExpandChroma(const uint8_t* c, const uint8_t* next, uint8_t* upper, uint8_t* lower) {
  for (int i = 0, j = 0; i < W; i += 2, ++j) {
    upper[i] = c[j];
    upper[i + 1] = uint8_t((c[j] + c[j + 1]) >> 1);
    lower[i] = uint8_t((c[j] + next[j]) >> 1);
    lower[i + 1] = uint8_t((c[j] + c[j + 1] + next[j] + next[j + 1]) >> 2);
  }
}

}  // namespace

void TPCDGraphic::LoadFromStream(Stream& stream) {
  Clear();
  BasePosition = stream.Position();

  std::array<char, 7> signature{};
  stream.Seek(BasePosition + kSignatureOffset);
  stream.ReadBuffer(signature.data(), signature.size());
  if (std::memcmp(signature.data(), "PCD_IPI", 7) != 0)
    throw PictureError("PCD: wrong image format.");
  uint8_t attribute = 0;
  stream.Seek(BasePosition + kAttributeOffset);
  stream.ReadBuffer(&attribute, 1);
  const int orientation = attribute & 3;
  const bool transpose = orientation & 1;
  const bool reverse = orientation & 2;

  // A pack cut short fails with the read error before the picture gets its size.
  if (stream.Size() < BasePosition + kDataOffset + int64_t(kBlockBytes) * (H / 2))
    throw StreamReadError();

  SetPixelFormat(PixelFormat::Bits24);
  if (transpose)
    SetSize(H, W);
  else
    SetSize(W, H);

  static const ColourTables tables;
  // The current block and the next one, whose chroma the lower row blends in. Each chroma
  // row carries one extra sample, a copy of its last, as the right neighbour of the last.
  std::array<uint8_t, kBlockBytes> blocks[2];
  std::array<uint8_t, kChroma + 1> c1, c2, c1Next, c2Next;
  std::array<uint8_t, W> c1Upper, c1Lower, c2Upper, c2Lower;
  std::array<uint8_t, W * 3> bgr[2];

  stream.Seek(BasePosition + kDataOffset);
  stream.ReadBuffer(blocks[0].data(), kBlockBytes);
  for (int r = 0; r < H; r += 2) {
    const int k = r / 2;
    const uint8_t* block = blocks[k % 2].data();
    const uint8_t* nextBlock = block;
    if (r < H - 2) {
      stream.ReadBuffer(blocks[(k + 1) % 2].data(), kBlockBytes);
      nextBlock = blocks[(k + 1) % 2].data();
    }
    std::memcpy(c1.data(), block + 2 * W, kChroma);
    std::memcpy(c2.data(), block + 2 * W + kChroma, kChroma);
    std::memcpy(c1Next.data(), nextBlock + 2 * W, kChroma);
    std::memcpy(c2Next.data(), nextBlock + 2 * W + kChroma, kChroma);
    for (auto* c : {&c1, &c2, &c1Next, &c2Next}) (*c)[kChroma] = (*c)[kChroma - 1];
    ExpandChroma(c1.data(), c1Next.data(), c1Upper.data(), c1Lower.data());
    ExpandChroma(c2.data(), c2Next.data(), c2Upper.data(), c2Lower.data());

    for (int half = 0; half < 2; ++half) {
      const uint8_t* luma = block + half * W;
      const uint8_t* chroma1 = half ? c1Lower.data() : c1Upper.data();
      const uint8_t* chroma2 = half ? c2Lower.data() : c2Upper.data();
      uint8_t* out = bgr[half].data();
      for (int x = 0; x < W; ++x, out += 3) {
        const double y = tables.luma[luma[x]];
        out[0] = ToByte(y + tables.blueC1[chroma1[x]]);
        out[1] = ToByte(y - tables.greenC2[chroma2[x]] - tables.greenC1[chroma1[x]]);
        out[2] = ToByte(y + tables.redC2[chroma2[x]]);
      }
    }

    if (!transpose) {
      // Orientation 2 turns the picture upside down; its columns stay as they are.
      for (int half = 0; half < 2; ++half)
        std::memcpy(ScanLine(reverse ? H - 1 - (r + half) : r + half), bgr[half].data(), W * 3);
    } else {
      // Each stored column becomes a scan line: the last column at the top for
      // orientation 1, the first for orientation 3.
      for (int x = 0; x < W; ++x) {
        uint8_t* line = ScanLine(reverse ? x : W - 1 - x) + size_t(r) * 3;
        std::memcpy(line, &bgr[0][size_t(x) * 3], 3);
        std::memcpy(line + 3, &bgr[1][size_t(x) * 3], 3);
      }
    }
  }
}

}  // namespace pictures
