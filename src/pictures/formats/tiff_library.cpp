#include "pictures/formats/tiff_library.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/byte_reader.h"
#include "base/colour_space.h"
#include "base/error.h"
#include "base/pixel_helpers.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

namespace {

constexpr const char* kInvalidTIFF = "Invalid TIFF file.";
constexpr const char* kUnknownCompression = "TIFF: Unknown compression scheme";

// ---- libtiff over our Stream, with its messages caught instead of printed.

struct Source {
  Stream& stream;
  int64_t base;
  std::string firstError;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  if (size <= 0) return 0;
  return static_cast<tmsize_t>(static_cast<Source*>(handle)->stream.Read(buffer, size_t(size)));
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return 0; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* source = static_cast<Source*>(handle);
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  int64_t from = 0;
  switch (whence) {
    case SEEK_SET: from = source->base; break;
    case SEEK_CUR: from = source->stream.Position(); break;
    case SEEK_END: from = source->stream.Size(); break;
    default: return toff_t(-1);
  }
  // Offsets from the current position or the end are signed values passed as unsigned.
  const auto delta = static_cast<int64_t>(offset);
  if (whence == SEEK_SET ? offset > uint64_t(kMax - from) : delta > kMax - from) return toff_t(-1);
  const int64_t target = from + delta;
  if (target < source->base) return toff_t(-1);
  source->stream.Seek(target);
  return toff_t(target - source->base);
}

int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t handle) {
  const auto* source = static_cast<Source*>(handle);
  return toff_t(std::max<int64_t>(0, source->stream.Size() - source->base));
}

int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

int KeepFirstError(TIFF*, void* user, const char*, const char* format, va_list arguments) {
  auto* source = static_cast<Source*>(user);
  if (source->firstError.empty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    source->firstError = text;
  }
  return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Messages raised where no file is open yet go to the process-wide handlers, which print
// to the terminal by default.
void SilenceProcessWideHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

class OpenTIFF {
 public:
  OpenTIFF(Stream& stream, int64_t base) : source_{stream, base, {}} {
    SilenceProcessWideHandlers();
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                         TIFFOpenOptionsFree);
    if (!options) throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), KeepFirstError, &source_);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), IgnoreWarning, &source_);
    // libtiff's own buffers obey the same limit as pixel memory.
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options.get(), tmsize_t(std::min<uint64_t>(Bitmap::PixelMemoryLimit(), INT64_MAX)));
    // "m": read through our stream, never a memory map.
    tif_ = TIFFClientOpenExt("TIFF", "rm", &source_, ReadProc, WriteProc, SeekProc, CloseProc,
                             SizeProc, MapProc, UnmapProc, options.get());
    if (!tif_) Fail(kInvalidTIFF);
  }
  ~OpenTIFF() { TIFFClose(tif_); }
  OpenTIFF(const OpenTIFF&) = delete;
  OpenTIFF& operator=(const OpenTIFF&) = delete;

  TIFF* get() const { return tif_; }
  int64_t FileSize() const { return source_.stream.Size() - source_.base; }
  // Reads up to `count` bytes at `offset` in the file, as a plain read.
  size_t ReadAt(uint64_t offset, void* buffer, size_t count) const {
    if (offset >= uint64_t(std::max<int64_t>(0, FileSize()))) return 0;
    source_.stream.Seek(source_.base + int64_t(offset));
    return source_.stream.Read(buffer, count);
  }

  // Raises `message`, followed by libtiff's first error text where it gave one.
  [[noreturn]] void Fail(const std::string& message) const {
    if (source_.firstError.empty()) throw PictureError(message);
    throw PictureError(message + " " + source_.firstError);
  }

 private:
  Source source_;
  TIFF* tif_ = nullptr;
};

// ---- What the directory says.

struct Geometry {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bits = 1;
  uint16_t samples = 1;
  uint16_t extraSamples = 0;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t sampleFormat = SAMPLEFORMAT_UINT;
  uint16_t compression = COMPRESSION_NONE;
  uint16_t orientation = ORIENTATION_TOPLEFT;
  uint16_t inkSet = INKSET_CMYK;
  bool separate = false;
  bool tiled = false;
  uint32_t tileWidth = 0;
  uint32_t bandRows = 0;  // rows of a strip or of a row of tiles

  // Orientations 5 to 8 store the picture's columns as rows.
  bool Transposed() const { return orientation >= ORIENTATION_LEFTTOP; }
  uint32_t UprightWidth() const { return Transposed() ? height : width; }
  uint32_t UprightHeight() const { return Transposed() ? width : height; }
};

bool IsFaxCoding(uint16_t compression) {
  return compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTRLEW ||
         compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4;
}

