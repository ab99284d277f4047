// Windows bitmap files: the Bitmap's own reader and writer.
//
// A file is a 14-byte file header ("BM", file size, two reserved words, offset of the
// pixel data) followed by a DIB: one of the header variants (OS/2 core 12 bytes, OS/2
// version 2 16-64 bytes, Windows 40, 52, 56, 108 or 124 bytes), optional colour masks, a
// colour table and the rows, stored bottom-up unless the height is negative. A file
// without the file header (a packed DIB, as some ".dib" files are) is read as well.
#include "pictures/formats/windows_bitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/atomic_file.h"

namespace pictures {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kOs2HeaderSize = 64;
constexpr uint32_t kLargestHeaderRead = 124;  // the version 5 header

// Compression codes of the header.
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitFields = 3;     // in OS/2 version 2 headers: Huffman 1D
constexpr uint32_t kBiRle24Os2 = 4;      // in Windows headers: JPEG
constexpr uint32_t kBiAlphaBitFields = 6;

[[noreturn]] void Fail(const char* message) { throw PictureError(message); }

bool IsOs2Version2Header(uint32_t size) {
  return size == kOs2HeaderSize || (size >= 16 && size < kInfoHeaderSize);
}

}  // namespace

DibHeader ReadDibHeader(Stream& stream) {
  uint8_t sizeBytes[4];
  if (stream.Read(sizeBytes, 4) != 4) Fail(kBitmapInvalid);
  DibHeader header;
  header.headerSize = LoadU32LE(sizeBytes);
  const uint32_t size = header.headerSize;
  if (size != kCoreHeaderSize && !IsOs2Version2Header(size) && size < kInfoHeaderSize)
    Fail(kBitmapInvalid);
  // Later header versions only add fields at the end; the ones past version 5 are skipped.
  const uint32_t readSize = std::min(size, kLargestHeaderRead) - 4;
  if (static_cast<uint64_t>(stream.Remaining()) < size - 4) Fail(kBitmapInvalid);
  uint8_t raw[kLargestHeaderRead] = {};
  stream.ReadBuffer(raw, readSize);
  stream.Seek(stream.Position() + (size - 4 - readSize));
  // Fields past a short OS/2 version 2 header count as zero, so `raw` is read whole.
  ByteReader fields(std::span<const uint8_t>(raw, sizeof raw - 4));

  int64_t width, height;
  uint32_t compression = kBiRgb;
  uint32_t colorsUsed = 0;
  if (size == kCoreHeaderSize) {
    width = fields.U16LE();
    height = fields.U16LE();
    fields.U16LE();  // planes
    header.bitCount = fields.U16LE();
    header.paletteEntrySize = 3;
  } else {
    width = fields.S32LE();
    height = fields.S32LE();
    fields.U16LE();  // planes
    header.bitCount = fields.U16LE();
    compression = fields.U32LE();
    fields.U32LE();  // size of the pixel data; often zero or wrong, so it is not used
    fields.S32LE();  // horizontal resolution
    fields.S32LE();  // vertical resolution
    colorsUsed = fields.U32LE();
    fields.U32LE();  // important colours
  }
  header.bytesBeforePalette = size;

  if (width <= 0 || height == 0 || height == std::numeric_limits<int32_t>::min())
    Fail(kBitmapInvalid);
  header.width = static_cast<int>(width);
  header.topDown = height < 0;
  header.height = static_cast<int>(height < 0 ? -height : height);

  switch (header.bitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: Fail(kBitmapDepthUnsupported);
  }

  const bool os2 = IsOs2Version2Header(size);
  switch (compression) {
    case kBiRgb:
      header.compression = DibCompression::None;
      break;
    case kBiRle8:
      if (header.bitCount != 8) Fail(kBitmapInvalid);
      header.compression = DibCompression::Rle8;
      break;
    case kBiRle4:
      if (header.bitCount != 4) Fail(kBitmapInvalid);
      header.compression = DibCompression::Rle4;
      break;
    case kBiBitFields:
    case kBiAlphaBitFields: {
      if (os2) Fail(kBitmapCompressionUnsupported);  // Huffman 1D
      if (header.bitCount != 16 && header.bitCount != 32) Fail(kBitmapInvalid);
      header.compression = DibCompression::BitFields;
      const bool withAlpha = compression == kBiAlphaBitFields;
      if (size >= 52) {
        // The masks are part of the header (version 2 and later).
        ByteReader masks(std::span<const uint8_t>(raw + 36, 16));
        for (int i = 0; i < 3; ++i) header.masks[i] = masks.U32LE();
        if (size >= 56) {
          header.masks[3] = masks.U32LE();
          header.useAlpha = header.masks[3] != 0;
        }
      } else {
        // A 40-byte header is followed by three masks, or four for BI_ALPHABITFIELDS.
        const uint32_t count = withAlpha ? 4 : 3;
        uint8_t maskBytes[16];
        if (stream.Read(maskBytes, count * 4) != count * 4) Fail(kBitmapInvalid);
        for (uint32_t i = 0; i < count; ++i) header.masks[i] = LoadU32LE(maskBytes + 4 * i);
        header.useAlpha = withAlpha && header.masks[3] != 0;
        header.bytesBeforePalette += count * 4;
      }
      if ((header.masks[0] | header.masks[1] | header.masks[2]) == 0) Fail(kBitmapInvalid);
      if (header.bitCount == 16 &&
          ((header.masks[0] | header.masks[1] | header.masks[2] | header.masks[3]) >> 16) != 0)
        Fail(kBitmapInvalid);
      break;
    }
    case kBiRle24Os2:
      if (!os2) Fail(kBitmapCompressionUnsupported);  // JPEG inside a bitmap
      if (header.bitCount != 24) Fail(kBitmapInvalid);
      header.compression = DibCompression::Rle24;
      break;
    default:
      Fail(kBitmapCompressionUnsupported);
  }

  if (header.bitCount <= 8) {
    const uint32_t full = 1u << header.bitCount;
    header.paletteEntries = colorsUsed == 0 ? full : std::min(colorsUsed, full);
  } else {
    // A table given "for optimisation" of a true-colour picture is not used, but it still
    // lies between the header and the pixels of a packed DIB.
    header.paletteEntries = colorsUsed;
  }
  return header;
}

