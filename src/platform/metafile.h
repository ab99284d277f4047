// Windows metafiles ("wmf" with or without the placeable header, and "emf"), read into a
// 32-bit Bitmap by drawing their records with QPainter.
//
// Width and height come from the file's header: the placeable header's bounding box
// scaled from its units per inch to 96 pixels per inch, or the bounds of an enhanced
// metafile's header. A metafile without a placeable header takes its size from its
// window extent record.
#pragma once

#include "pictures/bitmap.h"

namespace platform {

class TMetafile : public pictures::Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(pictures::Stream& stream) override;
};

// Puts the metafile rows ("wmf" "Metafiles", "emf" "Enhanced Metafiles") at the front of
// the format registry. The program calls it once at start-up, before
// pictures::RegisterReaders().
void RegisterMetafileFormats();

}  // namespace platform
