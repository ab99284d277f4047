// Apple icon files (.icns): a list of typed entries, each one picture of an icon at one
// size. The largest picture is shown: PNG entries through the PNG reader, the old
// run-length entries (is32, il32, ih32, it32; also icp4 and icp5 when they hold no PNG)
// with their 8-bit masks (s8mk, l8mk, h8mk, t8mk), the ARGB entries (ic04, ic05), and
// JPEG 2000 entries through the JPEG 2000 reader; an entry that does not decode gives way to
// the next largest. The result is a transparent 32-bit Bitmap, or what the JPEG 2000
// reader makes of its entry.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TICNSGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
