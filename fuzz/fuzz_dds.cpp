// Feeds arbitrary bytes to the DirectDraw Surface reader; errors are the expected outcome of
// bad input. A decoded picture is also drawn onto a 24-bit canvas.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/dds.h"

// The stored pixels must all be in the file; an 8-byte block of 16 pixels becomes 64 bytes
// of the Bitmap and 64 bytes of decoded rows.
constexpr fuzz_support::AllocationBudget kDDSBudget{16, 4u << 20};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TDDSGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                             kDDSBudget);
}
