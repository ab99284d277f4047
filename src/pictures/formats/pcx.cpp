#include "pictures/formats/pcx.h"

#include <algorithm>
#include <array>
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

PICTURES_DEFINE_READER_CLASS(TPCXGraphic, Bitmap)

// Loading takes four steps: the header, the layout it describes (pixel format, palette and
// row converter), a check that the data can fill the picture, and one pass over the scan
// lines, which come from the run-length or plain data alike.

namespace {

constexpr size_t kHeaderSize = 128;
// An 8-bit picture ends with a marker byte and 256 red, green, blue triples.
constexpr int64_t kPaletteBlockSize = 769;
constexpr uint8_t kPaletteMarker = 12;
constexpr uint16_t kGreyPaletteInfo = 2;
const char* const kNotPcx = "Not a PCX or SCR file.";
const char* const kWrongFormat = "PCX: wrong pixel format";

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

  int Width() const { return xMax - xMin + 1; }
  int Height() const { return yMax - yMin + 1; }
  size_t LineSize() const { return size_t(planes) * bytesPerLine; }
  bool Packed() const { return encoding == 1; }
  PaletteEntry MapEntry(size_t i) const {
    return {colourMap[3 * i], colourMap[3 * i + 1], colourMap[3 * i + 2], 0};
  }
};

PcxHeader ReadHeader(Stream& stream) {
  uint8_t bytes[kHeaderSize];
  // A stream too short for the header cannot be a PCX file.
  if (stream.Read(bytes, kHeaderSize) != kHeaderSize) throw PictureError(kNotPcx);
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
  if (h.manufacturer != 10 && h.manufacturer != 205) throw PictureError(kNotPcx);
  return h;
}

// Converts one scan line (its planes one after the other, each `bytesPerLine` long) into a
// Bitmap row of `width` pixels. Pixels past a plane line shorter than the width stay 0.
using RowConverter = void (*)(const uint8_t* line, size_t bytesPerLine, uint8_t* row,
                              size_t width);

void CopyRow1(const uint8_t* line, size_t bytesPerLine, uint8_t* row, size_t width) {
  std::memcpy(row, line, std::min((width + 7) / 8, bytesPerLine));
}

// 16 colours packed two to a byte are the Bitmap's 4-bit layout already.
void CopyRow4(const uint8_t* line, size_t bytesPerLine, uint8_t* row, size_t width) {
  const size_t n = std::min((width + 1) / 2, bytesPerLine);
  std::memcpy(row, line, n);
  if (width % 2 == 1 && n == (width + 1) / 2) row[n - 1] &= 0xF0;  // not a pixel
}

void CopyRow8(const uint8_t* line, size_t bytesPerLine, uint8_t* row, size_t width) {
  std::memcpy(row, line, std::min(width, bytesPerLine));
}

