// A DDS file is "DDS ", a 124-byte little-endian header (size, flags, height, width, pitch,
// depth, mip levels, 11 reserved words, the 32-byte pixel format, four capability words,
// one reserved word) and, when the pixel format's FourCC is "DX10", a 20-byte header whose
// first word is a DXGI format. The pixel data follows, the first face's mip levels first
// and its largest level first of all, so the picture read here always starts right after
// the headers. The pixel format either names a FourCC (block formats and a few numbered
// Direct3D formats) or gives the bits of a pixel and a mask for each channel.
#include "pictures/formats/dds.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/colour_space.h"
#include "base/error.h"
#include "base/pixel_helpers.h"
#include "compression/block_compression.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TDDSGraphic, Bitmap)

namespace {

constexpr size_t kHeaderSize = 4 + 124;
constexpr size_t kDX10HeaderSize = 20;

// Pixel format flags: the alpha mask is in use, alpha alone, a FourCC, colour masks, a
// luminance mask.
enum PixelFormatFlag : uint32_t {
  kAlphaPixels = 0x1, kAlphaOnly = 0x2, kFourCC = 0x4, kRGB = 0x40, kLuminance = 0x20000
};

// The alpha modes of the DX10 header's second flags word.
constexpr uint32_t kAlphaModeMask = 0x7;
constexpr uint32_t kAlphaPremultiplied = 2;
constexpr uint32_t kAlphaOpaque = 3;

[[noreturn]] void Fail(const std::string& what) { throw PictureError("DDS: " + what); }

constexpr uint32_t FourCC(const char (&name)[5]) {
  return uint32_t(uint8_t(name[0])) | uint32_t(uint8_t(name[1])) << 8 |
         uint32_t(uint8_t(name[2])) << 16 | uint32_t(uint8_t(name[3])) << 24;
}

enum class Block { None, BC1, BC2, BC3, BC4, BC5, BC6H, BC7 };

// How the first picture's pixels are stored.
struct Encoding {
  enum class Kind {
    Masked,      // integer pixels of 1 to 8 bytes; each channel the bits of its mask
    Float,       // 1 to 4 channels of half or single floats, in linear light
    R11G11B10,   // three small unsigned floats in 32 bits
    RGB9E5,      // three 9-bit mantissas sharing a 5-bit exponent
    Compressed,  // 4 x 4 blocks
  } kind = Kind::Masked;
  int pixelBytes = 0;                 // Masked and Float
  std::array<uint64_t, 4> masks{};    // Masked: red, green, blue, alpha
  bool grey = false;                  // one channel (in the red mask or float) shown as grey
  int channels = 0;                   // Float
  Block block = Block::None;          // Compressed
  bool isSigned = false;              // BC4, BC5, BC6H
  bool premultiplied = false;         // colours are multiplied by their alpha
  bool opaque = false;                // alpha is to be ignored

