#include "base/colour_space.h"

#include <array>
#include <bit>
#include <cmath>

namespace pictures {

namespace {

class SRGBEncoder {
 public:
  static constexpr int kSteps = 16384;
  SRGBEncoder() {
    for (int i = 0; i <= kSteps; ++i) {
      const double v = double(i) / kSteps;
      const double e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
      table_[size_t(i)] = static_cast<uint8_t>(std::lround(255 * e));
    }
  }
  uint8_t operator()(float linear) const {
    if (!(linear > 0)) return 0;
    if (linear >= 1) return 255;
    return table_[static_cast<size_t>(linear * kSteps + 0.5f)];
  }

 private:
  std::array<uint8_t, kSteps + 1> table_;
};

struct SRGBDecoder {
  SRGBDecoder() {
    for (int i = 0; i < 256; ++i) table[size_t(i)] = SRGBToLinear(float(i) / 255);
  }
  std::array<float, 256> table;
};

}  // namespace

float SRGBToLinear(float encoded) {
  return encoded <= 0.04045f ? encoded / 12.92f : std::pow((encoded + 0.055f) / 1.055f, 2.4f);
}

float LinearToSRGB(float linear) {
  return linear <= 0.0031308f ? linear * 12.92f : 1.055f * std::pow(linear, 1 / 2.4f) - 0.055f;
}

uint8_t LinearToSRGB8(float linear) {
  static const SRGBEncoder encoder;
  return encoder(linear);
}

float SRGB8ToLinear(uint8_t encoded) {
  static const SRGBDecoder decoder;
  return decoder.table[encoded];
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
