// Feeds arbitrary bytes to the OpenEXR reader (OpenEXR's core library); errors are the
// expected outcome of bad input. A decoded picture is also drawn onto a 24-bit canvas, so
// that a reader that leaves its Bitmap inconsistent is caught there.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "pictures/formats/exr.h"
#include "pictures/formats/exr_library.h"

// The library is loaded before the first input, so that what it takes when it starts is
// not counted against that input's allocation budget.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string why;
  pictures::LoadExrLibrary(why);
  return 0;
}

// The reader holds a picture to what its blocks can hold at their compression's best and
// to the pixel limit; the library's block buffers come on top of the Bitmap.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TEXRGraphic>(
      data, size, fuzz_support::DrawIfSmall, fuzz_support::kLibraryCodecBudget);
}
