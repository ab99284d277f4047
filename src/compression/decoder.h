// Decoders expand one packed block (a strip, a row or a whole picture) into a buffer.
// Whatever the packed data says, a decoder never reads past the PackedSize bytes it was
// given nor writes past the UnpackedSize bytes of the output buffer.
#pragma once

#include <cstdint>

namespace pictures {

class TDecoder {
 public:
  virtual ~TDecoder() = default;
  // `Source` points to the packed bytes and is advanced only by decoders whose format
  // says so (TCUTRLE); `Dest` receives at most `UnpackedSize` bytes.
  virtual void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                      int32_t UnpackedSize) = 0;
  // Packing is not supported; does nothing.
  virtual void Encode(const uint8_t*&, uint8_t*, int32_t&) {}
};

}  // namespace pictures
