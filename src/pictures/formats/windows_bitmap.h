// The device-independent bitmap (DIB) layout shared by Windows bitmap files and icons.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "pictures/bitmap.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

inline constexpr const char* kBitmapInvalid = "Bitmap image is not valid";
inline constexpr const char* kBitmapTruncated = "Bitmap image is truncated";
inline constexpr const char* kBitmapCompressionUnsupported = "Bitmap compression is not supported";
inline constexpr const char* kBitmapDepthUnsupported = "Bitmap bit depth is not supported";

enum class DibCompression { None, Rle8, Rle4, Rle24, BitFields };

// What decoding needs from a DIB header (any of the OS/2 and Windows variants).
struct DibHeader {
  uint32_t headerSize = 0;
  int width = 0;
  int height = 0;  // rows, always positive
  bool topDown = false;
  int bitCount = 0;
  DibCompression compression = DibCompression::None;
  // Red, green, blue and alpha masks of BI_BITFIELDS pictures; alpha only when `useAlpha`.
  std::array<uint32_t, 4> masks{};
  bool useAlpha = false;
  // Colour table: entries the header declares and their size (3 for the OS/2 core header).
  uint64_t paletteEntries = 0;
  uint32_t paletteEntrySize = 4;
  // Bytes from the start of the header to the colour table: the header and any masks
  // stored after it.
  uint32_t bytesBeforePalette = 0;

  // Bytes from the start of one stored row to the next (rows are padded to 4 bytes).
  uint64_t StoredRowStride() const { return (uint64_t(width) * bitCount + 31) / 32 * 4; }
};

// Reads a DIB header (and the masks that follow a 40-byte header) from the stream's
// position. Raises PictureError with one of the messages above when the header is not one
// this library can decode.
DibHeader ReadDibHeader(Stream& stream);

// Reads `count` colour-table entries of the header's kind from the stream's position.
std::vector<PaletteEntry> ReadDibPalette(Stream& stream, const DibHeader& header,
                                         uint64_t count);

// Decodes the pixel data that starts at the stream's position into `bitmap`, in the
// natural pixel format: 1, 4 and 8 bits with `palette`, 16-bit 5-5-5 as 15 bits, 24 bits,
// 32 bits with standard masks as 32 bits (alpha kept and the Bitmap made transparent only
// when the header's alpha mask asks for it), other masks as 24 bits or, with alpha, as 32.
void DecodeDibPixels(Stream& stream, const DibHeader& header,
                     const std::vector<PaletteEntry>& palette, Bitmap& bitmap);

}  // namespace pictures
