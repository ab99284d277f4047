// An icon file is a directory (reserved word 0, type 1 for icons or 2 for cursors, entry
// count) of 16-byte entries (width, height, colour count, reserved, planes, bits per
// pixel, byte count, offset), each naming one picture: a DIB whose height counts the
// colour (XOR) rows and the 1-bit AND mask below them, or a whole PNG file.
#include "pictures/formats/icon.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/formats/png.h"
#include "pictures/formats/windows_bitmap.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TIcon, Bitmap)
PICTURES_DEFINE_READER_CLASS(TCURGraphic, Bitmap)

namespace {

constexpr int kStandardSize = 32;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct Entry {
  std::span<const uint8_t> data;
  int width = 0;
  int height = 0;
  int bits = 0;
  bool png = false;
};

bool IsPng(std::span<const uint8_t> data) {
  return data.size() >= 8 && std::memcmp(data.data(), kPngSignature, 8) == 0;
}

// The size and colour depth of an entry, from its own picture header rather than from the
// directory, whose fields are often zero or wrong. Entries that cannot be decoded are
// passed over.
std::optional<Entry> Describe(std::span<const uint8_t> data) {
  Entry entry;
  entry.data = data;
  if (IsPng(data)) {
    // The IHDR chunk comes first: length, "IHDR", width, height, depth, colour type.
    if (data.size() < 8 + 8 + 13) return std::nullopt;
    ByteReader header(data.subspan(16, 10));
    entry.width = static_cast<int>(header.U32BE() & 0x7FFFFFFF);
    entry.height = static_cast<int>(header.U32BE() & 0x7FFFFFFF);
    const int depth = header.U8();
    const int colourType = header.U8();
    const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    entry.bits = colourType == 3 ? depth : depth * channels;
    entry.png = true;
  } else {
    if (data.size() < 16) return std::nullopt;
    ByteReader header(data);
    const uint32_t size = header.U32LE();
    if (size == 12) {
      entry.width = header.U16LE();
      entry.height = header.U16LE() / 2;
      header.U16LE();
    } else if (size >= 16) {
      entry.width = header.S32LE();
      const int32_t doubled = header.S32LE();
      entry.height = (doubled < 0 ? -(doubled / 2) : doubled / 2);
      header.U16LE();
    } else {
      return std::nullopt;
    }
    entry.bits = header.U16LE();
  }
  if (entry.width <= 0 || entry.height <= 0) return std::nullopt;
  return entry;
}

// Icons: prefers the standard size; otherwise the nearest size, the larger of two equally
// near; then the most bits per pixel; then the earlier entry.
bool NearerTheStandardSize(const Entry& a, const Entry& b) {
  auto distance = [](const Entry& e) {
    return int64_t(std::abs(e.width - kStandardSize)) + std::abs(e.height - kStandardSize);
  };
  if (distance(a) != distance(b)) return distance(a) < distance(b);
  if (int64_t(a.width) * a.height != int64_t(b.width) * b.height)
    return int64_t(a.width) * a.height > int64_t(b.width) * b.height;
  return a.bits > b.bits;
}

// Cursors: the largest entry, then the most bits per pixel, then the earlier entry.
bool Larger(const Entry& a, const Entry& b) {
  if (int64_t(a.width) * a.height != int64_t(b.width) * b.height)
    return int64_t(a.width) * a.height > int64_t(b.width) * b.height;
  return a.bits > b.bits;
}

// What differs between the two kinds of file that share the icon layout.
struct IconKind {
  const char* invalid;  // the message of a file that cannot be shown
  bool (*better)(const Entry&, const Entry&);

