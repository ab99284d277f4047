// Feeds arbitrary bytes to the camera raw reader (LibRaw); errors are the expected outcome
// of bad input. A developed picture is also drawn onto a 24-bit canvas, so that a reader
// that leaves its Bitmap inconsistent is caught there.
//
// LibRaw develops each file in a child process of the reader, where a crash of LibRaw's own
// (a signal such as SIGSEGV) is the picture's error. Anything else that ends the child
// early is a finding: a sanitizer report in our code there (exit status 1) or the
// allocation watch, which the child inherits, stopping it (SIGABRT).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "pictures/formats/raw.h"
#include "pictures/formats/raw_library.h"

namespace {

class WatchedRaw : public pictures::TRAWGraphic {
 public:
  void LoadFromStream(pictures::Stream& stream) override {
    try {
      TRAWGraphic::LoadFromStream(stream);
    } catch (const pictures::PictureError& error) {
      const std::string message = error.what();
      if (message.starts_with("RAW: the developing process ended early") ||
          message.ends_with("crashed on this file (Aborted)")) {
        std::fprintf(stderr, "fuzz_raw: %s\n", message.c_str());
        std::abort();
      }
      throw;
    }
  }
};

}  // namespace

// LibRaw (and the OpenMP runtime it brings) is loaded before the first input, so that what
// it takes when it starts is not counted against that input's allocation budget.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string why;
  pictures::LoadRawLibrary(why);
  return 0;
}

// The reader holds the sensor's size to what the file's bytes can describe and LibRaw's
// working picture to the pixel limit; the budget is that limit's worth of LibRaw's buffers,
// the developed picture and the Bitmap.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<WatchedRaw>(data, size, fuzz_support::DrawIfSmall,
                                                  fuzz_support::kLibraryCodecBudget);
}
