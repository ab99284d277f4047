// Feeds arbitrary bytes to the Amiga IFF reader; errors are the expected outcome of bad
// input. A decoded picture is also drawn onto a 24-bit canvas.
#include <cstddef>
#include <cstdint>

#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/formats/ilbm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TILBMGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                              fuzz_budgets::kIlbm);
}
