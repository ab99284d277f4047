// Feeds arbitrary bytes to the Apple icon reader; errors are the expected outcome of bad
// input. A decoded picture is also drawn onto a 24-bit canvas.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/icns.h"

// PNG entries are Deflate data (at best 1032 bytes from one) whose 1-bit rows become 32-bit
// pixels; the run-length entries are at most 128 pixels square.
constexpr fuzz_support::AllocationBudget kIcnsBudget{1032 * 34, 4u << 20};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TICNSGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                              kIcnsBudget);
}
