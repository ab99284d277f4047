// Windows icon files (.ico).
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TIcon : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
