// Feeds arbitrary bytes to the SGI reader; errors are the expected outcome of bad input.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/sgi.h"

namespace {

// Packed rows may share their data (the offset table may point rows at the same bytes, as
// writers do for equal rows), so the data bounds only the distinct rows; every row still
// costs its 8 bytes of offset and length, which describe at most 65535 samples: a picture
// of at most 8192 bytes for each byte of the tables.
constexpr fuzz_support::AllocationBudget kSharedRowsBudget{8192, 4u << 20};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TSGIGraphic>(data, size, kSharedRowsBudget);
}
