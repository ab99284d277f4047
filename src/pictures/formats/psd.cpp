#include "pictures/formats/psd.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "compression/rle.h"
#include "pictures/byte_reader.h"
#include "pictures/error.h"
#include "pictures/pixel_helpers.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TPSDGraphic, Bitmap)

namespace {

constexpr const char* kInvalidPSD = "Not a valid psd file.";

enum : uint32_t {
  kBitmapMode = 0,
  kGreyMode = 1,
  kIndexedMode = 2,
  kRGBMode = 3,
  kCMYKMode = 4,
  kDuotoneMode = 8,
  kLabMode = 9,
};

// The planes that a colour mode's picture is made of; 0 for the modes that are not read.
uint32_t PlanesOf(uint32_t mode) {
  switch (mode) {
    case kBitmapMode:
    case kGreyMode:
    case kIndexedMode:
    case kDuotoneMode: return 1;
    case kRGBMode:
    case kLabMode: return 3;
    case kCMYKMode: return 4;
    default: return 0;
  }
}

// The depths read in each mode: bitmaps have 1 bit a pixel; grey pictures 1, 8 or 16 bits;
// indexed pictures 1 or 8; colour pictures 8 or 16 bits a channel.
bool DepthSupported(uint32_t mode, uint32_t depth) {
  switch (mode) {
    case kBitmapMode: return depth == 1;
    case kGreyMode:
    case kDuotoneMode: return depth == 1 || depth == 8 || depth == 16;
    case kIndexedMode: return depth == 1 || depth == 8;
    default: return depth == 8 || depth == 16;
  }
}

void SkipSection(Stream& stream) { Skip(stream, ReadU32BE(stream)); }

// The file stores ink amounts inverted: 255 (or 65535) means no ink.
void Invert(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
}

// a and b are stored with 128 as their neutral value; subtracting 128 modulo 256 makes
// them the signed bytes that the Lab converter expects.
void Recentre(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] ^= 0x80;
}

}  // namespace