std::vector<PaletteEntry> ReadDibPalette(Stream& stream, const DibHeader& header,
                                         uint64_t count) {
  const uint64_t bytes = count * header.paletteEntrySize;
  if (count > 256 || static_cast<uint64_t>(stream.Remaining()) < bytes) Fail(kBitmapTruncated);
  std::vector<uint8_t> raw(static_cast<size_t>(bytes));
  stream.ReadBuffer(raw.data(), raw.size());
  std::vector<PaletteEntry> palette(static_cast<size_t>(count));
  for (size_t i = 0; i < palette.size(); ++i) {
    const uint8_t* p = raw.data() + i * header.paletteEntrySize;
    palette[i] = {p[2], p[1], p[0], 0};  // stored blue, green, red
  }
  return palette;
}

namespace {

// One colour channel of a BI_BITFIELDS picture: where its bits are and how to widen them
// to 8 bits. Masks need not be contiguous; the bits under the mask are taken as a number
// and scaled from their largest possible value to 255.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;

  explicit Channel(uint32_t m) : mask(m) {
    if (mask) {
      shift = std::countr_zero(mask);
      max = mask >> shift;
    }
  }
  uint8_t operator()(uint32_t pixel) const {
    if (!max) return 0;
    const uint64_t value = (pixel & mask) >> shift;
    return static_cast<uint8_t>((value * 255 + max / 2) / max);
  }
};

bool IsFiveFiveFive(const DibHeader& h) {
  return h.compression == DibCompression::None ||
         (!h.useAlpha && h.masks[0] == 0x7C00 && h.masks[1] == 0x03E0 && h.masks[2] == 0x001F);
}

bool IsByteAligned32(const DibHeader& h) {
  return h.compression == DibCompression::None ||
         (h.masks[0] == 0x00FF0000 && h.masks[1] == 0x0000FF00 && h.masks[2] == 0x000000FF &&
          (!h.useAlpha || h.masks[3] == 0xFF000000));
}

PixelFormat NaturalFormat(const DibHeader& h) {
  switch (h.bitCount) {
    case 1: return PixelFormat::Bits1;
    case 4: return PixelFormat::Bits4;
    case 8: return PixelFormat::Bits8;
    case 16:
      if (IsFiveFiveFive(h)) return PixelFormat::Bits15;
      return h.useAlpha ? PixelFormat::Bits32 : PixelFormat::Bits24;
    case 24: return PixelFormat::Bits24;
    default:
      if (IsByteAligned32(h) || h.useAlpha) return PixelFormat::Bits32;
      return PixelFormat::Bits24;
  }
}

