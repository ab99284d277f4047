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

// Linear light as an 8-bit sRGB value: clamped to 0..1 (NaN gives 0), through a table fine
// enough that the steep start of the curve stays within a quarter level.
uint8_t LinearToSRGB8(float linear);
// The linear light of an 8-bit sRGB value.
float SRGB8ToLinear(uint8_t encoded);

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
