// The TIFF reader's second path: files that our own strip reader does not take (tiles,
// Deflate, JPEG, fax, BigTIFF, other depths, YCbCr, orientation...) are decoded by libtiff.
#pragma once

#include <cstdint>

#include "pictures/bitmap.h"

namespace pictures {

class Stream;

// The most bytes that one byte of a strip can become, for the checks that a file's data can
// fill its picture: an LZW code of at least 9 bits stands for at most 4096 bytes; a PackBits
// run of 2 bytes for at most 128. A Huffman-coded JPEG block takes at least one bit for
// each component of 64 pixels: with 4x4 subsampling 18 bits for 1024 pixels of 3 bytes.
inline constexpr uint64_t kTIFFLZWBestExpansion = 4096;
inline constexpr uint64_t kPackBitsBestExpansion = 64;
inline constexpr uint64_t kHuffmanJPEGBestExpansion = 2048;

// Reads the first image of the TIFF file that starts at `basePosition` in `stream` into
// `picture`: 8-bit grey or palette, 24-bit colour, or 32-bit where the file has alpha, turned
// upright by its Orientation tag. Raises PictureError with our messages ("Invalid TIFF file.",
// "TIFF: Unknown compression scheme"), libtiff's own text following where it has one, and
// the Bitmap's size error before any pixel memory is taken.
void ReadTIFFWithLibrary(Bitmap& picture, Stream& stream, int64_t basePosition);

}  // namespace pictures
