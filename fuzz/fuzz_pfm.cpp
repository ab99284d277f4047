// Feeds arbitrary bytes to the float map reader; errors are the expected outcome of bad
// input. A decoded picture is also drawn onto a 24-bit canvas.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/pfm.h"

// Every sample is in the file (at least 2 bytes), and becomes at most a byte of the Bitmap,
// whose rows of one grey pixel are padded to 4 bytes.
constexpr fuzz_support::AllocationBudget kPFMBudget{2, 4u << 20};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TPFMGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                             kPFMBudget);
}
