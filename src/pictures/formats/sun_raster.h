// Sun raster files (.ras, .sun): a 32-byte big-endian header, an optional colour map and
// rows padded to 16 bits, plain or byte-encoded (runs marked by the byte 0x80). 1-bit
// pictures become 1-bit Bitmaps and 8-bit ones 8-bit Bitmaps, with the file's colour map
// or, without one, white and black or a grey ramp; 24- and 32-bit pictures (blue, green,
// red, or red, green, blue in the RGB type, after a pad byte at 32 bits) become 24-bit.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TSunRasterGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
