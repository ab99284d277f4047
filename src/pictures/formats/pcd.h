// Kodak Photo-CD image packs (.pcd): the base resolution (768 x 512) of the pack, converted
// from luma/chroma to 24-bit colour and turned upright by the pack's orientation.
#pragma once

#include <cstdint>

#include "pictures/bitmap.h"

namespace pictures {

class TPCDGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;

 private:
  int64_t BasePosition = 0;
};

}  // namespace pictures
