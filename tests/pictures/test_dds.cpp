#include "pictures/formats/dds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/error.h"
#include "compression/block_compression.h"
#include "support/byte_builders.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::AppendLE16;
using test_support::AppendLE32;
using test_support::Load;

// Pixel format flags.
constexpr uint32_t kAlphaPixels = 0x1, kAlpha = 0x2, kFourCC = 0x4, kRGB = 0x40, kYUV = 0x200,
                   kLuminance = 0x20000;

constexpr uint32_t Code(const char (&name)[5]) {
  return uint32_t(uint8_t(name[0])) | uint32_t(uint8_t(name[1])) << 8 |
         uint32_t(uint8_t(name[2])) << 16 | uint32_t(uint8_t(name[3])) << 24;
}

struct Format {
  uint32_t flags = 0;
  uint32_t fourCC = 0;
  uint32_t bits = 0;
  std::array<uint32_t, 4> masks{};  // red, green, blue, alpha
};

Format Masks(uint32_t flags, uint32_t bits, std::array<uint32_t, 4> masks) { return {flags, 0, bits, masks}; }
Format WithFourCC(uint32_t fourCC) { return {kFourCC, fourCC, 0, {}}; }

// "DDS ", the 124-byte header, the DX10 header when a DXGI format is given, then `data`.
Bytes DdsFile(uint32_t width, uint32_t height, const Format& format, const Bytes& data,
              std::optional<uint32_t> dxgi = std::nullopt, uint32_t alphaMode = 0) {
  Bytes file = {'D', 'D', 'S', ' '};
  AppendLE32(file, 124);
  AppendLE32(file, 0x1007);  // caps, height, width, pixel format
  AppendLE32(file, height);
  AppendLE32(file, width);
  for (int i = 0; i < 3 + 11; ++i) AppendLE32(file, 0);  // pitch, depth, mip levels, reserved
  AppendLE32(file, 32);
  AppendLE32(file, dxgi ? kFourCC : format.flags);
  AppendLE32(file, dxgi ? Code("DX10") : format.fourCC);
  AppendLE32(file, format.bits);
  for (uint32_t mask : format.masks) AppendLE32(file, mask);
  AppendLE32(file, 0x1000);  // a texture
  for (int i = 0; i < 4; ++i) AppendLE32(file, 0);
  if (dxgi) {
    for (uint32_t v : {*dxgi, 3u, 0u, 1u, alphaMode}) AppendLE32(file, v);
  }
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

Bytes Halves(std::initializer_list<uint16_t> values) {
  Bytes out;
  for (uint16_t v : values) AppendLE16(out, v);
  return out;
}

Bytes Floats(std::initializer_list<float> values) {
  Bytes out;
  for (float v : values) AppendLE32(out, std::bit_cast<uint32_t>(v));
  return out;
}

struct Rgba {
  int r, g, b, a;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};

// A pixel as stored: palette colour, or blue, green, red (and alpha).
Rgba PixelAt(const Bitmap& bitmap, int x, int y) {
  const uint8_t* row = bitmap.ScanLine(y);
  switch (bitmap.GetPixelFormat()) {
    case PixelFormat::Bits8: {
      const PaletteEntry& e = bitmap.Palette()[row[x]];
      return {e.red, e.green, e.blue, 255};
    }
    case PixelFormat::Bits24: return {row[3 * x + 2], row[3 * x + 1], row[3 * x], 255};
    default: return {row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]};
  }
}

std::string LoadError(const Bytes& file) { return test_support::LoadError<TDDSGraphic>(file); }

