#include "pictures/orientation.h"

#include <cstring>

#include "base/byte_reader.h"
#include "base/error.h"

namespace pictures {

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kShortType = 3;

int ReadOrientation(ByteReader& exif) {
  if (std::memcmp(exif.Bytes(6).data(), "Exif\0\0", 6) != 0) return 1;
  ByteReader tiff(exif.Rest());
  const uint16_t order = tiff.U16LE();
  if (order != 0x4949 && order != 0x4D4D) return 1;
  const bool little = order == 0x4949;
  const auto u16 = [&] { return little ? tiff.U16LE() : tiff.U16BE(); };
  const auto u32 = [&] { return little ? tiff.U32LE() : tiff.U32BE(); };
  if (u16() != 42) return 1;
  tiff.Seek(u32());
  const uint16_t entries = u16();
  for (uint16_t i = 0; i < entries; ++i) {
    const uint16_t tag = u16();
    const uint16_t type = u16();
    const uint32_t count = u32();
    const uint16_t value = u16();
    tiff.Skip(2);
    if (tag == kOrientationTag)
      return type == kShortType && count == 1 && value >= 1 && value <= 8 ? value : 1;
  }
  return 1;
}

}  // namespace

int ExifOrientation(std::span<const uint8_t> app1) {
  try {
    ByteReader exif(app1);
    return ReadOrientation(exif);
  } catch (const PictureError&) {
    return 1;  // EXIF data cut short: the picture is shown as stored
  }
}

void ApplyOrientation(Bitmap& bitmap, int orientation) {
  const PixelFormat format = bitmap.GetPixelFormat();
  if (orientation < 2 || orientation > 8 || bitmap.Empty() ||
      (format != PixelFormat::Bits24 && format != PixelFormat::Bits32))
    return;
  const size_t bytes = format == PixelFormat::Bits24 ? 3 : 4;
  const int width = bitmap.Width(), height = bitmap.Height();
  const bool swapsSides = orientation >= 5;
  Bitmap turned;
  turned.SetPixelFormat(format);
  turned.SetSize(swapsSides ? height : width, swapsSides ? width : height);
  turned.SetTransparent(bitmap.Transparent());
  const Bitmap& source = bitmap;
  for (int y = 0; y < turned.Height(); ++y) {
    uint8_t* out = turned.ScanLine(y);
    for (int x = 0; x < turned.Width(); ++x, out += bytes) {
      // The stored pixel (column, row) that shows at (x, y).
      int column = x, row = y;
      switch (orientation) {
        case 2: column = width - 1 - x; break;
        case 3: column = width - 1 - x; row = height - 1 - y; break;
        case 4: row = height - 1 - y; break;
        case 5: column = y; row = x; break;
        case 6: column = y; row = height - 1 - x; break;
        case 7: column = width - 1 - y; row = height - 1 - x; break;
        case 8: column = width - 1 - y; row = x; break;
      }
      std::memcpy(out, source.ScanLine(row) + size_t(column) * bytes, bytes);
    }
  }
  bitmap.Assign(turned);
}

}  // namespace pictures
