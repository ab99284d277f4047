// The orientation that cameras record in a picture's EXIF data, and turning a Bitmap
// upright by it.
#pragma once

#include <cstdint>
#include <span>

#include "pictures/bitmap.h"

namespace pictures {

// The Orientation tag (0x0112) of IFD0 in an APP1 "Exif" segment's data (starting with
// "Exif\0\0"): 1 to 8, or 1 when the data holds no valid tag.
int ExifOrientation(std::span<const uint8_t> app1);

// Turns a 24- or 32-bit Bitmap by an EXIF orientation so that it shows upright:
// 2 mirrored, 3 turned half way, 4 flipped, 5 transposed, 6 stored a quarter turn
// anticlockwise (turned clockwise here), 7 transversed, 8 stored a quarter turn clockwise.
// Other values and other pixel formats leave the Bitmap as it is.
void ApplyOrientation(Bitmap& bitmap, int orientation);

}  // namespace pictures
