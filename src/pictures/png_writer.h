// Writing a Bitmap as a PNG file (libpng).
#pragma once

#include <string>

#include "pictures/bitmap.h"

namespace pictures {

// Saves the picture as a PNG file, through a temporary name so that a failure leaves no
// partial file. The file keeps what the picture holds: 1-, 4- and 8-bit pictures stay
// paletted, transparent 32-bit pictures keep their alpha, everything else is written as
// 24-bit colour. Raises PictureError ("PNG: ...") or FileCreateError.
void SavePngToFile(const Bitmap& picture, const std::string& path);

}  // namespace pictures
