#include "pictures/formats/xcf.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "base/byte_reader.h"
#include "base/colour_space.h"
#include "base/error.h"
#include "compression/rle.h"
#include "pictures/formats/xcf_blend.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TXCFGraphic, Bitmap)

namespace {

using xcf::Light;

constexpr const char* kNotXCF = "XCF: not a GIMP picture.";
constexpr const char* kBadSize = "XCF: invalid picture size.";
constexpr const char* kUnknownColourMode = "XCF: unknown colour mode.";
constexpr const char* kUnknownPrecision = "XCF: unknown precision.";
constexpr const char* kUnknownCompression = "XCF: unknown compression.";
constexpr const char* kUnknownLayerType = "XCF: unknown layer type.";
constexpr const char* kDamagedLayer = "XCF: damaged layer.";
constexpr const char* kDamagedTile = "XCF: damaged tile.";
constexpr const char* kNestedTooDeep = "XCF: layer groups nested too deep.";

constexpr uint32_t kTileSide = 64;
// GIMP's own limit on the side of a picture or a layer.
constexpr uint32_t kLargestSide = 524288;
// The most one byte of tile data gives: a zlib stream's 1032 (a 258-byte match in two
// one-bit codes), or a 4-byte run packet that fills a 4096-byte plane of a tile.
constexpr uint64_t kLongestExpansion = 1032;
// Layer groups inside one another; GIMP sets no limit, the compositing recursion needs one.
constexpr size_t kDeepestNesting = 32;
// Canvas pixels composited at a time, so that every buffer stays small.
constexpr size_t kChunk = 256;
constexpr uint32_t kPassThroughMode = 61;

enum Property : uint32_t {
  kPropEnd = 0,
  kPropColourMap = 1,
  kPropOpacity = 6,
  kPropMode = 7,
  kPropVisible = 8,
  kPropApplyMask = 11,
  kPropOffsets = 15,
  kPropCompression = 17,
  kPropGroupItem = 29,
  kPropItemPath = 30,
  kPropFloatOpacity = 33,
  kPropCompositeMode = 35,
  kPropCompositeSpace = 36,
  kPropBlendSpace = 37,
};

enum Compression : uint8_t { kUncompressed = 0, kRLE = 1, kZlib = 2 };
enum BaseType : uint32_t { kRGB = 0, kGrey = 1, kIndexed = 2 };

enum class Sample : uint8_t { U8, U16, U32, Half, Float, Double };

struct Precision {
  Sample sample = Sample::U8;
  uint32_t bytes = 1;
  Light light = Light::Perceptual;
};

struct Header {
  uint32_t version = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t baseType = kRGB;
  Precision precision;
  bool widePointers = false;  // version 11 on: 64-bit file offsets
  uint8_t compression = kUncompressed;
  std::vector<std::array<uint8_t, 3>> colourMap;
  std::vector<uint64_t> layers;  // where each layer lies, the top one first
};

// What a layer's or a mask's pixels are and where their tiles lie.
struct Pixels {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t channels = 0;  // samples a pixel: grey, grey and alpha, RGB or RGBA
  bool indexed = false;   // the first sample is an index into the colour map
  uint32_t pixelBytes = 0;
  std::vector<uint64_t> tiles;  // row by row, each row left to right

  uint32_t TilesAcross() const { return (width + kTileSide - 1) / kTileSide; }
  uint64_t TileBytes(size_t index) const {
    const uint64_t column = index % TilesAcross();
    const uint64_t row = index / TilesAcross();
    return std::min<uint64_t>(kTileSide, width - column * kTileSide) *
           std::min<uint64_t>(kTileSide, height - row * kTileSide) * pixelBytes;
  }
};

struct Layer {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t type = 0;
  int64_t x = 0;
  int64_t y = 0;
  float opacity = 1;
  uint32_t mode = 0;
  int32_t blendSpace = 0;
  int32_t compositeSpace = 0;
  int32_t compositeMode = 0;
  bool visible = true;
  bool applyMask = false;
  bool group = false;
  std::vector<uint32_t> path;  // a layer in a group: its place in each group down to it
  uint64_t hierarchy = 0;
  uint64_t mask = 0;
  std::vector<size_t> children;  // a group's layers, the top one first
  std::optional<Pixels> pixels;  // of a layer that is drawn
  std::optional<Pixels> maskPixels;