  bool HasAlpha() const {
    if (opaque) return false;
    switch (kind) {
      case Kind::Masked: return masks[3] != 0;
      case Kind::Float: return channels == 4;
      case Kind::Compressed:
        return block == Block::BC1 || block == Block::BC2 || block == Block::BC3 || block == Block::BC7;
      default: return false;
    }
  }
  bool Grey() const { return grey || block == Block::BC4; }
  int BlockBytes() const { return block == Block::BC1 || block == Block::BC4 ? 8 : 16; }
};

Encoding MaskedEncoding(int bits, uint64_t r, uint64_t g, uint64_t b, uint64_t a, bool grey = false) {
  Encoding e;
  e.kind = Encoding::Kind::Masked;
  e.pixelBytes = bits / 8;
  e.masks = {r, g, b, a};
  e.grey = grey;
  return e;
}

Encoding FloatEncoding(int channels, int channelBytes) {
  Encoding e;
  e.kind = Encoding::Kind::Float;
  e.channels = channels;
  e.pixelBytes = channels * channelBytes;
  e.grey = channels == 1;
  return e;
}

Encoding BlockEncoding(Block block, bool isSigned = false, bool premultiplied = false) {
  Encoding e;
  e.kind = Encoding::Kind::Compressed;
  e.block = block;
  e.isSigned = isSigned;
  e.premultiplied = premultiplied;
  return e;
}

Encoding SimpleEncoding(Encoding::Kind kind) {
  Encoding e;
  e.kind = kind;
  e.pixelBytes = 4;
  return e;
}

// The DXGI formats read: the common colour, grey and floating-point layouts and every
// block format (typeless and sRGB forms are read as their plain form).
std::optional<Encoding> FromDXGI(uint32_t format) {
  switch (format) {
    case 1: case 2: return FloatEncoding(4, 4);  // R32G32B32A32
    case 5: case 6: return FloatEncoding(3, 4);  // R32G32B32
    case 9: case 10: return FloatEncoding(4, 2);  // R16G16B16A16_FLOAT
    case 11: return MaskedEncoding(64, 0xFFFF, 0xFFFF0000, 0xFFFF00000000, 0xFFFF000000000000);
    case 15: case 16: return FloatEncoding(2, 4);  // R32G32
    case 23: case 24: return MaskedEncoding(32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000);
    case 26: return SimpleEncoding(Encoding::Kind::R11G11B10);
    case 27: case 28: case 29: return MaskedEncoding(32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
    case 33: case 34: return FloatEncoding(2, 2);  // R16G16_FLOAT
    case 35: return MaskedEncoding(32, 0xFFFF, 0xFFFF0000, 0, 0);
    case 40: case 41: return FloatEncoding(1, 4);  // R32_FLOAT
    case 48: case 49: return MaskedEncoding(16, 0xFF, 0xFF00, 0, 0);
    case 53: case 54: return FloatEncoding(1, 2);  // R16_FLOAT
    case 56: return MaskedEncoding(16, 0xFFFF, 0, 0, 0, true);
    case 60: case 61: return MaskedEncoding(8, 0xFF, 0, 0, 0, true);
    case 65: return MaskedEncoding(8, 0xFF, 0, 0, 0, true);  // A8, shown as grey
    case 67: return SimpleEncoding(Encoding::Kind::RGB9E5);
    case 70: case 71: case 72: return BlockEncoding(Block::BC1);
    case 73: case 74: case 75: return BlockEncoding(Block::BC2);
    case 76: case 77: case 78: return BlockEncoding(Block::BC3);
    case 79: case 80: return BlockEncoding(Block::BC4);
    case 81: return BlockEncoding(Block::BC4, true);
    case 82: case 83: return BlockEncoding(Block::BC5);
    case 84: return BlockEncoding(Block::BC5, true);
    case 85: return MaskedEncoding(16, 0xF800, 0x7E0, 0x1F, 0);
    case 86: return MaskedEncoding(16, 0x7C00, 0x3E0, 0x1F, 0x8000);
    case 87: case 90: case 91: return MaskedEncoding(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
    case 88: case 92: case 93: return MaskedEncoding(32, 0xFF0000, 0xFF00, 0xFF, 0);
    case 94: case 95: return BlockEncoding(Block::BC6H);
    case 96: return BlockEncoding(Block::BC6H, true);
    case 97: case 98: case 99: return BlockEncoding(Block::BC7);
    case 115: return MaskedEncoding(16, 0xF00, 0xF0, 0xF, 0xF000);
    default: return std::nullopt;
  }
}

// The numbered Direct3D formats that older writers put in the FourCC field, as the DXGI
// formats they are.
uint32_t DXGIOfDirect3D(uint32_t fourCC) {
  switch (fourCC) {
    case 36: return 11;   // A16B16G16R16
    case 111: return 54;  // R16F
    case 112: return 34;  // G16R16F
    case 113: return 10;  // A16B16G16R16F
    case 114: return 41;  // R32F
    case 115: return 16;  // G32R32F
    case 116: return 2;   // A32B32G32R32F
    default: return 0;
  }
}

std::string FourCCText(uint32_t fourCC) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = char(fourCC >> (8 * i));
    text += c >= ' ' && c <= '~' ? c : '?';
  }
  return text;
}

struct DDSHeader {
  int width = 0;
  int height = 0;
  Encoding encoding;
  bool dx10 = false;
};

Encoding EncodingOfFourCC(uint32_t fourCC) {
  switch (fourCC) {
    case FourCC("DXT1"): return BlockEncoding(Block::BC1);
    case FourCC("DXT2"): return BlockEncoding(Block::BC2, false, true);
    case FourCC("DXT3"): return BlockEncoding(Block::BC2);
    case FourCC("DXT4"): return BlockEncoding(Block::BC3, false, true);
    case FourCC("DXT5"): return BlockEncoding(Block::BC3);
    case FourCC("ATI1"): case FourCC("BC4U"): return BlockEncoding(Block::BC4);
    case FourCC("BC4S"): return BlockEncoding(Block::BC4, true);
    case FourCC("ATI2"): case FourCC("BC5U"): return BlockEncoding(Block::BC5);
    case FourCC("BC5S"): return BlockEncoding(Block::BC5, true);
    default: break;
  }
  if (const uint32_t dxgi = DXGIOfDirect3D(fourCC)) return *FromDXGI(dxgi);
  if (fourCC < 256) Fail("unsupported Direct3D format " + std::to_string(fourCC));
  Fail("unsupported FourCC '" + FourCCText(fourCC) + "'");
}

// A mask describes a channel when its bits are one run of at most 16.
bool UsableMask(uint64_t mask) {
  if (mask == 0) return true;
  const int width = std::popcount(mask);
  return width <= 16 && (mask >> std::countr_zero(mask)) == (uint64_t(1) << width) - 1;
}

Encoding EncodingOfMasks(uint32_t flags, uint32_t bits, const std::array<uint32_t, 4>& masks) {
  if (!(flags & (kRGB | kLuminance | kAlphaOnly)) || (bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
      !std::all_of(masks.begin(), masks.end(), UsableMask))
    Fail("unsupported pixel format");
  const uint32_t alpha = flags & (kAlphaPixels | kAlphaOnly) ? masks[3] : 0;
  if (flags & kLuminance) return MaskedEncoding(int(bits), masks[0], 0, 0, alpha, true);
  if (!(flags & kRGB)) return MaskedEncoding(int(bits), masks[3], 0, 0, 0, true);  // alpha only
  return MaskedEncoding(int(bits), masks[0], masks[1], masks[2], alpha);
}

DDSHeader ParseHeader(ByteReader& in) {
  if (in.Size() < 4 || in.U32LE() != FourCC("DDS ")) Fail("not a DirectDraw Surface file");
  if (in.Remaining() < 124 || in.U32LE() != 124) Fail("invalid header");
  DDSHeader header;
  in.U32LE();  // flags: which fields are set, not needed to read the first picture
  const uint32_t height = in.U32LE();
  const uint32_t width = in.U32LE();
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
    Fail("invalid picture size");
  header.width = int(width);
  header.height = int(height);
  in.Seek(76);  // the pixel format, after pitch, depth, mip levels and reserved words
  in.U32LE();       // its size
  const uint32_t flags = in.U32LE();
  const uint32_t fourCC = in.U32LE();
  const uint32_t bits = in.U32LE();
  std::array<uint32_t, 4> masks;
  for (uint32_t& mask : masks) mask = in.U32LE();
  in.Seek(kHeaderSize);
  if (!(flags & kFourCC)) {
    header.encoding = EncodingOfMasks(flags, bits, masks);
  } else if (fourCC != FourCC("DX10")) {
    header.encoding = EncodingOfFourCC(fourCC);
  } else {
    if (in.Remaining() < kDX10HeaderSize) Fail("invalid header");
    header.dx10 = true;
    const uint32_t format = in.U32LE();
    in.Skip(12);  // dimension, flags, array size
    const uint32_t alphaMode = in.U32LE() & kAlphaModeMask;
    const std::optional<Encoding> encoding = FromDXGI(format);
    if (!encoding) Fail("unsupported DXGI format " + std::to_string(format));
    header.encoding = *encoding;
    header.encoding.premultiplied |= alphaMode == kAlphaPremultiplied;
    header.encoding.opaque = alphaMode == kAlphaOpaque;
  }
  return header;
}

// ---------------------------------------------------------------------------------------
// Stored pixels to 8-bit RGBA, a row (or a row of blocks) at a time.

// One masked channel: its position and a table from its values to 0..255.
struct MaskedChannel {
  explicit MaskedChannel(uint64_t mask)
      : shift(mask ? std::countr_zero(mask) : 0), valueMask(mask >> shift), scale(valueMask + 1) {
    for (uint64_t v = 0; v <= valueMask; ++v)
      scale[v] = valueMask ? uint8_t((v * 255 + valueMask / 2) / valueMask) : 0;
  }
  uint8_t operator()(uint64_t pixel) const { return scale[(pixel >> shift) & valueMask]; }

  int shift;
  uint64_t valueMask;
  std::vector<uint8_t> scale;
};

uint64_t LoadLE(std::span<const uint8_t> bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes.size(); ++i) value |= uint64_t(bytes[i]) << (8 * i);
  return value;
}

float FloatChannel(std::span<const uint8_t> bytes) {
  return bytes.size() == 2 ? HalfToFloat(LoadU16LE(bytes.data()))
                           : std::bit_cast<float>(LoadU32LE(bytes.data()));
}

uint8_t Linear(float value) { return LinearToSRGB8(value); }

// Alpha is stored as it is, not as light.
uint8_t AlphaOf(float value) {
  if (!(value > 0)) return 0;
  return value >= 1 ? 255 : uint8_t(value * 255 + 0.5f);
}

// A small unsigned float of `mantissaBits` bits and a 5-bit exponent (bias 15).
float SmallFloat(uint32_t bits, int mantissaBits) {
  const uint32_t exponent = bits >> mantissaBits, mantissa = bits & ((1u << mantissaBits) - 1);
  // The same value as a half float with its mantissa widened to 10 bits.
  return HalfToFloat(uint16_t(exponent << 10 | mantissa << (10 - mantissaBits)));
}

class RowDecoder {
 public:
  explicit RowDecoder(const Encoding& e)
      : e_(e), red_(e.masks[0]), green_(e.masks[1]), blue_(e.masks[2]), alpha_(e.masks[3]) {}

