// Portable float maps (.pfm) and their half-float kin (.phm): colour ("PF", "PH") or grey
// ("Pf", "Ph") samples in linear light, rows from the bottom up; shown in sRGB as 24-bit
// colour or 8-bit grey Bitmaps.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TPFMGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
