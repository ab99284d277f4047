// Feeds arbitrary bytes to the GIMP reader; errors are the expected outcome of bad input. A
// decoded picture is also drawn onto a 24-bit canvas.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/xcf.h"

namespace {

// The reader holds every tile it decodes, and the canvas, to 1032 bytes a byte of the file
// (zlib's best; a run packet fills at most 1024): the 32-bit canvas takes four bytes a
// pixel, the layers' rows of tiles the bytes they store, the tables and layer records a
// few dozen bytes for each pointer to them.
constexpr fuzz_support::AllocationBudget kXcfBudget{8192, 8u << 20};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TXCFGraphic>(
      data, size, [](const pictures::Bitmap& picture) { fuzz_support::DrawIfSmall(picture); },
      kXcfBudget);
}
