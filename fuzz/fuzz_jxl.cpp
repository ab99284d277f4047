// Feeds arbitrary bytes to the JPEG XL reader (libjxl); errors are the expected outcome of
// bad input. A decoded picture is also drawn onto a 24-bit canvas, so that a reader that
// leaves its Bitmap inconsistent is caught there.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "pictures/formats/jxl.h"
#include "pictures/formats/jxl_library.h"

// libjxl and the libraries beside it are loaded before the first input, so that what they
// take when they start is not counted against that input's allocation budget.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string why;
  pictures::LoadJxlLibrary(why);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TJXLGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                             fuzz_support::kLibraryCodecBudget);
}
