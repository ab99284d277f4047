#include "pictures/formats/exr.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <ImfRgbaFile.h>
#include <ImfTiledRgbaFile.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "base/error.h"
#include "support/case_names.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::Bytes;
using test_support::PrintTo;

// Even sides, as chroma sampled at every other pixel and line needs; blocks of 16 lines
// and tiles of 16 x 10 cover them in part.
constexpr int kWidth = 38, kHeight = 24;

// Linear light with every channel varying, some of it past 1 and below 0 (clamped when
// shown), and an alpha ramp. With `tinted`, one colour at varying brightness: its chroma is
// the same everywhere, so that every way of filling in subsampled chroma gives the same.
Imf::Rgba SourcePixel(int x, int y, bool tinted) {
  const float a = 0.1f + 0.9f * float(x) / (kWidth - 1);
  if (tinted) {
    const float level = 0.02f + 1.3f * float(x + y) / (kWidth + kHeight - 2);
    return Imf::Rgba(0.8f * level * a, 0.5f * level * a, 0.2f * level * a, a);
  }
  const float r = float(x) / (kWidth - 1) * 1.2f - 0.05f, g = float(y) / (kHeight - 1);
  const float b = float((x * 7 + y * 3) % 11) / 10.0f;
  return Imf::Rgba(r * a, g * a, b * a, a);  // colours multiplied by alpha, as OpenEXR keeps them
}

std::vector<Imf::Rgba> SourcePixels(bool tinted) {
  std::vector<Imf::Rgba> pixels;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) pixels.push_back(SourcePixel(x, y, tinted));
  return pixels;
}

struct ExrCase {
  const char* name;
  Imf::Compression compression;
  Imf::RgbaChannels channels;  // what the RGBA writers store
  PixelFormat format;
  enum Writer { Scanlines, Tiles, Mipmapped, FloatChannels, UintChannels, OffsetBottomUp };
  Writer writer = Scanlines;
  int tolerance = 0;  // where our float samples and the library's half ones round apart
};

// Writes the case's file with OpenEXR's own writers.
void WriteExr(const ExrCase& c, const std::string& path) {
  const std::vector<Imf::Rgba> pixels = SourcePixels(c.channels & Imf::WRITE_C);
  switch (c.writer) {
    case ExrCase::Scanlines: {
      Imf::RgbaOutputFile file(path.c_str(), kWidth, kHeight, c.channels, 1, Imath::V2f(0, 0), 1,
                               Imf::INCREASING_Y, c.compression);
      file.setFrameBuffer(pixels.data(), 1, kWidth);
      file.writePixels(kHeight);
      return;
    }
    case ExrCase::OffsetBottomUp: {
      // The pixels lie at (-3, 5) in a larger display window, stored bottom row first.
      const Imath::Box2i data(Imath::V2i(-3, 5), Imath::V2i(kWidth - 4, kHeight + 4));
      const Imath::Box2i display(Imath::V2i(-10, 0), Imath::V2i(100, 100));
      Imf::RgbaOutputFile file(path.c_str(), display, data, c.channels, 1, Imath::V2f(0, 0), 1,
                               Imf::DECREASING_Y, c.compression);
      file.setFrameBuffer(pixels.data() + 3 - 5 * kWidth, 1, kWidth);
      file.writePixels(kHeight);
      return;
    }
    case ExrCase::Tiles:
    case ExrCase::Mipmapped: {
      const bool mipmapped = c.writer == ExrCase::Mipmapped;
      Imf::TiledRgbaOutputFile file(
          path.c_str(), kWidth, kHeight, 16, 10, mipmapped ? Imf::MIPMAP_LEVELS : Imf::ONE_LEVEL,
          Imf::ROUND_DOWN, c.channels, 1, Imath::V2f(0, 0), 1, Imf::INCREASING_Y, c.compression);
      file.setFrameBuffer(pixels.data(), 1, kWidth);
      file.writeTiles(0, file.numXTiles(0) - 1, 0, file.numYTiles(0) - 1, 0);
      // The smaller levels hold black: only the first may show.
      const std::vector<Imf::Rgba> black(pixels.size(), Imf::Rgba(0, 0, 0, 1));
      file.setFrameBuffer(black.data(), 1, kWidth);
      for (int level = 1; mipmapped && level < file.numLevels(); ++level)
        file.writeTiles(0, file.numXTiles(level) - 1, 0, file.numYTiles(level) - 1, level);
      return;
    }
    case ExrCase::FloatChannels:
    case ExrCase::UintChannels: {
      const bool uints = c.writer == ExrCase::UintChannels;
      Imf::Header header(kWidth, kHeight);
      header.compression() = c.compression;
      const Imf::PixelType type = uints ? Imf::UINT : Imf::FLOAT;
      std::vector<float> samples[3];
      std::vector<uint32_t> counts[3];
      Imf::FrameBuffer buffer;
      for (int k = 0; k < 3; ++k) {
        const char* name[] = {"R", "G", "B"};
        header.channels().insert(name[k], Imf::Channel(type));
        for (const Imf::Rgba& p : pixels) {
          const float value = float(k == 0 ? p.r : k == 1 ? p.g : p.b);
          samples[k].push_back(value);
          counts[k].push_back(value > 0.3f ? 1 : 0);  // unsigned samples count as they are
        }
        char* base = uints ? reinterpret_cast<char*>(counts[k].data())
                           : reinterpret_cast<char*>(samples[k].data());
        buffer.insert(name[k], Imf::Slice(type, base, 4, 4 * kWidth));
      }
      Imf::OutputFile file(path.c_str(), header);
      file.setFrameBuffer(buffer);
      file.writePixels(kHeight);
      return;
    }
  }
}

