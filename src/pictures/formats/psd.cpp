#include "pictures/formats/psd.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

#include "compression/rle.h"
#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/palette.h"
#include "base/pixel_helpers.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TPSDGraphic, Bitmap)

namespace {

constexpr const char* kInvalidPSD = "Not a valid psd file.";
// A PackBits run (a count and a value) gives at most 128 bytes.
constexpr uint64_t kLongestRunPerByte = 64;

enum : uint32_t {
  kBitmapMode = 0,
  kGreyMode = 1,
  kIndexedMode = 2,
  kRGBMode = 3,
  kCMYKMode = 4,
  kMultichannelMode = 7,
  kDuotoneMode = 8,
  kLabMode = 9,
};

struct PsdHeader {
  bool large = false;  // version 2, the large-document format: wider lengths and counts
  uint32_t channels = 0;
  uint32_t rows = 0;
  uint32_t columns = 0;
  uint32_t depth = 0;
  uint32_t mode = 0;
};

// How the first channels of a colour mode become pixels.
enum class Shape {
  None,      // a mode that is not read: a picture of the right size with no pixels
  OnePlane,  // palette indices, grey values or bits
  RGB,
  Ink,       // inverted ink planes: CMYK, and the first channels of a multichannel file
  Lab,
};

struct Layout {
  Shape shape = Shape::None;
  uint32_t planes = 0;  // the channels read, from the first
};

// Where the merged picture's bytes lie and how many of them a row of one plane takes.
struct Geometry {
  uint32_t channels = 0;  // in the file, for the count table
  uint32_t planes = 0;    // read
  uint32_t rows = 0;
  size_t rowBytes = 0;    // of one plane's row in the file
};

PsdHeader ReadHeader(Stream& stream) {
  uint8_t bytes[26];
  stream.ReadBuffer(bytes, sizeof bytes);
  if (std::memcmp(bytes, "8BPS", 4) != 0) throw PictureError(kInvalidPSD);
  ByteReader in(bytes);
  in.Skip(4);
  PsdHeader header;
  header.large = in.U16BE() == 2;
  in.Skip(6);  // reserved
  header.channels = in.U16BE();
  header.rows = in.U32BE();
  header.columns = in.U32BE();
  header.depth = in.U16BE();
  header.mode = in.U16BE();
  return header;
}

// The planes a mode reads and the depths it takes: 1-bit samples only where one plane is
// read (in a bitmap file nothing else); 8, 16 and 32 bits (floating point) in every other
// mode. A mode that is read needs all of its planes; a multichannel file shows one channel
// as grey and more as inks.
Layout ChooseLayout(const PsdHeader& h) {
  Layout layout;
  switch (h.mode) {
    case kBitmapMode:
    case kGreyMode:
    case kIndexedMode:
    case kDuotoneMode: layout = {Shape::OnePlane, 1}; break;
    case kRGBMode: layout = {Shape::RGB, 3}; break;
    case kCMYKMode: layout = {Shape::Ink, 4}; break;
    case kLabMode: layout = {Shape::Lab, 3}; break;
    case kMultichannelMode:
      layout = h.channels == 1 ? Layout{Shape::OnePlane, 1}
                               : Layout{Shape::Ink, std::clamp<uint32_t>(h.channels, 2, 4)};
      break;
    default: return layout;
  }
  const bool depthRead = h.mode == kBitmapMode ? h.depth == 1
                         : h.depth == 1        ? layout.shape == Shape::OnePlane
                                               : h.depth == 8 || h.depth == 16 || h.depth == 32;
  if (!depthRead || h.channels < layout.planes) throw PictureError(kInvalidPSD);
  return layout;
}

Geometry GeometryOf(const PsdHeader& h, const Layout& layout) {
  Geometry g;
  g.channels = h.channels;
  // A mode that is not read still has its picture's size; its data is reckoned as one
  // plane of the declared depth, so that the size check below also covers it.
  g.planes = std::max<uint32_t>(layout.planes, 1);
  g.rows = h.rows;
  g.rowBytes = h.depth == 1 ? (uint64_t(h.columns) + 7) / 8
                            : CheckedBufferSize({h.columns, std::max<uint32_t>(h.depth / 8, 1)});
  return g;
}

// The colour table of an indexed file; the rest of the section is skipped.
void ReadColourModeData(Stream& stream, const PsdHeader& h, std::array<uint8_t, 768>& table) {
  uint32_t length = ReadU32BE(stream);
  if (h.mode == kIndexedMode) {
    table.fill(0);
    const uint32_t stored = std::min<uint32_t>(length, uint32_t(table.size()));
    stream.ReadBuffer(table.data(), stored);
    length -= stored;
  }
  Skip(stream, length);
}

LogPalette OnePlanePalette(const PsdHeader& h, const std::array<uint8_t, 768>& table) {
  if (h.depth == 1) return BlackWhitePaletteRecord(ZeroBit::White);
  if (h.mode != kIndexedMode) return GreyPaletteRecord();
  LogPalette record(256);
  for (size_t i = 0; i < 256; ++i)
    record.entries[i] = {table[i], table[256 + i], table[512 + i], 0};
  return record;
}

// Image resources, then layers and masks (whose length is 8 bytes in a large document).
void SkipSections(Stream& stream, const PsdHeader& h) {
  Skip(stream, ReadU32BE(stream));
  Skip(stream, h.large ? ReadU64BE(stream) : ReadU32BE(stream));
}

// The packed size of every row of every channel, channel after channel.
std::vector<uint32_t> ReadRowCounts(Stream& stream, const PsdHeader& h) {
  const size_t entrySize = h.large ? 4 : 2;
  const std::vector<uint8_t> bytes =
      stream.ReadBytes(size_t(h.channels) * h.rows * entrySize);
  std::vector<uint32_t> counts(bytes.size() / entrySize);
  for (size_t i = 0; i < counts.size(); ++i)
    counts[i] = h.large ? LoadU32BE(&bytes[4 * i]) : LoadU16BE(&bytes[2 * i]);
  return counts;
}

uint64_t PackedBytesOfPlanes(const std::vector<uint32_t>& counts, const Geometry& g) {
  const size_t used = std::min(counts.size(), size_t(g.planes) * g.rows);
  uint64_t total = 0;
  for (size_t i = 0; i < used; ++i) total += counts[i];
  return total;
}

// Refuses a file whose data cannot fill its declared picture: raw planes must all be
// there, and packed ones must be able to expand to the picture at PackBits' best.
void RequirePictureData(Stream& stream, const Geometry& g, const std::vector<uint32_t>* counts) {
  const uint64_t needed = uint64_t(g.planes) * g.rows * g.rowBytes;
  const auto available = uint64_t(stream.Remaining());
  if (!counts) {
    RequireFill(available, 1, needed);
    return;
  }
  const uint64_t packed = PackedBytesOfPlanes(*counts, g);
  RequireFill(available, 1, packed);
  RequireFill(packed, kLongestRunPerByte, needed);
}

// Calls row(y, planes) for every row with that row of each plane, as the file stores it,
// in buffers the callback may change. Raw planes lie one after the other and are read a
// band of rows at a time.
template <typename RowFunction>
void ForEachRawRow(Stream& stream, const Geometry& g, RowFunction row) {
  const int64_t dataStart = stream.Position();
  const uint64_t planeSize = uint64_t(g.rowBytes) * g.rows;
  const auto bandRows =
      static_cast<uint32_t>(std::clamp<size_t>((256 << 10) / std::max<size_t>(g.rowBytes, 1), 1, g.rows));
  std::vector<uint8_t> band(CheckedBufferSize({g.planes, bandRows, g.rowBytes}));
  const size_t bandPlane = size_t(bandRows) * g.rowBytes;
  uint8_t* planes[4] = {};
  for (uint32_t y0 = 0; y0 < g.rows; y0 += bandRows) {
    const uint32_t n = std::min(bandRows, g.rows - y0);
    for (uint32_t k = 0; k < g.planes; ++k) {
      stream.Seek(dataStart + static_cast<int64_t>(k * planeSize + uint64_t(y0) * g.rowBytes));
      stream.ReadBuffer(band.data() + k * bandPlane, n * g.rowBytes);
    }
    for (uint32_t r = 0; r < n; ++r) {
      for (uint32_t k = 0; k < g.planes; ++k)
        planes[k] = band.data() + k * bandPlane + r * g.rowBytes;
      row(y0 + r, planes);
    }
  }
}

// As ForEachRawRow, for PackBits rows. A row that expands to less than its length ends in
// zeros; one that expands to more is cut at its end.
template <typename RowFunction>
void ForEachPackedRow(Stream& stream, const Geometry& g, const std::vector<uint32_t>& counts,
                      RowFunction row) {
  // Decoded where the stream holds it: a mapped file is not copied.
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> data = stream.ReadView(PackedBytesOfPlanes(counts, g), storage);
  std::vector<uint8_t> rows(CheckedBufferSize({g.planes, g.rowBytes}));
  uint8_t* planes[4] = {};
  size_t next[4] = {};  // where each plane's next row starts in `data`
  size_t start = 0;
  for (uint32_t k = 0; k < g.planes; ++k) {
    planes[k] = rows.data() + k * g.rowBytes;
    next[k] = start;
    for (uint32_t y = 0; y < g.rows; ++y) start += counts[size_t(k) * g.rows + y];
  }
  TPackbitsRLE decoder;
  const auto rowBytes = static_cast<int32_t>(std::min<size_t>(g.rowBytes, INT32_MAX));
  for (uint32_t y = 0; y < g.rows; ++y) {
    for (uint32_t k = 0; k < g.planes; ++k) {
      const uint32_t count = counts[size_t(k) * g.rows + y];
      const uint8_t* source = data.data() + next[k];
      std::memset(planes[k], 0, g.rowBytes);
      decoder.Decode(source, planes[k], static_cast<int32_t>(std::min<uint32_t>(count, INT32_MAX)),
                     rowBytes);
      next[k] += count;
    }
    row(y, planes);
  }
}

// 32-bit samples are big-endian floating point, 0 to 1 for black to full intensity.
void FloatsToBytes(const uint8_t* floats, uint8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const float v = std::bit_cast<float>(LoadU32BE(floats + 4 * i));
    out[i] = v > 0 ? static_cast<uint8_t>(std::lround(std::min(v, 1.0f) * 255)) : 0;
  }
}

