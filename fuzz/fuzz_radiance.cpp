// Feeds arbitrary bytes to the Radiance reader; errors are the expected outcome of bad
// input. A decoded picture is also drawn onto a 24-bit canvas.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/radiance.h"

// Two old run-length markers (8 bytes) repeat a pixel up to 65535 times: 8192 pixels a
// byte, each 3 bytes of the Bitmap and, in a scanline's buffer, 4 more.
constexpr fuzz_support::AllocationBudget kRadianceBudget{8192 * 7, 4u << 20};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TRadianceGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                                  kRadianceBudget);
}
