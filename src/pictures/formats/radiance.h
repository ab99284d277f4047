// Radiance pictures (.hdr): RGBE pixels (three mantissas sharing an exponent) in linear
// light, flat or run-length packed, in any of the eight scan orders; shown as 24-bit sRGB.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TRadianceGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
