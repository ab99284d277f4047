// Truevision Targa files (.tga, .vda, .icb, .vst, .win): colour-mapped, true-colour and grey
// pictures, plain or run-length packed, at 8, 15, 16, 24 and 32 bits per pixel.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TTargaGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
