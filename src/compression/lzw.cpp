// LZW decoders of TIFF and GIF.
//
// Both decode with a 4096-entry string table. Instead of prefix chains unwound through a
// reversal stack, every entry records where its string already stands in the output:
// entry k is always "the string written before it plus the first byte of the string
// written after it", which is the run of output bytes starting where the earlier string
// starts, one byte longer. Expanding a code is then a single forward copy, and no corrupt
// code can make a chain loop or outgrow a stack.
//
// Most codes name a short string. While the output has room to spare, such a string is
// copied with one 16-byte load and store, which leaves up to 15 bytes of scratch after
// the string; the next string overwrites them. So that a decode that stops early leaves
// the bytes after its output as they were, the original bytes ahead of the output are
// kept in a small save area before the first such store reaches them, and put back on
// every way out.
#include "compression/lzw.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/byte_reader.h"
#include "base/error.h"

namespace pictures {

namespace {

constexpr uint32_t kTableSize = 4096;
constexpr unsigned kMaxWidth = 12;

// Strings up to this long are copied as one block of this size.
constexpr size_t kBlock = 16;
// The short copies run only while this much output room is left, so that a block store
// and the save area ahead of it stay inside the output.
constexpr size_t kFastRoom = 4 * kBlock;

enum class Flavour { Tiff, Gif };

// The one-byte strings of the root codes: byte i at index i, followed by room for a block
// load. Root codes above 255 (GIF code sizes above 8) stand for their low byte.
struct RootStrings {
  uint8_t bytes[256 + kBlock];
};
constexpr RootStrings MakeRootStrings() {
  RootStrings roots{};
  for (int i = 0; i < 256; ++i) roots.bytes[i] = static_cast<uint8_t>(i);
  return roots;
}
constexpr RootStrings kRootStrings = MakeRootStrings();

struct Block {
  uint64_t lo, hi;
};

// Copies kBlock bytes; all are loaded before any is stored, so the source may run into
// the destination.
inline void CopyBlock(uint8_t* d, const uint8_t* s) {
  Block b;
  std::memcpy(&b, s, sizeof b);
  std::memcpy(d, &b, sizeof b);
}

// Copies n >= 1 bytes from s to d, where s + n <= d: the source lies wholly before the
// destination, so overlapping word copies in increasing order are safe. Nothing after
// d + n is written.
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

// The original bytes of the output just ahead of the block copies. Each part holds
// kSaved bytes from `at`; the two parts together always cover the bytes from the current
// output position up to `end`, the first byte that no block store has reached.
class SaveArea {
 public:
  static constexpr size_t kSaved = 2 * kBlock;

  explicit SaveArea(uint8_t* start) : end_(start) {}

  // Before a block store at `out`: keeps the next original bytes while the store would
  // reach past those kept. Needs kSaved + kBlock bytes of room after `out`.
  inline void Before(uint8_t* out) {
    if (out + kBlock > end_) [[unlikely]]
      Keep(out);
  }

  // Puts the original bytes back from `out` (the end of the decoded output) up to the
  // first byte that no block store reached.
  void Restore(uint8_t* out) const {
    for (const Part& part : parts_) {
      if (!part.at) continue;
      for (uint8_t* q = std::max(out, part.at); q < part.at + kSaved && q < end_; ++q)
        *q = part.bytes[q - part.at];
    }
  }

 private:
  struct Part {
    uint8_t* at = nullptr;
    uint8_t bytes[kSaved];
  };

  void Keep(uint8_t* out) {
    // Output written exactly may have passed the kept bytes; nothing after it is touched.
    if (out >= end_) end_ = out;
    next_ ^= 1;
    parts_[next_].at = end_;
    std::memcpy(parts_[next_].bytes, end_, kSaved);
    end_ += kSaved;
  }