Geometry ReadGeometry(const OpenTIFF& tiff) {
  TIFF* tif = tiff.get();
  Geometry g;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &g.width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &g.height) || g.width == 0 || g.height == 0)
    tiff.Fail(kInvalidTIFF);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &g.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &g.samples);
  uint16_t* extraTypes = nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &g.extraSamples, &extraTypes);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &g.photometric))
    g.photometric = g.samples - std::min(g.extraSamples, g.samples) >= 3 ? PHOTOMETRIC_RGB
                                                                         : PHOTOMETRIC_MINISBLACK;
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &g.sampleFormat);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &g.compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &g.orientation);
  if (g.orientation < ORIENTATION_TOPLEFT || g.orientation > ORIENTATION_LEFTBOT)
    g.orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &g.inkSet);
  uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  g.separate = planar == PLANARCONFIG_SEPARATE && g.samples > 1;
  g.tiled = TIFFIsTiled(tif);
  if (g.tiled) {
    uint32_t tileLength = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &g.tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    if (g.tileWidth == 0 || tileLength == 0) tiff.Fail(kInvalidTIFF);
    g.bandRows = std::min(tileLength, g.height);
  } else {
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    g.bandRows = rowsPerStrip == 0 ? g.height : std::min(rowsPerStrip, g.height);
  }
  if (g.samples == 0 || g.bits == 0) tiff.Fail(kInvalidTIFF);
  // The fax codings describe bilevel pictures of one bit a pixel, a row in as little as one
  // bit: more samples would only make every row that much wider than any data needs to be.
  if (IsFaxCoding(g.compression) && (g.samples != 1 || g.bits != 1)) tiff.Fail(kInvalidTIFF);
  // WebP strips hold 8-bit RGB or RGBA and nothing else; libtiff would find that out only
  // strip by strip, after strip buffers sized for whatever the header claims.
  if (g.compression == COMPRESSION_WEBP && (g.bits != 8 || (g.samples != 3 && g.samples != 4)))
    tiff.Fail(kInvalidTIFF);
  return g;
}

// Bytes of one row of samples as the file's strips or tiles hold them, all samples
// interleaved.
uint64_t ChunkyRowBytes(const Geometry& g) {
  return (CheckedBufferSize({g.width, g.samples, g.bits}) + 7) / 8;
}

// Whether the JPEG data of the first strip or tile is arithmetic-coded, as its frame
// header says.
bool ArithmeticCodedJPEG(const OpenTIFF& tiff) {
  TIFF* tif = tiff.get();
  if ((TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif)) == 0) return false;
  uint64_t at = TIFFGetStrileOffset(tif, 0);
  uint8_t segment[4];
  if (tiff.ReadAt(at, segment, 2) != 2 || segment[0] != 0xFF || segment[1] != 0xD8) return false;
  at += 2;
  // Segments up to the frame header, each a marker and a length that counts itself; a
  // strip holds a few tables before it, so a long walk is damage.
  for (int walked = 0; walked < 256 && tiff.ReadAt(at, segment, 4) == 4 && segment[0] == 0xFF;
       ++walked) {
    const uint8_t marker = segment[1];
    if (marker == 0xFF) {  // a fill byte before the marker
      ++at;
      continue;
    }
    // Frame headers are C0 to CF but for C4 (Huffman tables), C8 and CC (arithmetic
    // conditioning); those of C9 on are arithmetic-coded.
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
      return marker >= 0xC9;
    if (marker == 0xDA) return false;  // a scan before any frame header
    at += 2 + LoadU16BE(segment + 2);
  }
  return false;
}

// The most bytes of pixels that one byte of compressed data can become at best. For the
// codecs whose output has no useful bound per byte (LZMA, ZSTD, WebP, arithmetic-coded
// JPEG...) any data at all passes, and the pixel memory limit is the guard.
uint64_t BestExpansion(const OpenTIFF& tiff, const Geometry& g) {
  switch (g.compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_LZW: return kTIFFLZWBestExpansion;
    case COMPRESSION_PACKBITS: return kPackBitsBestExpansion;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return kDeflateBestExpansion;
    // The arithmetic coder can spend a small fraction of a bit on a block: a flat picture
    // of 2048 x 2048 takes some 140 bytes.
    case COMPRESSION_JPEG:
      return ArithmeticCodedJPEG(tiff) ? std::numeric_limits<uint64_t>::max()
                                       : kHuffmanJPEGBestExpansion;
    // Fax codes take at least one bit for each row.
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4: return 8 * ChunkyRowBytes(g);
    default: return std::numeric_limits<uint64_t>::max();
  }
}

// Rejects a file whose strips or tiles cannot hold enough data for the picture it declares,
// before any pixel memory is taken.
void RequireDataForPicture(const OpenTIFF& tiff, const Geometry& g) {
  TIFF* tif = tiff.get();
  const uint64_t fileSize = uint64_t(std::max<int64_t>(0, tiff.FileSize()));
  const uint64_t needed = ChunkyRowBytes(g) * g.height;
  if (g.compression == COMPRESSION_NONE) {
    // libtiff reads uncompressed strips whatever their byte counts say.
    RequireFill(fileSize, 1, needed);
    return;
  }
  const uint64_t expansion = BestExpansion(tiff, g);
  const uint32_t striles = g.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  uint64_t data = 0;
  for (uint32_t i = 0; i < striles && !CanFill(data, expansion, needed); ++i) {
    const uint64_t offset = TIFFGetStrileOffset(tif, i);
    if (offset < fileSize)
      data += std::min<uint64_t>(TIFFGetStrileByteCount(tif, i), fileSize - offset);
  }
  RequireFill(data, expansion, needed);
}

