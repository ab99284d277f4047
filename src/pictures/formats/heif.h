// HEIF pictures (.heic, .heif: HEVC inside) and AVIF pictures (.avif: AV1 inside), decoded
// by libheif: the primary image, with the file's rotation, mirroring and cropping applied.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class THEIFGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  // Pictures with alpha become 32-bit Bitmaps marked transparent, others 24-bit. Errors
  // read "HEIF: " (or "AVIF: ") followed by libheif's message.
  void LoadFromStream(Stream& stream) override;

 protected:
  virtual const char* MessagePrefix() const { return "HEIF: "; }
};

// The same container with AV1 pictures; only the messages differ.
class TAVIFGraphic : public THEIFGraphic {
  PICTURES_READER_CLASS()

 protected:
  const char* MessagePrefix() const override { return "AVIF: "; }
};

}  // namespace pictures
