#include "pictures/formats/icon.h"

#include "pictures/error.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TIcon, Bitmap)

// FIXME: placeholder until the icon reader lands.
void TIcon::LoadFromStream(Stream&) { throw PictureError("Icon files cannot be read yet"); }

}  // namespace pictures
