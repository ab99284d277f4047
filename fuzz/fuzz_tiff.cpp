// Feeds arbitrary bytes to the TIFF reader; errors are the expected outcome of bad input.
// The allocation budget follows the bound the reader holds the file's compression to (see
// budgets.h).
#include <cstddef>
#include <cstdint>

#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/formats/tiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TTIFFGraphic>(data, size,
                                                              fuzz_budgets::Tiff({data, size}));
}
