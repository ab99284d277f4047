// The separate paths behind the pixel helpers that have a faster form on some processors.
// RGBToBGR, RGBAToBGRA and RGBPlanarToBGR choose one of them at run time for 8-bit samples;
// every path gives exactly the result of the plain one and writes no byte past the pixels
// it converts. Tests call each path directly to check that they agree.
#pragma once

#include <cstdint>

namespace pictures::pixel_paths {

// Plain C++, for every processor. `in` may be `out` (the conversion is then in place).
void RGBToBGRPlain(const uint8_t* in, uint8_t* out, uint32_t pixels);
void RGBAToBGRAPlain(const uint8_t* in, uint8_t* out, uint32_t pixels);
void RGBPlanarToBGRPlain(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* out,
                         uint32_t pixels);

// True when the processor has SSSE3 byte shuffles; the routines below may be called only
// then (elsewhere they are the plain ones).
bool HasByteShuffles();
void RGBToBGRShuffle(const uint8_t* in, uint8_t* out, uint32_t pixels);
void RGBAToBGRAShuffle(const uint8_t* in, uint8_t* out, uint32_t pixels);
void RGBPlanarToBGRShuffle(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* out,
                           uint32_t pixels);

}  // namespace pictures::pixel_paths