TEST(DDSReader, UncompressedLayouts) {
  constexpr uint32_t kAll[] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  struct Case {
    const char* name;
    Bytes file;  // two pixels in a row
    PixelFormat format;
    Rgba first, second;
  };
  const Bytes bytes8888 = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  const Case cases[] = {
      {"R5G6B5", DdsFile(2, 1, Masks(kRGB, 16, {0xF800, 0x7E0, 0x1F, 0}), Halves({0xF800, 0x07E0})),
       PixelFormat::Bits24, {255, 0, 0, 255}, {0, 255, 0, 255}},
      {"A4R4G4B4", DdsFile(2, 1, Masks(kRGB | kAlphaPixels, 16, {0xF00, 0xF0, 0xF, 0xF000}), Halves({0x8F00, 0x00F0})),
       PixelFormat::Bits32, {255, 0, 0, 136}, {0, 255, 0, 0}},
      {"A1R5G5B5", DdsFile(2, 1, Masks(kRGB | kAlphaPixels, 16, {0x7C00, 0x3E0, 0x1F, 0x8000}), Halves({0x801F, 0x7C00})),
       PixelFormat::Bits32, {0, 0, 255, 255}, {255, 0, 0, 0}},
      {"X1R5G5B5: an alpha mask without the alpha flag",
       DdsFile(2, 1, Masks(kRGB, 16, {0x7C00, 0x3E0, 0x1F, 0x8000}), Halves({0x801F, 0x7C00})),
       PixelFormat::Bits24, {0, 0, 255, 255}, {255, 0, 0, 255}},
      {"R8G8B8", DdsFile(2, 1, Masks(kRGB, 24, {0xFF0000, 0xFF00, 0xFF, 0}), {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}),
       PixelFormat::Bits24, {0x33, 0x22, 0x11, 255}, {0x66, 0x55, 0x44, 255}},
      {"A8R8G8B8", DdsFile(2, 1, Masks(kRGB | kAlphaPixels, 32, {kAll[0], kAll[1], kAll[2], kAll[3]}), bytes8888),
       PixelFormat::Bits32, {0x33, 0x22, 0x11, 0x44}, {0x77, 0x66, 0x55, 0x88}},
      {"L8", DdsFile(2, 1, Masks(kLuminance, 8, {0xFF, 0, 0, 0}), {0x40, 0xC0}),
       PixelFormat::Bits8, {0x40, 0x40, 0x40, 255}, {0xC0, 0xC0, 0xC0, 255}},
      {"L16", DdsFile(2, 1, Masks(kLuminance, 16, {0xFFFF, 0, 0, 0}), Halves({0x8080, 0xFFFF})),
       PixelFormat::Bits8, {128, 128, 128, 255}, {255, 255, 255, 255}},
      {"A8L8", DdsFile(2, 1, Masks(kLuminance | kAlphaPixels, 16, {0xFF, 0, 0, 0xFF00}), Halves({0x80FF, 0xFF20})),
       PixelFormat::Bits32, {255, 255, 255, 128}, {0x20, 0x20, 0x20, 255}},
      {"A8 alone, shown as grey", DdsFile(2, 1, Masks(kAlpha, 8, {0, 0, 0, 0xFF}), {0x7F, 0x00}),
       PixelFormat::Bits8, {127, 127, 127, 255}, {0, 0, 0, 255}},
      {"DXGI R10G10B10A2", DdsFile(2, 1, {}, [] { Bytes b; AppendLE32(b, 0x3FF | 0x200u << 20 | 3u << 30); AppendLE32(b, 0x3FFu << 10); return b; }(), 24),
       PixelFormat::Bits32, {255, 0, 128, 255}, {0, 255, 0, 0}},
      {"DXGI R8G8B8A8_UNORM_SRGB", DdsFile(2, 1, {}, bytes8888, 29),
       PixelFormat::Bits32, {0x11, 0x22, 0x33, 0x44}, {0x55, 0x66, 0x77, 0x88}},
      {"DXGI B8G8R8A8", DdsFile(2, 1, {}, bytes8888, 87),
       PixelFormat::Bits32, {0x33, 0x22, 0x11, 0x44}, {0x77, 0x66, 0x55, 0x88}},
      {"DXGI B8G8R8X8", DdsFile(2, 1, {}, bytes8888, 88),
       PixelFormat::Bits24, {0x33, 0x22, 0x11, 255}, {0x77, 0x66, 0x55, 255}},
      {"DXGI R8G8B8A8 whose alpha is marked opaque", DdsFile(2, 1, {}, bytes8888, 28, 3),
       PixelFormat::Bits24, {0x11, 0x22, 0x33, 255}, {0x55, 0x66, 0x77, 255}},
      // Linear 0.5 is sRGB 188; above 1 and below 0 are clamped; alpha is not light.
      {"Direct3D A16B16G16R16F (113), DXGI R16G16B16A16_FLOAT", DdsFile(2, 1, WithFourCC(113), Halves({0x3C00, 0x3800, 0x0000, 0x3800, 0x4000, 0xBC00, 0x3C00, 0x3C00})),
       PixelFormat::Bits32, {255, 188, 0, 128}, {255, 0, 255, 255}},
      {"DXGI R32G32B32_FLOAT", DdsFile(2, 1, {}, Floats({0.5f, 1.0f, 0.0f, NAN, -1.0f, 1e30f}), 6),
       PixelFormat::Bits24, {188, 255, 0, 255}, {0, 0, 255, 255}},
      {"DXGI R32_FLOAT", DdsFile(2, 1, {}, Floats({0.5f, 1.0f}), 41),
       PixelFormat::Bits8, {188, 188, 188, 255}, {255, 255, 255, 255}},
      // 1.0 is exponent 15, mantissa 0: 0x3C0 in 11 bits (6-bit mantissa), 0x1E0 in 10.
      {"DXGI R11G11B10_FLOAT", DdsFile(2, 1, {}, [] { Bytes b; AppendLE32(b, 0x3C0 | 0x1E0u << 22); AppendLE32(b, 0x3C0u << 11); return b; }(), 26),
       PixelFormat::Bits24, {255, 0, 255, 255}, {0, 255, 0, 255}},
      // Mantissas 256 and 128 with exponent 16: 256 * 2^(16 - 24) = 1 and 0.5.
      {"DXGI R9G9B9E5_SHAREDEXP", DdsFile(2, 1, {}, [] { Bytes b; AppendLE32(b, 256 | 128u << 9 | 16u << 27); AppendLE32(b, 128u << 18 | 16u << 27); return b; }(), 67),
       PixelFormat::Bits24, {255, 188, 0, 255}, {0, 0, 188, 255}},
      // A premultiplied block: red 132 (0x10 in 5 bits) at alpha 136 is 248 on its own.
      {"DXT2 premultiplied", DdsFile(2, 1, WithFourCC(Code("DXT2")), {0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x00, 0x80, 0x00, 0x80, 0, 0, 0, 0}),
       PixelFormat::Bits32, {248, 0, 0, 136}, {248, 0, 0, 136}},
      {"BC4 is grey", DdsFile(2, 1, WithFourCC(Code("BC4U")), {0x50, 0x50, 0, 0, 0, 0, 0, 0}),
       PixelFormat::Bits8, {0x50, 0x50, 0x50, 255}, {0x50, 0x50, 0x50, 255}},
      // Other faces and mip levels follow the first face's largest picture; they are not read.
      {"more data after the first picture", DdsFile(2, 1, {}, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9, 9, 9, 9, 9, 9}, 28),
       PixelFormat::Bits32, {1, 2, 3, 4}, {5, 6, 7, 8}},
  };
  for (const Case& c : cases) {
    TDDSGraphic picture;
    Load(picture, c.file);
    ASSERT_EQ(picture.GetPixelFormat(), c.format) << c.name;
    EXPECT_EQ(picture.Transparent(), c.format == PixelFormat::Bits32) << c.name;
    const Rgba first = PixelAt(picture, 0, 0), second = PixelAt(picture, 1, 0);
    EXPECT_EQ(first, c.first) << c.name << ": " << first.r << "," << first.g << "," << first.b << "," << first.a;
    EXPECT_EQ(second, c.second) << c.name << ": " << second.r << "," << second.g << "," << second.b << "," << second.a;
  }
}

