// PNG pictures (.png), decoded by libpng: every colour type and bit depth, interlaced or
// not. Samples are kept as stored: 16-bit samples are scaled to 8 bits and no gamma
// correction is applied.
#pragma once

#include <cstdint>
#include <span>

#include "pictures/bitmap.h"

namespace pictures {

// The shape of the Bitmap a PNG decodes into.
enum class PngTarget {
  // The smallest Bitmap that holds the picture: 8-bit paletted for palette and grey
  // pictures, 24-bit for colour, and 32-bit marked transparent when the picture has an
  // alpha channel or a transparent colour (tRNS).
  Natural,
  // Always 32-bit, marked transparent (icons draw every entry with its alpha).
  Bgra,
};

// Decodes a whole PNG file held in memory into `bitmap`. libpng's errors are raised as
// PictureError with libpng's own message (callers add their format's prefix); a picture
// beyond the pixel memory limit raises BitmapTooLarge before anything is allocated.
void DecodePng(std::span<const uint8_t> data, Bitmap& bitmap, PngTarget target);

class TPNGGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  // Errors read "PNG: " followed by libpng's message.
  void LoadFromStream(Stream& stream) override;

  // The quick way through plain 8-bit RGB and RGBA files (png_direct.h); false, with the
  // Bitmap empty, when the file is left to libpng. LoadFromStream tries it first.
  bool LoadDirect(Stream& stream, std::span<const uint8_t> file);
};

}  // namespace pictures
