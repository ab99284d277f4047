// Light and its encodings, shared by the readers of deep and floating-point samples: the
// sRGB transfer curve between linear light and the perceptual values most pictures store,
// half-precision floats, and the rounding of unit values to bytes.
#pragma once

#include <cstdint>

namespace pictures {

// The sRGB curve, both ways, on values where 0 is black and 1 full intensity. Values
// outside 0..1 (floating-point pictures and blend results hold them) follow the curve's
// formulas: negative ones its straight segment, those past 1 its power.
float SRGBToLinear(float encoded);
float LinearToSRGB(float linear);

namespace colour_tables {
inline constexpr int kEncodeSteps = 16384;
// LinearToSRGB8's table: the 8-bit sRGB value of i / kEncodeSteps, for i = 0..kEncodeSteps.
const uint8_t* SRGBEncode();
// The linear light of each 8-bit sRGB value.
const float* SRGBDecode();
}  // namespace colour_tables

// Linear light as an 8-bit sRGB value: clamped to 0..1 (NaN gives 0), through a table fine
// enough that the steep start of the curve stays within a quarter level.
inline uint8_t LinearToSRGB8(float linear) {
  if (!(linear > 0)) return 0;
  if (linear >= 1) return 255;
  static const uint8_t* const table = colour_tables::SRGBEncode();
  return table[static_cast<int>(linear * colour_tables::kEncodeSteps + 0.5f)];
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