// Random blocks, with every BC7 mode in every partition, against Pillow's own decode.
TEST(DDSReader, BlockFormatsAgreeWithPillow) {
  REQUIRE_TOOL(test_support::kPython);
  std::mt19937_64 random(7);
  auto randomBlocks = [&](size_t count, size_t blockBytes) {
    Bytes data(count * blockBytes);
    for (uint8_t& b : data) b = uint8_t(random());
    return data;
  };
  Bytes bc7;
  for (int mode = 0; mode < 8; ++mode)
    for (int partition = 0; partition < 64; ++partition) {
      Bytes block = randomBlocks(1, 16);
      // The mode is its bit's position; the partition bits follow it.
      uint32_t low = uint32_t(1) << mode | uint32_t(partition) << (mode + 1);
      uint32_t keep = ~((uint32_t(1) << (mode + 1 + (mode == 0 ? 4 : mode <= 3 || mode == 7 ? 6 : 0))) - 1);
      for (int i = 0; i < 2; ++i)
        block[size_t(i)] = uint8_t((block[size_t(i)] & (keep >> (8 * i))) | (low >> (8 * i)));
      bc7.insert(bc7.end(), block.begin(), block.end());
    }
  struct Case {
    const char* name;
    Bytes file;
    int tolerance;  // Pillow truncates the colours BC1 to BC5 interpolate, we round them
  };
  const Case cases[] = {
      {"DXT1", DdsFile(61, 30, WithFourCC(Code("DXT1")), randomBlocks(16 * 8, 8)), 1},
      {"DXT3", DdsFile(64, 32, WithFourCC(Code("DXT3")), randomBlocks(16 * 8, 16)), 1},
      {"DXT5", DdsFile(64, 29, WithFourCC(Code("DXT5")), randomBlocks(16 * 8, 16)), 1},
      {"ATI1", DdsFile(64, 32, WithFourCC(Code("ATI1")), randomBlocks(16 * 8, 8)), 1},
      {"ATI2", DdsFile(64, 32, WithFourCC(Code("ATI2")), randomBlocks(16 * 8, 16)), 1},
      {"BC7", DdsFile(128, 64, {}, bc7, 98), 0},
  };
  test_support::TempDir dir;
  for (const Case& c : cases) {
    test_support::WriteFileBytes(dir.File("t.dds"), c.file);
    TDDSGraphic picture;
    Load(picture, c.file);
    EXPECT_TRUE(test_support::DecodedMatches(picture, test_support::DecodeWithPillow(dir.File("t.dds")), c.tolerance))
        << c.name;
  }
}

