#include "pictures/formats/targa.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <vector>

#include "compression/rle.h"
#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TTargaGraphic, Bitmap)

namespace {

constexpr size_t kHeaderSize = 18;
constexpr uint8_t kTopRowFirst = 0x20;
constexpr uint8_t kRightToLeft = 0x10;
const char* const kInvalidImage = "Targa: invalid image";

struct TargaHeader {
  uint8_t idLength;
  uint8_t colourMapType;
  uint8_t imageType;
  uint16_t colourMapLength;
  uint8_t colourMapEntrySize;
  uint16_t width;
  uint16_t height;
  uint8_t depth;
  uint8_t descriptor;

  bool Grey() const { return imageType == 3 || imageType == 11; }
  bool Packed() const { return imageType == 9 || imageType == 10 || imageType == 11; }
  bool Plain() const { return imageType == 1 || imageType == 2 || imageType == 3; }
  // 16-bit grey pixels are a grey byte and an alpha byte.
  bool GreyAlpha() const { return Grey() && depth == 16; }
  // Bytes a colour map entry takes in the file: 24- and 32-bit entries are stored whole,
  // every other size as one 16-bit word.
  size_t MapEntryBytes() const {
    return colourMapEntrySize == 24 ? 3 : colourMapEntrySize == 32 ? 4 : 2;
  }
};

TargaHeader ParseHeader(const std::array<uint8_t, kHeaderSize>& bytes) {
  ByteReader in(bytes);
  TargaHeader h{};
  h.idLength = in.U8();
  h.colourMapType = in.U8();
  h.imageType = in.U8();
  in.U16LE();  // first colour map index: entries are numbered from 0 all the same
  h.colourMapLength = in.U16LE();
  h.colourMapEntrySize = in.U8();
  in.U16LE();  // X origin
  in.U16LE();  // Y origin
  h.width = in.U16LE();
  h.height = in.U16LE();
  h.depth = in.U8();
  h.descriptor = in.U8();
  return h;
}

// Bytes per pixel of a pixel depth, and the Bitmap format that holds such pixels as they
// are stored; 0 for a depth this reader does not know.
size_t BytesPerPixel(uint8_t depth) {
  switch (depth) {
    case 8: return 1;
    case 15:
    case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 0;
  }
}

PixelFormat FormatOf(const TargaHeader& header) {
  if (header.GreyAlpha()) return PixelFormat::Bits8;
  switch (header.depth) {
    case 8: return PixelFormat::Bits8;
    case 15:
    case 16: return PixelFormat::Bits15;
    case 24: return PixelFormat::Bits24;
    case 32: return PixelFormat::Bits32;
    default: return PixelFormat::Device;
  }
}

// Reads the colour map. Every entry is read so that the stream ends up at the pixel rows,
// but a palette holds 256 colours, so entries past the 256th are dropped. A map cut short
// leaves its missing entries black.
LogPalette ReadColourMap(Stream& stream, const TargaHeader& header) {
  const size_t entryBytes = header.MapEntryBytes();
  std::vector<uint8_t> map(size_t(header.colourMapLength) * entryBytes, 0);
  stream.Read(map.data(), map.size());
  LogPalette palette(std::min<size_t>(header.colourMapLength, 256));
  for (size_t i = 0; i < palette.entries.size(); ++i) {
    const uint8_t* e = &map[i * entryBytes];
    PaletteEntry& p = palette.entries[i];
    if (entryBytes >= 3) {
      p.blue = e[0];
      p.green = e[1];
      p.red = e[2];
    } else {
      const uint16_t w = LoadU16LE(e);
      p.blue = uint8_t((w & 0x1F) << 3);
      p.green = uint8_t((w & 0x3E0) >> 2);
      p.red = uint8_t((w & 0x7C00) >> 7);
    }
  }
  return palette;
}

// How a row as the file stores it becomes a Bitmap row.
struct RowLayout {
  size_t width;
  size_t pixelBytes;  // in the file
  bool greyAlpha;     // the grey byte of each pixel is kept, its alpha dropped
  bool rightToLeft;   // the row is turned round

  bool AsStored() const { return !greyAlpha && !rightToLeft; }
  size_t StoredBytes() const { return width * pixelBytes; }
};

void PlaceRow(const RowLayout& layout, const uint8_t* stored, uint8_t* row) {
  const size_t outBytes = layout.greyAlpha ? 1 : layout.pixelBytes;
  for (size_t x = 0; x < layout.width; ++x) {
    const size_t to = layout.rightToLeft ? layout.width - 1 - x : x;
    std::memcpy(row + to * outBytes, stored + x * layout.pixelBytes, outBytes);
  }
}

}  // namespace

void TTargaGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::array<uint8_t, kHeaderSize> headerBytes{};
  if (stream.Read(headerBytes.data(), headerBytes.size()) < headerBytes.size())
    throw PictureError(kInvalidImage);
  const TargaHeader header = ParseHeader(headerBytes);
  const bool topRowFirst = header.descriptor & kTopRowFirst;
  const size_t pixelBytes = BytesPerPixel(header.depth);
  const RowLayout layout{header.width, pixelBytes, header.GreyAlpha(),
                         (header.descriptor & kRightToLeft) != 0};

  // Types 0 (no pixel data), 1-3 (plain) and 9-11 (packed) are the ones this reader knows;
  // pixel data of any other type, or at a depth it cannot hold, is not read as a blank
  // picture but refused.
  if (header.imageType != 0 && ((!header.Plain() && !header.Packed()) || pixelBytes == 0))
    throw PictureError(kInvalidImage);

  stream.Seek(stream.Position() + header.idLength);
  SetPixelFormat(FormatOf(header));

  if (header.Grey()) {
    // A grey picture takes its levels as they are. A colour map announced beside it is
    // skipped, since the pixel rows follow it in the file.
    if (header.colourMapType == 1)
      stream.Seek(stream.Position() +
                  int64_t(header.colourMapLength) * int64_t(header.MapEntryBytes()));
    if (GetPixelFormat() == PixelFormat::Bits8)
      SetPalette(CreatePalette(GreyPaletteRecord()));
  } else if (header.colourMapType == 1) {
    // The map is read (and so skipped) for true-colour pictures too; only an 8-bit
    // picture has a use for it.
    const LogPalette palette = ReadColourMap(stream, header);
    if (GetPixelFormat() == PixelFormat::Bits8) SetPalette(CreatePalette(palette));
  }

  const size_t rowBytes = layout.StoredBytes();
  const int height = header.height;
  // The data must be able to fill the picture before it takes its memory: a plain
  // picture byte for byte, a packed one with every packet a run of 128 pixels.
  const uint64_t pictureBytes = uint64_t(rowBytes) * uint64_t(height);
  const uint64_t available = uint64_t(stream.Remaining());
  if (header.Plain() && available < pictureBytes) throw PictureError(kInvalidImage);
  if (header.Packed() && !CanFill(TargaMaxUnpacked(available, uint32_t(pixelBytes)), 1, pictureBytes))
    throw PictureError(kInvalidImage);
  // A picture without pixel data is blank; it may be no larger than its file could have
  // described in packets of 128 one-byte pixels, so that a few bytes cannot claim a huge
  // blank picture.
  if (header.imageType == 0 &&
      !CanFill(TargaMaxUnpacked(uint64_t(stream.Size()), 1), 1,
               uint64_t(header.width) * uint64_t(header.height)))
    throw PictureError(kInvalidImage);
  SetSize(header.width, header.height);
  if (rowBytes == 0 || height == 0) return;
  auto targetRow = [&](int r) { return ScanLine(topRowFirst ? r : height - r - 1); };

  if (header.Plain()) {
    std::vector<uint8_t> stored(layout.AsStored() ? 0 : rowBytes);
    for (int r = 0; r < height; ++r) {
      uint8_t* row = targetRow(r);
      uint8_t* into = layout.AsStored() ? row : stored.data();
      if (stream.Read(into, rowBytes) < rowBytes) throw PictureError(kInvalidImage);
      if (!layout.AsStored()) PlaceRow(layout, stored.data(), row);
    }
  } else if (header.Packed()) {
    // Packets run on from one row into the next (writers may let a packet cross a row's
    // end), so one packet reader serves all rows. They are expanded from the stream's
    // memory straight into the rows. A file cut short leaves the rest of the picture black.
    std::vector<uint8_t> storage;
    const std::span<const uint8_t> packed = stream.ReadRestView(storage);
    TargaPacketReader packets(packed.data(), packed.size(), pixelBytes);
    std::vector<uint8_t> stored(layout.AsStored() ? 0 : rowBytes);
    for (int r = 0; r < height; ++r) {
      uint8_t* row = targetRow(r);
      const size_t got = packets.Read(layout.AsStored() ? row : stored.data(), rowBytes);
      if (!layout.AsStored()) {
        std::fill(stored.begin() + ptrdiff_t(got), stored.end(), 0);
        PlaceRow(layout, stored.data(), row);
      }
      if (got < rowBytes) break;
    }
  }
}

}  // namespace pictures