// The file stores ink amounts inverted: 255 (or 65535) means no ink.
void Invert(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
}

// a and b are stored with 128 (or 32768) as their neutral value; subtracting it makes them
// the signed samples that the Lab converter expects. Words are little-endian by then.
void Recentre(uint8_t* samples, size_t count, uint8_t bits) {
  const size_t step = bits / 8;
  for (size_t i = step - 1; i < count * step; i += step) samples[i] ^= 0x80;
}

// Turns one row of the file's planes into Bitmap pixels. 16-bit samples keep their full
// width where the colour formula uses it (inks, Lab); elsewhere every sample is reduced to
// 8 bits first.
class RowConverter {
 public:
  RowConverter(const PsdHeader& h, const Layout& layout, size_t bitmapRowBytes)
      : shape_(layout.shape),
        planes_(layout.planes),
        depth_(h.depth),
        columns_(h.columns),
        bitmapRowBytes_(bitmapRowBytes),
        keepWords_(h.depth == 16 && (layout.shape == Shape::Ink || layout.shape == Shape::Lab)) {
    // Work rows for samples reduced to 8 bits, and for inks a file does not have.
    const size_t sampleBytes = keepWords_ ? 2 : 1;
    work_.assign(CheckedBufferSize({4, columns_, sampleBytes}), 0);
    for (size_t k = 0; k < 4; ++k) rows_[k] = work_.data() + k * columns_ * sampleBytes;
  }

