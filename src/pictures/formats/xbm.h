// X bitmaps (.xbm): C source that defines the width and height (NAME_width, NAME_height)
// and an array of the pixels, 1 for black, the leftmost pixel in the lowest bit; bytes with
// rows padded to 8 bits (X11), or 16-bit words with rows padded to 16 bits (X10, an array
// of shorts). Read into a 1-bit Bitmap, white and black.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TXBMGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
