// Feeds arbitrary bytes to the block decoders: every 16 bytes are decoded as a block of
// each format (the 8-byte formats take the first half), from a buffer of their own so that
// a read past a block is caught.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "compression/block_compression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (size_t at = 0; at + 16 <= size; at += 16) {
    std::array<uint8_t, 16> block;
    std::memcpy(block.data(), data + at, 16);
    const std::span<const uint8_t, 8> half(block.data(), 8);
    pictures::BlockPixels pixels;
    pictures::BlockValues values;
    pictures::BlockFloats floats;
    pictures::DecodeBC1(half, pixels);
    pictures::DecodeBC2(block, pixels);
    pictures::DecodeBC3(block, pixels);
    for (const bool isSigned : {false, true}) {
      pictures::DecodeBC4(half, isSigned, values);
      pictures::DecodeBC5(block, isSigned, pixels);
      pictures::DecodeBC6H(block, isSigned, floats);
      // The values are half floats, never NaN.
      for (const auto& pixel : floats)
        for (float v : pixel)
          if (std::isnan(v)) __builtin_trap();
    }
    pictures::DecodeBC7(block, pixels);
  }
  return 0;
}