  void Convert(uint8_t* const* file, uint8_t* out) {
    uint8_t* p[4];
    for (uint32_t k = 0; k < 4; ++k) p[k] = k < planes_ ? Samples(file[k], rows_[k]) : rows_[k];
    const uint8_t bits = keepWords_ ? 16 : 8;
    switch (shape_) {
      case Shape::None: break;
      case Shape::OnePlane:
        if (p[0] != out) std::memcpy(out, p[0], bitmapRowBytes_);
        break;
      case Shape::RGB: PlanesToBGR(p[0], p[1], p[2], out, columns_); break;
      case Shape::Ink:
        for (uint32_t k = 0; k < planes_; ++k) Invert(p[k], columns_ * (bits / 8));
        CMYKPlanarToBGR(p[0], p[1], p[2], p[3], out, bits, uint32_t(columns_ * 4));
        break;
      case Shape::Lab:
        Recentre(p[1], columns_, bits);
        Recentre(p[2], columns_, bits);
        CIELabPlanarToBGR(p[0], p[1], p[2], out, bits, uint32_t(columns_ * 3));
        break;
    }
  }

 private:
  // The row's samples in the width the conversion takes: the file's own bytes where they
  // already are (16-bit words turned little-endian), else reduced into `work`.
  uint8_t* Samples(uint8_t* file, uint8_t* work) const {
    if (depth_ == 1 || depth_ == 8) return file;
    if (keepWords_) {
      SwapShorts(file, uint32_t(columns_));
      return file;
    }
    if (depth_ == 16)
      HighBytesOfBE16(file, work, columns_);
    else
      FloatsToBytes(file, work, columns_);
    return work;
  }