// BC6H against Pillow, which gives each half float clamped to 0..1 times 255, cut down.
// Signed blocks only in the modes that store end points whole: Pillow takes the signed end
// points that other modes store as differences as unsigned ones.
TEST(DDSReader, BC6HBlocksAgreeWithPillow) {
  REQUIRE_TOOL(test_support::kPython);
  const std::vector<uint32_t> unsignedModes = {0, 1, 2, 6, 10, 14, 18, 22, 26, 30, 3, 7, 11, 15};
  const std::vector<uint32_t> signedModes = {30, 3};
  std::mt19937_64 random(11);
  test_support::TempDir dir;
  for (const bool isSigned : {false, true}) {
    const std::vector<uint32_t>& modes = isSigned ? signedModes : unsignedModes;
    Bytes data;
    for (size_t k = 0; k < 448 / modes.size(); ++k)
      for (uint32_t mode : modes) {
        Bytes block(16);
        for (uint8_t& b : block) b = uint8_t(random());
        const int modeBits = mode < 2 ? 2 : 5;
        block[0] = uint8_t((block[0] & ~((1 << modeBits) - 1)) | mode);
        data.insert(data.end(), block.begin(), block.end());
      }
    const uint32_t width = 4 * 14, height = 4 * 32;
    const Bytes file = DdsFile(width, height, {}, data, isSigned ? 96 : 95);
    test_support::WriteFileBytes(dir.File("t.dds"), file);
    const test_support::RgbImage reference = test_support::DecodeWithPillow(dir.File("t.dds"));
    size_t differing = 0;
    for (size_t b = 0; b < data.size() / 16; ++b) {
      BlockFloats rgb;
      DecodeBC6H(std::span<const uint8_t, 16>(data.data() + 16 * b, 16), isSigned, rgb);
      for (size_t i = 0; i < 16; ++i)
        for (size_t c = 0; c < 3; ++c) {
          const int x = int(b % 14 * 4 + i % 4), y = int(b / 14 * 4 + i / 4);
          const int expected = reference.Pixel(x, y)[c];
          const int ours = int(std::clamp(rgb[i][c], 0.0f, 1.0f) * 255);
          if (std::abs(ours - expected) > 1 && differing++ < 5)
            ADD_FAILURE() << (isSigned ? "signed" : "unsigned") << " block " << b << " pixel " << i
                          << ": " << rgb[i][c] << ", Pillow " << expected;
        }
    }
  }
}

