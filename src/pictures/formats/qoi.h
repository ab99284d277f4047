// QOI pictures (.qoi): the "Quite OK Image" format, a 14-byte header and a stream of
// byte-aligned operations (a new colour, a colour seen before, a small difference to the
// previous pixel, a run of it) closed by an end marker. Three channels give a 24-bit
// Bitmap, four a transparent 32-bit one; the colour space flag (sRGB or linear) is read
// past and the samples are shown as stored, as sRGB.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TQOIGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
