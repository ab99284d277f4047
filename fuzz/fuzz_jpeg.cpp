// Feeds arbitrary bytes to the JPEG reader; errors are the expected outcome of bad input.
// A decoded picture is also drawn onto a 24-bit canvas, so that a reader that leaves its
// Bitmap inconsistent is caught there.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

#include "pictures/formats/jpeg.h"
#include "pictures/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool limited = (pictures::Bitmap::SetPixelMemoryLimit(64 << 20), true);
  (void)limited;
  pictures::MemoryStream stream(std::span<const uint8_t>(data, size));
  pictures::TJPEGImage picture;
  try {
    picture.LoadFromStream(stream);
    if (picture.Width() <= 1024 && picture.Height() <= 1024) {
      pictures::Bitmap canvas;
      canvas.SetPixelFormat(pictures::PixelFormat::Bits24);
      canvas.SetSize(picture.Width(), picture.Height());
      pictures::DrawOnCanvas(canvas, picture);
    }
  } catch (const std::exception&) {
  }
  return 0;
}
