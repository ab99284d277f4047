// Feeds arbitrary bytes to the JPEG reader; errors are the expected outcome of bad input.
// A decoded picture is also drawn onto a 24-bit canvas, so that a reader that leaves its
// Bitmap inconsistent is caught there. The budget follows the reader's bound (budgets.h).
#include <cstddef>
#include <cstdint>

#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/formats/jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TJPEGImage>(data, size, fuzz_support::DrawIfSmall,
                                                            fuzz_budgets::Jpeg({data, size}));
}
