// Wavefront RLA pictures (.rla, .rpf): run-length packed colour channels and an optional
// matte, read into a 24-bit Bitmap, or a 32-bit one with the matte as alpha.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TRLAGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
