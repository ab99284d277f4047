// CompuServe GIF pictures (.gif), versions 87a and 89a: the first image of the file, as an
// 8-bit paletted picture.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TGIFGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