  bool Covers(int64_t row) const { return row >= y && row < y + int64_t(height); }
};

uint64_t ReadPointer(ByteReader& in, bool wide) { return wide ? in.U64BE() : in.U32BE(); }

void SkipString(ByteReader& in) { in.Skip(in.U32BE()); }

// Calls `take(type, payload)` for each property of a list, up to its end marker.
template <typename Take>
void ReadProperties(ByteReader& in, Take take) {
  for (;;) {
    const uint32_t type = in.U32BE();
    const uint32_t length = in.U32BE();
    if (type == kPropEnd) return;
    ByteReader payload(in.Bytes(length));
    take(type, payload);
  }
}

float Clamped(float opacity) { return opacity > 0 ? std::min(opacity, 1.0f) : 0.0f; }

uint32_t VersionOf(std::span<const uint8_t> file) {
  static constexpr char kMagic[] = "gimp xcf ";
  if (file.size() < 14 || std::memcmp(file.data(), kMagic, 9) != 0 || file[13] != 0)
    throw PictureError(kNotXCF);
  const uint8_t* tag = file.data() + 9;
  if (std::memcmp(tag, "file", 4) == 0) return 0;
  if (tag[0] != 'v') throw PictureError(kNotXCF);
  uint32_t version = 0;
  for (int i = 1; i < 4; ++i) {
    if (tag[i] < '0' || tag[i] > '9') throw PictureError(kNotXCF);
    version = version * 10 + uint32_t(tag[i] - '0');
  }
  return version;
}

// The precision codes changed twice while high bit depths were developed (versions 4, then
// 5 and 6); from version 7 on they are final. Versions before 4 are 8-bit perceptual.
Precision PrecisionOf(uint32_t version, uint32_t code) {
  constexpr Light kLinear = Light::Linear;
  constexpr Light kPerceptual = Light::Perceptual;
  if (version == 4) {
    switch (code) {
      case 0: return {Sample::U8, 1, kPerceptual};
      case 1: return {Sample::U16, 2, kPerceptual};
      case 2: return {Sample::U32, 4, kLinear};
      case 3: return {Sample::Half, 2, kLinear};
      case 4: return {Sample::Float, 4, kLinear};
      default: throw PictureError(kUnknownPrecision);
    }
  }
  const Light light = code % 100 == 0 ? kLinear : kPerceptual;
  if (code % 100 != 0 && code % 100 != 50) throw PictureError(kUnknownPrecision);
  const bool development = version < 7;
  switch (code / 100) {
    case 1: return {Sample::U8, 1, light};
    case 2: return {Sample::U16, 2, light};
    case 3: return {Sample::U32, 4, light};
    case 4:
      if (development) return {Sample::Half, 2, light};
      break;
    case 5: return development ? Precision{Sample::Float, 4, light} : Precision{Sample::Half, 2, light};
    case 6:
      if (!development) return {Sample::Float, 4, light};
      break;
    case 7:
      if (!development) return {Sample::Double, 8, light};
      break;
  }
  throw PictureError(kUnknownPrecision);
}

Header ReadHeader(std::span<const uint8_t> file) {
  Header h;
  h.version = VersionOf(file);
  ByteReader in(file);
  in.Seek(14);
  h.width = in.U32BE();
  h.height = in.U32BE();
  h.baseType = in.U32BE();
  if (h.width == 0 || h.height == 0 || h.width > kLargestSide || h.height > kLargestSide)
    throw PictureError(kBadSize);
  if (h.baseType > kIndexed) throw PictureError(kUnknownColourMode);
  if (h.version >= 4) h.precision = PrecisionOf(h.version, in.U32BE());
  if (h.baseType == kIndexed && h.precision.sample != Sample::U8)
    throw PictureError(kUnknownPrecision);
  h.widePointers = h.version >= 11;
  ReadProperties(in, [&](uint32_t type, ByteReader& payload) {
    if (type == kPropCompression) {
      h.compression = payload.U8();
      if (h.compression > kZlib) throw PictureError(kUnknownCompression);
    } else if (type == kPropColourMap) {
      const uint32_t count = std::min<uint32_t>(payload.U32BE(), 256);
      h.colourMap.resize(count);
      for (uint32_t i = 0; i < count; ++i) {
        // Version 0 did not save colour maps correctly; GIMP shows a grey ramp instead.
        if (h.version == 0)
          h.colourMap[i] = {uint8_t(i), uint8_t(i), uint8_t(i)};
        else
          payload.Copy(h.colourMap[i].data(), 3);
      }
    }
  });
  while (const uint64_t offset = ReadPointer(in, h.widePointers)) h.layers.push_back(offset);
  return h;
}

Layer ReadLayer(std::span<const uint8_t> file, uint64_t offset, const Header& h) {
  ByteReader in(file);
  in.Seek(offset);
  Layer layer;
  layer.width = in.U32BE();
  layer.height = in.U32BE();
  layer.type = in.U32BE();
  if (layer.type > 5) throw PictureError(kUnknownLayerType);
  SkipString(in);  // the name
  ReadProperties(in, [&](uint32_t type, ByteReader& p) {
    switch (type) {
      case kPropOpacity: layer.opacity = Clamped(float(p.U32BE()) / 255); break;
      case kPropFloatOpacity: layer.opacity = Clamped(std::bit_cast<float>(p.U32BE())); break;
      case kPropMode: layer.mode = p.U32BE(); break;
      case kPropVisible: layer.visible = p.U32BE() != 0; break;
      case kPropApplyMask: layer.applyMask = p.U32BE() != 0; break;
      case kPropOffsets:
        layer.x = p.S32BE();
        layer.y = p.S32BE();
        break;
      case kPropGroupItem: layer.group = true; break;
      case kPropItemPath:
        while (p.Remaining() >= 4) layer.path.push_back(p.U32BE());
        break;
      case kPropCompositeMode: layer.compositeMode = p.S32BE(); break;
      case kPropCompositeSpace: layer.compositeSpace = p.S32BE(); break;
      case kPropBlendSpace: layer.blendSpace = p.S32BE(); break;
      default: break;
    }
  });
  layer.hierarchy = ReadPointer(in, h.widePointers);
  layer.mask = ReadPointer(in, h.widePointers);
  if (layer.width > kLargestSide || layer.height > kLargestSide) throw PictureError(kDamagedLayer);
  return layer;
}

// The layers of the file and the tree their groups make. A layer in a group names its
// place by its path: the index of the top-level item it lies under, then its index in each
// group down to it. Top-level layers carry no path; their index is their place in the list.
struct LayerTree {
  std::vector<Layer> layers;  // in the file's order
  std::vector<size_t> top;    // the top-level items, the top one first
};

LayerTree BuildTree(std::vector<Layer> layers) {
  LayerTree tree;
  std::map<std::vector<uint32_t>, size_t> groups;
  uint32_t topCount = 0;
  for (size_t i = 0; i < layers.size(); ++i) {
    Layer& layer = layers[i];
    if (layer.path.size() > kDeepestNesting) throw PictureError(kNestedTooDeep);
    if (layer.path.empty()) layer.path = {topCount};
    std::vector<uint32_t> parentPath(layer.path.begin(), layer.path.end() - 1);
    const auto parent = layer.path.size() > 1 ? groups.find(parentPath) : groups.end();
    if (parent != groups.end()) {
      layers[parent->second].children.push_back(i);
    } else {
      tree.top.push_back(i);
      ++topCount;
    }
    if (layer.group) groups[layer.path] = i;
  }
  tree.layers = std::move(layers);
  return tree;
}

// Reads where the pixels of layers and masks lie. Each level of tiles may serve one layer
// or mask only, so that a small file cannot make many layers of the same tiles.
class PixelTables {
 public:
  PixelTables(std::span<const uint8_t> file, const Header& h) : file_(file), header_(h) {}

