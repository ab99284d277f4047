// The PNG reader's two paths to one picture: a file the direct path plans for (plain 8-bit
// RGB or RGBA) is decoded by it (libdeflate and our own unfiltering) and by libpng. The
// direct path may decline a file, which libpng then reads; a picture it does give must be
// the very one libpng gives, and it must never take a file libpng refuses.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "base/error.h"
#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/formats/png.h"
#include "pictures/formats/png_direct.h"
#include "pictures/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::LimitPixelMemory();
  const std::span<const uint8_t> file(data, size);
  if (!pictures::PlanDirectPng(file)) return 0;
  pictures::MemoryStream stream(file);
  pictures::TPNGGraphic direct;
  try {
    fuzz_support::AllocationWatch watch(size, fuzz_budgets::kPng);
    if (!direct.LoadDirect(stream, file)) return 0;
  } catch (const pictures::PictureError&) {
    return 0;
  }
  pictures::Bitmap libpng;
  try {
    pictures::DecodePng(file, libpng, pictures::PngTarget::Natural);
  } catch (const pictures::PictureError&) {
    __builtin_trap();  // the direct path took a file libpng refuses
  }
  if (libpng.GetPixelFormat() != direct.GetPixelFormat() || libpng.Width() != direct.Width() ||
      libpng.Height() != direct.Height() || libpng.Transparent() != direct.Transparent())
    __builtin_trap();
  for (int y = 0; y < direct.Height(); ++y)
    if (std::memcmp(libpng.ScanLine(y), direct.ScanLine(y), size_t(direct.RowStride())) != 0)
      __builtin_trap();
  return 0;
}
