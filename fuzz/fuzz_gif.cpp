// Feeds arbitrary bytes to the GIF reader; errors are the expected outcome of bad input.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

#include "pictures/formats/gif.h"
#include "pictures/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool limited = (pictures::Bitmap::SetPixelMemoryLimit(64 << 20), true);
  (void)limited;
  pictures::MemoryStream stream(std::span<const uint8_t>(data, size));
  pictures::TGIFGraphic picture;
  try {
    picture.LoadFromStream(stream);
  } catch (const std::exception&) {
  }
  return 0;
}
