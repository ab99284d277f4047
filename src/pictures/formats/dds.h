// DirectDraw Surface textures (.dds): the first mip level of the first face (of a cube map,
// array or volume). Uncompressed layouts described by channel masks or by a DXGI format,
// floating-point layouts (taken from linear light to sRGB), and the block formats BC1 to
// BC7. Grey layouts become 8-bit grey Bitmaps, colour 24-bit ones, and layouts with alpha
// transparent 32-bit ones.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TDDSGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
