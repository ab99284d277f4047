// Autodesk cel and picture files (.cel, .pic) of the old, uncompressed 256-colour kind,
// read into an 8-bit Bitmap with the file's palette.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TAutodeskGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
