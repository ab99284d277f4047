// The allocation budget of each reader, derived from the bound the reader itself checks
// before it allocates, so that an input beyond its budget always means a fault.
//
// A reader refuses a file whose data cannot fill the declared picture at its codec's best
// expansion. What it may then allocate for each input byte is that expansion times how much
// more room the picture takes than the stored bytes expand to: a wider pixel in the Bitmap
// (1-bit samples drawn in 32 bits), rows padded to four bytes (a picture one pixel wide
// takes four bytes a row for one byte of data), and the reader's and the library's buffers
// beside the Bitmap. Codecs that can describe any amount of picture in a few bytes (the
// arithmetic coder of JPEG, LZMA, ZSTD, WebP, HEVC, AV1, fax codes on wide rows) have no
// bound per byte: for them the pixel memory limit is the guard, and their budget is that
// limit's worth of pictures and planes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/byte_reader.h"
#include "base/error.h"
#include "fuzz_support.h"
#include "pictures/bitmap.h"
#include "pictures/formats/tiff_library.h"

namespace fuzz_budgets {

using fuzz_support::AllocationBudget;

// Raw and run-length formats: Autodesk, CUT, PCX, Photoshop, Targa, Netpbm, Photo-CD. Their
// runs give at most 64 pixels of a byte each for a byte of data, and rows one pixel wide
// take four bytes of Bitmap for each.
inline constexpr AllocationBudget kRunLength = fuzz_support::kDefaultBudget;

// Windows bitmaps: a run-length code pair gives at most 255 pixels, in rows one pixel wide
// four bytes each: 510 bytes for each byte of data.
inline constexpr AllocationBudget kWindowsBitmap{512, 4u << 20};

// PNG (and the PNG entries of icons): Deflate gives at most 1032 bytes of stored rows for a
// byte. A stored byte of 1-bit samples becomes 8 pixels of 32 bits (transparency) in the
// Bitmap, and libpng's two row buffers hold a row at 32 bits a pixel as well: 96 bytes.
inline constexpr AllocationBudget kPng{pictures::kDeflateBestExpansion * 96, 4u << 20};

// GIF: LZW codes of at most 12 bits stand for strings of up to 4096 bytes, and with a root of
// 2 bits the first codes take only 3 bits each: some 11,000 pixels from a byte, held twice
// (the decoded image and the picture), beside a screen of up to a megapixel.
inline constexpr AllocationBudget kGif{2 * 11000, 8u << 20};

// RLA: rows may share their data through the offset table (the data bounds only the
// distinct rows), and each row costs its 4-byte offset, which describes at most 65535
// pixels of up to 4 bytes: a picture of at most 65536 bytes for each byte of the table.
inline constexpr AllocationBudget kRla{65536, 4u << 20};

// SGI: packed rows may share their data (the offset table may point rows at the same bytes, as
// writers do for equal rows), so the data bounds only the distinct rows; every row still
// costs its 8 bytes of offset and length, which describe at most 65535 samples: a picture
// of at most 8192 bytes for each byte of the tables.
inline constexpr AllocationBudget kSgi{8192, 4u << 20};

// GIMP: the reader holds every tile it decodes, and the canvas, to 1032 bytes a byte of the file
// (zlib's best; a run packet fills at most 1024): the 32-bit canvas takes four bytes a
// pixel, the layers' rows of tiles the bytes they store, the tables and layer records a
// few dozen bytes for each pointer to them.
inline constexpr AllocationBudget kXcf{8192, 8u << 20};

// Amiga IFF: ByteRun1 gives at most 128 bytes from 2, and a stored bit can become a byte of the
// Bitmap (a one-plane picture is an 8-bit one).
inline constexpr AllocationBudget kIlbm{64 * 8, 4u << 20};

// Radiance HDR: two old run-length markers (8 bytes) repeat a pixel up to 65535 times: 8192 pixels a
// byte, each 3 bytes of the Bitmap and, in a scanline's buffer, 4 more.
inline constexpr AllocationBudget kRadiance{8192 * 7, 4u << 20};

// The formats whose codecs have no bound per byte (see above).
inline constexpr AllocationBudget kUnbounded = fuzz_support::kLibraryCodecBudget;

// JPEG frame headers of arithmetic coding (C9 to CF but CC, the conditioning tables) found
// anywhere in the bytes: such a file may hold far more blocks than bytes.
inline bool MayBeArithmeticCoded(std::span<const uint8_t> bytes) {
  for (size_t i = 0; i + 1 < bytes.size(); ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] >= 0xC9 && bytes[i + 1] <= 0xCF && bytes[i + 1] != 0xCC)
      return true;
  return false;
}

// JPEG: Huffman coding spends at least an eighth of a byte on each block of 64 samples (a
// DC code of a bit, in a progressive file). A block gives 192 bytes of 24-bit Bitmap, as
// many again when EXIF turns the picture, 128 bytes of coefficients in a progressive file,
// and libjpeg's sample rows (the whole picture when it is one block high): 1024 at most.
inline AllocationBudget Jpeg(std::span<const uint8_t> file) {
  if (MayBeArithmeticCoded(file)) return kUnbounded;
  return {8 * 1024, 4u << 20};
}

// The Compression tag of a TIFF file's first directory (1 when the tag is missing), or
// nothing when the directory cannot be read.
inline std::optional<uint32_t> TiffCompression(std::span<const uint8_t> file) {
  try {
    pictures::ByteReader in(file);
    const bool motorola = in.U16LE() == 0x4D4D;
    const auto u16 = [&] { return motorola ? in.U16BE() : in.U16LE(); };
    const auto u32 = [&] { return motorola ? in.U32BE() : in.U32LE(); };
    const auto u64 = [&] {
      const uint64_t a = u32(), b = u32();
      return motorola ? a << 32 | b : b << 32 | a;
    };
    const bool big = u16() == 43;
    if (big) in.Skip(4);  // offset size and padding
    const uint64_t directory = big ? u64() : u32();
    if (directory >= file.size()) return std::nullopt;
    in.Seek(size_t(directory));
    const uint64_t entries = big ? u64() : u16();
    for (uint64_t i = 0; i < entries; ++i) {
      const uint16_t tag = u16();
      const uint16_t type = u16();
      in.Skip(big ? 8 : 4);  // count
      const size_t field = in.Position();
      if (tag == 259) return type == 4 ? u32() : u16();
      in.Seek(field + (big ? 8 : 4));
    }
    return 1;
  } catch (const pictures::StreamReadError&) {
    return std::nullopt;
  }
}

// TIFF: the compression's best expansion (as the readers check it) for each byte, times
// 40 bytes for each byte it expands to: pictures of 1-bit samples through libtiff's RGBA
// interface take a 4-byte raster pixel and a 32-bit Bitmap pixel for two bits (32 bytes a
// stored byte), beside libtiff's strip and our band of samples as stored.
inline AllocationBudget Tiff(std::span<const uint8_t> file) {
  const std::optional<uint32_t> compression = TiffCompression(file);
  if (!compression) return kUnbounded;
  uint64_t expansion = 0;
  switch (*compression) {
    case 1: expansion = 1; break;
    case 5: expansion = pictures::kTIFFLZWBestExpansion; break;
    case 32773: expansion = pictures::kPackBitsBestExpansion; break;
    case 8:
    case 32946: expansion = pictures::kDeflateBestExpansion; break;
    case 7:
      if (MayBeArithmeticCoded(file)) return kUnbounded;
      expansion = pictures::kHuffmanJPEGBestExpansion;
      break;
    default: return kUnbounded;
  }
  return {expansion * 40, 16u << 20};
}

}  // namespace fuzz_budgets
