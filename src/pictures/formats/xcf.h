// GIMP pictures (.xcf): the picture as GIMP shows it, its visible layers composited
// bottom-up with their offsets, opacities, masks, modes and layer groups, in every colour
// mode (RGB, grey, indexed) and precision (8 to 32-bit integers, 16 to 64-bit floats, linear
// or perceptual) of XCF versions 0 to the current ones. The result is a 32-bit Bitmap in
// 8-bit sRGB, transparent where the layers leave the canvas uncovered.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TXCFGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
