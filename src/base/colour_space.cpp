#include "base/colour_space.h"

#include <array>
#include <bit>
#include <cmath>

namespace pictures {

namespace {

struct EncodeTable : colour_tables::SRGBEncoder {
  EncodeTable() {
    for (int b = 0; b < 255; ++b) {
      const double encoded = (b + 0.5) / 255;
      steps[size_t(b)] =
          float(encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4));
    }
    steps[255] = 2.0f;  // never reached: values from 1 on are 255 before the lookup
    uint8_t byte = 0;
    for (int i = 0; i < colour_tables::kEncodeBuckets; ++i) {
      const float start = float(i) / colour_tables::kEncodeBuckets;
      while (start >= steps[byte]) ++byte;
      bucketStart[size_t(i)] = byte;
    }
  }
};

struct DecodeTable {
  DecodeTable() {
    for (int i = 0; i < 256; ++i) table[size_t(i)] = SRGBToLinear(float(i) / 255);
  }
  std::array<float, 256> table;
};

}  // namespace

const colour_tables::SRGBEncoder& colour_tables::SRGBEncode() {
  static const EncodeTable encode;
  return encode;
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
