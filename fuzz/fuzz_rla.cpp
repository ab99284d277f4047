// Feeds arbitrary bytes to the RLA reader; errors are the expected outcome of bad input.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/rla.h"

namespace {

// Rows may share their data through the offset table (the data bounds only the distinct
// rows), and each row costs its 4-byte offset, which describes at most 65535 pixels of up to
// 4 bytes: a picture of at most 65536 bytes for each byte of the table.
constexpr fuzz_support::AllocationBudget kSharedRowsBudget{65536, 4u << 20};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TRLAGraphic>(data, size, kSharedRowsBudget);
}
