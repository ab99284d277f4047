// LZW decoders of TIFF and GIF.
//
// Both decode with a 4096-entry string table. Instead of prefix chains unwound through a
// reversal stack, every entry records where its string already stands in the output:
// entry k is always "the string written before it plus the first byte of the string
// written after it", which is the run of output bytes starting where the earlier string
// starts, one byte longer. Expanding a code is then a single forward copy, and no corrupt
// code can make a chain loop or outgrow a stack.
#include "compression/lzw.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "pictures/error.h"

namespace pictures {

namespace {

constexpr uint32_t kTableSize = 4096;
constexpr unsigned kMaxWidth = 12;

enum class Flavour { Tiff, Gif };

inline uint64_t Load64BE(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

inline uint64_t Load64LE(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Copies n >= 1 bytes from s to d, where s + n <= d: the source lies wholly before the
// destination, so overlapping word copies in increasing order are safe. Short strings
// are the common case and do not pay for a library call.
inline void CopyString(uint8_t* d, const uint8_t* s, size_t n) {
  if (n >= 8) {
    if (n > 64) {
      std::memcpy(d, s, n);
      return;
    }
    for (size_t i = 0; i + 8 <= n; i += 8) std::memcpy(d + i, s + i, 8);
    std::memcpy(d + n - 8, s + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(d, s, 4);
    std::memcpy(d + n - 4, s + n - 4, 4);
  } else {
    d[0] = s[0];
    if (n > 1) {
      d[1] = s[1];
      d[n - 1] = s[n - 1];
    }
  }
}

// Decodes one block. TIFF codes come most significant bit first and the width grows one
// entry early (when the next free entry equals the mask); GIF codes come least significant
// bit first and the width grows once the entry at the mask has been filled.
template <Flavour F>
void DecodeBlock(LZWStringTable& table, unsigned rootBits, const uint8_t* src, int32_t packedSize,
                 uint8_t* dest, int32_t unpackedSize, const char* message) {
  if (packedSize <= 0 || unpackedSize <= 0) return;
  const uint32_t clearCode = 1u << rootBits;
  const uint32_t eoiCode = clearCode + 1;
  const uint32_t firstFree = clearCode + 2;
  const unsigned firstWidth = rootBits + 1;

  unsigned width = firstWidth;
  uint32_t mask = (1u << width) - 1;
  uint32_t freeCode = firstFree;
  bool havePrevious = false;  // false right after a clear: the next code starts afresh
  size_t prevOffset = 0;      // where the string written last starts, and its length
  size_t prevLength = 0;

  const uint8_t* p = src;
  const uint8_t* const end = src + packedSize;
  uint8_t* out = dest;
  uint8_t* const outEnd = dest + unpackedSize;
  uint64_t acc = 0;  // TIFF: valid bits at the top; GIF: valid bits at the bottom
  unsigned bits = 0;

  for (;;) {
    if (bits < width) {
      if (end - p >= 8) {
        // Whole bytes are counted; the bits of a partly taken byte are loaded again, into
        // the same place, by the next refill.
        if constexpr (F == Flavour::Tiff) {
          acc |= Load64BE(p) >> bits;
        } else {
          acc |= Load64LE(p) << bits;
        }
        const unsigned taken = (63 - bits) >> 3;
        p += taken;
        bits += taken * 8;
      } else {
        while (bits <= 56 && p < end) {
          if constexpr (F == Flavour::Tiff) {
            acc |= uint64_t(*p++) << (56 - bits);
          } else {
            acc |= uint64_t(*p++) << bits;
          }
          bits += 8;
        }
        if (bits < width) return;  // the packed bytes are used up
      }
    }
    uint32_t code;
    if constexpr (F == Flavour::Tiff) {
      code = static_cast<uint32_t>(acc >> (64 - width));
      acc <<= width;
    } else {
      code = static_cast<uint32_t>(acc) & mask;
      acc >>= width;
    }
    bits -= width;

    if (code == eoiCode) return;
    if (out == outEnd) return;
    if (code == clearCode) {
      width = firstWidth;
      mask = (1u << width) - 1;
      freeCode = firstFree;
      havePrevious = false;
      continue;
    }
    if (code > freeCode) throw PictureError(message);

    const size_t start = static_cast<size_t>(out - dest);
    if (!havePrevious) {
      // The first code of a table writes one byte. Valid data sends a root code here; a
      // code naming the next free entry writes whatever last byte that entry holds.
      *out++ = code < clearCode ? static_cast<uint8_t>(code) : table.lastByte[code];
      prevOffset = start;
      prevLength = 1;
      havePrevious = true;
      continue;
    }

    const size_t room = static_cast<size_t>(outEnd - out);
    size_t length;
    uint8_t first;  // the first byte of this code's string, read from where it came from
    if (code < clearCode) {
      first = static_cast<uint8_t>(code);
      *out++ = first;
      length = 1;
    } else if (code < freeCode) {
      const LZWStringTable::Entry e = table.entries[code];
      length = e.length;
      first = dest[e.offset];
      const size_t n = std::min<size_t>(length, room);
      CopyString(out, dest + e.offset, n);
      out += n;
    } else {
      // The code of the entry about to be made: the previous string plus its own first
      // byte, which immediately follows it in the output.
      length = prevLength + 1;
      first = dest[prevOffset];
      const size_t n = std::min(prevLength, room);
      CopyString(out, dest + prevOffset, n);
      out += n;
      if (n < room) *out++ = first;
    }

    // A full table takes no new entries until the next clear code.
    if (freeCode < kTableSize) {
      table.entries[freeCode] = {static_cast<uint32_t>(prevOffset),
                                 static_cast<uint32_t>(prevLength + 1)};
      table.lastByte[freeCode] = first;
      if constexpr (F == Flavour::Tiff) {
        ++freeCode;
        if (freeCode == mask && width < kMaxWidth) mask = (1u << ++width) - 1;
      } else {
        if (freeCode == mask && width < kMaxWidth) mask = (1u << ++width) - 1;
        ++freeCode;
      }
    }
    prevOffset = start;
    prevLength = length;
  }
}

}  // namespace

void TTIFFLZW::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                      int32_t UnpackedSize) {
  DecodeBlock<Flavour::Tiff>(table_, 8, Source, PackedSize, Dest, UnpackedSize,
                             "TIF LZW: invalid opcode.");
}

void TGIFLZW::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                     int32_t UnpackedSize) {
  // A minimum code size above 11 leaves no room in a 12-bit table for a single entry; such
  // data cannot be decoded, and nothing is written.
  if (InitialCodeSize > kMaxWidth - 1) return;
  DecodeBlock<Flavour::Gif>(table_, InitialCodeSize, Source, PackedSize, Dest, UnpackedSize,
                            "GIF LZW: invalid opcode.");
}

}  // namespace pictures