// The picture as a viewer shows it, from OpenEXR's own reading of the file: colours
// divided by alpha, clamped to 0..1 and encoded with the sRGB curve.
test_support::RgbImage ShownAsSrgb(const std::string& path, bool alpha) {
  Imf::RgbaInputFile file(path.c_str());
  const Imath::Box2i window = file.dataWindow();
  const int width = window.max.x - window.min.x + 1, height = window.max.y - window.min.y + 1;
  std::vector<Imf::Rgba> pixels(size_t(width) * size_t(height));
  file.setFrameBuffer(pixels.data() - window.min.x - window.min.y * width, 1, width);
  file.readPixels(window.min.y, window.max.y);
  const auto encode = [](double v) {
    v = std::clamp(v, 0.0, 1.0);
    v = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
    return uint8_t(std::lround(255 * v));
  };
  test_support::RgbImage image{width, height, {}, {}};
  for (const Imf::Rgba& p : pixels) {
    const double a = p.a, divisor = alpha && a > 0 ? a : 1;
    for (const double c : {double(p.r), double(p.g), double(p.b)})
      image.rgb.push_back(encode(c / divisor));
    if (alpha) image.alpha.push_back(uint8_t(std::lround(255 * std::clamp(a, 0.0, 1.0))));
  }
  return image;
}

class ExrFileTest : public ::testing::TestWithParam<ExrCase> {
 protected:
  test_support::TempDir dir_;
  std::string path_ = dir_.File("picture.exr");
};

TEST_P(ExrFileTest, MatchesTheLibrarysOwnReadingInSrgb) {
  const ExrCase& c = GetParam();
  WriteExr(c, path_);
  TEXRGraphic picture;
  test_support::Load(picture, test_support::ReadFileBytes(path_));
  EXPECT_EQ(picture.GetPixelFormat(), c.format);
  EXPECT_EQ(picture.Transparent(), c.format == PixelFormat::Bits32);
  EXPECT_TRUE(test_support::DecodedMatches(
      picture, ShownAsSrgb(path_, c.format == PixelFormat::Bits32), c.tolerance));
}

