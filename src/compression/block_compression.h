// Decoders of the block-compressed texture formats BC1 to BC7 (DXT1 to DXT5, ATI1 and ATI2
// in their older names). Each codes a block of 4 x 4 pixels in 8 or 16 bytes; every decoder
// writes the block's 16 pixels row by row, top row first. Any bytes are a block: the
// decoders read nothing beyond their block and give reserved modes as zeros.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace pictures {

struct Rgba8 {
  uint8_t r = 0, g = 0, b = 0, a = 0;
  friend bool operator==(const Rgba8&, const Rgba8&) = default;
};

using BlockPixels = std::array<Rgba8, 16>;
using BlockValues = std::array<uint8_t, 16>;
// Linear red, green and blue, as half floats give them.
using BlockFloats = std::array<std::array<float, 3>, 16>;

// BC1: two RGB 5:6:5 colours and two bits a pixel; where the first colour is not greater
// than the second, index 3 is transparent black.
void DecodeBC1(std::span<const uint8_t, 8> block, BlockPixels& out);
// BC2: four bits of alpha a pixel, then a BC1 colour block (always four colours).
void DecodeBC2(std::span<const uint8_t, 16> block, BlockPixels& out);
// BC3: a BC4 block of alpha, then a BC1 colour block (always four colours).
void DecodeBC3(std::span<const uint8_t, 16> block, BlockPixels& out);
// BC4: one channel, two end values and three bits a pixel. Signed values (-1 to 1) are
// given on 0..255 with 0 at 128.
void DecodeBC4(std::span<const uint8_t, 8> block, bool isSigned, BlockValues& out);
// BC5: two BC4 blocks, red and green; blue is 0 and alpha 255.
void DecodeBC5(std::span<const uint8_t, 16> block, bool isSigned, BlockPixels& out);
// BC6H: half-float RGB, unsigned or signed, in one of 14 modes.
void DecodeBC6H(std::span<const uint8_t, 16> block, bool isSigned, BlockFloats& out);
// BC7: RGB or RGBA in one of 8 modes.
void DecodeBC7(std::span<const uint8_t, 16> block, BlockPixels& out);

}  // namespace pictures
