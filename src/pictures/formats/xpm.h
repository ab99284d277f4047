// X pixmaps (.xpm): XPM3, a C array of strings. The first string gives the width, height,
// number of colours and characters per pixel; a string per colour follows (its characters,
// then keys and values, of which the colour key "c" is taken, or else grey or mono), then
// a string per pixel row. Colours are X11 names, #RGB to #RRRRGGGGBBBB, or None
// (transparent). A picture with None becomes a transparent 32-bit Bitmap (drawn over
// white), else one of up to 256 colours an 8-bit Bitmap, else a 24-bit one.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

class TXPMGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
