// Light and its encodings, shared by the readers of deep and floating-point samples: the
// sRGB transfer curve between linear light and the perceptual values most pictures store,
// half-precision floats, and the rounding of unit values to bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pictures {

// The sRGB curve, both ways, on values where 0 is black and 1 full intensity. Values
// outside 0..1 (floating-point pictures and blend results hold them) follow the curve's
// formulas: negative ones its straight segment, those past 1 its power.
float SRGBToLinear(float encoded);
float LinearToSRGB(float linear);

namespace colour_tables {
// LinearToSRGB8's tables. Byte b + 1 begins where the encoded value reaches (b + 0.5) / 255:
// `steps` holds the linear light of those 255 points, and `bucketStart`, for each of
// kEncodeBuckets equal slices of 0..1, the byte at the slice's start. A slice spans less
// than one step (the curve is steepest at 0, 12.92 * 255 steps a unit), so a lookup moves
// on at most a step or two from its slice's byte.
inline constexpr int kEncodeBuckets = 4096;
struct SRGBEncoder {
  std::array<float, 256> steps{};
  std::array<uint8_t, kEncodeBuckets> bucketStart{};
};
const SRGBEncoder& SRGBEncode();
// The linear light of each 8-bit sRGB value.
const float* SRGBDecode();
}  // namespace colour_tables

// Linear light as an 8-bit sRGB value: clamped to 0..1 (NaN gives 0), the byte that
// rounding 255 times the curve gives, through tables rather than a power.
inline uint8_t LinearToSRGB8(float linear) {
  if (!(linear > 0)) return 0;
  if (linear >= 1) return 255;
  static const colour_tables::SRGBEncoder& table = colour_tables::SRGBEncode();
  uint8_t byte = table.bucketStart[static_cast<size_t>(linear * colour_tables::kEncodeBuckets)];
  while (linear >= table.steps[byte]) ++byte;
  return byte;
}
// The linear light of an 8-bit sRGB value.
inline float SRGB8ToLinear(uint8_t encoded) {
  static const float* const table = colour_tables::SRGBDecode();
  return table[encoded];
}

// A value of 0..1 as a byte, rounded; clamped, NaN gives 0.
inline uint8_t UnitToByte(float value) {
  if (!(value > 0)) return 0;
  if (value >= 1) return 255;
  return static_cast<uint8_t>(value * 255 + 0.5f);
}

// An IEEE half-precision number (sign, 5-bit exponent, 10-bit fraction) as a float;
// infinities and NaN stay what they are.
float HalfToFloat(uint16_t half);

}  // namespace pictures