  [[noreturn]] void Fail() const { throw PictureError(invalid); }
};

constexpr IconKind kIcon{"Icon image is not valid", NearerTheStandardSize};
constexpr IconKind kCursor{"CUR: cursor image is not valid", Larger};

void DecodePngEntry(std::span<const uint8_t> data, Bitmap& bitmap, const IconKind& kind) {
  try {
    DecodePng(data, bitmap, PngTarget::Bgra);
  } catch (const BitmapTooLarge&) {
    throw;
  } catch (const PictureError& error) {
    throw PictureError(std::string(kind.invalid) + " (" + error.what() + ")");
  }
}

void DecodeDib(std::span<const uint8_t> data, Bitmap& bitmap, const IconKind& kind) {
  MemoryStream stream(data);
  DibHeader header;
  std::vector<PaletteEntry> palette;
  Bitmap colours;
  try {
    header = ReadDibHeader(stream);
    // The height covers the colour rows and the mask rows.
    header.height /= 2;
    if (header.height == 0 || header.compression == DibCompression::Rle4 ||
        header.compression == DibCompression::Rle8 || header.compression == DibCompression::Rle24)
      kind.Fail();
    if (header.bitCount == 32 && header.compression == DibCompression::None) {
      // The fourth byte of a 32-bit icon is its alpha.
      header.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
      header.useAlpha = true;
    }
    if (header.bitCount <= 8) {
      palette = ReadDibPalette(stream, header, header.paletteEntries);
    } else {
      stream.Seek(stream.Position() + int64_t(header.paletteEntries) * header.paletteEntrySize);
    }
    const int64_t pixelStart = stream.Position();
    DecodeDibPixels(stream, header, palette, colours);
    stream.Seek(pixelStart + int64_t(header.StoredRowStride() * uint64_t(header.height)));
  } catch (const BitmapTooLarge&) {
    throw;
  } catch (const PictureError&) {
    kind.Fail();
  }

  bitmap.SetPixelFormat(PixelFormat::Bits32);
  bitmap.SetSize(header.width, header.height);
  bitmap.SetTransparent(true);
  // The AND mask follows the colour rows: 1 bit a pixel, 1 = transparent, rows padded to
  // 4 bytes, stored in the same order. A mask that is missing or cut short leaves the
  // rest opaque.
  const bool ownAlpha = colours.GetPixelFormat() == PixelFormat::Bits32 && colours.Transparent();
  // The colours as stored: the alpha is applied once, when the icon is drawn.
  colours.SetTransparent(false);
  const size_t maskStride = (size_t(header.width) + 31) / 32 * 4;
  std::vector<uint8_t> mask;
  if (!ownAlpha) {
    mask.assign(CheckedBufferSize({maskStride, uint64_t(header.height)}), 0);
    stream.Read(mask.data(), mask.size());
  }
  std::vector<uint8_t> bgr(CheckedBufferSize({uint64_t(header.width), 3}));
  for (int y = 0; y < header.height; ++y) {
    RowToBGR(colours, y, bgr.data());
    uint8_t* out = bitmap.ScanLine(y);
    const uint8_t* alpha = ownAlpha ? colours.ScanLine(y) : nullptr;
    const int stored = header.topDown ? y : header.height - 1 - y;
    const uint8_t* maskRow = ownAlpha ? nullptr : mask.data() + size_t(stored) * maskStride;
    for (int x = 0; x < header.width; ++x, out += 4) {
      out[0] = bgr[3 * x];
      out[1] = bgr[3 * x + 1];
      out[2] = bgr[3 * x + 2];
      out[3] = ownAlpha ? alpha[4 * x + 3] : (maskRow[x >> 3] >> (7 - (x & 7)) & 1) ? 0 : 255;
    }
  }
}

// Reads the directory (reserved word 0, type 1 for icons or 2 for cursors, entry count) and
// decodes the entry the kind prefers. In a cursor's directory the planes and bits fields
// hold the hot spot; the reader takes sizes and depths from the entries themselves.
void LoadIconFile(Stream& stream, Bitmap& bitmap, const IconKind& kind) {
  // A view of a mapped file, so that a file whose directory is wrong is not read whole.
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> file = stream.ReadRestView(storage);
  bitmap.Clear();
  if (file.size() < 6) kind.Fail();
  ByteReader directory(file);
  const uint16_t reserved = directory.U16LE();
  const uint16_t type = directory.U16LE();
  const uint16_t count = directory.U16LE();
  if (reserved != 0 || (type != 1 && type != 2) || count == 0) kind.Fail();

  std::optional<Entry> chosen;
  for (uint16_t i = 0; i < count && directory.Remaining() >= 16; ++i) {
    directory.Skip(8);  // width, height, colours, reserved, planes or hot spot, bits or hot spot
    const uint32_t bytes = directory.U32LE();
    const uint32_t offset = directory.U32LE();
    if (offset >= file.size() || bytes == 0) continue;
    // A byte count that runs past the end is cut to what the file holds.
    const size_t length = std::min<size_t>(bytes, file.size() - offset);
    const std::optional<Entry> entry =
        Describe(file.subspan(offset, length));
    if (entry && (!chosen || kind.better(*entry, *chosen))) chosen = entry;
  }
  if (!chosen) kind.Fail();
  if (chosen->png)
    DecodePngEntry(chosen->data, bitmap, kind);
  else
    DecodeDib(chosen->data, bitmap, kind);
}

}  // namespace

void TIcon::LoadFromStream(Stream& stream) { LoadIconFile(stream, *this, kIcon); }

void TCURGraphic::LoadFromStream(Stream& stream) { LoadIconFile(stream, *this, kCursor); }

}  // namespace pictures
