// WebP pictures (.webp), decoded by libwebp: lossy, lossless, with or without alpha; of an
// animation, the first frame as it is shown on the animation's canvas.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TWebPGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  // Pictures with alpha become 32-bit Bitmaps marked transparent, others 24-bit. Errors
  // read "WebP: " followed by what went wrong.
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