  uint8_t* end_;
  unsigned next_ = 0;
  Part parts_[2];
};

// Records the last byte of the entries from `firstFree` up to `freeCode`, which the first
// code after a clear may ask for. It is the first byte of the string written after the
// one the entry starts with, so it stands in the output at the entry's end.
inline void NoteLastBytes(LZWStringTable& table, uint32_t firstFree, uint32_t freeCode) {
  for (uint32_t k = firstFree; k < freeCode; ++k) {
    const LZWStringTable::Entry& e = table.entries[k];
    table.lastByte[k] = e.start[e.length - 1];
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

  LZWStringTable::Entry* const entries = table.entries;
  for (uint32_t c = table.rootCount; c < clearCode; ++c)
    entries[c] = {kRootStrings.bytes + (c & 0xFF), 1};
  // Entries from the clear code on are made by this call. The clear and end codes are
  // marked as too long for a block copy, which sends them to the checks of the long path.
  table.rootCount = clearCode;
  entries[clearCode] = entries[eoiCode] = {kRootStrings.bytes, UINT32_MAX};

  unsigned width = firstWidth;
  uint32_t mask = (1u << width) - 1;
  // The next free entry once a table has its first string; 0 right after a clear code,
  // when the next code starts afresh (the free entry is then `firstFree`). Codes below it
  // name strings that exist. A full table counts as kTableSize and puts the entries it
  // does not take into the spare entry after the last.
  uint32_t limit = 0;
  uint8_t* prev = dest;  // where the string written last starts

  const uint8_t* p = src;
  const uint8_t* const end = src + packedSize;
  uint8_t* out = dest;
  uint8_t* const outEnd = dest + unpackedSize;
  // Block copies run while `out` is below this: kFastRoom bytes of room or more.
  uint8_t* const fastEnd =
      dest + std::max<int64_t>(int64_t(unpackedSize) - int64_t(kFastRoom) + 1, 0);
  uint64_t acc = 0;  // TIFF: valid bits at the top; GIF: valid bits at the bottom
  unsigned bits = 0;
  SaveArea saved(dest);

  // Ends the decode: records the last bytes of this table's entries and puts back the
  // bytes after the output that block copies went over.
  auto finish = [&](uint32_t freeCode) {
    NoteLastBytes(table, firstFree, freeCode);
    saved.Restore(out);
  };

  for (;;) {
    if (bits < width) {
      if (end - p >= 8) [[likely]] {
        // Whole bytes are counted; the bits of a partly taken byte are loaded again, into
        // the same place, by the next refill.
        if constexpr (F == Flavour::Tiff) {
          acc |= LoadU64BE(p) >> bits;
        } else {
          acc |= LoadU64LE(p) << bits;
        }
        p += (63 - bits) >> 3;
        bits |= 56;
      } else {
        while (bits <= 56 && p < end) {
          if constexpr (F == Flavour::Tiff) {
            acc |= uint64_t(*p++) << (56 - bits);
          } else {
            acc |= uint64_t(*p++) << bits;
          }
          bits += 8;
        }
        if (bits < width) break;  // the packed bytes are used up
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

    uint8_t* const start = out;
    // The short path: a code of an existing string (not the entry about to be made), with
    // room to spare.
    if (code < limit && out < fastEnd) [[likely]] {
      const LZWStringTable::Entry e = entries[code];
      if (e.length <= kBlock) [[likely]] {
        saved.Before(out);
        CopyBlock(out, e.start);
        out += e.length;
        goto made;
      }
      if (code - clearCode > 1) {
        if (e.length <= static_cast<size_t>(outEnd - out)) {
          // Long strings are copied exactly: block by block, the last block ending with
          // the string. Every byte loaded lies before the destination.
          for (size_t i = 0; i + kBlock < e.length; i += kBlock) CopyBlock(out + i, e.start + i);
          CopyBlock(out + e.length - kBlock, e.start + e.length - kBlock);
          out += e.length;
        } else {
          CopyString(out, e.start, static_cast<size_t>(outEnd - out));
          out = outEnd;
        }
        goto made;
      }
    }
    {
      if (code == eoiCode) break;
      if (out == outEnd) break;
      if (code == clearCode) {
        NoteLastBytes(table, firstFree, limit);
        width = firstWidth;
        mask = (1u << width) - 1;
        limit = 0;
        continue;
      }
      const uint32_t freeCode = limit ? limit : firstFree;
      if (code > freeCode) {
        finish(freeCode);
        throw PictureError(message);
      }
      if (limit == 0) {
        // The first code of a table writes one byte. Valid data sends a root code here; a
        // code naming the next free entry writes whatever last byte that entry holds.
        *out++ = code < clearCode ? static_cast<uint8_t>(code) : table.lastByte[code];
        prev = start;
        limit = firstFree;
        continue;
      }
      const size_t room = static_cast<size_t>(outEnd - out);
      if (code < freeCode) {
        const LZWStringTable::Entry e = entries[code];
        const size_t n = std::min<size_t>(e.length, room);
        CopyString(out, e.start, n);
        out += n;
      } else {
        // The code of the entry about to be made: the previous string plus its own first
        // byte, which immediately follows it in the output.
        const size_t n = std::min<size_t>(static_cast<size_t>(start - prev), room);
        CopyString(out, prev, n);
        out += n;
        if (n < room) *out++ = *prev;
      }
    }

  made:
    // The new entry is the previous string and the first byte of this one, which follows
    // it in the output.
    entries[limit] = {prev, static_cast<uint32_t>(start - prev) + 1};
    if constexpr (F == Flavour::Tiff) {
      limit += limit < kTableSize;
      if (limit == mask && width < kMaxWidth) [[unlikely]]
        mask = (1u << ++width) - 1;
    } else {
      if (limit == mask && width < kMaxWidth) [[unlikely]]
        mask = (1u << ++width) - 1;
      limit += limit < kTableSize;
    }
    prev = start;
  }
  finish(limit ? limit : firstFree);
}

}  // namespace

void TTIFFLZW::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                      int32_t UnpackedSize) {
  DecodeBlock<Flavour::Tiff>(*table_, 8, Source, PackedSize, Dest, UnpackedSize,
                             "TIF LZW: invalid opcode.");
}

void TGIFLZW::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                     int32_t UnpackedSize) {
  // A minimum code size above 11 leaves no room in a 12-bit table for a single entry; such
  // data cannot be decoded, and nothing is written.
  if (InitialCodeSize > kMaxWidth - 1) return;
  DecodeBlock<Flavour::Gif>(*table_, InitialCodeSize, Source, PackedSize, Dest, UnpackedSize,
                            "GIF LZW: invalid opcode.");
}

uint64_t LZWMaxUnpacked(uint64_t packedBytes, unsigned rootBits) {
  if (rootBits > kMaxWidth - 1) return 0;  // no room for a single entry: nothing decodes
  const uint64_t codes = packedBytes * 8 / (rootBits + 1);
  // The longest string: entry 4095, made by the (4095 - firstFree + 2)-th code.
  const uint64_t longest = kTableSize - 1 - (uint64_t(1) << rootBits);
  if (codes <= longest) return codes * (codes + 1) / 2;
  return longest * (longest + 1) / 2 + (codes - longest) * longest;
}

}  // namespace pictures
