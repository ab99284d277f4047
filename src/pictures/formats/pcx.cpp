#include "pictures/formats/pcx.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "compression/rle.h"
#include "pictures/byte_reader.h"
#include "pictures/error.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TPCXGraphic, Bitmap)

namespace {

constexpr size_t kHeaderSize = 128;
// An 8-bit picture ends with a marker byte and 256 red, green, blue triples.
constexpr int64_t kPaletteBlockSize = 769;
constexpr uint8_t kPaletteMarker = 12;
constexpr uint16_t kGreyPaletteInfo = 2;
const char* const kNotPcx = "Not a PCX or SCR file.";
const char* const kWrongFormat = "PCX: wrong pixel format";

enum class Layout { Mono, Planes16, Indexed256, Rgb24 };

struct PcxHeader {
  uint8_t manufacturer;
  uint8_t version;
  uint8_t encoding;
  uint8_t bitsPerPixel;
  uint16_t xMin, yMin, xMax, yMax;
  std::array<uint8_t, 48> colourMap;
  uint8_t planes;
  uint16_t bytesPerLine;
  uint16_t paletteInfo;
};

PcxHeader ParseHeader(std::span<const uint8_t> bytes) {
  ByteReader in(bytes);
  PcxHeader h{};
  h.manufacturer = in.U8();
  h.version = in.U8();
  h.encoding = in.U8();
  h.bitsPerPixel = in.U8();
  h.xMin = in.U16LE();
  h.yMin = in.U16LE();
  h.xMax = in.U16LE();
  h.yMax = in.U16LE();
  in.Skip(4);  // resolution
  in.Copy(h.colourMap.data(), h.colourMap.size());
  in.Skip(1);  // reserved
  h.planes = in.U8();
  h.bytesPerLine = in.U16LE();
  h.paletteInfo = in.U16LE();
  return h;
}

bool ChooseLayout(const PcxHeader& h, Layout& layout, PixelFormat& format) {
  if (h.bitsPerPixel == 1 && h.planes == 1) {
    layout = Layout::Mono;
    format = PixelFormat::Bits1;
  } else if (h.bitsPerPixel == 1 && h.planes == 4) {
    layout = Layout::Planes16;
    format = PixelFormat::Bits4;
  } else if (h.bitsPerPixel == 8 && h.planes == 1) {
    layout = Layout::Indexed256;
    format = PixelFormat::Bits8;
  } else if (h.bitsPerPixel == 8 && h.planes == 3) {
    layout = Layout::Rgb24;
    format = PixelFormat::Bits24;
  } else {
    return false;
  }
  return true;
}

LogPalette GreyRamp(size_t count, int step) {
  LogPalette record(count);
  for (size_t i = 0; i < count; ++i) {
    const auto v = static_cast<uint8_t>(i * step);
    record.entries[i] = {v, v, v, 0};
  }
  return record;
}

// The palette of the picture. For 8-bit pictures this looks at the block at the end of
// the stream and returns to where it was.
LogPalette BuildPalette(Stream& stream, const PcxHeader& h, Layout layout) {
  if (h.version == 3 && layout != Layout::Mono) {
    LogPalette record;
    record.entries.assign(StandardPalette16().begin(), StandardPalette16().end());
    return record;
  }
  switch (layout) {
    case Layout::Mono: {
      LogPalette record(2);
      record.entries[1] = {255, 255, 255, 0};
      return record;
    }
    case Layout::Planes16: {
      if (h.paletteInfo == kGreyPaletteInfo) return GreyRamp(16, 16);
      LogPalette record(16);
      for (size_t i = 0; i < 16; ++i)
        record.entries[i] = {h.colourMap[3 * i], h.colourMap[3 * i + 1], h.colourMap[3 * i + 2], 0};
      return record;
    }
    case Layout::Indexed256: {
      // A stream too short to hold the block after the header has none.
      const int64_t position = stream.Position();
      if (stream.Size() - position >= kPaletteBlockSize) {
        stream.Seek(stream.Size() - kPaletteBlockSize);
        uint8_t marker = 0;
        if (stream.Read(&marker, 1) == 1 && marker == kPaletteMarker) {
          uint8_t rgb[768];
          stream.ReadBuffer(rgb, sizeof rgb);
          stream.Seek(position);
          LogPalette record(256);
          for (size_t i = 0; i < 256; ++i)
            record.entries[i] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 0};
          return record;
        }
        stream.Seek(position);
      }
      // Without the block the picture's colours are unknown; a colour picture is shown in
      // grey steps as well, which at least keeps its shapes visible.
      return GreyRamp(256, 1);
    }
    case Layout::Rgb24:
      break;
  }
  return LogPalette();
}

