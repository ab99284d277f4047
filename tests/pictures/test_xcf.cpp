#include <gtest/gtest.h>
#include <libdeflate.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/formats/png.h"
#include "pictures/formats/xcf.h"
#include "pictures/formats/xcf_blend.h"
#include "support/byte_builders.h"
#include "support/loading.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::AppendBE32;

// Pictures GIMP wrote, each compared with what GIMP shows of it (the PNG beside it). GIMP
// composites in floating point and rounds once; premultiplied colours and alpha may differ
// by a level, and by three where 8-bit linear samples are coarse in the dark.
struct Reference {
  const char* name;
  int tolerance;
};

class XcfReference : public ::testing::TestWithParam<Reference> {};

TEST_P(XcfReference, LooksAsGimpShowsIt) {
  const std::string base = std::string(IMPORTDLG_TESTDATA) + "/xcf/" + GetParam().name;
  TXCFGraphic picture;
  picture.LoadFile(base + ".xcf");
  TPNGGraphic shown;
  shown.LoadFile(base + ".png");
  ASSERT_EQ(picture.Width(), shown.Width());
  ASSERT_EQ(picture.Height(), shown.Height());
  ASSERT_EQ(picture.GetPixelFormat(), PixelFormat::Bits32);
  for (int y = 0; y < picture.Height(); ++y) {
    const uint8_t* ours = picture.ScanLine(y);
    const uint8_t* gimp = shown.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x, ours += 4, gimp += 4) {
      const int alpha = shown.GetPixelFormat() == PixelFormat::Bits32 ? gimp[3] : 255;
      int difference = std::abs(ours[3] - alpha);
      for (int c = 0; c < 3; ++c)
        difference = std::max(difference, std::abs(ours[c] * ours[3] - gimp[c] * alpha) / 255);
      EXPECT_LE(difference, GetParam().tolerance) << "at " << x << ", " << y;
      if (difference > GetParam().tolerance) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Gimp, XcfReference,
    ::testing::Values(Reference{"modes-legacy", 1}, Reference{"modes", 1}, Reference{"groups", 1},
                      Reference{"grey", 1}, Reference{"indexed", 1}, Reference{"zlib", 1},
                      Reference{"u8-linear", 3}, Reference{"u16-perceptual", 1},
                      Reference{"u16-linear", 1}, Reference{"u32-perceptual", 1},
                      Reference{"u32-linear", 1}, Reference{"half-perceptual", 1},
                      Reference{"half-linear", 1}, Reference{"float-perceptual", 1},
                      Reference{"float-linear", 1}, Reference{"double-linear", 1}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (c == '-') c = '_';
      return name;
    });

// A picture built byte by byte: 8-bit RGB layers of one tile each, top layer first.
struct XcfLayer {
  uint32_t width = 2;
  uint32_t height = 1;
  uint32_t type = 1;  // RGBA
  Bytes pixels;       // as stored, row by row
  std::vector<std::pair<uint32_t, Bytes>> properties;
  uint32_t hierarchyBytesPerPixel = 0;  // 0: the type's own
  int sharesLevelOf = -1;               // the index of an earlier layer whose tiles it names
};

struct XcfFile {
  std::string version = "v011";  // "file" or "vNNN"; v011 on, offsets are 64-bit
  uint32_t width = 2;
  uint32_t height = 1;
  uint32_t baseType = 0;
  uint32_t precision = 150;  // 8-bit perceptual
  uint8_t compression = 1;   // RLE
  std::vector<XcfLayer> layers;

  bool Wide() const { return version != "file" && std::atoi(version.c_str() + 1) >= 11; }

  Bytes Build() const {
    Bytes out;
    const std::string magic = "gimp xcf " + version;
    out.insert(out.end(), magic.begin(), magic.end());
    out.push_back(0);
    for (uint32_t v : {width, height, baseType}) AppendBE32(out, v);
    if (version != "file" && std::atoi(version.c_str() + 1) >= 4) AppendBE32(out, precision);
    Property(out, 17, {compression});
    AppendBE32(out, 0);
    AppendBE32(out, 0);
    const size_t table = out.size();
    out.resize(out.size() + (layers.size() + 2) * PointerBytes());
    std::vector<size_t> levels;
    for (size_t i = 0; i < layers.size(); ++i) {
      PutPointer(out, table + i * PointerBytes(), out.size());
      levels.push_back(AppendLayer(out, layers[i], levels));
    }
    return out;
  }

 private:
  size_t PointerBytes() const { return Wide() ? 8 : 4; }
  static uint32_t BytesPerPixel(uint32_t type) {
    static constexpr uint32_t kBytes[] = {3, 4, 1, 2, 1, 2};
    return type < 6 ? kBytes[type] : 4;
  }

  void PutPointer(Bytes& out, size_t at, uint64_t value) const {
    for (size_t i = 0; i < PointerBytes(); ++i)
      out[at + i] = uint8_t(value >> (8 * (PointerBytes() - 1 - i)));
  }
  void AppendPointer(Bytes& out, uint64_t value) const {
    out.resize(out.size() + PointerBytes());
    PutPointer(out, out.size() - PointerBytes(), value);
  }
  static void Property(Bytes& out, uint32_t type, const Bytes& payload) {
    AppendBE32(out, type);
    AppendBE32(out, uint32_t(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
  }

  // Returns where the layer's level lies.
  size_t AppendLayer(Bytes& out, const XcfLayer& layer, const std::vector<size_t>& levels) const {
    for (uint32_t v : {layer.width, layer.height, layer.type, 2u}) AppendBE32(out, v);
    out.insert(out.end(), {'L', 0});
    for (const auto& [type, payload] : layer.properties) Property(out, type, payload);
    AppendBE32(out, 0);
    AppendBE32(out, 0);
    const size_t hierarchy = out.size() + 2 * PointerBytes();
    AppendPointer(out, hierarchy);
    AppendPointer(out, 0);  // no mask
    const uint32_t bytesPerPixel = layer.hierarchyBytesPerPixel ? layer.hierarchyBytesPerPixel
                                                                : BytesPerPixel(layer.type);
    for (uint32_t v : {layer.width, layer.height, bytesPerPixel}) AppendBE32(out, v);
    const size_t level = layer.sharesLevelOf >= 0 ? levels[size_t(layer.sharesLevelOf)]
                                                  : out.size() + 2 * PointerBytes();
    AppendPointer(out, level);
    AppendPointer(out, 0);
    if (layer.sharesLevelOf >= 0) return level;
    AppendBE32(out, layer.width);
    AppendBE32(out, layer.height);
    AppendPointer(out, out.size() + 2 * PointerBytes());
    AppendPointer(out, 0);
    const Bytes tile = Compress(layer.pixels, BytesPerPixel(layer.type));
    out.insert(out.end(), tile.begin(), tile.end());
    return level;
  }

  Bytes Compress(const Bytes& pixels, size_t bytesPerPixel) const {
    if (compression == 0) return pixels;
    if (compression == 2) {
      libdeflate_compressor* c = libdeflate_alloc_compressor(6);
      Bytes out(libdeflate_zlib_compress_bound(c, pixels.size()));
      out.resize(libdeflate_zlib_compress(c, pixels.data(), pixels.size(), out.data(), out.size()));
      libdeflate_free_compressor(c);
      return out;
    }
    // RLE: each plane as one literal packet (up to 127 bytes).
    Bytes out;
    const size_t count = pixels.size() / bytesPerPixel;
    for (size_t plane = 0; plane < bytesPerPixel; ++plane) {
      out.push_back(uint8_t(256 - count));
      for (size_t i = 0; i < count; ++i) out.push_back(pixels[i * bytesPerPixel + plane]);
    }
    return out;
  }
};

// A red pixel and a half-transparent blue one, over nothing.
XcfLayer RedAndBlue() { return {2, 1, 1, {255, 0, 0, 255, 0, 0, 255, 128}, {}}; }

TEST(Xcf, ReadsEveryCompressionAndOffsetWidth) {
  for (const char* version : {"file", "v003", "v011", "v014"}) {
    for (uint8_t compression : {0, 1, 2}) {
      XcfFile file;
      file.version = version;
      file.compression = compression;
      file.layers = {RedAndBlue()};
      TXCFGraphic picture;
      test_support::Load(picture, file.Build());
      const uint8_t* row = picture.ScanLine(0);
      EXPECT_EQ(Bytes(row, row + 8), Bytes({0, 0, 255, 255, 255, 0, 0, 128}))
          << version << " " << int(compression);
      EXPECT_TRUE(picture.Transparent());
    }
  }
}

TEST(Xcf, DamagedFilesFailWithTheirMessages) {
  const struct {
    const char* name;
    void (*change)(XcfFile&);
    const char* message;
  } cases[] = {
      {"NotGimp", [](XcfFile& f) { f.version = "v1x1"; }, "XCF: not a GIMP picture."},
      {"NoWidth", [](XcfFile& f) { f.width = 0; }, "XCF: invalid picture size."},
      {"WiderThanGimpAllows", [](XcfFile& f) { f.width = 524289; }, "XCF: invalid picture size."},
      {"ColourMode", [](XcfFile& f) { f.baseType = 3; }, "XCF: unknown colour mode."},
      {"Precision", [](XcfFile& f) { f.precision = 175; }, "XCF: unknown precision."},
      {"IndexedDeep", [](XcfFile& f) { f.baseType = 2, f.precision = 250; }, "XCF: unknown precision."},
      {"Compression", [](XcfFile& f) { f.compression = 3; }, "XCF: unknown compression."},
      {"LayerType", [](XcfFile& f) { f.layers[0].type = 6; }, "XCF: unknown layer type."},
      {"PixelSize", [](XcfFile& f) { f.layers[0].hierarchyBytesPerPixel = 3; }, "XCF: damaged layer."},
      {"SharedTiles", [](XcfFile& f) { f.layers = {RedAndBlue(), RedAndBlue()}, f.layers[1].sharesLevelOf = 0; },
       "XCF: damaged layer."},
      {"NestedTooDeep",
       [](XcfFile& f) {
         Bytes path;
         for (int i = 0; i < 33; ++i) AppendBE32(path, 0);
         f.layers[0].properties = {{30, path}};
       },
       "XCF: layer groups nested too deep."},
      // A canvas larger than any tile data in the file could fill.
      {"CanvasBomb", [](XcfFile& f) { f.width = f.height = 500000; }, "Stream read error"},
  };
  for (const auto& c : cases) {
    XcfFile file;
    file.layers = {RedAndBlue()};
    c.change(file);
    EXPECT_EQ(test_support::LoadError<TXCFGraphic>(file.Build()), c.message) << c.name;
  }
}

// Tile data that does not decode, written over the tile of a correct file: the tile is
// its last bytes.
TEST(Xcf, DamagedTilesFail) {
  const struct {
    const char* name;
    uint8_t compression;
    Bytes tile;
    const char* message;
  } cases[] = {
      {"RlePlaneCutShort", 1, {0xFE, 1, 2, 0xFE, 3}, "XCF: damaged tile."},
      {"RleRunPastPlane", 1, {0x05, 1, 0x05, 1, 0x05, 1, 0x05, 1}, "XCF: damaged tile."},
      {"ZlibGarbage", 2, {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "XCF: damaged tile."},
      {"RawCutShort", 0, {1, 2, 3}, "Stream read error"},
  };
  for (const auto& c : cases) {
    XcfFile file;
    file.layers = {RedAndBlue()};
    file.compression = 0;  // the raw tile is 8 bytes; the damaged one replaces them
    Bytes bytes = file.Build();
    bytes.resize(bytes.size() - 8);
    bytes[38] = c.compression;  // the compression property's value, after the precision
    bytes.insert(bytes.end(), c.tile.begin(), c.tile.end());
    EXPECT_EQ(test_support::LoadError<TXCFGraphic>(bytes), c.message) << c.name;
  }
}

// Each mode's blend on one pixel (three channels), against GIMP's documented formulas:
// backdrop I, layer M.
TEST(XcfBlend, ModesFollowTheirFormulas) {
  using Pixel = std::array<float, 3>;
  const struct {
    uint32_t mode;
    Pixel in, layer, expected;
  } cases[] = {
      {3, {0.5f, 0.2f, 1}, {0.5f, 0.5f, 0.5f}, {0.25f, 0.1f, 0.5f}},      // multiply: I M
      {4, {0.5f, 0.2f, 1}, {0.5f, 0.5f, 0}, {0.75f, 0.6f, 1}},            // screen: 1 - (1-I)(1-M)
      {5, {0.5f, 0.2f, 0.8f}, {0.5f, 1, 0}, {0.5f, 0.36f, 0.64f}},        // overlay: I (I + 2M (1-I))
      {6, {0.5f, 0.2f, 1}, {0.25f, 0.7f, 1}, {0.25f, 0.5f, 0}},           // difference: |I - M|
      {7, {0.5f, 0.8f, 0}, {0.25f, 0.5f, 0}, {0.75f, 1, 0}},              // addition, to 1
      {8, {0.5f, 0.2f, 1}, {0.25f, 0.5f, 0}, {0.25f, 0, 1}},              // subtract, from 0
      {9, {0.5f, 0.2f, 1}, {0.25f, 0.5f, 0}, {0.25f, 0.2f, 0}},           // darken only
      {10, {0.5f, 0.2f, 1}, {0.25f, 0.5f, 0}, {0.5f, 0.5f, 1}},           // lighten only
      {11, {1, 0.5f, 0.5f}, {0, 1, 0}, {0.5f, 1, 0.5f}},                  // hue of M
      {11, {1, 0.5f, 0.5f}, {0.3f, 0.3f, 0.3f}, {1, 0.5f, 0.5f}},         // grey M: no hue
      {12, {1, 0.5f, 0.5f}, {0, 1, 0}, {1, 0, 0}},                        // saturation of M
      {13, {0.5f, 0.5f, 0.5f}, {1, 0, 0}, {1, 0, 0}},                     // colour: HSL of M, L of I
      {14, {1, 0, 0}, {0.5f, 0.5f, 0.5f}, {0.5f, 0, 0}},                  // value of M
      {15, {0.25f, 0.8f, 0.1f}, {0.5f, 0.5f, 0}, {0.5f, 1, 1}},           // divide: I / M, to 1
      {16, {0.25f, 0.5f, 0}, {0.5f, 1, 0.5f}, {0.5f, 1, 0}},              // dodge: I / (1-M)
      {17, {0.75f, 0.5f, 1}, {0.5f, 0, 0.5f}, {0.5f, 0, 1}},              // burn: 1 - (1-I)/M
      {18, {0.5f, 0.5f, 0.2f}, {0.75f, 0.25f, 0.5f}, {0.75f, 0.25f, 0.2f}},  // hard light
      {19, {0.5f, 0.2f, 0.8f}, {0.5f, 1, 0}, {0.5f, 0.36f, 0.64f}},       // soft light
      {20, {0.5f, 0.1f, 0.9f}, {0.25f, 0.9f, 0.1f}, {0.75f, 0, 1}},       // grain extract, clamped
      {21, {0.5f, 0.9f, 0.1f}, {0.25f, 0.9f, 0.1f}, {0.25f, 1, 0}},       // grain merge, clamped
      {23, {0.25f, 0.75f, 0.5f}, {0.5f, 0.5f, 1}, {0.25f, 0.75f, 1}},     // overlay
      {28, {0.5f, 0.2f, 1}, {0.1f, 0.2f, 0.3f}, {0.1f, 0.2f, 0.3f}},      // normal
      {33, {0.8f, 0.5f, 0}, {0.5f, 0.25f, 0}, {1.3f, 0.75f, 0}},          // addition, unclamped
      {34, {0.2f, 0.5f, 0}, {0.5f, 0.25f, 0}, {-0.3f, 0.25f, 0}},         // subtract, unclamped
      {41, {0.8f, 0.25f, 0}, {0.5f, 0.5f, 0.5f}, {1.6f, 0.5f, 0}},        // divide, unclamped
      {46, {0.1f, 0.5f, 0}, {0.9f, 0.25f, 0}, {-0.3f, 0.75f, 0.5f}},      // grain extract
      {48, {0.75f, 0.25f, 0.5f}, {0.25f, 0.75f, 0.5f}, {0.5f, 0.5f, 0.5f}},  // vivid light
      {49, {0.2f, 0.8f, 0.5f}, {0.9f, 0.2f, 0.5f}, {0.8f, 0.4f, 0.5f}},   // pin light
      {50, {0.5f, 0.5f, 0}, {0.75f, 0.25f, 0.5f}, {1, 0, 0}},             // linear light: I + 2M - 1
      {51, {0.5f, 0.4f, 1}, {0.5f, 0.5f, 0}, {1, 0, 1}},                  // hard mix
      {52, {0.5f, 1, 0}, {0.5f, 0.25f, 0.25f}, {0.5f, 0.75f, 0.25f}},     // exclusion: I + M - 2IM
      {53, {0.75f, 0.5f, 1}, {0.5f, 0.25f, 1}, {0.25f, -0.25f, 1}},       // linear burn: I + M - 1
  };
  for (const auto& c : cases) {
    const float in[4] = {c.in[0], c.in[1], c.in[2], 1};
    const float layer[4] = {c.layer[0], c.layer[1], c.layer[2], 1};
    float out[4] = {};
    xcf::LayerModeFor(c.mode).blend(in, layer, out, 1);
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(out[k], c.expected[size_t(k)], 1e-5) << xcf::LayerModeFor(c.mode).name << " " << k;
  }
}

// The modes not drawn here are drawn as normal: dissolve, the colour erases, the LCh modes,
// merge and split.
TEST(XcfBlend, ModesNotDrawnAreNormal) {
  std::vector<uint32_t> notDrawn;
  for (uint32_t mode = 0; mode < 64; ++mode)
    if (!xcf::LayerModeFor(mode).drawn) notDrawn.push_back(mode);
  EXPECT_EQ(notDrawn, std::vector<uint32_t>({1, 22, 24, 25, 26, 27, 57, 59, 60}));
  const float in[4] = {0.2f, 0.4f, 0.6f, 1};
  const float layer[4] = {0.9f, 0.1f, 0.5f, 1};
  float out[4] = {};
  for (uint32_t mode : notDrawn) {
    xcf::LayerModeFor(mode).blend(in, layer, out, 1);
    EXPECT_EQ(std::vector<float>(out, out + 3), std::vector<float>(layer, layer + 3)) << mode;
  }
}

// How the alphas combine: a layer of alpha 0.5 at strength 0.5 (so 0.25 in all) over a
// backdrop of alpha 0.5, in normal mode.
TEST(XcfBlend, CompositesWeighTheAlphas) {
  const struct {
    xcf::Composite composite;
    std::array<float, 4> expected;
  } cases[] = {
      {xcf::Composite::Union, {0.4f, 0, 0.6f, 0.625f}},
      {xcf::Composite::ClipToBackdrop, {0.25f, 0, 0.75f, 0.5f}},
      {xcf::Composite::ClipToLayer, {1, 0, 0, 0.25f}},
      {xcf::Composite::Intersection, {1, 0, 0, 0.125f}},
      {xcf::Composite::Legacy, {0.4f, 0, 0.6f, 0.5f}},  // min(0.5, 0.5) * 0.5 over 0.5
      {xcf::Composite::Behind, {0.2f, 0, 0.8f, 0.625f}},
      {xcf::Composite::Erase, {0, 0, 1, 0.375f}},
  };
  for (const auto& c : cases) {
    float backdrop[4] = {0, 0, 1, 0.5f};
    float layer[4] = {1, 0, 0, 0.5f};
    const float strength = 0.5f;
    const xcf::ModeChoice normal{xcf::LayerModeFor(28).blend, xcf::Light::Linear,
                                 xcf::Light::Linear, c.composite};
    xcf::MixLayer(normal, backdrop, layer, &strength, 1);
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(backdrop[k], c.expected[size_t(k)], 1e-5) << int(c.composite) << " " << k;
  }
}

}  // namespace
}  // namespace pictures
