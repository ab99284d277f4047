// Feeds arbitrary bytes to the PNG reader (libpng, and the direct path for plain 8-bit RGB
// and RGBA files); errors are the expected outcome of bad input. A decoded picture is also
// drawn onto a 24-bit canvas, so that a reader that leaves its Bitmap inconsistent is
// caught there. fuzz_png_paths compares the two paths.
#include <cstddef>
#include <cstdint>

#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/formats/png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TPNGGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                             fuzz_budgets::kPng);
}