// Spreads the 8 bits of a plane byte to the lowest bit of 8 nibbles, in the order the
// nibbles have in 4 bytes of a 4-bit row stored little-endian: the leftmost pixel (bit 7)
// goes to the high nibble of the first byte.
constexpr std::array<uint32_t, 256> MakeNibbleSpread() {
  std::array<uint32_t, 256> table{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t v = 0;
    for (int pixel = 0; pixel < 8; ++pixel) {
      if (b & (0x80u >> pixel)) {
        const int byte = pixel / 2;
        const int shift = byte * 8 + (pixel % 2 == 0 ? 4 : 0);
        v |= 1u << shift;
      }
    }
    table[b] = v;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kNibbleSpread = MakeNibbleSpread();

// Converters of one scan line: `line` holds the planes one after the other, each
// `bytesPerLine` long. A plane shorter than the width leaves the pixels past it at 0.
void MonoRow(const uint8_t* line, size_t bytesPerLine, uint8_t* row, size_t width) {
  std::memcpy(row, line, std::min((width + 7) / 8, bytesPerLine));
}

void Planes16Row(const uint8_t* line, size_t bytesPerLine, uint8_t* row, size_t width) {
  const uint8_t* p0 = line;
  const uint8_t* p1 = p0 + bytesPerLine;
  const uint8_t* p2 = p1 + bytesPerLine;
  const uint8_t* p3 = p2 + bytesPerLine;
  const size_t whole = std::min(width / 8, bytesPerLine);
  for (size_t i = 0; i < whole; ++i) {
    const uint32_t v = kNibbleSpread[p0[i]] | kNibbleSpread[p1[i]] << 1 |
                       kNibbleSpread[p2[i]] << 2 | kNibbleSpread[p3[i]] << 3;
    row[4 * i] = static_cast<uint8_t>(v);
    row[4 * i + 1] = static_cast<uint8_t>(v >> 8);
    row[4 * i + 2] = static_cast<uint8_t>(v >> 16);
    row[4 * i + 3] = static_cast<uint8_t>(v >> 24);
  }
  const size_t rest = width % 8;
  if (rest == 0 || whole == bytesPerLine) return;
  // The last, partial byte of each plane: bits past the width are not pixels.
  const auto mask = static_cast<uint8_t>(0xFF00 >> rest);
  const size_t i = whole;
  const uint32_t v = kNibbleSpread[p0[i] & mask] | kNibbleSpread[p1[i] & mask] << 1 |
                     kNibbleSpread[p2[i] & mask] << 2 | kNibbleSpread[p3[i] & mask] << 3;
  for (size_t k = 0; k < (rest + 1) / 2; ++k) row[4 * i + k] = static_cast<uint8_t>(v >> (8 * k));
}

void Indexed256Row(const uint8_t* line, size_t bytesPerLine, uint8_t* row, size_t width) {
  std::memcpy(row, line, std::min(width, bytesPerLine));
}

void Rgb24Row(const uint8_t* line, size_t bytesPerLine, uint8_t* row, size_t width) {
  const uint8_t* red = line;
  const uint8_t* green = red + bytesPerLine;
  const uint8_t* blue = green + bytesPerLine;
  const size_t n = std::min(width, bytesPerLine);
  for (size_t x = 0; x < n; ++x) {
    row[3 * x] = blue[x];
    row[3 * x + 1] = green[x];
    row[3 * x + 2] = red[x];
  }
}

int32_t ClampToInt32(size_t size) {
  return static_cast<int32_t>(std::min<size_t>(size, INT32_MAX));
}

struct FreeBuffer {
  void operator()(uint8_t* p) const { std::free(p); }
};

}  // namespace

void TPCXGraphic::LoadFromStream(Stream& stream) {
  Clear();
  uint8_t headerBytes[kHeaderSize];
  // A stream too short for the header cannot be a PCX file.
  if (stream.Read(headerBytes, kHeaderSize) != kHeaderSize) throw PictureError(kNotPcx);
  const PcxHeader h = ParseHeader(headerBytes);
  int64_t dataSize = stream.Remaining();
  if (h.manufacturer != 10 && h.manufacturer != 205) throw PictureError(kNotPcx);

  Layout layout;
  PixelFormat format;
  if (!ChooseLayout(h, layout, format)) throw PictureError(kWrongFormat);
  // Edges the wrong way round give no size at all.
  if (h.xMax < h.xMin || h.yMax < h.yMin) throw PictureError(kWrongFormat);
  if (layout == Layout::Indexed256 && dataSize >= kPaletteBlockSize) dataSize -= kPaletteBlockSize;

  SetPixelFormat(format);
  if (layout != Layout::Rgb24) SetPalette(CreatePalette(BuildPalette(stream, h, layout)));
  const int width = h.xMax - h.xMin + 1;
  const int height = h.yMax - h.yMin + 1;
  SetSize(width, height);

  const size_t bytesPerLine = h.bytesPerLine;
  const size_t lineSize = h.planes * bytesPerLine;
  std::vector<uint8_t> data = stream.ReadBytes(static_cast<size_t>(dataSize));

  void (*convert)(const uint8_t*, size_t, uint8_t*, size_t) = nullptr;
  switch (layout) {
    case Layout::Mono: convert = MonoRow; break;
    case Layout::Planes16: convert = Planes16Row; break;
    case Layout::Indexed256: convert = Indexed256Row; break;
    case Layout::Rgb24: convert = Rgb24Row; break;
  }
  if (h.encoding == 1 && lineSize == RowStride() && height > 0) {
    // Unpacked lines as long as the Bitmap's rows: the data is unpacked straight into the
    // Bitmap, and each row is then converted in place through a copy of its line.
    const uint8_t* source = data.data();
    TPCXRLE decoder;
    decoder.Decode(source, ScanLine(0), ClampToInt32(data.size()),
                   ClampToInt32(lineSize * size_t(height)));
    if (h.planes == 1) {
      // The line is the row already; only the bytes past the pixels are cleared.
      const size_t rowBytes = std::min(RowBytes(), lineSize);
      if (rowBytes < lineSize) {
        for (int y = 0; y < height; ++y)
          std::memset(ScanLine(y) + rowBytes, 0, lineSize - rowBytes);
      }
      return;
    }
    std::vector<uint8_t> line(lineSize);
    for (int y = 0; y < height; ++y) {
      uint8_t* row = ScanLine(y);
      std::memcpy(line.data(), row, lineSize);
      std::memset(row, 0, lineSize);
      convert(line.data(), bytesPerLine, row, size_t(width));
    }
    return;
  }

  // Packed data is expanded in one call into a buffer of the whole picture; plain data is
  // used as it is. Either may hold less than the picture: rows past its end stay empty.
  std::unique_ptr<uint8_t, FreeBuffer> unpacked;
  const uint8_t* pixels = data.data();
  size_t available = data.size();
  if (h.encoding == 1) {
    const size_t pictureSize = CheckedBufferSize({lineSize, uint64_t(height)});
    unpacked.reset(static_cast<uint8_t*>(std::calloc(std::max<size_t>(pictureSize, 1), 1)));
    if (!unpacked) throw BitmapTooLarge("Out of memory for a picture of " +
                                        std::to_string(width) + " x " + std::to_string(height));
    const uint8_t* source = data.data();
    TPCXRLE decoder;
    decoder.Decode(source, unpacked.get(), ClampToInt32(data.size()), ClampToInt32(pictureSize));
    pixels = unpacked.get();
    available = pictureSize;
  }

  std::vector<uint8_t> partial;
  for (int y = 0; y < height; ++y) {
    const size_t offset = size_t(y) * lineSize;
    if (offset >= available || lineSize == 0) break;
    const uint8_t* line = pixels + offset;
    if (available - offset < lineSize) {
      // The last line that the data reaches into: its missing bytes count as 0.
      partial.assign(lineSize, 0);
      std::memcpy(partial.data(), line, available - offset);
      line = partial.data();
    }
    convert(line, bytesPerLine, ScanLine(y), size_t(width));
  }
}

}  // namespace pictures
