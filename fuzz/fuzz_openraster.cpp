// Feeds arbitrary bytes to the OpenRaster reader (the Krita reader is the same code with
// another message prefix); errors are the expected outcome of bad input. A decoded picture
// is also drawn onto a 24-bit canvas.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/openraster.h"

// The merged PNG inflates from the archive at most 1032 bytes from one, and is decoded as
// PNG files are (1032 bytes from one again, 1-bit rows becoming 32-bit pixels). Deflate
// inside Deflate has no useful bound per input byte, so beyond that the pixel memory limit
// (64 MiB here) holds the picture.
constexpr fuzz_support::AllocationBudget kOpenRasterBudget{1032 * 35, 80u << 20};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TORAGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                             kOpenRasterBudget);
}
