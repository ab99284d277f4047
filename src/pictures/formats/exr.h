// OpenEXR pictures (.exr), decoded by OpenEXR's core library: the first part, stored in
// scan lines or tiles, of half, float or unsigned int channels: red, green, blue and alpha,
// luminance alone (Y), or luminance with chroma (Y, RY, BY). The file's linear light is
// shown as a screen shows sRGB: clamped to 0..1 and encoded with the sRGB curve.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TEXRGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  // Pictures with alpha become 32-bit Bitmaps marked transparent (colours divided by their
  // alpha, as OpenEXR stores them multiplied), luminance alone 8-bit grey, others 24-bit.
  // Errors read "EXR: " followed by what went wrong.
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
