// Feeds arbitrary bytes to the HEIF and AVIF reader (libheif); errors are the expected outcome of bad input.
// A decoded picture is also drawn onto a 24-bit canvas, so that a reader that leaves its
// Bitmap inconsistent is caught there.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "pictures/formats/heif.h"
#include "pictures/formats/heif_library.h"

// The AV1 decoder library leaks a few bytes on some damaged pictures, inside its own
// frames, after libheif and this reader have released everything they were given; that is
// not a finding of this reader.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdav1d.so\n"; }

// libheif and its decoders are loaded before the first input, so that what they take when
// they start is not counted against that input's allocation budget.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string why;
  pictures::LoadHeifLibrary(why);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::THEIFGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                              fuzz_support::kLibraryCodecBudget);
}
