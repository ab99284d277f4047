// Windows icon files (.ico) and cursor files (.cur), which share the icon layout.
#pragma once

#include "pictures/bitmap.h"

namespace pictures {

// Reads the one picture of an icon file that the desktop would show: the 32 x 32 entry
// when there is one, otherwise the entry nearest to that size (the larger of two equally
// near), and among entries of the chosen size the one with the most colours. The result
// is a transparent 32-bit Bitmap of the entry's own size, whose alpha comes from the
// entry's alpha channel or, for entries without one, from its AND mask. Entries may be
// device-independent bitmaps or PNG pictures.
class TIcon : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

// Reads the largest picture of a cursor file (the most colours among equally large ones),
// which is what a user converting a cursor wants to see; otherwise as TIcon. Errors read
// "CUR: cursor image is not valid".
class TCURGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;
};

}  // namespace pictures