  Pixels OfLayer(const Layer& layer) {
    static constexpr uint32_t kChannels[] = {3, 4, 1, 2, 1, 2};
    const bool indexed = layer.type >= 4;
    Pixels pixels = Read(layer.hierarchy, layer.width, layer.height, kChannels[layer.type],
                         indexed ? 1 : header_.precision.bytes);
    pixels.indexed = indexed;
    return pixels;
  }

  // A mask is a channel: its size, name and properties, then its hierarchy.
  Pixels OfMask(const Layer& layer) {
    ByteReader in(file_);
    in.Seek(layer.mask);
    const uint32_t width = in.U32BE();
    const uint32_t height = in.U32BE();
    if (width != layer.width || height != layer.height) throw PictureError(kDamagedLayer);
    SkipString(in);
    ReadProperties(in, [](uint32_t, ByteReader&) {});
    const uint64_t hierarchy = ReadPointer(in, header_.widePointers);
    return Read(hierarchy, width, height, 1, header_.precision.bytes);
  }

 private:
  // The pixels a hierarchy holds: its first level, whose size must be the layer's.
  Pixels Read(uint64_t hierarchy, uint32_t width, uint32_t height, uint32_t channels,
              uint32_t sampleBytes) {
    const bool wide = header_.widePointers;
    Pixels pixels{width, height, channels, false, channels * sampleBytes, {}};
    ByteReader in(file_);
    in.Seek(hierarchy);
    if (in.U32BE() != width || in.U32BE() != height || in.U32BE() != pixels.pixelBytes)
      throw PictureError(kDamagedLayer);
    const uint64_t level = ReadPointer(in, wide);
    if (!levels_.insert(level).second) throw PictureError(kDamagedLayer);
    in.Seek(level);
    if (in.U32BE() != width || in.U32BE() != height) throw PictureError(kDamagedLayer);
    const uint64_t count = uint64_t(pixels.TilesAcross()) * ((height + kTileSide - 1) / kTileSide);
    in.Peek(count * (wide ? 8 : 4));  // the table is in the file before it is read
    pixels.tiles.resize(count);
    for (uint64_t& tile : pixels.tiles)
      if ((tile = ReadPointer(in, wide)) == 0) throw PictureError(kDamagedLayer);
    return pixels;
  }