  // Rows of pixels stored one after another: decodes one row.
  void DecodeRow(std::span<const uint8_t> stored, std::span<Rgba8> out) const {
    for (size_t x = 0; x < out.size(); ++x)
      out[x] = Pixel(stored.subspan(x * size_t(e_.pixelBytes), size_t(e_.pixelBytes)));
  }

  // A row of blocks: decodes four rows of pixels, `rows[k]` holding row k of the blocks.
  void DecodeBlocks(std::span<const uint8_t> stored, const std::array<std::span<Rgba8>, 4>& rows) const {
    const size_t width = rows[0].size();
    BlockPixels pixels;
    for (size_t bx = 0; bx * 4 < width; ++bx) {
      DecodeBlock(stored.subspan(bx * size_t(e_.BlockBytes()), size_t(e_.BlockBytes())), pixels);
      for (size_t y = 0; y < 4; ++y)
        for (size_t x = 0; x < 4 && bx * 4 + x < width; ++x) rows[y][bx * 4 + x] = pixels[4 * y + x];
    }
  }

 private:
  Rgba8 Pixel(std::span<const uint8_t> p) const {
    switch (e_.kind) {
      case Encoding::Kind::Masked: {
        const uint64_t v = LoadLE(p);
        return {red_(v), green_(v), blue_(v), e_.masks[3] ? alpha_(v) : uint8_t(255)};
      }
      case Encoding::Kind::Float: {
        const size_t bytes = size_t(e_.pixelBytes / e_.channels);
        float c[4] = {0, 0, 0, 1};
        for (size_t i = 0; i < size_t(e_.channels); ++i) c[i] = FloatChannel(p.subspan(i * bytes, bytes));
        return {Linear(c[0]), Linear(c[1]), Linear(c[2]), AlphaOf(c[3])};
      }
      case Encoding::Kind::R11G11B10: {
        const uint32_t v = LoadU32LE(p.data());
        return {Linear(SmallFloat(v & 0x7FF, 6)), Linear(SmallFloat(v >> 11 & 0x7FF, 6)),
                Linear(SmallFloat(v >> 22, 5)), 255};
      }
      default: {  // RGB9E5: each mantissa times 2^(exponent - 15 - 9)
        const uint32_t v = LoadU32LE(p.data());
        const int exponent = int(v >> 27) - 24;
        auto channel = [&](int shift) { return Linear(std::ldexp(float(v >> shift & 0x1FF), exponent)); };
        return {channel(0), channel(9), channel(18), 255};
      }
    }
  }