// Four 2-bit pixels a byte, the leftmost in the top bits, become 4-bit pixels.
void Cga2Row(const uint8_t* line, size_t bytesPerLine, uint8_t* row, size_t width) {
  const size_t pairs = std::min((width + 1) / 2, 2 * bytesPerLine);
  for (size_t i = 0; i < pairs; ++i) {
    const unsigned b = line[i / 2] >> (i % 2 == 0 ? 4 : 0);
    row[i] = static_cast<uint8_t>((b >> 2 & 3) << 4 | (b & 3));
  }
  if (width % 2 == 1 && pairs == (width + 1) / 2) row[pairs - 1] &= 0xF0;
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

// 1-bit planes (2, 3 or 4 of them, plane 0 the lowest bit of a pixel) become 4-bit pixels.
template <int Planes>
uint32_t Spread(const uint8_t* line, size_t bytesPerLine, size_t i, uint8_t mask) {
  uint32_t v = 0;
  for (int p = 0; p < Planes; ++p) v |= kNibbleSpread[line[p * bytesPerLine + i] & mask] << p;
  return v;
}

template <int Planes>
void BitPlanesRow(const uint8_t* line, size_t bytesPerLine, uint8_t* row, size_t width) {
  const size_t whole = std::min(width / 8, bytesPerLine);
  for (size_t i = 0; i < whole; ++i) {
    const uint32_t v = Spread<Planes>(line, bytesPerLine, i, 0xFF);
    row[4 * i] = static_cast<uint8_t>(v);
    row[4 * i + 1] = static_cast<uint8_t>(v >> 8);
    row[4 * i + 2] = static_cast<uint8_t>(v >> 16);
    row[4 * i + 3] = static_cast<uint8_t>(v >> 24);
  }
  const size_t rest = width % 8;
  if (rest == 0 || whole == bytesPerLine) return;
  // The last, partial byte of each plane: bits past the width are not pixels.
  const uint32_t v = Spread<Planes>(line, bytesPerLine, whole, static_cast<uint8_t>(0xFF00 >> rest));
  for (size_t k = 0; k < (rest + 1) / 2; ++k)
    row[4 * whole + k] = static_cast<uint8_t>(v >> (8 * k));
}

void RgbPlanesRow(const uint8_t* line, size_t bytesPerLine, uint8_t* row, size_t width) {
  PlanesToBGR(line, line + bytesPerLine, line + 2 * bytesPerLine, row,
              std::min(width, bytesPerLine));
}

void RgbaPlanesRow(const uint8_t* line, size_t bytesPerLine, uint8_t* row, size_t width) {
  PlanesToBGRA(line, line + bytesPerLine, line + 2 * bytesPerLine, line + 3 * bytesPerLine, row,
               std::min(width, bytesPerLine));
}

enum class PaletteKind { BlackWhite, Header, Cga, Block256, None };

// What the bits per pixel and planes of a file make of it.
struct Layout {
  PixelFormat format;
  RowConverter convert;
  PaletteKind palette;
  int colours;  // palette entries; 0 without a palette
};

Layout ChooseLayout(const PcxHeader& h) {
  if (h.xMax < h.xMin || h.yMax < h.yMin) throw PictureError(kWrongFormat);  // no size
  switch (h.bitsPerPixel << 8 | h.planes) {
    case 0x101: return {PixelFormat::Bits1, CopyRow1, PaletteKind::BlackWhite, 2};
    case 0x102: return {PixelFormat::Bits4, BitPlanesRow<2>, PaletteKind::Header, 4};
    case 0x103: return {PixelFormat::Bits4, BitPlanesRow<3>, PaletteKind::Header, 8};
    case 0x104: return {PixelFormat::Bits4, BitPlanesRow<4>, PaletteKind::Header, 16};
    case 0x201: return {PixelFormat::Bits4, Cga2Row, PaletteKind::Cga, 4};
    case 0x401: return {PixelFormat::Bits4, CopyRow4, PaletteKind::Header, 16};
    case 0x801: return {PixelFormat::Bits8, CopyRow8, PaletteKind::Block256, 256};
    case 0x803: return {PixelFormat::Bits24, RgbPlanesRow, PaletteKind::None, 0};
    // The fourth plane is alpha, kept as the Bitmap's fourth byte and drawn opaque as in
    // other 32-bit pictures.
    case 0x804: return {PixelFormat::Bits32, RgbaPlanesRow, PaletteKind::None, 0};
    default: throw PictureError(kWrongFormat);
  }
}

// Grey levels from black to white in `count` steps.
LogPalette GreySteps(int count) {
  LogPalette record(count);
  for (int i = 0; i < count; ++i) {
    const auto v = static_cast<uint8_t>(i * 255 / (count - 1));
    record.entries[i] = {v, v, v, 0};
  }
  return record;
}

LogPalette HeaderPalette(const PcxHeader& h, int colours) {
  if (h.paletteInfo == kGreyPaletteInfo) {
    // Sixteen colours keep their steps of 16 (0 to 240); fewer run from black to white.
    return colours == 16 ? GreyRampRecord(16, 16) : GreySteps(colours);
  }
  LogPalette record(colours);
  for (int i = 0; i < colours; ++i) record.entries[i] = h.MapEntry(i);
  return record;
}

// The 16 colours of the colour graphics adapter.
constexpr PaletteEntry kCgaColours[16] = {
    {0, 0, 0, 0},       {0, 0, 170, 0},     {0, 170, 0, 0},     {0, 170, 170, 0},
    {170, 0, 0, 0},     {170, 0, 170, 0},   {170, 85, 0, 0},    {170, 170, 170, 0},
    {85, 85, 85, 0},    {85, 85, 255, 0},   {85, 255, 85, 0},   {85, 255, 255, 0},
    {255, 85, 85, 0},   {255, 85, 255, 0},  {255, 255, 85, 0},  {255, 255, 255, 0}};

// Four-colour pictures. Writers of the adapter's own pictures store no colours but its
// settings: the background colour in the top four bits of the map's first byte, and in
// its fourth byte the colour burst (bit 7, set for a monochrome screen), the palette
// (bit 6: green, red, yellow or cyan, magenta, white) and the intensity (bit 5). Such a
// map is zero everywhere else; a map with colours elsewhere holds red, green, blue
// triples, as other writers store them.
LogPalette CgaPalette(const PcxHeader& h) {
  if (h.paletteInfo == kGreyPaletteInfo) return GreySteps(4);
  bool settingsOnly = true;
  for (size_t i = 0; i < h.colourMap.size(); ++i)
    if (i != 0 && i != 3 && h.colourMap[i] != 0) settingsOnly = false;
  if (!settingsOnly) return HeaderPalette(h, 4);
  const uint8_t settings = h.colourMap[3];
  const bool monochrome = settings & 0x80;
  const bool second = settings & 0x40;
  const int bright = (settings & 0x20) ? 8 : 0;
  // Colour indices of pixels 1 to 3: the two palettes, and the one the adapter shows
  // without colour burst.
  static constexpr int kSets[3][3] = {{2, 4, 6}, {3, 5, 7}, {3, 4, 7}};
  const int* set = kSets[monochrome ? 2 : second ? 1 : 0];
  LogPalette record(4);
  record.entries[0] = kCgaColours[h.colourMap[0] >> 4];
  for (int i = 0; i < 3; ++i) record.entries[i + 1] = kCgaColours[set[i] + bright];
  return record;
}

// The 256-colour block at the end of the stream; the stream returns to where it was. A
// file without the block has no colours of its own: a grey ramp stands in (for colour
// pictures too, which at least keeps their shapes visible).
LogPalette PaletteBlock(Stream& stream) {
  const int64_t position = stream.Position();
  LogPalette record = GreyPaletteRecord();
  if (stream.Size() - position >= kPaletteBlockSize) {
    stream.Seek(stream.Size() - kPaletteBlockSize);
    uint8_t block[kPaletteBlockSize];
    if (stream.Read(block, sizeof block) == sizeof block && block[0] == kPaletteMarker) {
      for (size_t i = 0; i < 256; ++i)
        record.entries[i] = {block[1 + 3 * i], block[2 + 3 * i], block[3 + 3 * i], 0};
    }
    stream.Seek(position);
  }
  return record;
}

LogPalette BuildPalette(Stream& stream, const PcxHeader& h, const Layout& layout) {
  if (h.version == 3 && layout.palette != PaletteKind::BlackWhite) {  // no palette of its own
    LogPalette record;
    record.entries.assign(StandardPalette16().begin(), StandardPalette16().end());
    return record;
  }
  switch (layout.palette) {
    case PaletteKind::BlackWhite: return BlackWhitePaletteRecord(ZeroBit::Black);
    case PaletteKind::Header: return HeaderPalette(h, layout.colours);
    case PaletteKind::Cga: return CgaPalette(h);
    case PaletteKind::Block256: return PaletteBlock(stream);
    case PaletteKind::None: break;
  }
  return LogPalette();
}

// The bytes of pixel data the picture takes: every line whole, and at least as long as
// the width needs (a shorter line leaves pixels with no data).
uint64_t DeclaredDataSize(const PcxHeader& h) {
  const uint64_t planeBytes = (uint64_t(h.Width()) * h.bitsPerPixel + 7) / 8;
  return uint64_t(h.Height()) * h.planes * std::max<uint64_t>(h.bytesPerLine, planeBytes);
}

// The pixel data as scan lines, one after another, from packed or plain data alike.
class ScanLines {
 public:
  ScanLines(std::span<const uint8_t> data, bool packed)
      : plain_(packed ? std::span<const uint8_t>() : data), runs_(data.data(), data.size()),
        packed_(packed) {}

  // Fills `line`; returns the bytes there were (fewer at the end of the data).
  size_t Next(std::span<uint8_t> line) {
    if (packed_) return runs_.Read(line.data(), line.size());
    const size_t n = std::min(line.size(), plain_.size());
    if (n > 0) std::memcpy(line.data(), plain_.data(), n);
    plain_ = plain_.subspan(n);
    return n;
  }

 private:
  std::span<const uint8_t> plain_;
  PCXRunReader runs_;
  bool packed_;
};

}  // namespace

