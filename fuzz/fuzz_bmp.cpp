// Feeds arbitrary bytes to the Windows bitmap reader; errors are the expected outcome of bad input.
// A decoded picture is also drawn onto a 24-bit canvas and saved and loaded again: our own
// writer's output must always load, with the same size and colours.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>

#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/bitmap.h"
#include "pictures/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_support::LoadFromMemory<pictures::Bitmap>(data, size, [](pictures::Bitmap& picture) {
    if (picture.Width() > 1024 || picture.Height() > 1024) return;
    pictures::Bitmap canvas;
    canvas.SetPixelFormat(pictures::PixelFormat::Bits24);
    canvas.SetSize(picture.Width(), picture.Height());
    pictures::DrawOnCanvas(canvas, picture);
    pictures::MemoryStream saved;
    picture.SaveToStream(saved);
    saved.Seek(0);
    pictures::Bitmap again;
    try {
      again.LoadFromStream(saved);
    } catch (const std::exception&) {
      __builtin_trap();
    }
    pictures::Bitmap canvasAgain;
    canvasAgain.SetPixelFormat(pictures::PixelFormat::Bits24);
    canvasAgain.SetSize(again.Width(), again.Height());
    pictures::DrawOnCanvas(canvasAgain, again);
    // Transparent pictures are saved without their alpha, so only opaque ones compare.
    if (again.Width() != picture.Width() || again.Height() != picture.Height()) __builtin_trap();
    for (int y = 0; !picture.Transparent() && y < canvas.Height(); ++y)
      if (std::memcmp(canvas.ScanLine(y), canvasAgain.ScanLine(y), canvas.RowBytes()) != 0)
        __builtin_trap();
  }, fuzz_budgets::kWindowsBitmap);
}