// ---- Rows put upright.

// Puts each row of the file, once converted to Bitmap pixels, where the Orientation tag
// says it belongs. Rows that stay rows are converted straight into the Bitmap.
class UprightRows {
 public:
  UprightRows(Bitmap& picture, const Geometry& g, size_t pixelBytes)
      : picture_(picture),
        orientation_(g.orientation),
        width_(g.width),
        height_(g.height),
        pixelBytes_(pixelBytes) {
    if (orientation_ != ORIENTATION_TOPLEFT && orientation_ != ORIENTATION_BOTLEFT)
      row_.resize(CheckedBufferSize({width_, pixelBytes_}));
  }

  // Where file row y is to be converted.
  uint8_t* Target(uint32_t y) {
    if (orientation_ == ORIENTATION_TOPLEFT) return picture_.ScanLine(int(y));
    if (orientation_ == ORIENTATION_BOTLEFT) return picture_.ScanLine(int(height_ - 1 - y));
    return row_.data();
  }

  // Moves file row y from Target(y) to its place.
  void Place(uint32_t y) {
    switch (orientation_) {
      case ORIENTATION_TOPLEFT:
      case ORIENTATION_BOTLEFT: return;
      case ORIENTATION_TOPRIGHT: Mirror(picture_.ScanLine(int(y))); return;
      case ORIENTATION_BOTRIGHT: Mirror(picture_.ScanLine(int(height_ - 1 - y))); return;
      // File row y becomes a column: on the left for LEFTTOP and LEFTBOT, on the right for
      // RIGHTTOP and RIGHTBOT; its first pixel at the top for *TOP, at the bottom for *BOT.
      case ORIENTATION_LEFTTOP: Column(y, false); return;
      case ORIENTATION_RIGHTTOP: Column(height_ - 1 - y, false); return;
      case ORIENTATION_RIGHTBOT: Column(height_ - 1 - y, true); return;
      case ORIENTATION_LEFTBOT: Column(y, true); return;
    }
  }

 private:
  void Mirror(uint8_t* dest) const {
    for (uint32_t x = 0; x < width_; ++x)
      std::memcpy(dest + size_t(width_ - 1 - x) * pixelBytes_, &row_[size_t(x) * pixelBytes_],
                  pixelBytes_);
  }
  void Column(uint32_t column, bool bottomUp) {
    const size_t at = size_t(column) * pixelBytes_;
    for (uint32_t x = 0; x < width_; ++x) {
      const uint32_t y = bottomUp ? width_ - 1 - x : x;
      std::memcpy(picture_.ScanLine(int(y)) + at, &row_[size_t(x) * pixelBytes_], pixelBytes_);
    }
  }

  Bitmap& picture_;
  uint16_t orientation_;
  uint32_t width_;
  uint32_t height_;
  size_t pixelBytes_;
  std::vector<uint8_t> row_;
};

void SizeUpright(Bitmap& picture, const Geometry& g, PixelFormat format) {
  if (g.UprightWidth() > INT32_MAX || g.UprightHeight() > INT32_MAX)
    CheckedBufferSize({UINT64_MAX, UINT64_MAX});  // raises the Bitmap's size error
  picture.SetPixelFormat(format);
  picture.SetSize(int(g.UprightWidth()), int(g.UprightHeight()));
}

// ---- Samples of any depth and kind to 8 bits.

