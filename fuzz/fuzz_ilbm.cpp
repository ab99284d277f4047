// Feeds arbitrary bytes to the Amiga IFF reader; errors are the expected outcome of bad
// input. A decoded picture is also drawn onto a 24-bit canvas.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/ilbm.h"

// ByteRun1 gives at most 128 bytes from 2, and a stored bit can become a byte of the
// Bitmap (a one-plane picture is an 8-bit one).
constexpr fuzz_support::AllocationBudget kILBMBudget{64 * 8, 4u << 20};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TILBMGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                              kILBMBudget);
}
