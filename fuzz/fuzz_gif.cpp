// Feeds arbitrary bytes to the GIF reader; errors are the expected outcome of bad input.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/gif.h"

// LZW codes of at most 12 bits stand for strings of up to 4096 bytes, and with a root of
// 2 bits the first codes take only 3 bits each: some 11,000 pixels from a byte, held twice
// (the decoded image and the picture), beside a screen of up to a megapixel.
constexpr fuzz_support::AllocationBudget kLzwBudget{2 * 11000, 8u << 20};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TGIFGraphic>(data, size, kLzwBudget);
}
