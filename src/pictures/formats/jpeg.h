// JPEG pictures, decoded by libjpeg at full size into 24-bit colour.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TJPEGImage : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  // Decodes baseline, progressive and arithmetic-coded JPEG files in grey, YCbCr, RGB,
  // CMYK and YCCK, turned upright by the EXIF orientation when the file records one.
  // libjpeg's errors are raised as PictureError with libjpeg's message.
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