// Row y of the picture as stored (0 = the first row in the file) in the Bitmap.
int BitmapRow(const DibHeader& h, int64_t storedRow) {
  return h.topDown ? static_cast<int>(storedRow) : h.height - 1 - static_cast<int>(storedRow);
}

// Run-length data (RLE8, RLE4 and the OS/2 RLE24). A code pair is a count and a value:
// a count above zero repeats the value (two alternating nibbles for RLE4); a count of zero
// starts an escape: 0 ends the row, 1 ends the picture, 2 moves right and down by the next
// two bytes, and 3 or more gives that many literal pixels, padded to a 16-bit boundary.
// Pixels that a run puts past the right edge are dropped; data that ends early leaves the
// rest of the picture at colour 0.
void DecodeRunLength(std::span<const uint8_t> data, const DibHeader& h, Bitmap& bitmap) {
  const int pixelBytes = h.compression == DibCompression::Rle24 ? 3 : 1;
  const bool nibbles = h.compression == DibCompression::Rle4;
  const int64_t width = h.width;
  int64_t x = 0, y = 0;
  uint8_t* row = bitmap.ScanLine(BitmapRow(h, 0));

  auto put = [&](const uint8_t* value, int nibble) {
    if (x < width) {
      if (pixelBytes == 3) {
        std::memcpy(row + x * 3, value, 3);
      } else if (nibbles) {
        const unsigned v = nibble ? value[0] & 0x0F : value[0] >> 4;
        uint8_t& target = row[x >> 1];
        target = (x & 1) ? static_cast<uint8_t>((target & 0xF0) | v)
                         : static_cast<uint8_t>((target & 0x0F) | v << 4);
      } else {
        row[x] = value[0];
      }
    }
    ++x;
  };

  ByteReader in(data);
  while (in.Remaining() >= 2 && y < h.height) {
    const uint8_t count = in.U8();
    if (count > 0) {
      if (in.Remaining() < size_t(pixelBytes)) break;
      const auto value = in.Bytes(pixelBytes);
      for (int i = 0; i < count; ++i) put(value.data(), i & 1);
      continue;
    }
    const uint8_t escape = in.U8();
    if (escape == 0) {  // end of row
      x = 0;
      if (++y < h.height) row = bitmap.ScanLine(BitmapRow(h, y));
    } else if (escape == 1) {  // end of picture
      break;
    } else if (escape == 2) {  // delta
      if (in.Remaining() < 2) break;
      x += in.U8();
      const uint8_t dy = in.U8();
      if (dy) {
        y += dy;
        if (y < h.height) row = bitmap.ScanLine(BitmapRow(h, y));
      }
    } else {  // literal pixels
      const size_t bytes = nibbles ? (escape + 1u) / 2 : size_t(escape) * pixelBytes;
      const size_t available = std::min(bytes, in.Remaining());
      const auto literal = in.Bytes(available);
      if (nibbles) {
        for (size_t i = 0; i < escape && i / 2 < available; ++i) put(&literal[i / 2], i & 1);
      } else {
        for (size_t i = 0; i + pixelBytes <= available; i += pixelBytes) put(&literal[i], 0);
      }
      if (available < bytes) break;
      if (bytes & 1) {
        if (in.AtEnd()) break;
        in.Skip(1);
      }
    }
  }
}

// Whether `dataBytes` of run-length data can fill the picture, each packet at its longest
// run: 255 pixels from two bytes (RLE8, RLE4) or from four (RLE24). Data that cannot is
// refused before the pixel memory is allocated, so that a small file cannot claim a large
// picture. (Deltas and an early end of the picture leave pixels unset on purpose; files
// that rely on them for most of a large picture are refused as well.)
bool RunLengthCanFill(uint64_t dataBytes, const DibHeader& h) {
  const uint64_t packetBytes = h.compression == DibCompression::Rle24 ? 4 : 2;
  return dataBytes > 0 &&
         CanFill(dataBytes, 255, uint64_t(h.width) * uint64_t(h.height) * packetBytes);
}