  void DecodeBlock(std::span<const uint8_t> bytes, BlockPixels& out) const {
    const std::span<const uint8_t, 8> half = bytes.first<8>();
    switch (e_.block) {
      case Block::BC1: DecodeBC1(half, out); break;
      case Block::BC2: DecodeBC2(bytes.first<16>(), out); break;
      case Block::BC3: DecodeBC3(bytes.first<16>(), out); break;
      case Block::BC4: {
        BlockValues values;
        DecodeBC4(half, e_.isSigned, values);
        for (size_t i = 0; i < 16; ++i) out[i] = {values[i], values[i], values[i], 255};
        break;
      }
      case Block::BC5: DecodeBC5(bytes.first<16>(), e_.isSigned, out); break;
      case Block::BC6H: {
        BlockFloats rgb;
        DecodeBC6H(bytes.first<16>(), e_.isSigned, rgb);
        for (size_t i = 0; i < 16; ++i) out[i] = {Linear(rgb[i][0]), Linear(rgb[i][1]), Linear(rgb[i][2]), 255};
        break;
      }
      default: DecodeBC7(bytes.first<16>(), out); break;
    }
  }

  const Encoding& e_;
  MaskedChannel red_, green_, blue_, alpha_;
};

// Writes a row of RGBA pixels in the Bitmap's layout: grey, blue-green-red, or with alpha
// (where colours were stored multiplied by their alpha, divided by it again).
void PlaceRow(std::span<const Rgba8> pixels, const Encoding& e, PixelFormat format, std::span<uint8_t> out) {
  for (size_t x = 0; x < pixels.size(); ++x) {
    Rgba8 p = pixels[x];
    if (format == PixelFormat::Bits8) {
      out[x] = p.r;
      continue;
    }
    if (e.Grey()) p.g = p.b = p.r;
    if (format == PixelFormat::Bits24) {
      out[3 * x] = p.b;
      out[3 * x + 1] = p.g;
      out[3 * x + 2] = p.r;
      continue;
    }
    if (e.premultiplied && p.a > 0 && p.a < 255) {
      auto divide = [&](uint8_t c) { return uint8_t(std::min(255, (c * 255 + p.a / 2) / p.a)); };
      p = {divide(p.r), divide(p.g), divide(p.b), p.a};
    }
    out[4 * x] = p.b;
    out[4 * x + 1] = p.g;
    out[4 * x + 2] = p.r;
    out[4 * x + 3] = p.a;
  }
}

}  // namespace

void TDDSGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::vector<uint8_t> storage;
  ByteReader in(stream.ReadRestView(storage));
  const DDSHeader header = ParseHeader(in);
  const Encoding& e = header.encoding;
  const size_t width = size_t(header.width), height = size_t(header.height);
  const bool blocks = e.kind == Encoding::Kind::Compressed;
  const size_t rowBytes = blocks ? (width + 3) / 4 * size_t(e.BlockBytes()) : width * size_t(e.pixelBytes);
  const size_t storedRows = blocks ? (height + 3) / 4 : height;
  if (!CanFill(in.Remaining(), 1, uint64_t(rowBytes) * storedRows))
    Fail("the file is shorter than its picture");

  const PixelFormat format = e.HasAlpha() ? PixelFormat::Bits32
                             : e.Grey()   ? PixelFormat::Bits8
                                          : PixelFormat::Bits24;
  SetPixelFormat(format);
  RowFill fill(*this, header.width, header.height);
  if (format == PixelFormat::Bits8) SetPalette(CreatePalette(GreyPaletteRecord()));
  SetTransparent(format == PixelFormat::Bits32);

  // A row of blocks decodes into four rows of pixels, other layouts into one.
  const RowDecoder decoder(e);
  const size_t rowsAtOnce = blocks ? 4 : 1;
  std::vector<Rgba8> pixels(CheckedBufferSize({width, rowsAtOnce, sizeof(Rgba8)}) / sizeof(Rgba8));
  std::array<std::span<Rgba8>, 4> rows;
  for (size_t k = 0; k < 4; ++k) rows[k] = std::span(pixels).subspan(k % rowsAtOnce * width, width);
  for (size_t y = 0; y < height; y += rowsAtOnce) {
    const std::span<const uint8_t> stored = in.Bytes(rowBytes);
    if (blocks)
      decoder.DecodeBlocks(stored, rows);
    else
      decoder.DecodeRow(stored, rows[0]);
    for (size_t k = 0; k < rowsAtOnce && y + k < height; ++k)
      PlaceRow(rows[k], e, format, std::span(ScanLine(int(y + k)), RowBytes()));
  }
  fill.Done();
}

}  // namespace pictures