// Samples of 16, 24, 32 and 64 bits reach us in the machine's byte order (libtiff swaps
// them); other depths are packed most significant bit first.
template <typename T>
T Native(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

uint64_t PackedBits(const uint8_t* row, uint64_t bit, uint32_t count) {
  uint64_t value = 0;
  for (uint32_t i = 0; i < count; ++i, ++bit)
    value = value << 1 | ((row[bit >> 3] >> (7 - (bit & 7))) & 1);
  return value;
}

uint8_t Scale(uint64_t value, uint64_t max) {
  return static_cast<uint8_t>((value * 255 + max / 2) / max);
}
uint8_t ScaleUnit(double value) {  // 0..1 to 0..255; NaN and below 0 are 0
  return !(value > 0) ? 0 : value >= 1 ? 255 : static_cast<uint8_t>(std::lround(value * 255));
}

// True when NarrowSamples turns samples of this depth and kind into 8 bits.
bool CanNarrow(uint16_t bits, uint16_t format) {
  switch (format) {
    case SAMPLEFORMAT_UINT:
    case SAMPLEFORMAT_VOID: return bits <= 32 || bits == 64;
    case SAMPLEFORMAT_INT: return bits == 8 || bits == 16 || bits == 32;
    case SAMPLEFORMAT_IEEEFP: return bits == 16 || bits == 32 || bits == 64;
    default: return false;
  }
}

// Unsigned samples are scaled from their full range to 0..255, rounded, as libtiff's RGBA
// interface does for 16 bits; signed samples from 0..their maximum (below 0 is black);
// floating-point samples from 0..1.
void NarrowSamples(const uint8_t* in, uint8_t* out, size_t count, uint16_t bits, uint16_t format) {
  if (format == SAMPLEFORMAT_IEEEFP) {
    for (size_t i = 0; i < count; ++i)
      out[i] = bits == 16   ? ScaleUnit(HalfToFloat(Native<uint16_t>(in + 2 * i)))
               : bits == 32 ? ScaleUnit(Native<float>(in + 4 * i))
                            : ScaleUnit(Native<double>(in + 8 * i));
    return;
  }
  if (format == SAMPLEFORMAT_INT) {
    for (size_t i = 0; i < count; ++i) {
      const int64_t v = bits == 8    ? int8_t(in[i])
                        : bits == 16 ? Native<int16_t>(in + 2 * i)
                                     : Native<int32_t>(in + 4 * i);
      out[i] = v <= 0 ? 0 : Scale(uint64_t(v), (uint64_t(1) << (bits - 1)) - 1);
    }
    return;
  }
  switch (bits) {
    case 16:
      for (size_t i = 0; i < count; ++i) out[i] = Scale(Native<uint16_t>(in + 2 * i), 0xFFFF);
      return;
    case 24:
      for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = in + 3 * i;
        out[i] = Scale(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16, 0xFFFFFF);
      }
      return;
    case 32:
      for (size_t i = 0; i < count; ++i) out[i] = Scale(Native<uint32_t>(in + 4 * i), 0xFFFFFFFF);
      return;
    case 64:
      for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(Native<uint64_t>(in + 8 * i) >> 56);
      return;
  }
  const uint64_t max = (uint64_t(1) << bits) - 1;
  for (size_t i = 0; i < count; ++i) out[i] = Scale(PackedBits(in, i * bits, bits), max);
}

// Narrows the first `keep` of each pixel's `samples` samples, for `pixels` pixels, so that
// samples the picture does not use (extra channels) cost nothing.
void NarrowKeptSamples(const uint8_t* row, uint8_t* out, uint32_t pixels, uint32_t samples,
                       uint32_t keep, uint16_t bits, uint16_t format) {
  if (samples == keep) {
    NarrowSamples(row, out, size_t(pixels) * samples, bits, format);
    return;
  }
  const uint64_t pixelBits = uint64_t(samples) * bits;
  if (bits % 8 == 0) {
    for (uint32_t x = 0; x < pixels; ++x)
      NarrowSamples(row + x * pixelBits / 8, out + size_t(x) * keep, keep, bits, format);
    return;
  }
  const uint64_t max = (uint64_t(1) << bits) - 1;  // depths below 32 are unsigned
  for (uint32_t x = 0; x < pixels; ++x)
    for (uint32_t s = 0; s < keep; ++s)
      *out++ = Scale(PackedBits(row, x * pixelBits + uint64_t(s) * bits, bits), max);
}

// The first sample of each of `count` pixels of `samples` samples, as indices of 1 to 8
// bits, one byte each.
void UnpackIndices(const uint8_t* in, uint8_t* out, uint32_t count, uint32_t samples,
                   uint16_t bits) {
  if (bits == 8 && samples == 1) {
    std::memcpy(out, in, count);
    return;
  }
  for (uint32_t i = 0; i < count; ++i)
    out[i] = static_cast<uint8_t>(PackedBits(in, uint64_t(i) * samples * bits, bits));
}

// Copies the first `keep` samples of each of `pixels` pixels of `samples` samples of
// `size` bytes.
void KeepSamples(const uint8_t* in, uint32_t samples, uint8_t* out, uint32_t keep, uint32_t pixels,
                 size_t size) {
  for (uint32_t x = 0; x < pixels; ++x)
    std::memcpy(out + size_t(x) * keep * size, in + size_t(x) * samples * size, keep * size);
}

// ---- Reading strips and tiles ourselves and converting with our row routines.

enum class Colour { Grey, Palette, RGB, CMYK, Lab, ICCLab };

struct DirectPlan {
  Colour colour = Colour::Grey;
  uint32_t colourSamples = 1;
  bool alpha = false;
  PixelFormat format = PixelFormat::Bits24;
  // The JPEG codec is to turn the file's YCbCr (subsampled or not) into RGB.
  bool jpegToRGB = false;

  // The samples of a pixel that the picture uses: its colours and its alpha.
  uint32_t UsedSamples() const { return colourSamples + (alpha ? 1 : 0); }
};