// ImageMagick's DXT1, DXT5 and uncompressed files, compared whole with its own decode.
TEST(DDSReader, ImageMagickFilesMatchItsDecode) {
  REQUIRE_TOOL(test_support::kConvert);
  test_support::TempDir dir;
  ASSERT_EQ(test_support::MakeAlphaRampSources(dir.File("alpha.png"), dir.File("opaque.png")).status, 0);
  const struct {
    const char* source;
    const char* options;
    PixelFormat format;
  } cases[] = {
      {"opaque.png", "-define dds:compression=dxt1", PixelFormat::Bits32},
      {"alpha.png", "-define dds:compression=dxt5", PixelFormat::Bits32},
      {"alpha.png", "-define dds:compression=none", PixelFormat::Bits32},
      {"opaque.png", "-define dds:compression=none", PixelFormat::Bits24},
      {"opaque.png", "-define dds:compression=dxt1 -define dds:mipmaps=3", PixelFormat::Bits32},
  };
  for (const auto& c : cases) {
    const std::string dds = dir.File("out.dds");
    const auto made = test_support::RunCommand(std::string(test_support::kConvert) + " " +
                                               test_support::ShellQuote(dir.File(c.source)) + " " +
                                               c.options + " " + test_support::ShellQuote(dds));
    ASSERT_EQ(made.status, 0) << made.output;
    TDDSGraphic picture;
    picture.LoadFile(dds);
    EXPECT_EQ(picture.GetPixelFormat(), c.format) << c.options;
    const auto reference = test_support::DecodeWith(std::string(test_support::kConvert) + " " +
                                                    test_support::ShellQuote(dds) + " pam:-");
    // ImageMagick reads DXT1 without its alpha; those pictures are opaque.
    EXPECT_TRUE(reference.alpha.empty() ? test_support::BitmapMatches(picture, reference, 1)
                                        : test_support::DecodedMatches(picture, reference, 1))
        << c.options;
  }
}

TEST(DDSReader, DamagedAndUnsupportedFilesFailWithClearMessages) {
  const Bytes rgba = DdsFile(2, 2, {}, Bytes(16, 0x7F), 28);
  auto cut = [&](size_t size) { return Bytes(rgba.begin(), rgba.begin() + long(size)); };
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"empty file", {}, "DDS: not a DirectDraw Surface file"},
      {"another format", {'B', 'M', 0, 0, 0, 0}, "DDS: not a DirectDraw Surface file"},
      {"header cut short", cut(100), "DDS: invalid header"},
      {"DX10 header cut short", cut(140), "DDS: invalid header"},
      {"no width", DdsFile(0, 4, {}, Bytes(16), 28), "DDS: invalid picture size"},
      {"pixels one byte short", cut(rgba.size() - 1), "DDS: the file is shorter than its picture"},
      {"blocks one byte short", DdsFile(5, 4, WithFourCC(Code("DXT5")), Bytes(31)),
       "DDS: the file is shorter than its picture"},
      {"a large picture from a small file", DdsFile(40000, 40000, WithFourCC(Code("DXT1")), Bytes(64)),
       "DDS: the file is shorter than its picture"},
      {"unknown FourCC", DdsFile(2, 2, WithFourCC(Code("ETC2")), Bytes(64)), "DDS: unsupported FourCC 'ETC2'"},
      {"unknown Direct3D format", DdsFile(2, 2, WithFourCC(117), Bytes(64)), "DDS: unsupported Direct3D format 117"},
      {"unknown DXGI format", DdsFile(2, 2, {}, Bytes(64), 42), "DDS: unsupported DXGI format 42"},
      {"YUV pixels", DdsFile(2, 2, Masks(kYUV, 32, {0xFF, 0xFF00, 0xFF0000, 0}), Bytes(16)), "DDS: unsupported pixel format"},
      {"a mask wider than 16 bits", DdsFile(2, 2, Masks(kRGB, 32, {0xFFFFFF, 0, 0, 0}), Bytes(16)), "DDS: unsupported pixel format"},
      {"a mask in pieces", DdsFile(2, 2, Masks(kRGB, 16, {0xF0F, 0, 0, 0}), Bytes(8)), "DDS: unsupported pixel format"},
      {"12 bits a pixel", DdsFile(2, 2, Masks(kRGB, 12, {0xF00, 0xF0, 0xF, 0}), Bytes(8)), "DDS: unsupported pixel format"},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadError(c.file), c.message) << c.what;
  EXPECT_EQ(LoadError(rgba), "no error");
}

}  // namespace
}  // namespace pictures