  std::span<const uint8_t> file_;
  const Header& header_;
  std::set<uint64_t> levels_;
};

// Reads the pixel tables of every layer and mask that shows, and returns the items that
// draw anything (a group without such layers draws nothing).
std::vector<size_t> FindDrawnPixels(PixelTables& tables, LayerTree& tree,
                                    const std::vector<size_t>& items,
                                    std::vector<const Pixels*>& drawn) {
  std::vector<size_t> shown;
  for (size_t index : items) {
    Layer& layer = tree.layers[index];
    if (!layer.visible) continue;
    if (layer.group) {
      layer.children = FindDrawnPixels(tables, tree, layer.children, drawn);
      if (layer.children.empty()) continue;
    } else {
      if (layer.width == 0 || layer.height == 0) continue;
      layer.pixels = tables.OfLayer(layer);
      drawn.push_back(&*layer.pixels);
    }
    if (layer.applyMask && layer.mask != 0 && layer.width > 0 && layer.height > 0) {
      layer.maskPixels = tables.OfMask(layer);
      drawn.push_back(&*layer.maskPixels);
    }
    shown.push_back(index);
  }
  return shown;
}

// Where each tile's data ends: at the next tile's start, or at the file's end. Tiles that
// share their data, or whose data cannot fill them at the compression's best, make the
// file fail before any pixel memory is taken.
class TileExtents {
 public:
  TileExtents(std::vector<const Pixels*> drawn, uint64_t fileSize, uint8_t compression)
      : fileSize_(fileSize) {
    for (const Pixels* pixels : drawn)
      starts_.insert(starts_.end(), pixels->tiles.begin(), pixels->tiles.end());
    std::sort(starts_.begin(), starts_.end());
    const uint64_t expansion = compression == kUncompressed ? 1 : kLongestExpansion;
    for (const Pixels* pixels : drawn)
      for (size_t i = 0; i < pixels->tiles.size(); ++i)
        RequireFill(End(pixels->tiles[i]) - std::min(pixels->tiles[i], fileSize), expansion,
                    pixels->TileBytes(i));
  }

  // The end of the data of the tile that starts at `start`; the start itself when another
  // tile starts there too.
  uint64_t End(uint64_t start) const {
    const auto first = std::lower_bound(starts_.begin(), starts_.end(), start);
    if (first + 1 < starts_.end() && first[1] == start) return start;
    const auto next = std::upper_bound(first, starts_.end(), start);
    return std::min(next == starts_.end() ? fileSize_ : *next, fileSize_);
  }