// The plan for reading strips and tiles into our own buffers, or nothing where libtiff's
// RGBA interface has to do it (YCbCr without JPEG, log-luminance, odd layouts).
std::optional<DirectPlan> PlanDirectRead(Geometry& g) {
  DirectPlan plan;
  const uint32_t colourSamples =
      g.samples > g.extraSamples ? uint32_t(g.samples - g.extraSamples) : 0;
  switch (g.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK: plan.colour = Colour::Grey; break;
    case PHOTOMETRIC_PALETTE: plan.colour = Colour::Palette; break;
    case PHOTOMETRIC_RGB: plan.colour = Colour::RGB; break;
    case PHOTOMETRIC_SEPARATED:
      if (g.inkSet != INKSET_CMYK) return std::nullopt;
      plan.colour = Colour::CMYK;
      break;
    case PHOTOMETRIC_CIELAB: plan.colour = Colour::Lab; break;
    case PHOTOMETRIC_ICCLAB: plan.colour = Colour::ICCLab; break;
    case PHOTOMETRIC_YCBCR:
      // The JPEG codec converts YCbCr to RGB itself, subsampling included.
      if (g.compression != COMPRESSION_JPEG || g.samples != 3 || g.bits != 8) return std::nullopt;
      g.photometric = PHOTOMETRIC_RGB;
      plan.colour = Colour::RGB;
      plan.jpegToRGB = true;
      break;
    default: return std::nullopt;
  }
  switch (plan.colour) {
    case Colour::Grey:
    case Colour::Palette: plan.colourSamples = 1; break;
    case Colour::CMYK: plan.colourSamples = 4; break;
    default: plan.colourSamples = 3; break;
  }
  if (g.samples < plan.colourSamples) return std::nullopt;
  plan.alpha = (plan.colour == Colour::Grey || plan.colour == Colour::RGB) &&
               g.samples > plan.colourSamples && colourSamples <= plan.colourSamples;

  const bool unsignedSamples =
      g.sampleFormat == SAMPLEFORMAT_UINT || g.sampleFormat == SAMPLEFORMAT_VOID;
  switch (plan.colour) {
    case Colour::Palette:
      if (!unsignedSamples || (g.bits > 8 && g.bits != 16)) return std::nullopt;
      plan.format = g.bits <= 8 ? PixelFormat::Bits8 : PixelFormat::Bits24;
      break;
    case Colour::Lab:
    case Colour::ICCLab:
      if (g.bits != 8 && g.bits != 16) return std::nullopt;
      plan.format = PixelFormat::Bits24;
      break;
    default:
      if (!CanNarrow(g.bits, g.sampleFormat)) return std::nullopt;
      plan.format = plan.alpha                    ? PixelFormat::Bits32
                    : plan.colour == Colour::Grey ? PixelFormat::Bits8
                                                  : PixelFormat::Bits24;
  }
  // Separate planes are interleaved a whole sample at a time; tiles are placed a whole
  // byte at a time.
  if (g.separate && g.bits % 8 != 0) return std::nullopt;
  if (g.tiled && (uint64_t(g.tileWidth) * g.samples * g.bits) % 8 != 0) return std::nullopt;
  return plan;
}

struct ColourMap {
  const uint16_t* red;
  const uint16_t* green;
  const uint16_t* blue;
};