// Converts a stored row of BI_BITFIELDS pixels (16 or 32 bits) into 24- or 32-bit pixels.
void ConvertBitFieldsRow(const uint8_t* stored, uint8_t* out, const DibHeader& h,
                         const Channel (&channels)[4], bool withAlpha) {
  const int outBytes = withAlpha ? 4 : 3;
  for (int x = 0; x < h.width; ++x, out += outBytes) {
    const uint32_t pixel = h.bitCount == 16 ? LoadU16LE(stored + 2 * x) : LoadU32LE(stored + 4 * x);
    out[0] = channels[2](pixel);
    out[1] = channels[1](pixel);
    out[2] = channels[0](pixel);
    if (withAlpha) out[3] = channels[3](pixel);
  }
}

// A picture whose alpha is zero everywhere was written by a program that did not use the
// alpha channel; showing it fully transparent would lose it, so it is taken as opaque.
void SettleAlpha(Bitmap& bitmap, bool useAlpha) {
  bool anyAlpha = false;
  for (int y = 0; useAlpha && !anyAlpha && y < bitmap.Height(); ++y) {
    const uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x)
      if (row[4 * x + 3]) {
        anyAlpha = true;
        break;
      }
  }
  if (!anyAlpha) {
    for (int y = 0; y < bitmap.Height(); ++y) {
      uint8_t* row = bitmap.ScanLine(y);
      for (int x = 0; x < bitmap.Width(); ++x) row[4 * x + 3] = 255;
    }
  }
  bitmap.SetTransparent(anyAlpha);
}

}  // namespace

void DecodeDibPixels(Stream& stream, const DibHeader& h, const std::vector<PaletteEntry>& palette,
                     Bitmap& bitmap) {
  const PixelFormat format = NaturalFormat(h);
  const uint64_t storedStride = h.StoredRowStride();
  const uint64_t rowBytes = (uint64_t(h.width) * h.bitCount + 7) / 8;
  const bool runLength = h.compression == DibCompression::Rle8 ||
                         h.compression == DibCompression::Rle4 ||
                         h.compression == DibCompression::Rle24;
  if (!runLength) {
    // Every row must be there; only the padding of the last one may be missing.
    const uint64_t remaining = static_cast<uint64_t>(stream.Remaining());
    if (remaining < rowBytes || (remaining - rowBytes) / storedStride < uint64_t(h.height) - 1)
      Fail(kBitmapTruncated);
  } else if (!RunLengthCanFill(static_cast<uint64_t>(stream.Remaining()), h)) {
    Fail(kBitmapTruncated);
  }

  bitmap.Clear();
  bitmap.SetPixelFormat(format);
  if (h.bitCount <= 8) {
    LogPalette record;
    record.entries = palette;
    bitmap.SetPalette(CreatePalette(record));
  }
  bitmap.SetSize(h.width, h.height);

  if (runLength) {
    const std::vector<uint8_t> data = stream.ReadRest();
    DecodeRunLength(data, h, bitmap);
    return;
  }

  const bool direct =
      (h.bitCount <= 8 || h.bitCount == 24) ||
      (h.bitCount == 16 && format == PixelFormat::Bits15) ||
      (h.bitCount == 32 && IsByteAligned32(h));
  if (direct) {
    // The stored rows have the Bitmap's own layout: read them straight into place.
    for (int64_t stored = 0; stored < h.height; ++stored) {
      const size_t count = stored + 1 < h.height ? bitmap.RowStride() : bitmap.RowBytes();
      stream.ReadBuffer(bitmap.ScanLine(BitmapRow(h, stored)), count);
    }
    if (h.bitCount == 32) SettleAlpha(bitmap, h.useAlpha);
    return;
  }

  const Channel channels[4] = {Channel(h.masks[0]), Channel(h.masks[1]), Channel(h.masks[2]),
                               Channel(h.useAlpha ? h.masks[3] : 0)};
  std::vector<uint8_t> stored(CheckedBufferSize({storedStride}));
  for (int64_t row = 0; row < h.height; ++row) {
    const size_t count = row + 1 < h.height ? stored.size() : static_cast<size_t>(rowBytes);
    stream.ReadBuffer(stored.data(), count);
    ConvertBitFieldsRow(stored.data(), bitmap.ScanLine(BitmapRow(h, row)), h, channels,
                        format == PixelFormat::Bits32);
  }
  if (format == PixelFormat::Bits32) SettleAlpha(bitmap, true);
}

