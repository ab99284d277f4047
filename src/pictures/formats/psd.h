// The Photoshop reader: the merged picture of a PSD or large-document (PSB) file, raw or
// PackBits-packed, at 1, 8, 16 or 32 bits a sample.
#pragma once

#include <array>
#include <cstdint>

#include "pictures/bitmap.h"

namespace pictures {

class TPSDGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;

  // The colour table of an indexed-colour file: 256 red values, then 256 green values,
  // then 256 blue values. Zero until such a file is loaded.
  std::array<uint8_t, 768> ColorTable{};
};

}  // namespace pictures
