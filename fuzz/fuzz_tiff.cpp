// Feeds arbitrary bytes to the TIFF reader; errors are the expected outcome of bad input.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/tiff.h"

// LZW codes of at most 12 bits stand for strings of up to 4096 bytes; the files that go to
// libtiff may hold Deflate data (1032 bytes from one) of 1-bit pixels widened to 32 bits.
// The libtiff path holds a band of decoded samples beside the Bitmap (twice the bytes) and
// libtiff's own working buffers (the larger constant).
constexpr fuzz_support::AllocationBudget kTiffBudget{2 * 1032 * 34, 16u << 20};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TTIFFGraphic>(data, size, kTiffBudget);
}