// The colour map: red, green and blue values for each of the 1 << bits indices.
ColourMap ColourMapOf(const OpenTIFF& tiff) {
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  if (!TIFFGetField(tiff.get(), TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
    tiff.Fail(kInvalidTIFF);
  return {red, green, blue};
}

// The palette of a grey or palette picture of 8-bit pixels.
LogPalette PaletteRecord(const OpenTIFF& tiff, const Geometry& g, Colour colour) {
  if (colour == Colour::Grey) {
    LogPalette record = GreyPaletteRecord();
    if (g.photometric == PHOTOMETRIC_MINISWHITE)
      std::reverse(record.entries.begin(), record.entries.end());
    return record;
  }
  const size_t count = size_t(1) << g.bits;
  const auto [red, green, blue] = ColourMapOf(tiff);
  // Colour maps written with 8-bit values are taken as they stand, as libtiff does; others
  // give their upper byte, as our own reader's do.
  bool eightBit = true;
  for (size_t i = 0; i < count && eightBit; ++i)
    eightBit = red[i] < 256 && green[i] < 256 && blue[i] < 256;
  auto level = [&](uint16_t v) { return static_cast<uint8_t>(eightBit ? v : v >> 8); };
  LogPalette record(count);
  for (size_t i = 0; i < count; ++i)
    record.entries[i] = {level(red[i]), level(green[i]), level(blue[i]), 0};
  return record;
}

// Converts one row of the file's interleaved samples into Bitmap pixels.
class RowConverter {
 public:
  RowConverter(const OpenTIFF& tiff, const Geometry& g, const DirectPlan& plan)
      : g_(g), plan_(plan) {
    const bool narrow = plan.colour != Colour::Palette && plan.colour != Colour::Lab &&
                        plan.colour != Colour::ICCLab &&
                        !(g.bits == 8 && g.sampleFormat != SAMPLEFORMAT_INT);
    const uint32_t keep = plan.UsedSamples();
    if (narrow) narrowed_.resize(CheckedBufferSize({g.width, keep}));
    if (plan.colour == Colour::Palette && g.bits <= 8)
      palette_ = PaletteRecord(tiff, g, plan.colour).entries;
    if (plan.colour == Colour::Palette && g.bits == 16) {
      // 16-bit indices: the colour map looked up into 24-bit pixels.
      const auto [red, green, blue] = ColourMapOf(tiff);
      wideMap_.resize(size_t(3) << 16);
      for (size_t i = 0; i < 65536; ++i) {
        wideMap_[3 * i] = static_cast<uint8_t>(blue[i] >> 8);
        wideMap_[3 * i + 1] = static_cast<uint8_t>(green[i] >> 8);
        wideMap_[3 * i + 2] = static_cast<uint8_t>(red[i] >> 8);
      }
    }
    if ((!narrow && g.samples != keep && plan.colour != Colour::Palette) ||
        plan.colour == Colour::ICCLab)
      compact_.resize(CheckedBufferSize({g.width, keep, (g.bits + 7u) / 8}));
  }

  const std::vector<PaletteEntry>& Palette() const { return palette_; }

  void operator()(const uint8_t* row, uint8_t* out) {
    const uint32_t width = g_.width;
    if (plan_.colour == Colour::Palette) {
      if (g_.bits <= 8) {
        UnpackIndices(row, out, width, g_.samples, g_.bits);
      } else {
        for (uint32_t x = 0; x < width; ++x) {
          const size_t index = Native<uint16_t>(row + 2 * size_t(x) * g_.samples);
          std::memcpy(out + 3 * size_t(x), &wideMap_[3 * index], 3);
        }
      }
      return;
    }
    if (plan_.colour == Colour::Lab || plan_.colour == Colour::ICCLab) {
      ConvertLab(row, out);
      return;
    }
    const uint8_t* samples = row;
    const uint32_t keep = plan_.UsedSamples();
    if (!narrowed_.empty()) {
      NarrowKeptSamples(row, narrowed_.data(), width, g_.samples, keep, g_.bits, g_.sampleFormat);
      samples = narrowed_.data();
    } else if (!compact_.empty()) {
      KeepSamples(samples, g_.samples, compact_.data(), keep, width, 1);
      samples = compact_.data();
    }
    const uint32_t count = width * keep;
    switch (plan_.colour) {
      case Colour::Grey:
        if (!plan_.alpha) {
          std::memcpy(out, samples, width);
          break;
        }
        for (uint32_t x = 0; x < width; ++x, samples += 2, out += 4) {
          const uint8_t grey =
              g_.photometric == PHOTOMETRIC_MINISWHITE ? 255 - samples[0] : samples[0];
          out[0] = out[1] = out[2] = grey;
          out[3] = samples[1];
        }
        break;
      case Colour::RGB: (plan_.alpha ? RGBAToBGRA : RGBToBGR)(samples, out, 8, count); break;
      case Colour::CMYK: CMYKToBGR(samples, out, 8, count); break;
      default: break;
    }
  }

 private:
  void ConvertLab(const uint8_t* row, uint8_t* out) {
    const uint32_t width = g_.width;
    const uint8_t* samples = row;
    if (!compact_.empty()) {
      KeepSamples(row, g_.samples, compact_.data(), 3, width, g_.bits / 8);
      samples = compact_.data();
    }
    if (plan_.colour == Colour::ICCLab) {
      // ICC L*a*b* stores a* and b* offset by half their range instead of signed.
      const size_t size = g_.bits / 8;
      const size_t top = std::endian::native == std::endian::little ? size - 1 : 0;
      for (uint32_t x = 0; x < width; ++x) {
        compact_[(3 * size_t(x) + 1) * size + top] ^= 0x80;
        compact_[(3 * size_t(x) + 2) * size + top] ^= 0x80;
      }
    }
    if (g_.bits == 16 && std::endian::native == std::endian::big) {
      if (samples == row) {
        compact_.assign(row, row + size_t(width) * 6);
        samples = compact_.data();
      }
      SwapShorts(compact_.data(), width * 3);
    }
    CIELabToBGR(samples, out, static_cast<uint8_t>(g_.bits), width * 3);
  }

  const Geometry& g_;
  DirectPlan plan_;
  std::vector<uint8_t> narrowed_;
  std::vector<uint8_t> compact_;
  std::vector<PaletteEntry> palette_;
  std::vector<uint8_t> wideMap_;
};

// Reads the file's strips or tiles a band of rows at a time (a strip, or a row of tiles)
// into one buffer of interleaved samples and hands each row to `row(y, samples)`. A strip
// or tile that fails to decode leaves zeros; when none decodes, the load fails with
// libtiff's message.
//
// Every handle that decodes bands does so through a BandReader, which sets the handle up
// to deliver the samples the plan converts: handles opened alike give the same rows.
class BandReader {
 public:
  BandReader(const OpenTIFF& tiff, const Geometry& g, const DirectPlan& plan)
      : tiff_(tiff), g_(g), planes_(g.separate ? plan.UsedSamples() : 1) {
    if (plan.jpegToRGB && !TIFFSetField(tiff.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
      tiff.Fail(kInvalidTIFF);
    rowBytes_ = ChunkyRowBytes(g);
    sampleBytes_ = g.bits / 8;
    band_.resize(CheckedBufferSize({g.bandRows, rowBytes_}));
    if (g.tiled) {
      pieceRowBytes_ = g.separate ? uint64_t(g.tileWidth) * sampleBytes_
                                  : (uint64_t(g.tileWidth) * g.samples * g.bits + 7) / 8;
      piece_.resize(CheckedBufferSize({g.bandRows, pieceRowBytes_}));
    } else if (g.separate) {
      pieceRowBytes_ = uint64_t(g.width) * sampleBytes_;
      piece_.resize(CheckedBufferSize({g.bandRows, pieceRowBytes_}));
    }
  }

  template <typename RowSink>
  void ForEachRow(RowSink&& row) {
    ForBands(0, Bands(), row);
    if (decoded_ == 0) tiff_.Fail(kInvalidTIFF);
  }

  // Bands [first, end) only: the strips or rows of tiles that hold those rows.
  template <typename RowSink>
  void ForBands(uint32_t first, uint32_t end, RowSink&& row) {
    for (uint32_t band = first; band < end; ++band) {
      const uint32_t y0 = band * g_.bandRows;
      const uint32_t rows = std::min(g_.bandRows, g_.height - y0);
      if (g_.tiled)
        ReadTileRow(y0, rows);
      else
        ReadStrip(y0, rows);
      for (uint32_t r = 0; r < rows; ++r) row(y0 + r, band_.data() + size_t(r) * rowBytes_);
    }
  }

  uint32_t Bands() const {
    return uint32_t((uint64_t(g_.height) + g_.bandRows - 1) / g_.bandRows);
  }
  // Strips or tiles that decoded (fully or in part).
  uint64_t Decoded() const { return decoded_; }

 private:
  // Decodes into `buffer` of `size` bytes; what does not decode is cleared.
  void Decode(bool tile, uint32_t index, uint8_t* buffer, size_t size) {
    const tmsize_t got = tile ? TIFFReadEncodedTile(tiff_.get(), index, buffer, tmsize_t(size))
                              : TIFFReadEncodedStrip(tiff_.get(), index, buffer, tmsize_t(size));
    const size_t kept = got < 0 ? 0 : std::min(size_t(got), size);
    if (got >= 0) ++decoded_;
    std::memset(buffer + kept, 0, size - kept);
  }

  void ReadStrip(uint32_t y0, uint32_t rows) {
    if (!g_.separate) {
      Decode(false, TIFFComputeStrip(tiff_.get(), y0, 0), band_.data(), size_t(rows) * rowBytes_);
      return;
    }
    for (uint32_t p = 0; p < planes_; ++p) {
      Decode(false, TIFFComputeStrip(tiff_.get(), y0, uint16_t(p)), piece_.data(),
             size_t(rows) * pieceRowBytes_);
      for (uint32_t r = 0; r < rows; ++r)
        Interleave(piece_.data() + r * pieceRowBytes_, r, 0, g_.width, p);
    }
  }

  void ReadTileRow(uint32_t y0, uint32_t rows) {
    for (uint32_t x0 = 0; x0 < g_.width; x0 += g_.tileWidth) {
      const uint32_t columns = std::min(g_.tileWidth, g_.width - x0);
      for (uint32_t p = 0; p < planes_; ++p) {
        Decode(true, TIFFComputeTile(tiff_.get(), x0, y0, 0, uint16_t(p)), piece_.data(),
               piece_.size());
        for (uint32_t r = 0; r < rows; ++r) {
          const uint8_t* source = piece_.data() + r * pieceRowBytes_;
          if (g_.separate) {
            Interleave(source, r, x0, columns, p);
          } else {
            const uint64_t at = uint64_t(x0) * g_.samples * g_.bits / 8;
            std::memcpy(band_.data() + r * rowBytes_ + at, source,
                        std::min(pieceRowBytes_, rowBytes_ - at));
          }
        }
      }
    }
  }

  // Puts one plane's samples of `columns` pixels from x0 on into band row r.
  void Interleave(const uint8_t* plane, uint32_t r, uint32_t x0, uint32_t columns, uint32_t p) {
    uint8_t* dest = band_.data() + r * rowBytes_ + (size_t(x0) * g_.samples + p) * sampleBytes_;
    const size_t step = size_t(g_.samples) * sampleBytes_;
    for (uint32_t x = 0; x < columns; ++x, dest += step, plane += sampleBytes_)
      std::memcpy(dest, plane, sampleBytes_);
  }

  const OpenTIFF& tiff_;
  const Geometry& g_;
  uint32_t planes_;
  size_t rowBytes_ = 0;
  size_t sampleBytes_ = 0;
  size_t pieceRowBytes_ = 0;
  std::vector<uint8_t> band_;
  std::vector<uint8_t> piece_;
  uint64_t decoded_ = 0;
};

// True when decoding the picture's second half of strips on a second thread pays: the file
// is in memory (so a second libtiff handle can read it; a handle is never shared between
// threads), there is a second core, the strips are compressed, and there is enough work
// to be worth a thread's start.
bool WorthTwoThreads(const Stream& stream, const Geometry& g, uint32_t bands) {
  constexpr uint64_t kLeastBytes = uint64_t(1) << 20;
  return !stream.Contents().empty() && std::thread::hardware_concurrency() >= 2 && bands >= 4 &&
         g.compression != COMPRESSION_NONE &&
         (g.orientation == ORIENTATION_TOPLEFT || g.orientation == ORIENTATION_BOTLEFT) &&
         ChunkyRowBytes(g) * g.height >= kLeastBytes;
}

// Decodes bands [first, end) of the picture into its Bitmap rows.
void ConvertBands(const Geometry& g, const DirectPlan& plan, RowConverter& convert,
                  BandReader& bands, Bitmap& picture, uint32_t first, uint32_t end) {
  UprightRows upright(picture, g, size_t(BitsPerPixel(plan.format)) / 8);
  bands.ForBands(first, end, [&](uint32_t y, const uint8_t* samples) {
    convert(samples, upright.Target(y));
    upright.Place(y);
  });
}

void ReadDirect(const OpenTIFF& tiff, Stream& stream, int64_t base, const Geometry& g,
                const DirectPlan& plan, Bitmap& picture) {
  RowConverter convert(tiff, g, plan);
  BandReader bands(tiff, g, plan);
  SizeUpright(picture, g, plan.format);
  if (plan.format == PixelFormat::Bits8) {
    LogPalette record;
    record.entries = plan.colour == Colour::Grey ? PaletteRecord(tiff, g, Colour::Grey).entries
                                                 : convert.Palette();
    picture.SetPalette(CreatePalette(record));
  }
  const uint32_t all = bands.Bands();
  if (!WorthTwoThreads(stream, g, all)) {
    ConvertBands(g, plan, convert, bands, picture, 0, all);
    if (bands.Decoded() == 0) tiff.Fail(kInvalidTIFF);
    return;
  }
  // The second thread takes the later half through a handle of its own on the same bytes;
  // its rows are other rows of the Bitmap. A failure there is raised here once both are done.
  const uint32_t half = all / 2;
  uint64_t laterDecoded = 0;
  std::exception_ptr laterFailure;
  {
    std::jthread later([&] {
      try {
        ViewStream view(stream.Contents());
        view.Seek(base);
        const OpenTIFF own(view, base);
        RowConverter ownConvert(own, g, plan);
        BandReader ownBands(own, g, plan);
        ConvertBands(g, plan, ownConvert, ownBands, picture, half, all);
        laterDecoded = ownBands.Decoded();
      } catch (...) {
        laterFailure = std::current_exception();
      }
    });
    ConvertBands(g, plan, convert, bands, picture, 0, half);
  }
  if (laterFailure) std::rethrow_exception(laterFailure);
  if (bands.Decoded() + laterDecoded == 0) tiff.Fail(kInvalidTIFF);
}

// ---- libtiff's RGBA interface, for what remains.

void ReadThroughRGBA(const OpenTIFF& tiff, const Geometry& g, Bitmap& picture) {
  char message[1024] = "";
  if (!TIFFRGBAImageOK(tiff.get(), message))
    throw PictureError(std::string(kInvalidTIFF) + " " + message);
  TIFFRGBAImage image{};
  if (!TIFFRGBAImageBegin(&image, tiff.get(), 0, message))
    throw PictureError(std::string(kInvalidTIFF) + " " + message);
  struct EndImage {
    TIFFRGBAImage& image;
    ~EndImage() { TIFFRGBAImageEnd(&image); }
  } end{image};
  // Rows come in the file's own order; UprightRows turns them.
  image.req_orientation = g.orientation;
  std::vector<uint32_t> raster(CheckedBufferSize({g.width, g.height, 4}) / 4);
  const bool alpha = image.alpha != 0;
  SizeUpright(picture, g, alpha ? PixelFormat::Bits32 : PixelFormat::Bits24);
  if (!TIFFRGBAImageGet(&image, raster.data(), g.width, g.height)) tiff.Fail(kInvalidTIFF);
  UprightRows upright(picture, g, alpha ? 4 : 3);
  for (uint32_t y = 0; y < g.height; ++y) {
    const uint32_t* in = raster.data() + size_t(y) * g.width;
    uint8_t* out = upright.Target(y);
    for (uint32_t x = 0; x < g.width; ++x) {
      *out++ = static_cast<uint8_t>(TIFFGetB(in[x]));
      *out++ = static_cast<uint8_t>(TIFFGetG(in[x]));
      *out++ = static_cast<uint8_t>(TIFFGetR(in[x]));
      if (alpha) *out++ = static_cast<uint8_t>(TIFFGetA(in[x]));
    }
    upright.Place(y);
  }
}

}  // namespace

void ReadTIFFWithLibrary(Bitmap& picture, Stream& stream, int64_t basePosition) {
  stream.Seek(basePosition);
  OpenTIFF tiff(stream, basePosition);
  Geometry g = ReadGeometry(tiff);
  if (!TIFFIsCODECConfigured(g.compression)) throw PictureError(kUnknownCompression);
  // Every picture of this path takes at least a byte a pixel: one too large for the Bitmap
  // fails with the size message before the data check.
  CheckedBufferSize({g.width, g.height});
  RequireDataForPicture(tiff, g);
  if (const auto plan = PlanDirectRead(g))
    ReadDirect(tiff, stream, basePosition, g, *plan, picture);
  else
    ReadThroughRGBA(tiff, g, picture);
}

}  // namespace pictures
