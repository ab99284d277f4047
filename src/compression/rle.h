// Run-length decoders of the picture formats, and the Targa packet routine.
#pragma once

#include <cstdint>

#include "compression/decoder.h"

namespace pictures {

// PackBits (TIFF compression 32773, Photoshop): ends when PackedSize bytes are consumed.
class TPackbitsRLE : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
};

// PCX: ends when UnpackedSize bytes are written.
class TPCXRLE : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
};

// SGI: ends at a count of 0. SampleSize 1 means 8-bit samples, any other value 16-bit
// big-endian samples of which the most significant byte is kept.
class TSGIRLE : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
  uint8_t SampleSize = 1;
};

// CUT: one line, ends at a zero byte and leaves Source just past it.
class TCUTRLE : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
};

// Wavefront RLA: ends when PackedSize bytes are consumed.
class TRLADecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
};

// Expands Targa packets until at least Count bytes are written; returns the packed bytes
// consumed (0 for an unknown depth). Reads at most SourceSize bytes and writes at most
// DestSize bytes, whatever the packets say.
uint32_t DecodeTargaRLE(const uint8_t* Source, uint8_t* Dest, uint32_t Count,
                        uint32_t BitsPerPixel, uint32_t SourceSize, uint32_t DestSize);

}  // namespace pictures
