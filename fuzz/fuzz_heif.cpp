// Feeds arbitrary bytes to the HEIF and AVIF reader (libheif); errors are the expected outcome of bad input.
// A decoded picture is also drawn onto a 24-bit canvas, so that a reader that leaves its
// Bitmap inconsistent is caught there.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "pictures/formats/heif.h"

// The AV1 decoder library leaks a few bytes on some damaged pictures, inside its own
// frames, after libheif and this reader have released everything they were given; that is
// not a finding of this reader.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdav1d.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::THEIFGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                              fuzz_support::kLibraryCodecBudget);
}
