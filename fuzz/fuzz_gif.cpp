// Feeds arbitrary bytes to the GIF reader; errors are the expected outcome of bad input.
#include <cstddef>
#include <cstdint>

#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/formats/gif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TGIFGraphic>(data, size, fuzz_budgets::kGif);
}