 private:
  uint64_t fileSize_;
  std::vector<uint64_t> starts_;
};

struct DecompressorDeleter {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// Expands single tiles into one buffer shared by every layer.
class TileDecoder {
 public:
  TileDecoder(std::span<const uint8_t> file, uint8_t compression, const TileExtents& extents)
      : file_(file), compression_(compression), extents_(extents) {}

  // The `bytes` bytes of the tile at `start`, its pixels row by row.
  const uint8_t* Decode(uint64_t start, size_t bytes, size_t pixelBytes) {
    if (start >= file_.size()) throw StreamReadError();
    const auto data = file_.subspan(start, extents_.End(start) - start);
    if (compression_ == kUncompressed) {
      if (data.size() < bytes) throw StreamReadError();
      return data.data();
    }
    if (tile_.size() < bytes) tile_.resize(bytes);
    if (compression_ == kRLE)
      DecodeRLE(data, bytes, pixelBytes);
    else
      DecodeZlib(data, bytes);
    return tile_.data();
  }

 private:
  // Each byte of a pixel has its own plane of runs, the planes one after the other.
  void DecodeRLE(std::span<const uint8_t> data, size_t bytes, size_t pixelBytes) {
    size_t used = 0;
    for (size_t plane = 0; plane < pixelBytes; ++plane) {
      const size_t n = DecodeXCFPlane(data.data() + used, data.size() - used,
                                      tile_.data() + plane, bytes / pixelBytes, pixelBytes);
      if (n == 0) throw PictureError(kDamagedTile);
      used += n;
    }
  }

  void DecodeZlib(std::span<const uint8_t> data, size_t bytes) {
    if (!decompressor_) {
      decompressor_.reset(libdeflate_alloc_decompressor());
      if (!decompressor_) throw std::bad_alloc();
    }
    if (libdeflate_zlib_decompress(decompressor_.get(), data.data(), data.size(), tile_.data(),
                                   bytes, nullptr) != LIBDEFLATE_SUCCESS)
      throw PictureError(kDamagedTile);
  }

  std::span<const uint8_t> file_;
  uint8_t compression_;
  const TileExtents& extents_;
  std::vector<uint8_t> tile_;
  std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor_;
};

// The stored rows of a layer or a mask, a row of tiles decoded at a time as the compositing
// walks down the canvas.
class TileRows {
 public:
  TileRows(const Pixels& pixels, TileDecoder& decoder) : pixels_(pixels), decoder_(decoder) {}

  // Row `y` (0 is the top), pixelBytes times width bytes.
  const uint8_t* Row(uint32_t y) {
    if (y / kTileSide != bandRow_) Load(y / kTileSide);
    return band_.data() + size_t(y % kTileSide) * rowBytes_;
  }

 private:
  void Load(uint32_t tileRow) {
    rowBytes_ = size_t(pixels_.width) * pixels_.pixelBytes;
    if (band_.empty())
      band_.resize(CheckedBufferSize({std::min(kTileSide, pixels_.height), rowBytes_}));
    const uint32_t across = pixels_.TilesAcross();
    const size_t rows = std::min(kTileSide, pixels_.height - tileRow * kTileSide);
    for (uint32_t column = 0; column < across; ++column) {
      const size_t index = size_t(tileRow) * across + column;
      const size_t tileRowBytes =
          std::min(kTileSide, pixels_.width - column * kTileSide) * size_t(pixels_.pixelBytes);
      const uint8_t* tile =
          decoder_.Decode(pixels_.tiles[index], tileRowBytes * rows, pixels_.pixelBytes);
      uint8_t* out = band_.data() + size_t(column) * kTileSide * pixels_.pixelBytes;
      for (size_t r = 0; r < rows; ++r)
        std::memcpy(out + r * rowBytes_, tile + r * tileRowBytes, tileRowBytes);
    }
    bandRow_ = tileRow;
  }

