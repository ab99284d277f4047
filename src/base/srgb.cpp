#include "base/srgb.h"

#include <array>
#include <cmath>

namespace pictures {

namespace {

double SrgbToLinear(double encoded) {
  return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

// Byte b + 1 begins where the encoded value reaches (b + 0.5) / 255: the linear values of
// those 255 steps, and for each of kBuckets equal slices of 0..1 the byte at its start.
// A slice spans less than one step (the curve is steepest at 0, 12.92 * 255 steps a unit),
// so a lookup moves on at most a step or two from its slice's byte.
constexpr int kBuckets = 4096;

struct SrgbTables {
  std::array<float, 256> steps{};
  std::array<uint8_t, kBuckets> bucketStart{};

  SrgbTables() {
    for (int b = 0; b < 255; ++b) steps[size_t(b)] = float(SrgbToLinear((b + 0.5) / 255.0));
    steps[255] = 2.0f;  // never reached: values from 1 on are 255 before the lookup
    uint8_t byte = 0;
    for (int i = 0; i < kBuckets; ++i) {
      const float start = float(i) / kBuckets;
      while (start >= steps[byte]) ++byte;
      bucketStart[size_t(i)] = byte;
    }
  }
};

const SrgbTables& Tables() {
  static const SrgbTables tables;
  return tables;
}

}  // namespace

double LinearToSrgb(double linear) {
  if (!(linear > 0)) return 0;
  if (linear >= 1) return 1;
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

uint8_t LinearToSrgbByte(float linear) {
  if (!(linear > 0)) return 0;
  if (linear >= 1) return 255;
  const SrgbTables& tables = Tables();
  uint8_t byte = tables.bucketStart[size_t(linear * kBuckets)];
  while (linear >= tables.steps[byte]) ++byte;
  return byte;
}

}  // namespace pictures
