// Feeds arbitrary bytes to the Apple icon reader; errors are the expected outcome of bad
// input. A decoded picture is also drawn onto a 24-bit canvas.
#include <cstddef>
#include <cstdint>

#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/formats/icns.h"

// JPEG 2000 entries have no bound per byte: the pixel limit is their guard, as it is for
// the JPEG 2000 reader's own target.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TICNSGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                              fuzz_budgets::kUnbounded);
}