  const Pixels& pixels_;
  TileDecoder& decoder_;
  std::vector<uint8_t> band_;
  size_t rowBytes_ = 0;
  uint32_t bandRow_ = UINT32_MAX;
};

// Samples are big-endian; integers span 0 to their largest value, floats 0 to 1.
template <Sample S>
float LoadSample(const uint8_t* p) {
  if constexpr (S == Sample::U8) return p[0] * (1.0f / 255);
  if constexpr (S == Sample::U16) return LoadU16BE(p) * (1.0f / 65535);
  if constexpr (S == Sample::U32) return float(LoadU32BE(p) * (1.0 / 4294967295.0));
  if constexpr (S == Sample::Half) return HalfToFloat(LoadU16BE(p));
  if constexpr (S == Sample::Float) return std::bit_cast<float>(LoadU32BE(p));
  if constexpr (S == Sample::Double) {
    // Held to the range of a float first: a conversion from beyond it is not defined.
    constexpr double kLargest = std::numeric_limits<float>::max();
    return float(std::clamp(std::bit_cast<double>(LoadU64BE(p)), -kLargest, kLargest));
  }
}

// Turns stored pixels into straight RGBA floats in the light a mode asks for.
class PixelConverter {
 public:
  explicit PixelConverter(const Header& h)
      : precision_(h.precision), mapEntries_(h.colourMap.size()) {
    // Colour-map entries are 8-bit sRGB, in either light.
    for (size_t i = 0; i < h.colourMap.size(); ++i)
      for (size_t c = 0; c < 3; ++c) {
        mapPerceptual_[i][c] = h.colourMap[i][c] * (1.0f / 255);
        mapLinear_[i][c] = SRGB8ToLinear(h.colourMap[i][c]);
      }
  }

  void ToRGBA(const Pixels& pixels, const uint8_t* stored, size_t count, Light light,
              float* out) const {
    if (pixels.indexed) return IndexedToRGBA(pixels, stored, count, light, out);
    switch (precision_.sample) {
      case Sample::U8: return SamplesToRGBA<Sample::U8>(pixels, stored, count, light, out);
      case Sample::U16: return SamplesToRGBA<Sample::U16>(pixels, stored, count, light, out);
      case Sample::U32: return SamplesToRGBA<Sample::U32>(pixels, stored, count, light, out);
      case Sample::Half: return SamplesToRGBA<Sample::Half>(pixels, stored, count, light, out);
      case Sample::Float: return SamplesToRGBA<Sample::Float>(pixels, stored, count, light, out);
      case Sample::Double: return SamplesToRGBA<Sample::Double>(pixels, stored, count, light, out);
    }
  }

  // Multiplies `strength` by the mask's values, clamped to 0..1 (masks have no light).
  void ApplyMask(const uint8_t* stored, size_t count, float* strength) const {
    for (size_t i = 0; i < count; ++i) {
      const float v = Value(stored + i * precision_.bytes);
      strength[i] *= v > 0 ? std::min(v, 1.0f) : 0.0f;
    }
  }

 private:
  float Value(const uint8_t* p) const {
    switch (precision_.sample) {
      case Sample::U8: return LoadSample<Sample::U8>(p);
      case Sample::U16: return LoadSample<Sample::U16>(p);
      case Sample::U32: return LoadSample<Sample::U32>(p);
      case Sample::Half: return LoadSample<Sample::Half>(p);
      case Sample::Float: return LoadSample<Sample::Float>(p);
      case Sample::Double: return LoadSample<Sample::Double>(p);
    }
    return 0;
  }

  template <Sample S>
  void SamplesToRGBA(const Pixels& pixels, const uint8_t* stored, size_t count, Light light,
                     float* out) const {
    const size_t size = precision_.bytes;
    const bool grey = pixels.channels <= 2;
    const bool alpha = pixels.channels % 2 == 0;
    const size_t colours = grey ? 1 : 3;
    const bool convert = light != precision_.light;
    for (size_t i = 0; i < count; ++i, stored += pixels.pixelBytes, out += 4) {
      for (size_t c = 0; c < colours; ++c) {
        float v;
        if (S == Sample::U8 && convert && light == Light::Linear)
          v = SRGB8ToLinear(stored[c]);
        else {
          v = LoadSample<S>(stored + c * size);
          if (convert) v = light == Light::Linear ? SRGBToLinear(v) : LinearToSRGB(v);
        }
        out[c] = v;
      }
      if (grey) out[1] = out[2] = out[0];
      out[3] = alpha ? LoadSample<S>(stored + colours * size) : 1.0f;
    }
  }

