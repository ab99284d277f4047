// Shared pixel routines: byte order, row colour conversion and the undo of TIFF
// horizontal prediction. 16-bit samples are little-endian words in memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pictures {

void SwapShorts(void* words, uint32_t count);
void SwapLongs(void* words, uint32_t count);
uint32_t SwapLong(uint32_t value);

// A routine that converts one row of interleaved samples into Bitmap pixels. `Count` is
// the number of samples in the row (pixels times samples per pixel).
using ColorConverter = void (*)(const void* Source, void* Dest, uint8_t BitsPerSample,
                                uint32_t Count);

void Samples16To8(const void* Source, void* Dest, uint8_t BitsPerSample, uint32_t Count);
void RGBToBGR(const void* Source, void* Dest, uint8_t BitsPerSample, uint32_t Count);
void RGBAToBGRA(const void* Source, void* Dest, uint8_t BitsPerSample, uint32_t Count);
void CMYKToBGR(const void* Source, void* Dest, uint8_t BitsPerSample, uint32_t Count);
// CIE L*a*b* (D50 white) to sRGB. 8-bit samples: L 0..255 for L* 0..100, a* and b* signed
// bytes. 16-bit samples: L 0..65535 for L* 0..100, a* and b* signed words, 256 to a unit.
void CIELabToBGR(const void* Source, void* Dest, uint8_t BitsPerSample, uint32_t Count);

// Planar converters: one pointer per plane, then the same arguments; `Count` is pixels
// times the number of planes.
void RGBPlanarToBGR(const void* R, const void* G, const void* B, void* Dest,
                    uint8_t BitsPerSample, uint32_t Count);
void CMYKPlanarToBGR(const void* C, const void* M, const void* Y, const void* K, void* Dest,
                     uint8_t BitsPerSample, uint32_t Count);
void CIELabPlanarToBGR(const void* L, const void* a, const void* b, void* Dest,
                       uint8_t BitsPerSample, uint32_t Count);

// One CIE L*a*b* colour (L* 0..100, a* and b* in their own units, D50 white) as sRGB blue,
// green, red; for readers whose samples are encoded otherwise.
void CIELabValueToBGR(float L, float a, float b, uint8_t* out);

// Linear light to 8-bit sRGB through the sRGB transfer curve, clamped: values at or below
// 0 (and NaN) give 0, values at or above 1 give 255.
uint8_t LinearToSrgb8(float linear);
// The value of an IEEE 754 half-precision float given by its 16 bits.
float HalfToFloat(uint16_t half);

// Undo horizontal differencing on a row of N + 1 pixels of 1, 3 or 4 bytes.
void UndoPredictor1(uint8_t* row, uint32_t N);
void UndoPredictor3(uint8_t* row, uint32_t N);
void UndoPredictor4(uint8_t* row, uint32_t N);

// a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// Row helpers of the readers that keep their samples in separate planes (one byte a
// sample): the planes interleaved into Bitmap pixels.
void PlanesToBGR(const uint8_t* red, const uint8_t* green, const uint8_t* blue, uint8_t* out,
                 size_t pixels);
void PlanesToBGRA(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                  const uint8_t* alpha, uint8_t* out, size_t pixels);
// The high byte of each of `count` big-endian 16-bit samples, as files store them.
void HighBytesOfBE16(const uint8_t* words, uint8_t* out, size_t count);

}  // namespace pictures
