// Krita (.kra) and OpenRaster (.ora) pictures: zip archives that hold the layers of a
// painting and, as mergedimage.png, the picture the program shows, which is what these
// readers read (through the PNG reader, from memory). The entry is inflated by minizip.
#pragma once

#include "pictures/formats/png.h"

namespace pictures {

// OpenRaster; errors read "ORA: ...".
class TORAGraphic : public TPNGGraphic {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

// Krita, which stores its merged picture as OpenRaster does; errors read "KRA: ...".
class TKRAGraphic : public TPNGGraphic {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
