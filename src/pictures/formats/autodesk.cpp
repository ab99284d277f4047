#include "pictures/formats/autodesk.h"

#include <array>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TAutodeskGraphic, Bitmap)

namespace {

constexpr uint16_t kMagic = 0x9119;
constexpr size_t kHeaderSize = 32;  // magic, width, height, 26 unused bytes
constexpr size_t kPaletteSize = 768;

}  // namespace

// The pixels are stored raw, so a file must hold every one of them: one that cannot fill
// its declared picture fails with the read error before the picture takes its memory.
void TAutodeskGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::array<uint8_t, kHeaderSize> header{};
  const size_t headerRead = stream.Read(header.data(), header.size());
  if (headerRead < 2 || LoadU16LE(&header[0]) != kMagic)
    throw PictureError("Cannot load image. Only old style Autodesk images are supported.");
  // Without its width and height there is no picture to show.
  if (headerRead < 6) throw StreamReadError();
  const int width = LoadU16LE(&header[2]);
  const int height = LoadU16LE(&header[4]);

  std::array<uint8_t, kPaletteSize> colours{};
  stream.Read(colours.data(), colours.size());
  LogPalette palette(256);
  for (size_t i = 0; i < palette.entries.size(); ++i) {
    // The components run from 0 to 63; the shift keeps the result within a byte.
    palette.entries[i].red = uint8_t(colours[i * 3] << 2);
    palette.entries[i].green = uint8_t(colours[i * 3 + 1] << 2);
    palette.entries[i].blue = uint8_t(colours[i * 3 + 2] << 2);
  }

  RequireFill(uint64_t(stream.Remaining()), 1, uint64_t(width) * uint64_t(height));

  SetPixelFormat(PixelFormat::Bits8);
  SetPalette(CreatePalette(palette));
  SetSize(width, height);
  for (int y = 0; y < height; ++y) stream.ReadBuffer(ScanLine(y), size_t(width));
}

}  // namespace pictures