using E = ExrCase;
constexpr auto k8 = PixelFormat::Bits8, k24 = PixelFormat::Bits24, k32 = PixelFormat::Bits32;
INSTANTIATE_TEST_SUITE_P(
    Exr, ExrFileTest,
    ::testing::Values(
        E{"RgbNone", Imf::NO_COMPRESSION, Imf::WRITE_RGB, k24},
        E{"RgbaRle", Imf::RLE_COMPRESSION, Imf::WRITE_RGBA, k32},
        E{"RgbZips", Imf::ZIPS_COMPRESSION, Imf::WRITE_RGB, k24},
        E{"RgbaZip", Imf::ZIP_COMPRESSION, Imf::WRITE_RGBA, k32},
        E{"RgbaPiz", Imf::PIZ_COMPRESSION, Imf::WRITE_RGBA, k32},
        E{"RgbPxr24", Imf::PXR24_COMPRESSION, Imf::WRITE_RGB, k24},
        E{"RgbaB44", Imf::B44_COMPRESSION, Imf::WRITE_RGBA, k32},
        E{"RgbB44a", Imf::B44A_COMPRESSION, Imf::WRITE_RGB, k24},
        E{"Luminance", Imf::ZIP_COMPRESSION, Imf::WRITE_Y, k8},
        E{"LuminanceAlpha", Imf::PIZ_COMPRESSION, Imf::WRITE_YA, k32},
        E{"LuminanceChroma", Imf::PIZ_COMPRESSION, Imf::WRITE_YC, k24, E::Scanlines, 1},
        // One scan line a block: the chroma of even lines serves the odd ones after them.
        E{"LuminanceChromaAlphaLineByLine", Imf::NO_COMPRESSION, Imf::WRITE_YCA, k32, E::Scanlines,
          1},
        E{"TiledRgba", Imf::NO_COMPRESSION, Imf::WRITE_RGBA, k32, E::Tiles},
        E{"TiledMipmappedRgb", Imf::ZIP_COMPRESSION, Imf::WRITE_RGB, k24, E::Mipmapped},
        E{"OffsetWindowBottomUp", Imf::ZIP_COMPRESSION, Imf::WRITE_RGBA, k32, E::OffsetBottomUp},
        E{"FloatChannels", Imf::ZIP_COMPRESSION, Imf::WRITE_RGB, k24, E::FloatChannels, 1},
        E{"UintChannels", Imf::RLE_COMPRESSION, Imf::WRITE_RGB, k24, E::UintChannels}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Exr, DamagedFilesFailWithAMessage) {
  test_support::TempDir dir;
  const std::string path = dir.File("picture.exr");
  const auto write = [&](Imf::Compression compression) {
    WriteExr(E{"", compression, Imf::WRITE_RGB, k24}, path);
    return test_support::ReadFileBytes(path);
  };
  const Bytes good = write(Imf::NO_COMPRESSION), zipped = write(Imf::ZIP_COMPRESSION);
  // The same header declaring a picture of 60000 x 60000.
  Bytes huge = good;
  const std::string window = "dataWindow";
  const auto at = std::search(huge.begin(), huge.end(), window.begin(), window.end());
  ASSERT_NE(at, huge.end());
  for (const size_t field : {size_t(8), size_t(12)}) {
    const auto value = at + ptrdiff_t(window.size() + 1 + 6 + 4 + field);
    value[0] = 0x5F, value[1] = 0xEA, value[2] = 0, value[3] = 0;  // 59999
  }
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  } cases[] = {
      {"Empty", {}, "EXR: the file ends early"},
      {"NotExr", Bytes(40, 'x'), "EXR: not an OpenEXR file, or its header is damaged"},
      {"CutShort", Bytes(good.begin(), good.begin() + ptrdiff_t(good.size() * 2 / 3)),
       "EXR: the file is too small for the picture it declares"},
      {"CompressedCutShort",
       Bytes(zipped.begin(), zipped.begin() + ptrdiff_t(zipped.size() * 2 / 3)),
       "EXR: a block of pixels is damaged"},
      // The core library of OpenEXR 3.1 has no decoder for the DWA compressions.
      {"Dwaa", write(Imf::DWAA_COMPRESSION),
       "EXR: DWAA compression is not supported by the OpenEXR library"},
      {"Dwab", write(Imf::DWAB_COMPRESSION),
       "EXR: DWAB compression is not supported by the OpenEXR library"},
      {"HugeDeclaredPicture", huge, "EXR: the file is too small for the picture it declares"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<TEXRGraphic>(c.file), c.message) << c.name;
}

}  // namespace
}  // namespace pictures
