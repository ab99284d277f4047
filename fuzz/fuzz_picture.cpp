// Loads arbitrary bytes through the format registry, as the dialog loads a file: the first
// byte chooses one of the registered extensions, the rest is written to a temporary file
// with that extension and loaded with Picture::LoadFile. Errors are the expected outcome.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <span>
#include <string>

#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/bitmap.h"
#include "base/error.h"
#include "pictures/registry.h"

namespace {

std::string TemporaryBase() {
  const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
  return std::string(base ? base : "/tmp") + "/fuzz_picture_" + std::to_string(::getpid()) + ".";
}

// Each format's own budget (budgets.h); the formats whose codecs have no bound per byte get
// the pixel limit's worth.
fuzz_support::AllocationBudget BudgetFor(const pictures::FormatEntry& format,
                                         std::span<const uint8_t> file) {
  const std::string& extension = format.extension;
  const auto is = [&](std::initializer_list<const char*> names) {
    for (const char* name : names)
      if (extension == name) return true;
    return false;
  };
  if (is({"webp", "heic", "heif", "avif", "jxl", "jp2", "j2k", "j2c", "jpf", "jpx", "svg", "svgz",
          "exr", "kra", "ora", "icns"}) ||
      format.description == "Camera raw images")
    return fuzz_budgets::kUnbounded;
  if (is({"xcf"})) return fuzz_budgets::kXcf;
  if (is({"mpo"})) return fuzz_budgets::Jpeg(file);
  if (is({"tif", "tiff"})) return fuzz_budgets::Tiff(file);
  if (is({"jpg", "jpeg", "jpe", "jfif"})) return fuzz_budgets::Jpeg(file);
  if (is({"png", "ico", "cur"})) return fuzz_budgets::kPng;
  if (is({"iff", "ilbm", "lbm"})) return fuzz_budgets::kIlbm;
  if (is({"hdr"})) return fuzz_budgets::kRadiance;
  if (is({"bmp", "dib", "rle"})) return fuzz_budgets::kWindowsBitmap;
  if (is({"gif"})) return fuzz_budgets::kGif;
  if (is({"rla", "rpf"})) return fuzz_budgets::kRla;
  if (is({"sgi", "rgb", "rgba", "bw"})) return fuzz_budgets::kSgi;
  return fuzz_budgets::kRunLength;
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
  const pictures::FormatEntry& format = formats[data[0] % formats.size()];
  const std::string& extension = format.extension;
  const std::string path = base + extension;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (size > 1 && std::fwrite(data + 1, 1, size - 1, file) != size - 1) std::abort();
  std::fclose(file);
  pictures::Picture picture;
  try {
    {
      fuzz_support::AllocationWatch watch(size, BudgetFor(format, {data + 1, size - 1}));
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