void TPCXGraphic::LoadFromStream(Stream& stream) {
  Clear();
  const PcxHeader h = ReadHeader(stream);
  const Layout layout = ChooseLayout(h);
  int64_t dataSize = stream.Remaining();
  if (layout.palette == PaletteKind::Block256 && dataSize >= kPaletteBlockSize)
    dataSize -= kPaletteBlockSize;

  // Before any pixel memory is taken, the data must be able to fill the picture: packed
  // data at its best, plain data byte for byte.
  const uint64_t maxBytes = h.Packed() ? PCXMaxUnpacked(uint64_t(dataSize)) : uint64_t(dataSize);
  RequireFill(maxBytes, 1, DeclaredDataSize(h));

  SetPixelFormat(layout.format);
  if (layout.colours > 0) SetPalette(CreatePalette(BuildPalette(stream, h, layout)));
  SetSize(h.Width(), h.Height());
  // The data is decoded where the stream holds it (a mapped file is not copied).
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> data = stream.ReadView(static_cast<size_t>(dataSize), storage);

  // Data that ends early leaves its last line's missing bytes 0 and the rows after it empty.
  ScanLines lines(data, h.Packed());
  std::vector<uint8_t> line(h.LineSize());
  if (line.empty()) return;
  for (int y = 0; y < h.Height(); ++y) {
    const size_t got = lines.Next(line);
    if (got == 0) break;
    std::fill(line.begin() + got, line.end(), 0);
    layout.convert(line.data(), h.bytesPerLine, ScanLine(y), size_t(h.Width()));
  }
}

}  // namespace pictures