void TPSDGraphic::LoadFromStream(Stream& stream) {
  uint8_t header[26];
  stream.ReadBuffer(header, sizeof header);
  if (std::memcmp(header, "8BPS", 4) != 0) throw PictureError(kInvalidPSD);
  const uint32_t channels = LoadU16BE(header + 12);
  const uint32_t rows = LoadU32BE(header + 14);
  const uint32_t columns = LoadU32BE(header + 18);
  const uint32_t depth = LoadU16BE(header + 22);
  const uint32_t mode = LoadU16BE(header + 24);
  const uint32_t planes = PlanesOf(mode);
  // A mode that is read needs its depth and all of its planes; the other modes give a
  // picture of the right size with no pixels.
  if (planes != 0 && (!DepthSupported(mode, depth) || channels < planes))
    throw PictureError(kInvalidPSD);
  // Sizes past the Bitmap's range fail as too large, with the Bitmap's own message.
  if (rows > INT32_MAX || columns > INT32_MAX) CheckedBufferSize({UINT64_MAX, UINT64_MAX});

  if (planes == 1)
    SetPixelFormat(depth == 1 ? PixelFormat::Bits1 : PixelFormat::Bits8);
  else if (planes != 0)
    SetPixelFormat(PixelFormat::Bits24);

  uint32_t colourDataLength = ReadU32BE(stream);
  if (mode == kIndexedMode) {
    const uint32_t stored = std::min<uint32_t>(colourDataLength, 768);
    stream.ReadBuffer(ColorTable.data(), stored);
    colourDataLength -= stored;
  }
  Skip(stream, colourDataLength);
  if (planes == 1) {
    const uint32_t count = depth == 1 ? 2 : depth == 4 ? 16 : 256;
    LogPalette record(count);
    for (uint32_t i = 0; i < count; ++i) {
      PaletteEntry& e = record.entries[i];
      if (depth == 1) {
        e.red = e.green = e.blue = i == 0 ? 255 : 0;
      } else if (mode == kGreyMode || mode == kDuotoneMode) {
        e.red = e.green = e.blue = static_cast<uint8_t>(i);
      } else {
        e.red = ColorTable[i];
        e.green = ColorTable[256 + i];
        e.blue = ColorTable[512 + i];
      }
    }
    SetPalette(CreatePalette(record));
  }
  SetSize(static_cast<int>(columns), static_cast<int>(rows));

  SkipSection(stream);  // image resources
  SkipSection(stream);  // layer and mask information

  const bool packed = ReadU16BE(stream) == 1;
  std::vector<uint8_t> counts;
  if (packed) counts = stream.ReadBytes(size_t(channels) * rows * 2);
  auto countOf = [&](size_t row) { return LoadU16BE(&counts[2 * row]); };
  if (planes == 0 || rows == 0 || columns == 0) return;

  TPackbitsRLE decoder;
  const uint32_t bytesPerSample = depth == 16 ? 2 : 1;

  if (planes == 1) {
    // One plane of palette indices, grey values or bits; the other channels are not read.
    const size_t rowBytes = RowBytes();
    const size_t fileRowBytes = depth == 16 ? size_t(columns) * 2 : rowBytes;
    std::vector<uint8_t> wide(depth == 16 ? fileRowBytes : 0);
    if (packed) {
      uint64_t total = 0;
      for (uint32_t y = 0; y < rows; ++y) total += countOf(y);
      const std::vector<uint8_t> data = stream.ReadBytes(total);
      const uint8_t* source = data.data();
      for (uint32_t y = 0; y < rows; ++y) {
        const uint16_t count = countOf(y);
        const uint8_t* at = source;
        if (depth == 16) {
          std::fill(wide.begin(), wide.end(), 0);
          decoder.Decode(at, wide.data(), count, static_cast<int32_t>(fileRowBytes));
          HighBytesOfBE16(wide.data(), ScanLine(static_cast<int>(y)), columns);
        } else {
          decoder.Decode(at, ScanLine(static_cast<int>(y)), count, static_cast<int32_t>(rowBytes));
        }
        source += count;
      }
    } else {
      for (uint32_t y = 0; y < rows; ++y) {
        uint8_t* dest = ScanLine(static_cast<int>(y));
        if (depth == 16) {
          stream.ReadBuffer(wide.data(), fileRowBytes);
          HighBytesOfBE16(wide.data(), dest, columns);
        } else {
          stream.ReadBuffer(dest, rowBytes);
        }
      }
    }
    return;
  }

  // Colour planes: each row of the first `planes` channels is converted straight into the
  // Bitmap's row. Alpha and spot channels that follow are not read.
  const size_t planeRowBytes = CheckedBufferSize({columns, bytesPerSample});
  std::vector<uint8_t> narrow(mode == kLabMode && depth == 16 ? planeRowBytes / 2 * 3 : 0);
  auto convertRow = [&](uint8_t* const* p, int y) {
    uint8_t* dest = ScanLine(y);
    const uint32_t samples = columns * planes;
    if (depth == 8) {
      switch (mode) {
        case kRGBMode: RGBPlanarToBGR(p[0], p[1], p[2], dest, 8, samples); break;
        case kCMYKMode:
          for (int k = 0; k < 4; ++k) Invert(p[k], columns);
          CMYKPlanarToBGR(p[0], p[1], p[2], p[3], dest, 8, samples);
          break;
        case kLabMode:
          Recentre(p[1], columns);
          Recentre(p[2], columns);
          CIELabPlanarToBGR(p[0], p[1], p[2], dest, 8, samples);
          break;
      }
      return;
    }
    // 16-bit samples are big-endian; the converters read little-endian words.
    switch (mode) {
      case kRGBMode:
        for (int k = 0; k < 3; ++k) SwapShorts(p[k], columns);
        RGBPlanarToBGR(p[0], p[1], p[2], dest, 16, samples);
        break;
      case kCMYKMode:
        for (int k = 0; k < 4; ++k) {
          Invert(p[k], planeRowBytes);
          SwapShorts(p[k], columns);
        }
        CMYKPlanarToBGR(p[0], p[1], p[2], p[3], dest, 16, samples);
        break;
      case kLabMode: {
        // The Lab converter takes 8-bit samples: the upper byte of each 16-bit one.
        uint8_t* n[3] = {narrow.data(), narrow.data() + columns, narrow.data() + 2 * columns};
        for (int k = 0; k < 3; ++k) HighBytesOfBE16(p[k], n[k], columns);
        Recentre(n[1], columns);
        Recentre(n[2], columns);
        CIELabPlanarToBGR(n[0], n[1], n[2], dest, 8, samples);
        break;
      }
    }
  };

  uint8_t* p[4] = {};
  if (packed) {
    std::vector<size_t> starts(size_t(planes) * rows);
    size_t total = 0;
    for (size_t i = 0; i < starts.size(); ++i) {
      starts[i] = total;
      total += countOf(i);
    }
    const std::vector<uint8_t> data = stream.ReadBytes(total);
    std::vector<uint8_t> rowBuffer(planeRowBytes * planes);
    for (uint32_t k = 0; k < planes; ++k) p[k] = rowBuffer.data() + k * planeRowBytes;
    for (uint32_t y = 0; y < rows; ++y) {
      for (uint32_t k = 0; k < planes; ++k) {
        const size_t i = size_t(k) * rows + y;
        const uint8_t* source = data.data() + starts[i];
        std::memset(p[k], 0, planeRowBytes);
        decoder.Decode(source, p[k], countOf(i), static_cast<int32_t>(planeRowBytes));
      }
      convertRow(p, static_cast<int>(y));
    }
    return;
  }

  // Raw planes lie one after the other; they are read a band of rows at a time.
  const int64_t dataStart = stream.Position();
  const uint64_t planeSize = uint64_t(planeRowBytes) * rows;
  const uint32_t bandRows =
      static_cast<uint32_t>(std::clamp<size_t>((256 << 10) / planeRowBytes, 1, rows));
  std::vector<uint8_t> band(CheckedBufferSize({planes, bandRows, planeRowBytes}));
  const size_t bandPlane = size_t(bandRows) * planeRowBytes;
  for (uint32_t y0 = 0; y0 < rows; y0 += bandRows) {
    const uint32_t n = std::min(bandRows, rows - y0);
    for (uint32_t k = 0; k < planes; ++k) {
      stream.Seek(dataStart + static_cast<int64_t>(k * planeSize + uint64_t(y0) * planeRowBytes));
      stream.ReadBuffer(band.data() + k * bandPlane, n * planeRowBytes);
    }
    for (uint32_t r = 0; r < n; ++r) {
      for (uint32_t k = 0; k < planes; ++k) p[k] = band.data() + k * bandPlane + r * planeRowBytes;
      convertRow(p, static_cast<int>(y0 + r));
    }
  }
}

}  // namespace pictures