  Shape shape_;
  uint32_t planes_;
  uint32_t depth_;
  size_t columns_;
  size_t bitmapRowBytes_;
  bool keepWords_;
  std::vector<uint8_t> work_;
  uint8_t* rows_[4] = {};
};

}  // namespace

void TPSDGraphic::LoadFromStream(Stream& stream) {
  const PsdHeader header = ReadHeader(stream);
  Clear();
  const Layout layout = ChooseLayout(header);
  // Sizes past the Bitmap's range fail as too large, with the Bitmap's own message.
  if (header.rows > INT32_MAX || header.columns > INT32_MAX)
    CheckedBufferSize({UINT64_MAX, UINT64_MAX});
  const Geometry geometry = GeometryOf(header, layout);

  ReadColourModeData(stream, header, ColorTable);
  SkipSections(stream, header);
  const bool packed = ReadU16BE(stream) == 1;
  std::vector<uint32_t> counts;
  if (packed) counts = ReadRowCounts(stream, header);
  RequirePictureData(stream, geometry, packed ? &counts : nullptr);

  switch (layout.shape) {
    case Shape::None: break;
    case Shape::OnePlane:
      SetPixelFormat(header.depth == 1 ? PixelFormat::Bits1 : PixelFormat::Bits8);
      SetPalette(CreatePalette(OnePlanePalette(header, ColorTable)));
      break;
    default: SetPixelFormat(PixelFormat::Bits24); break;
  }
  SetSize(static_cast<int>(header.columns), static_cast<int>(header.rows));
  if (layout.shape == Shape::None || Empty()) return;

  RowConverter converter(header, layout, RowBytes());
  auto convertRow = [&](uint32_t y, uint8_t* const* planes) {
    converter.Convert(planes, ScanLine(static_cast<int>(y)));
  };
  if (packed)
    ForEachPackedRow(stream, geometry, counts, convertRow);
  else
    ForEachRawRow(stream, geometry, convertRow);
}

}  // namespace pictures
