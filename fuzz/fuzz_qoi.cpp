// Feeds arbitrary bytes to the QOI reader; errors are the expected outcome of bad input.
// A decoded picture is also drawn onto a 24-bit canvas, so that a reader that leaves its
// Bitmap inconsistent is caught there.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/qoi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TQOIGraphic>(data, size, fuzz_support::DrawIfSmall);
}
