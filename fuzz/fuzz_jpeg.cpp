// Feeds arbitrary bytes to the JPEG reader; errors are the expected outcome of bad input.
// A decoded picture is also drawn onto a 24-bit canvas, so that a reader that leaves its
// Bitmap inconsistent is caught there.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/jpeg.h"

// The reader accepts up to 64 blocks of 8 x 8 samples per byte of entropy-coded data (in
// arithmetic-coded files; Huffman-coded ones need more). A block gives at most 192 bytes of
// 24-bit pixels and, in a progressive file, 128 bytes of coefficients that libjpeg keeps.
constexpr fuzz_support::AllocationBudget kJpegBudget{64 * (192 + 128), 4u << 20};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TJPEGImage>(data, size, fuzz_support::DrawIfSmall,
                                                            kJpegBudget);
}
