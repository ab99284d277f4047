// MPO pictures (.mpo): the multi-picture files of stereo and multi-view cameras, JPEG
// pictures one after another whose first one indexes them all. The first picture is the
// one shown, decoded as a JPEG picture.
#pragma once

#include <cstdint>
#include <span>

#include "pictures/formats/jpeg.h"

namespace pictures {

class TMPOGraphic : public TJPEGImage {
  PICTURES_READER_CLASS()
 public:
  // Decodes the first picture only, upright by its EXIF orientation; errors are the JPEG
  // reader's.
  void LoadFromStream(Stream& stream) override;
};

// The bytes of an MPO file's first picture, as the index in its first APP2 "MPF" segment
// gives their length; the whole file when there is no sound index.
std::span<const uint8_t> FirstMpoPicture(std::span<const uint8_t> file);

}  // namespace pictures
