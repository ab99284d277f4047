// Feeds arbitrary bytes to the icon reader; errors are the expected outcome of bad input.
// A decoded picture is also drawn onto a 24-bit canvas, so that a reader that leaves its
// Bitmap inconsistent is caught there.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/icon.h"

// PNG entries are Deflate data (at best 1032 bytes from one) whose 1-bit rows become 32-bit
// pixels.
constexpr fuzz_support::AllocationBudget kIconBudget{1032 * 34, 4u << 20};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TIcon>(data, size, fuzz_support::DrawIfSmall,
                                                       kIconBudget);
}