  void IndexedToRGBA(const Pixels& pixels, const uint8_t* stored, size_t count, Light light,
                     float* out) const {
    const auto& map = light == Light::Linear ? mapLinear_ : mapPerceptual_;
    const bool alpha = pixels.channels == 2;
    for (size_t i = 0; i < count; ++i, stored += pixels.pixelBytes, out += 4) {
      // An index past the colour map is black, as GIMP shows it.
      static constexpr std::array<float, 3> kBlack{};
      const auto& colour = stored[0] < mapEntries_ ? map[stored[0]] : kBlack;
      std::copy(colour.begin(), colour.end(), out);
      out[3] = alpha ? stored[1] * (1.0f / 255) : 1.0f;
    }
  }

  Precision precision_;
  size_t mapEntries_ = 0;
  std::array<std::array<float, 3>, 256> mapPerceptual_{};
  std::array<std::array<float, 3>, 256> mapLinear_{};
};

// Composites the layer tree a piece of a canvas row at a time, in straight RGBA floats.
class Compositor {
 public:
  Compositor(const LayerTree& tree, const Header& h, TileDecoder& decoder)
      : tree_(tree), converter_(h), pixels_(tree.layers.size()), masks_(tree.layers.size()) {
    for (size_t i = 0; i < tree.layers.size(); ++i) {
      const Layer& layer = tree.layers[i];
      if (layer.pixels) pixels_[i] = std::make_unique<TileRows>(*layer.pixels, decoder);
      if (layer.maskPixels) masks_[i] = std::make_unique<TileRows>(*layer.maskPixels, decoder);
    }
  }

  // Composites `count` pixels of canvas row `y` from column `x` into `out`, and says in
  // which light they are.
  Light Composite(int64_t y, int64_t x, size_t count, float* out) {
    std::fill(out, out + 4 * count, 0.0f);
    Light light = Light::Linear;
    DrawItems(tree_.top, Piece{y, x, count, out, light}, 0);
    return light;
  }

 private:
  // The canvas pixels being composited: `count` pixels of row `y` from column `x`.
  struct Piece {
    int64_t y;
    int64_t x;
    size_t count;
    float* pixels;
    Light& light;

    // Turns all of the piece into `wanted` light.
    void Into(Light wanted) {
      xcf::ConvertLight(pixels, count, light, wanted);
      light = wanted;
    }
  };

  // The columns of the piece that a layer covers.
  struct Cover {
    int64_t from;
    size_t count;
  };

  void DrawItems(const std::vector<size_t>& items, Piece piece, size_t depth) {
    for (auto item = items.rbegin(); item != items.rend(); ++item) {
      const Layer& layer = tree_.layers[*item];
      if (!layer.Covers(piece.y)) continue;
      const int64_t from = std::max(piece.x, layer.x);
      const int64_t to = std::min(piece.x + int64_t(piece.count), layer.x + int64_t(layer.width));
      if (from >= to) continue;
      const Cover cover{from, size_t(to - from)};
      if (layer.group)
        DrawGroup(*item, piece, cover, depth);
      else
        DrawLayer(*item, piece, cover);
    }
  }

  void DrawLayer(size_t index, Piece piece, Cover cover) {
    const Layer& layer = tree_.layers[index];
    const xcf::ModeChoice mode =
        xcf::ChooseMode(layer.mode, layer.blendSpace, layer.compositeSpace, layer.compositeMode);
    const uint8_t* stored = pixels_[index]->Row(uint32_t(piece.y - layer.y)) +
                            size_t(cover.from - layer.x) * layer.pixels->pixelBytes;
    converter_.ToRGBA(*layer.pixels, stored, cover.count, mode.blendLight, layer_.data());
    Mix(index, mode, piece, cover, layer_.data());
  }

  // A group is composited on its own, from a transparent start, and then mixed as one
  // layer; a pass-through group's layers are drawn straight onto what lies below it.
  void DrawGroup(size_t index, Piece piece, Cover cover, size_t depth) {
    const Layer& layer = tree_.layers[index];
    float* group = groups_[depth].data();
    const size_t offset = 4 * size_t(cover.from - piece.x);
    Light groupLight = piece.light;
    if (layer.mode == kPassThroughMode) {
      if (layer.opacity >= 1 && !masks_[index]) return DrawItems(layer.children, piece, depth + 1);
      std::copy(piece.pixels, piece.pixels + 4 * piece.count, group);
      DrawItems(layer.children, Piece{piece.y, piece.x, piece.count, group, groupLight}, depth + 1);
      xcf::ConvertLight(group, piece.count, groupLight, piece.light);
      Strength(index, piece.y, cover);
      xcf::Crossfade(piece.pixels + offset, group + offset, strength_.data(), cover.count);
      return;
    }
    std::fill(group, group + 4 * piece.count, 0.0f);
    DrawItems(layer.children, Piece{piece.y, piece.x, piece.count, group, groupLight}, depth + 1);
    const xcf::ModeChoice mode =
        xcf::ChooseMode(layer.mode, layer.blendSpace, layer.compositeSpace, layer.compositeMode);
    xcf::ConvertLight(group + offset, cover.count, groupLight, mode.blendLight);
    Mix(index, mode, piece, cover, group + offset);
  }

