#include "base/colour_space.h"

#include <array>
#include <bit>
#include <cmath>

namespace pictures {

namespace {

struct EncodeTable {
  EncodeTable() {
    for (int i = 0; i <= colour_tables::kEncodeSteps; ++i) {
      const double v = double(i) / colour_tables::kEncodeSteps;
      const double e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
      table[size_t(i)] = static_cast<uint8_t>(std::lround(255 * e));
    }
  }
  std::array<uint8_t, colour_tables::kEncodeSteps + 1> table;
};

struct DecodeTable {
  DecodeTable() {
    for (int i = 0; i < 256; ++i) table[size_t(i)] = SRGBToLinear(float(i) / 255);
  }
  std::array<float, 256> table;
};

}  // namespace

const uint8_t* colour_tables::SRGBEncode() {
  static const EncodeTable encode;
  return encode.table.data();
}

const float* colour_tables::SRGBDecode() {
  static const DecodeTable decode;
  return decode.table.data();
}

float SRGBToLinear(float encoded) {
  return encoded <= 0.04045f ? encoded / 12.92f : std::pow((encoded + 0.055f) / 1.055f, 2.4f);
}

float LinearToSRGB(float linear) {
  return linear <= 0.0031308f ? linear * 12.92f : 1.055f * std::pow(linear, 1 / 2.4f) - 0.055f;
}

float HalfToFloat(uint16_t half) {
  const uint32_t sign = uint32_t(half & 0x8000) << 16;
  const uint32_t exponent = half >> 10 & 0x1F;
  const uint32_t fraction = half & 0x3FF;
  if (exponent == 0) {
    // Zero or subnormal: the fraction in units of 2^-24.
    const float magnitude = std::ldexp(float(fraction), -24);
    return sign ? -magnitude : magnitude;
  }
  const uint32_t bits = exponent == 0x1F ? sign | 0x7F800000 | fraction << 13
                                         : sign | (exponent + 112) << 23 | fraction << 13;
  return std::bit_cast<float>(bits);
}

}  // namespace pictures
