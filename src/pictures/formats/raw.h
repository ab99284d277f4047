// Camera raw pictures (.dng .cr2 .cr3 .crw .nef .nrw .arw .srf .sr2 .raf .orf .rw2 .pef .srw
// .x3f .3fr .erf .kdc .mrw .mos), developed by LibRaw as its dcraw_emu -w does: the
// camera's white balance, demosaiced, converted to sRGB at 8 bits and turned upright.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TRAWGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  // Colour pictures become 24-bit Bitmaps, monochrome ones 8-bit grey. Errors read "RAW: "
  // followed by what went wrong.
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
