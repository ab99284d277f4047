// LZW decoders of TIFF (compression 5) and GIF.
#pragma once

#include <cstdint>
#include <memory>

#include "compression/decoder.h"

namespace pictures {

// The string table of an LZW decoder. A new string is always the string written before
// it plus one byte, so each entry is kept as the place where that string already stands
// (in the output, or for a root code in a table of single bytes) and its length; a code
// is then expanded by one forward copy. At about 70 KiB, decoders keep it on the heap.
struct LZWStringTable {
  struct Entry {
    const uint8_t* start;
    uint32_t length;
  };
  // One spare entry after the last takes the writes of a full table.
  Entry entries[4096 + 1] = {};
  // The root codes below this hold their single-byte strings.
  uint32_t rootCount = 0;
  // The last byte of each entry, kept across calls like the table itself.
  uint8_t lastByte[4096] = {};
};

// TIFF LZW: codes most significant bit first, clear code 256, early change of the width.
// Raises PictureError("TIF LZW: invalid opcode.") on an impossible code.
class TTIFFLZW : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;

 private:
  std::unique_ptr<LZWStringTable> table_ = std::make_unique<LZWStringTable>();
};

// GIF LZW: codes least significant bit first, the first code width from the file.
// Raises PictureError("GIF LZW: invalid opcode.") on an impossible code.
class TGIFLZW : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
  uint8_t InitialCodeSize = 8;  // set by the GIF reader before Decode

 private:
  std::unique_ptr<LZWStringTable> table_ = std::make_unique<LZWStringTable>();
};

// The most bytes `packedBytes` bytes of LZW codes can expand to, for codes whose first
// width is `rootBits` + 1 bits (TIFF: 8 root bits; GIF: its minimum code size). Each new
// string is the one written before it plus one byte, so the n-th code after a clear names
// at most n bytes; no string is longer than the 4096-entry table allows (4095 - 2^rootBits
// bytes), and no code is narrower than the first width. Readers check their picture
// against this before they allocate it.
uint64_t LZWMaxUnpacked(uint64_t packedBytes, unsigned rootBits);

}  // namespace pictures
