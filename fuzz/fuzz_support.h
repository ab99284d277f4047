// Shared by the fuzz targets of the picture readers: a lower pixel memory limit, and a
// load from memory in which errors are the expected outcome of bad input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

#include "pictures/bitmap.h"
#include "pictures/stream.h"

namespace fuzz_support {

// Lowers the pixel memory limit once, so that lying sizes fail fast instead of taking
// the fuzzer's memory.
inline void LimitPixelMemory() {
  static const bool limited = (pictures::Bitmap::SetPixelMemoryLimit(64 << 20), true);
  (void)limited;
}

// Draws a loaded picture of modest size onto a 24-bit canvas, so that a reader that leaves
// its Bitmap inconsistent is caught there.
inline void DrawIfSmall(const pictures::Bitmap& picture) {
  if (picture.Width() > 1024 || picture.Height() > 1024) return;
  pictures::Bitmap canvas;
  canvas.SetPixelFormat(pictures::PixelFormat::Bits24);
  canvas.SetSize(picture.Width(), picture.Height());
  pictures::DrawOnCanvas(canvas, picture);
}

// Loads the bytes with a new `Reader` and hands the picture to `check`. A std::exception
// from either is the expected outcome of bad input; anything else (a crash, a sanitizer
// report, a trap in `check`) is a finding.
template <typename Reader, typename Check>
int LoadFromMemory(const uint8_t* data, size_t size, Check check) {
  LimitPixelMemory();
  pictures::MemoryStream stream(std::span<const uint8_t>(data, size));
  Reader picture;
  try {
    picture.LoadFromStream(stream);
    check(picture);
  } catch (const std::exception&) {
  }
  return 0;
}

template <typename Reader>
int LoadFromMemory(const uint8_t* data, size_t size) {
  return LoadFromMemory<Reader>(data, size, [](const Reader&) {});
}

}  // namespace fuzz_support
