// Feeds arbitrary bytes to the RLA reader; errors are the expected outcome of bad input.
#include <cstddef>
#include <cstdint>

#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/formats/rla.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TRLAGraphic>(data, size, fuzz_budgets::kRla);
}
