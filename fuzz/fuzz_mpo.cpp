// Feeds arbitrary bytes to the MPO reader: the index of the pictures, then the first
// picture through libjpeg. Errors are the expected outcome of bad input.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/mpo.h"

// The JPEG reader's budget (see fuzz_jpeg.cpp): the first picture may use no more of the
// file than the whole file.
constexpr fuzz_support::AllocationBudget kJpegBudget{64 * (192 + 128), 4u << 20};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TMPOGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                             kJpegBudget);
}
