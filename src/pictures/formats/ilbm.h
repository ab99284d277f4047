// Amiga IFF pictures (.iff, .ilbm, .lbm): FORM ILBM, whose rows are stored as bit planes,
// and FORM PBM, whose rows are one byte a pixel. Palette pictures of 1 to 8 planes become
// 8-bit Bitmaps (extra half-brite with its 32 darker colours); hold-and-modify, 24-bit
// deep and direct-colour pictures 24-bit ones; 32-bit deep pictures keep their alpha.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TILBMGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
