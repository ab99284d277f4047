// ZSoft PCX pictures (.pcx, .pcc) and Word 5.x screen captures (.scr): monochrome, 16
// colours in four bit planes, 256 colours, and 24-bit colour in three byte planes, plain or
// run-length packed.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TPCXGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
