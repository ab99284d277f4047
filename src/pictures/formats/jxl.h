// JPEG XL pictures (.jxl), decoded by libjxl: lossy and lossless, any depth, turned upright
// by the file's orientation; of an animation, the first frame as it is shown.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TJXLGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  // The picture comes out in 8-bit sRGB whatever the file's depth and colour space.
  // Pictures with alpha become 32-bit Bitmaps marked transparent, others 24-bit. Errors
  // read "JXL: " followed by what went wrong.
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
