// Loads arbitrary bytes through the format registry, as the dialog loads a file: the first
// byte chooses one of the registered extensions, the rest is written to a temporary file
// with that extension and loaded with Picture::LoadFile. Errors are the expected outcome.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "pictures/bitmap.h"
#include "base/error.h"
#include "pictures/registry.h"

namespace {

std::string TemporaryBase() {
  const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
  return std::string(base ? base : "/tmp") + "/fuzz_picture_" + std::to_string(::getpid()) + ".";
}

// The largest budget of the single-format targets: Deflate in icons, and TIFF's libtiff
// path; the formats whose codecs have no bound per byte (and Krita and OpenRaster, whose
// PNG is Deflate inside Deflate) get theirs.
constexpr fuzz_support::AllocationBudget kAnyFormatBudget{2 * 1032 * 34, 16u << 20};

fuzz_support::AllocationBudget BudgetFor(const std::string& extension) {
  for (const char* codec : {"webp", "heic", "heif", "avif", "kra", "ora"})
    if (extension == codec) return fuzz_support::kLibraryCodecBudget;
  return kAnyFormatBudget;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string base = [] {
    pictures::Bitmap::SetPixelMemoryLimit(64 << 20);
    pictures::RegisterReaders();
    return TemporaryBase();
  }();
  if (size == 0) return 0;
  const auto& formats = pictures::RegisteredFormats();
  const std::string& extension = formats[data[0] % formats.size()].extension;
  const std::string path = base + extension;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (size > 1 && std::fwrite(data + 1, 1, size - 1, file) != size - 1) std::abort();
  std::fclose(file);
  pictures::Picture picture;
  try {
    {
      fuzz_support::AllocationWatch watch(size, BudgetFor(extension));
      picture.LoadFile(path);
    }
    const pictures::Bitmap& loaded = *picture.Graphic();
    if (loaded.Width() <= 1024 && loaded.Height() <= 1024) {
      pictures::Bitmap canvas;
      canvas.SetPixelFormat(pictures::PixelFormat::Bits24);
      canvas.SetSize(loaded.Width(), loaded.Height());
      pictures::DrawOnCanvas(canvas, loaded);
    }
  } catch (const pictures::PictureError&) {
  }
  std::remove(path.c_str());
  return 0;
}
