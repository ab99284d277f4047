// SVG drawings (.svg, and .svgz compressed with gzip), drawn by librsvg at the document's
// own size over white.
#pragma once

#include <string>

#include "pictures/bitmap.h"

namespace pictures {

class TSVGGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  // Remembers the file's path, so that pictures the drawing links beside it can be drawn,
  // then loads the file.
  void LoadFile(const std::string& path) override;
  // Draws the document at its width and height (other units at 96 pixels an inch), or at
  // its view box's size when it gives no absolute size, onto a white 32-bit Bitmap.
  // Nothing is fetched from the network: besides what the file holds, librsvg reads only
  // files in the folder of the file named by the last LoadFile, or below it, and none
  // when the drawing comes from memory. Errors read "SVG: " followed by what went wrong.
  void LoadFromStream(Stream& stream) override;

 private:
  std::string path_;
};

}  // namespace pictures
