// Feeds arbitrary bytes to the JPEG 2000 reader (OpenJPEG); errors are the expected outcome
// of bad input. A decoded picture is also drawn onto a 24-bit canvas, so that a reader
// that leaves its Bitmap inconsistent is caught there.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "pictures/formats/jpeg2000.h"
#include "pictures/formats/jpeg2000_library.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string why;
  pictures::LoadOpenJpegLibrary(why);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TJPEG2000Graphic>(
      data, size, fuzz_support::DrawIfSmall, fuzz_support::kLibraryCodecBudget);
}
