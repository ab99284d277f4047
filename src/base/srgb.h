// The sRGB transfer curve, for readers of pictures that store linear light (OpenEXR,
// Radiance, PFM): a linear value of 0..1 becomes the 8-bit sample a screen shows.
#pragma once

#include <cstdint>

namespace pictures {

// The sRGB encoding of a linear value clamped to 0..1 (NaN counts as 0): 12.92 v up to
// 0.0031308, 1.055 v^(1/2.4) - 0.055 above.
double LinearToSrgb(double linear);

// The same as the nearest byte of 0..255, as rounding 255 * LinearToSrgb(linear) gives it,
// but through a table rather than a power, for whole pictures.
uint8_t LinearToSrgbByte(float linear);

}  // namespace pictures