void Bitmap::LoadFromStream(Stream& stream) {
  const int64_t start = stream.Position();
  uint8_t fileHeader[kFileHeaderSize];
  const size_t got = stream.Read(fileHeader, kFileHeaderSize);
  const bool hasFileHeader = got == kFileHeaderSize && fileHeader[0] == 'B' && fileHeader[1] == 'M';
  uint32_t pixelOffset = 0;
  if (hasFileHeader) {
    pixelOffset = LoadU32LE(fileHeader + 10);
  } else {
    // A packed DIB starts with its header size.
    const uint32_t size = got >= 4 ? LoadU32LE(fileHeader) : 0;
    if (size != kCoreHeaderSize && size != kInfoHeaderSize && size != 52 && size != 56 &&
        size != kOs2HeaderSize && size != 108 && size != 124)
      Fail(kBitmapInvalid);
    stream.Seek(start);
  }

  const int64_t dibStart = stream.Position();
  const DibHeader header = ReadDibHeader(stream);
  const int64_t paletteStart = dibStart + header.bytesBeforePalette;
  uint64_t paletteEntries = header.paletteEntries;
  int64_t pixelStart;
  // The file header's offset is where the pixels are. An offset that points into the
  // colour table shortens it; one that points into the header is taken as unset.
  if (hasFileHeader && start + int64_t(pixelOffset) >= paletteStart) {
    pixelStart = start + pixelOffset;
    if (header.bitCount <= 8) {
      const uint64_t room = uint64_t(pixelStart - paletteStart) / header.paletteEntrySize;
      if (room < paletteEntries) {
        if (room == 0) Fail(kBitmapInvalid);
        paletteEntries = room;
      }
    }
  } else {
    const uint64_t tableBytes = header.paletteEntries * header.paletteEntrySize;
    if (tableBytes > static_cast<uint64_t>(stream.Size())) Fail(kBitmapTruncated);
    pixelStart = paletteStart + static_cast<int64_t>(tableBytes);
  }
  if (pixelStart > stream.Size()) Fail(kBitmapTruncated);

  std::vector<PaletteEntry> palette;
  if (header.bitCount <= 8) {
    stream.Seek(paletteStart);
    palette = ReadDibPalette(stream, header, paletteEntries);
  }
  stream.Seek(pixelStart);
  DecodeDibPixels(stream, header, palette, *this);
  // The platform draws a bitmap file with its colours as they are: an alpha channel is
  // kept in the pixels but not drawn (icons and metafiles, which decode the same pixels,
  // do draw it).
  SetTransparent(false);
}

