// Feeds arbitrary bytes to the icon reader; errors are the expected outcome of bad input.
// A decoded picture is also drawn onto a 24-bit canvas, so that a reader that leaves its
// Bitmap inconsistent is caught there. PNG entries are held to PNG's bound (budgets.h).
#include <cstddef>
#include <cstdint>

#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/formats/icon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TIcon>(data, size, fuzz_support::DrawIfSmall,
                                                       fuzz_budgets::kPng);
}