  // Mixes a layer's pixels (in the mode's blend light) into the piece.
  void Mix(size_t index, const xcf::ModeChoice& mode, Piece piece, Cover cover, float* pixels) {
    Strength(index, piece.y, cover);
    piece.Into(mode.compositeLight);
    xcf::MixLayer(mode, piece.pixels + 4 * size_t(cover.from - piece.x), pixels,
                  strength_.data(), cover.count);
  }

  // Each covered pixel's opacity times its mask.
  void Strength(size_t index, int64_t y, Cover cover) {
    const Layer& layer = tree_.layers[index];
    std::fill(strength_.begin(), strength_.begin() + cover.count, layer.opacity);
    if (!masks_[index]) return;
    const uint8_t* mask = masks_[index]->Row(uint32_t(y - layer.y)) +
                          size_t(cover.from - layer.x) * layer.maskPixels->pixelBytes;
    converter_.ApplyMask(mask, cover.count, strength_.data());
  }

  const LayerTree& tree_;
  PixelConverter converter_;
  std::vector<std::unique_ptr<TileRows>> pixels_;  // by layer, for those drawn
  std::vector<std::unique_ptr<TileRows>> masks_;
  std::array<float, 4 * kChunk> layer_{};
  std::array<float, kChunk> strength_{};
  std::array<std::array<float, 4 * kChunk>, kDeepestNesting + 1> groups_{};
};

// Writes composited pixels as 8-bit sRGB blue, green, red and alpha; true when any of them
// is not opaque.
bool ToBGRA(const float* pixels, size_t count, Light light, uint8_t* out) {
  bool transparent = false;
  for (size_t i = 0; i < count; ++i, pixels += 4, out += 4) {
    for (size_t c = 0; c < 3; ++c)
      out[2 - c] = light == Light::Linear ? LinearToSRGB8(pixels[c]) : UnitToByte(pixels[c]);
    out[3] = UnitToByte(pixels[3]);
    transparent |= out[3] != 255;
  }
  return transparent;
}

}  // namespace

void TXCFGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> file = stream.ReadRestView(storage);
  const Header header = ReadHeader(file);

  std::vector<Layer> layers;
  for (const uint64_t offset : header.layers) layers.push_back(ReadLayer(file, offset, header));
  LayerTree tree = BuildTree(std::move(layers));
  std::vector<const Pixels*> drawn;
  PixelTables tables(file, header);
  tree.top = FindDrawnPixels(tables, tree, tree.top, drawn);

  // Before any pixel memory is taken: the tiles must be able to fill their layers, and the
  // file the canvas.
  const TileExtents extents(drawn, file.size(), header.compression);
  RequireFill(file.size(), kLongestExpansion, uint64_t(header.width) * header.height);

  TileDecoder decoder(file, header.compression, extents);
  auto compositor = std::make_unique<Compositor>(tree, header, decoder);
  SetPixelFormat(PixelFormat::Bits32);
  RowFill fill(*this, int(header.width), int(header.height));
  std::array<float, 4 * kChunk> piece;
  bool transparent = false;
  for (uint32_t y = 0; y < header.height; ++y) {
    uint8_t* row = ScanLine(int(y));
    for (uint32_t x = 0; x < header.width; x += kChunk) {
      const size_t count = std::min<size_t>(kChunk, header.width - x);
      const Light light = compositor->Composite(y, x, count, piece.data());
      transparent |= ToBGRA(piece.data(), count, light, row + 4 * size_t(x));
    }
  }
  fill.Done();
  SetTransparent(transparent);
}

}  // namespace pictures