namespace {

// The file header, the 40-byte info header of a bottom-up BI_RGB file and, for the palette
// formats, a full colour table: entries past a short palette are black, as they are when
// the Bitmap is drawn.
std::vector<uint8_t> FileHead(int width, int height, int bits, size_t stride,
                              const std::vector<PaletteEntry>& palette) {
  const uint32_t paletteCount = bits <= 8 ? 1u << bits : 0;
  const uint64_t imageBytes = uint64_t(stride) * uint64_t(height);
  const uint64_t pixelOffset = kFileHeaderSize + kInfoHeaderSize + uint64_t(paletteCount) * 4;
  const uint64_t fileSize = pixelOffset + imageBytes;
  if (fileSize > std::numeric_limits<uint32_t>::max())
    throw PictureError("The picture is too large for a bitmap file");

  std::vector<uint8_t> head;
  head.reserve(static_cast<size_t>(pixelOffset));
  auto u16 = [&](uint32_t v) {
    head.push_back(static_cast<uint8_t>(v));
    head.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  // File header.
  head.push_back('B');
  head.push_back('M');
  u32(static_cast<uint32_t>(fileSize));
  u32(0);  // two reserved words
  u32(static_cast<uint32_t>(pixelOffset));
  // 40-byte info header; the rows are stored bottom-up.
  u32(kInfoHeaderSize);
  u32(static_cast<uint32_t>(width));
  u32(static_cast<uint32_t>(height));
  u16(1);  // planes
  u16(static_cast<uint32_t>(bits));
  u32(kBiRgb);
  u32(static_cast<uint32_t>(imageBytes));
  u32(0);  // resolution: not known
  u32(0);
  u32(0);  // colours used: the full table
  u32(0);  // all colours important
  for (uint32_t i = 0; i < paletteCount; ++i) {
    const PaletteEntry entry = i < palette.size() ? palette[i] : PaletteEntry{};
    head.push_back(entry.blue);
    head.push_back(entry.green);
    head.push_back(entry.red);
    head.push_back(0);
  }
  return head;
}

void CheckSavable(const Bitmap& bitmap) {
  if (bitmap.Empty() || bitmap.GetPixelFormat() == PixelFormat::None)
    throw PictureError("Cannot save an empty bitmap");
}

// The padding at the end of each stored row is written as zero whatever memory holds.
constexpr uint8_t kZeroPadding[4] = {};
// Pieces one writev call takes (IOV_MAX on Linux).
constexpr size_t kPiecesPerWrite = 1024;
// Rows converted before they are written: enough for few, large writes, little enough to
// stay in the cache between the conversion and the write.
constexpr size_t kConvertedBytesPerWrite = size_t(1) << 20;

// Writes `height` rows of `rowBytes` bytes bottom-up, each padded with zeros to `stride`.
// `row(y, scratch)` gives row y: a pointer to its bytes where they already are, or, when
// `converts`, `scratch` (room for one row) after filling it.
template <typename RowSource>
void WriteRowsBottomUp(AtomicFile& file, int height, size_t rowBytes, size_t stride,
                       bool converts, RowSource row) {
  const size_t padding = stride - rowBytes;
  const size_t piecesPerRow = padding ? 2 : 1;
  size_t rowsPerWrite = kPiecesPerWrite / piecesPerRow;
  if (converts)
    rowsPerWrite = std::clamp<size_t>(kConvertedBytesPerWrite / rowBytes, 1, rowsPerWrite);
  std::vector<uint8_t> scratch(converts ? rowsPerWrite * rowBytes : 0);
  std::vector<iovec> pieces;
  pieces.reserve(rowsPerWrite * piecesPerRow);
  for (int y = height - 1; y >= 0;) {
    pieces.clear();
    for (size_t k = 0; k < rowsPerWrite && y >= 0; ++k, --y) {
      const uint8_t* bytes = row(y, converts ? scratch.data() + k * rowBytes : nullptr);
      pieces.push_back({const_cast<uint8_t*>(bytes), rowBytes});
      if (padding) pieces.push_back({const_cast<uint8_t*>(kZeroPadding), padding});
    }
    file.Write(pieces);
  }
}

}  // namespace

void Bitmap::SaveToStream(Stream& stream) const {
  CheckSavable(*this);
  const std::vector<uint8_t> head =
      FileHead(width_, height_, BitsPerPixel(format_), stride_, Palette());
  stream.WriteBuffer(head.data(), head.size());
  std::vector<uint8_t> row(stride_);
  const size_t used = RowBytes();
  for (int y = height_ - 1; y >= 0; --y) {
    std::memcpy(row.data(), ScanLine(y), used);
    stream.WriteBuffer(row.data(), row.size());
  }
}

void Bitmap::SaveToFile(const std::string& path) const {
  CheckSavable(*this);
  const std::vector<uint8_t> head =
      FileHead(width_, height_, BitsPerPixel(format_), stride_, Palette());
  AtomicFile file(path);
  file.Write(head);
  WriteRowsBottomUp(file, height_, RowBytes(), stride_, false,
                    [this](int y, uint8_t*) { return ScanLine(y); });
  file.Commit();
}

void SaveAs24BitBitmap(const Bitmap& picture, const std::string& path) {
  CheckSavable(picture);
  const size_t rowBytes = size_t(picture.Width()) * 3;
  const size_t stride = (rowBytes + 3) / 4 * 4;
  const std::vector<uint8_t> head = FileHead(picture.Width(), picture.Height(), 24, stride, {});
  AtomicFile file(path);
  file.Write(head);
  if (picture.GetPixelFormat() == PixelFormat::Bits24) {
    // Already in the file's pixel layout: the rows are written from where they are.
    WriteRowsBottomUp(file, picture.Height(), rowBytes, stride, false,
                      [&](int y, uint8_t*) { return picture.ScanLine(y); });
  } else {
    WriteRowsBottomUp(file, picture.Height(), rowBytes, stride, true,
                      [&](int y, uint8_t* scratch) {
                        RowToBGR(picture, y, scratch);
                        return static_cast<const uint8_t*>(scratch);
                      });
  }
  file.Commit();
}

}  // namespace pictures
