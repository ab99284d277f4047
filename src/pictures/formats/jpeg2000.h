// JPEG 2000 pictures, decoded by OpenJPEG: JP2 and JPX files (.jp2, .jpx, .jpf) and bare
// codestreams (.j2k, .j2c), told apart by their signature rather than their extension.
// Grey, grey with alpha, RGB, RGBA, sYCC and CMYK, subsampled components, 1 to 16 bits
// (and deeper) a sample, signed or not.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TJPEG2000Graphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  // Grey pictures become 8-bit Bitmaps with a grey palette, colour 24-bit, and pictures
  // with alpha 32-bit Bitmaps marked transparent; every sample is scaled to 8 bits. Errors
  // read "JPEG 2000: " followed by what went wrong.
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
