// The TIFF reader's two paths to one picture: a file that our own strip reader takes is
// decoded by it and by the libtiff path that every other TIFF goes to, and the two pictures,
// drawn in 24 bits, must agree wherever both paths accept the file.
//
// Agreement is asked only of files that both paths are meant to read alike: libtiff reads
// the first directory without complaint (it passes over tags of the wrong count, which our
// reader takes as they stand) and decodes every strip whole and without an error (of
// damaged data our reader keeps what decoded before the damage, libtiff nothing of the
// strip), the file names its photometric interpretation (without the tag our reader takes
// white as zero, as the format defines, where libtiff guesses from the samples), and both
// count the same strips. 16-bit samples are cut to their upper byte by our reader and
// rounded by the libtiff path: they may differ by one.
#include <tiffio.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "budgets.h"
#include "fuzz_support.h"
#include "pictures/formats/tiff.h"
#include "pictures/formats/tiff_library.h"
#include "pictures/stream.h"

namespace {

// ---- libtiff over the input's bytes, for its verdict on the strips.

struct Memory {
  std::span<const uint8_t> bytes;
  uint64_t position = 0;
};

tmsize_t Read(thandle_t handle, void* buffer, tmsize_t size) {
  auto* memory = static_cast<Memory*>(handle);
  if (size <= 0 || memory->position >= memory->bytes.size()) return 0;
  const size_t n = std::min<uint64_t>(uint64_t(size), memory->bytes.size() - memory->position);
  std::memcpy(buffer, memory->bytes.data() + memory->position, n);
  memory->position += n;
  return tmsize_t(n);
}
tmsize_t Write(thandle_t, void*, tmsize_t) { return 0; }
toff_t Seek(thandle_t handle, toff_t offset, int whence) {
  auto* memory = static_cast<Memory*>(handle);
  const uint64_t from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? memory->position
                                                                    : memory->bytes.size();
  memory->position = from + offset;
  return memory->position;
}
int Close(thandle_t) { return 0; }
toff_t Size(thandle_t handle) { return static_cast<Memory*>(handle)->bytes.size(); }
int Map(thandle_t, void**, toff_t*) { return 0; }
void Unmap(thandle_t, void*, toff_t) {}

// A message means libtiff repaired or passed over part of the file (a tag of the wrong
// count, say, which our reader takes as it stands), except for the few about what neither
// reader looks at: tags libtiff does not know, and a directory out of tag order (both
// readers sort it).
bool Harmless(const char* format) {
  for (const char* text : {"Unknown field", "TIFF_SETGET_UNDEFINED", "tags are not sorted",
                           "does not end in null byte"})
    if (std::strstr(format, text)) return true;
  return false;
}

int CountMessage(TIFF*, void* user, const char*, const char* format, va_list) {
  if (!Harmless(format)) ++*static_cast<int*>(user);
  return 1;
}

// The rows of strip `strip`: RowsPerStrip, fewer in the last strip of each plane.
uint32_t StripRows(TIFF* tif, uint32_t strip) {
  uint32_t height = 0, rows = 0;
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
  rows = std::min(rows ? rows : height, height);
  if (rows == 0) return 0;
  const uint32_t stripsPerPlane = (height + rows - 1) / rows;
  const uint64_t first = uint64_t(strip % stripsPerPlane) * rows;
  return uint32_t(std::min<uint64_t>(rows, height - first));
}

// What libtiff makes of the first image: its strips, when it reads the directory and
// decodes each strip to its full size without a message that matters (0 otherwise), and
// its bits a sample.
struct Verdict {
  uint32_t soundStrips = 0;
  uint16_t bits = 0;
};

Verdict LibtiffVerdict(std::span<const uint8_t> file) {
  static const bool silenced =
      (TIFFSetErrorHandler(nullptr), TIFFSetWarningHandler(nullptr), true);
  (void)silenced;
  int errors = 0;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, CountMessage, &errors);
  TIFFOpenOptionsSetWarningHandlerExtR(options, CountMessage, &errors);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, 64 << 20);
  Memory memory{file};
  TIFF* tif = TIFFClientOpenExt("paths", "rm", &memory, Read, Write, Seek, Close, Size, Map,
                                Unmap, options);
  TIFFOpenOptionsFree(options);
  Verdict verdict;
  if (!tif) return verdict;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &verdict.bits);
  const uint32_t strips = TIFFNumberOfStrips(tif);
  const tmsize_t stripSize = TIFFStripSize(tif);
  bool sound = errors == 0 && !TIFFIsTiled(tif) && stripSize > 0 && stripSize <= (64 << 20);
  std::vector<uint8_t> buffer(sound ? size_t(stripSize) : 0);
  for (uint32_t s = 0; s < strips && sound; ++s)
    sound = TIFFReadEncodedStrip(tif, s, buffer.data(), stripSize) ==
                TIFFVStripSize(tif, StripRows(tif, s)) &&
            errors == 0;
  TIFFClose(tif);
  if (sound) verdict.soundStrips = strips;
  return verdict;
}

const pictures::TTIFFGraphic::Entry* FindEntry(const pictures::TTIFFGraphic& picture,
                                               uint16_t tag) {
  for (const auto& entry : picture.Directory)
    if (entry.tag == tag) return &entry;
  return nullptr;
}

pictures::Bitmap Drawn(const pictures::Bitmap& picture) {
  pictures::Bitmap canvas;
  canvas.SetPixelFormat(pictures::PixelFormat::Bits24);
  canvas.SetSize(picture.Width(), picture.Height());
  pictures::DrawOnCanvas(canvas, picture);
  return canvas;
}

void RequireSamePictures(const pictures::Bitmap& own, const pictures::Bitmap& library,
                         int tolerance) {
  if (own.Width() != library.Width() || own.Height() != library.Height()) __builtin_trap();
  const pictures::Bitmap a = Drawn(own), b = Drawn(library);
  for (int y = 0; y < a.Height(); ++y) {
    const uint8_t* p = a.ScanLine(y);
    const uint8_t* q = b.ScanLine(y);
    for (size_t i = 0; i < size_t(a.Width()) * 3; ++i)
      if (std::abs(int(p[i]) - int(q[i])) > tolerance) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  return fuzz_support::LoadFromMemory<pictures::TTIFFGraphic>(
      data, size,
      [&](const pictures::TTIFFGraphic& own) {
        if (own.ReadByLibrary || own.Width() > 1024 || own.Height() > 1024) return;
        const auto* photometric = FindEntry(own, 262);
        const auto* offsets = FindEntry(own, 273);
        if (!photometric || !offsets) return;
        const Verdict verdict = LibtiffVerdict(file);
        if (verdict.soundStrips == 0 || verdict.soundStrips != offsets->count) return;
        pictures::Bitmap library;
        pictures::MemoryStream stream(file);
        try {
          pictures::ReadTIFFWithLibrary(library, stream, 0);
        } catch (const pictures::PictureError&) {
          return;
        }
        RequireSamePictures(own, library, verdict.bits == 16 ? 1 : 0);
      },
      fuzz_budgets::Tiff(file));
}
