// LZW decoders of TIFF (compression 5) and GIF.
#pragma once

#include <cstdint>

#include "compression/decoder.h"

namespace pictures {

// TIFF LZW: codes most significant bit first, clear code 256, early change of the width.
// Raises PictureError("TIF LZW: invalid opcode.") on an impossible code.
class TTIFFLZW : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
};

// GIF LZW: codes least significant bit first, the first code width from the file.
// Raises PictureError("GIF LZW: invalid opcode.") on an impossible code.
class TGIFLZW : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
  uint8_t InitialCodeSize = 8;  // set by the GIF reader before Decode
};

}  // namespace pictures
