// Feeds arbitrary bytes to the PNG reader (libpng); errors are the expected outcome of bad input.
// A decoded picture is also drawn onto a 24-bit canvas, so that a reader that leaves its
// Bitmap inconsistent is caught there. A picture the quick path for plain RGB files took
// must be the very one libpng decodes from the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "fuzz_support.h"
#include "base/error.h"
#include "pictures/formats/png.h"
#include "pictures/formats/png_direct.h"

namespace {

void SameAsLibpng(std::span<const uint8_t> file, const pictures::Bitmap& picture) {
  if (!pictures::PlanDirectPng(file)) return;
  pictures::Bitmap libpng;
  try {
    pictures::DecodePng(file, libpng, pictures::PngTarget::Natural);
  } catch (const pictures::PictureError&) {
    __builtin_trap();  // the quick path took a file libpng refuses
  }
  if (libpng.GetPixelFormat() != picture.GetPixelFormat() || libpng.Width() != picture.Width() ||
      libpng.Height() != picture.Height())
    __builtin_trap();
  for (int y = 0; y < picture.Height(); ++y)
    if (std::memcmp(libpng.ScanLine(y), picture.ScanLine(y), picture.RowStride()) != 0)
      __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::TPNGGraphic>(
      data, size, [&](const pictures::Bitmap& picture) {
        fuzz_support::DrawIfSmall(picture);
        SameAsLibpng({data, size}, picture);
      });
}
