// Feeds arbitrary bytes to the SVG reader (librsvg); errors are the expected outcome of bad
// input. The drawing comes from memory, so librsvg reads no other file. A drawn picture is
// also drawn onto a 24-bit canvas, so that a reader that leaves its Bitmap inconsistent is
// caught there.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "pictures/formats/svg.h"
#include "pictures/formats/svg_library.h"

// Fontconfig, which librsvg's text layout loads, keeps its configuration and font lists for
// the life of the process; they are not a leak of one input.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string why;
  pictures::LoadSvgLibrary(why);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TSVGGraphic>(data, size, fuzz_support::DrawIfSmall,
                                                             fuzz_support::kLibraryCodecBudget);
}
