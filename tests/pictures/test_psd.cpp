#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/formats/psd.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "support/byte_builders.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::AppendBE16;
using test_support::AppendBE32;
using test_support::Load;
using test_support::PackBits;
using test_support::RgbImage;

enum Mode : uint16_t {
  kBitmap = 0,
  kGrey = 1,
  kIndexed = 2,
  kRGB = 3,
  kCMYK = 4,
  kMultichannel = 7,
  kDuotone = 8,
  kLab = 9,
};

// A Photoshop file: the header, the three sections, and the merged picture's channels,
// raw or packed row by row with PackBits and a table of row byte counts.
struct PsdFile {
  std::string signature = "8BPS";
  uint16_t version = 1;  // 2: a large document, with wider lengths and row counts
  uint32_t channels = 3;
  uint32_t rows = 0;
  uint32_t columns = 0;
  uint32_t depth = 8;
  uint32_t mode = kRGB;
  Bytes colourData;
  Bytes resources = {'8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 0};
  Bytes layers = {0, 0, 0, 0, 0, 0, 0, 0};
  bool packed = false;
  // Each channel's rows, one after the other; 16-bit samples big-endian.
  std::vector<Bytes> data;
  // When not empty, the packed rows as they are to be written (channel after channel).
  std::vector<Bytes> packedRows;

  // Where the compression word ends: the start of the count table or of the raw data.
  size_t DataStart() const {
    return 26 + 4 + colourData.size() + 4 + resources.size() + (version == 2 ? 8 : 4) +
           layers.size() + 2;
  }

  size_t RowBytes() const { return depth == 1 ? (columns + 7) / 8 : columns * (depth / 8); }


  Bytes Build() const {
    Bytes out(signature.begin(), signature.end());
    AppendBE16(out, version);
    out.insert(out.end(), 6, 0);  // reserved
    AppendBE16(out, channels);
    AppendBE32(out, rows);
    AppendBE32(out, columns);
    AppendBE16(out, depth);
    AppendBE16(out, mode);
    AppendBE32(out, uint32_t(colourData.size()));
    out.insert(out.end(), colourData.begin(), colourData.end());
    AppendBE32(out, uint32_t(resources.size()));
    out.insert(out.end(), resources.begin(), resources.end());
    if (version == 2) AppendBE32(out, 0);  // the upper half of an 8-byte length
    AppendBE32(out, uint32_t(layers.size()));
    out.insert(out.end(), layers.begin(), layers.end());
    AppendBE16(out, packed ? 1 : 0);
    if (!packed) {
      for (const Bytes& channel : data) out.insert(out.end(), channel.begin(), channel.end());
      return out;
    }
    std::vector<Bytes> packedData = packedRows;
    if (packedData.empty())
      for (const Bytes& channel : data)
        for (size_t y = 0; y < rows; ++y)
          packedData.push_back(PackBits(Bytes(channel.begin() + long(y * RowBytes()),
                                              channel.begin() + long((y + 1) * RowBytes()))));
    Bytes counts, body;
    for (const Bytes& p : packedData) {
      (version == 2 ? AppendBE32 : AppendBE16)(counts, uint32_t(p.size()));
      body.insert(body.end(), p.begin(), p.end());
    }
    out.insert(out.end(), counts.begin(), counts.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }
};

// Sample value of channel c at (x, y), with runs along the rows so that PackBits has
// both kinds of packet to write.
uint32_t Value(int x, int y, int c, int depth) {
  const int run = x / 4 % 2 == 0 ? x / 4 : x;
  const uint32_t v = uint32_t(run * 29 + y * 71 + c * 53);
  if (depth == 32) return std::bit_cast<uint32_t>(float(v & 0xFF) / 255.0f);
  return depth == 16 ? (v * 263 + 0x1234) & 0xFFFF : v & 0xFF;
}

// A picture of `channels` channels filled with Value (or `value` when given).
PsdFile Picture(uint32_t mode, uint32_t depth, uint32_t channels, int width, int height,
                bool packed, std::function<uint32_t(int, int, int)> value = nullptr) {
  PsdFile f;
  f.mode = mode;
  f.depth = depth;
  f.channels = channels;
  f.columns = uint32_t(width);
  f.rows = uint32_t(height);
  f.packed = packed;
  if (!value) value = [depth](int x, int y, int c) { return Value(x, y, c, int(depth)); };
  for (uint32_t c = 0; c < channels; ++c) {
    Bytes channel;
    for (int y = 0; y < height; ++y) {
      if (depth == 1) {
        Bytes row(f.RowBytes(), 0);
        for (int x = 0; x < width; ++x)
          if (value(x, y, int(c)) & 1) row[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
        channel.insert(channel.end(), row.begin(), row.end());
        continue;
      }
      for (int x = 0; x < width; ++x) {
        const uint32_t v = value(x, y, int(c));
        if (depth == 32) AppendBE32(channel, v);
        if (depth == 16) channel.push_back(uint8_t(v >> 8));
        if (depth <= 16) channel.push_back(uint8_t(v));
      }
    }
    f.data.push_back(channel);
  }
  return f;
}

std::string LoadError(const Bytes& file) { return test_support::LoadError<TPSDGraphic>(file); }

struct Rgb {
  int r, g, b;
};

// The picture that `expect` gives from the sample values of each pixel.
RgbImage Expected(int width, int height, int depth,
                  const std::function<Rgb(const uint32_t*)>& expect) {
  RgbImage image;
  image.width = width;
  image.height = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint32_t s[5];
      for (int c = 0; c < 5; ++c) s[c] = Value(x, y, c, depth);
      const Rgb p = expect(s);
      image.rgb.insert(image.rgb.end(), {uint8_t(p.r), uint8_t(p.g), uint8_t(p.b)});
    }
  return image;
}

// The colour table of the indexed test pictures: red values, green values, blue values.
Bytes ColourTable() {
  Bytes table(768);
  for (int i = 0; i < 256; ++i) {
    table[size_t(i)] = uint8_t(i * 7);
    table[size_t(256 + i)] = uint8_t(255 - i);
    table[size_t(512 + i)] = uint8_t(i * 13 + 5);
  }
  return table;
}

// A 32-bit sample (floating point, 0 to 1) as the byte it shows as.
uint32_t Byte(uint32_t floatBits) {
  return uint32_t(std::lround(std::clamp(std::bit_cast<float>(floatBits), 0.0f, 1.0f) * 255));
}

int Ink(uint32_t stored, uint32_t storedK) {
  // The file stores 255 - ink; the colour is (255 - ink) * (255 - K) / 255, rounded.
  const int ink = 255 - int(stored), k = 255 - int(storedK);
  return std::clamp(255 - (ink + k) + (ink * k + 127) / 255, 0, 255);
}

TEST(PSDReader, ColourModesInRawAndPackedData) {
  struct Case {
    const char* name;
    uint32_t mode, depth, channels;
    PixelFormat format;
    std::function<Rgb(const uint32_t*)> expect;
  };
  const Bytes table = ColourTable();
  const Case cases[] = {
      {"bitmap: 0 is white, 1 is black", kBitmap, 1, 1, PixelFormat::Bits1,
       [](const uint32_t* s) {
         return s[0] & 1 ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
       }},
      {"grey", kGrey, 8, 1, PixelFormat::Bits8,
       [](const uint32_t* s) {
         return Rgb{int(s[0]), int(s[0]), int(s[0])};
       }},
      {"grey and alpha shows the grey plane", kGrey, 8, 2, PixelFormat::Bits8,
       [](const uint32_t* s) {
         return Rgb{int(s[0]), int(s[0]), int(s[0])};
       }},
      {"16-bit grey shows the upper byte", kGrey, 16, 1, PixelFormat::Bits8,
       [](const uint32_t* s) {
         int v = int(s[0] >> 8);
         return Rgb{v, v, v};
       }},
      {"duotone shows as grey", kDuotone, 8, 1, PixelFormat::Bits8,
       [](const uint32_t* s) {
         return Rgb{int(s[0]), int(s[0]), int(s[0])};
       }},
      {"indexed", kIndexed, 8, 1, PixelFormat::Bits8,
       [&](const uint32_t* s) {
         return Rgb{table[s[0]], table[256 + s[0]], table[512 + s[0]]};
       }},
      {"RGB", kRGB, 8, 3, PixelFormat::Bits24,
       [](const uint32_t* s) {
         return Rgb{int(s[0]), int(s[1]), int(s[2])};
       }},
      {"RGB and alpha", kRGB, 8, 4, PixelFormat::Bits24,
       [](const uint32_t* s) {
         return Rgb{int(s[0]), int(s[1]), int(s[2])};
       }},
      {"16-bit RGB shows the upper bytes", kRGB, 16, 3, PixelFormat::Bits24,
       [](const uint32_t* s) {
         return Rgb{int(s[0] >> 8), int(s[1] >> 8), int(s[2] >> 8)};
       }},
      {"16-bit RGB, alpha and a spot channel", kRGB, 16, 5, PixelFormat::Bits24,
       [](const uint32_t* s) {
         return Rgb{int(s[0] >> 8), int(s[1] >> 8), int(s[2] >> 8)};
       }},
      {"CMYK", kCMYK, 8, 4, PixelFormat::Bits24,
       [](const uint32_t* s) {
         return Rgb{Ink(s[0], s[3]), Ink(s[1], s[3]), Ink(s[2], s[3])};
       }},
      {"16-bit CMYK", kCMYK, 16, 5, PixelFormat::Bits24,
       [](const uint32_t* s) {
         // 16-bit inks: (65535 - ink) is reduced through the 16-bit formula.
         auto channel = [&](uint32_t stored) {
           const int ink = 65535 - int(stored), k = 65535 - int(s[3]);
           const int product = int((int64_t(ink) * k + 32767) / 65535);
           return std::clamp(255 - ((ink - product + k) >> 8), 0, 255);
         };
         return Rgb{channel(s[0]), channel(s[1]), channel(s[2])};
       }},
      {"32-bit grey", kGrey, 32, 1, PixelFormat::Bits8,
       [](const uint32_t* s) {
         const int v = int(Byte(s[0]));
         return Rgb{v, v, v};
       }},
      {"1-bit grey: 0 is white", kGrey, 1, 1, PixelFormat::Bits1,
       [](const uint32_t* s) {
         return s[0] & 1 ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
       }},
      {"16-bit indexed takes the upper byte as the index", kIndexed, 16, 1, PixelFormat::Bits8,
       [&](const uint32_t* s) {
         const uint32_t i = s[0] >> 8;
         return Rgb{table[i], table[256 + i], table[512 + i]};
       }},
      {"32-bit RGB", kRGB, 32, 4, PixelFormat::Bits24,
       [](const uint32_t* s) {
         return Rgb{int(Byte(s[0])), int(Byte(s[1])), int(Byte(s[2]))};
       }},
      {"32-bit CMYK", kCMYK, 32, 4, PixelFormat::Bits24,
       [](const uint32_t* s) {
         return Rgb{Ink(Byte(s[0]), Byte(s[3])), Ink(Byte(s[1]), Byte(s[3])),
                    Ink(Byte(s[2]), Byte(s[3]))};
       }},
      {"multichannel of one channel is grey", kMultichannel, 8, 1, PixelFormat::Bits8,
       [](const uint32_t* s) {
         return Rgb{int(s[0]), int(s[0]), int(s[0])};
       }},
      {"multichannel of two channels: cyan and magenta inks", kMultichannel, 8, 2,
       PixelFormat::Bits24,
       [](const uint32_t* s) {
         return Rgb{Ink(s[0], 255), Ink(s[1], 255), 255};
       }},
      {"multichannel of five channels: the first four as CMYK", kMultichannel, 8, 5,
       PixelFormat::Bits24,
       [](const uint32_t* s) {
         return Rgb{Ink(s[0], s[3]), Ink(s[1], s[3]), Ink(s[2], s[3])};
       }},
  };
  for (const Case& c : cases) {
    for (int variant = 0; variant < 4; ++variant) {
      const bool packed = variant & 1;
      const uint16_t version = variant & 2 ? 2 : 1;
      SCOPED_TRACE(std::string(c.name) + (packed ? ", packed" : ", raw") +
                   (version == 2 ? ", large document" : ""));
      const int width = 19, height = 6;
      PsdFile file = Picture(c.mode, c.depth, c.channels, width, height, packed);
      file.version = version;
      if (c.mode == kIndexed) file.colourData = table;
      if (c.mode == kDuotone) file.colourData = Bytes(517, 0x33);
      TPSDGraphic picture;
      Load(picture, file.Build());
      EXPECT_EQ(picture.GetPixelFormat(), c.format);
      EXPECT_TRUE(
          test_support::BitmapMatches(picture, Expected(width, height, int(c.depth), c.expect)));
    }
  }
}

TEST(PSDReader, CornerColours) {
  struct Case {
    const char* name;
    uint32_t mode, depth, channels;
    std::vector<uint32_t> samples;  // one pixel: a value per channel
    Rgb expected;
    int tolerance;
  };
  const Case cases[] = {
      {"CMYK without ink is white", kCMYK, 8, 4, {255, 255, 255, 255}, {255, 255, 255}, 0},
      {"CMYK full black ink is black", kCMYK, 8, 4, {200, 100, 0, 0}, {0, 0, 0}, 0},
      {"16-bit CMYK without ink is white",
       kCMYK,
       16,
       4,
       {65535, 65535, 65535, 65535},
       {255, 255, 255},
       0},
      {"Lab white", kLab, 8, 3, {255, 128, 128}, {255, 255, 255}, 0},
      {"Lab black", kLab, 8, 3, {0, 128, 128}, {0, 0, 0}, 0},
      {"Lab neutral mid grey", kLab, 8, 3, {128, 128, 128}, {119, 119, 119}, 3},
      {"16-bit Lab white", kLab, 16, 3, {65535, 32768, 32768}, {255, 255, 255}, 0},
      {"16-bit Lab neutral mid grey", kLab, 16, 4, {32896, 32768, 32768, 0}, {119, 119, 119}, 3},
      {"32-bit RGB outside 0 to 1 is clamped, NaN is black",
       kRGB,
       32,
       3,
       {std::bit_cast<uint32_t>(1.5f), std::bit_cast<uint32_t>(-0.5f), 0x7FC00000u},
       {255, 0, 0},
       0},
  };
  for (const Case& c : cases) {
    for (bool packed : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (packed ? ", packed" : ", raw"));
      PsdFile file = Picture(c.mode, c.depth, c.channels, 3, 2, packed,
                             [&](int, int, int channel) { return c.samples[size_t(channel)]; });
      TPSDGraphic picture;
      Load(picture, file.Build());
      ASSERT_EQ(picture.GetPixelFormat(), PixelFormat::Bits24);
      const uint8_t* p = picture.ScanLine(1) + 6;
      EXPECT_NEAR(p[2], c.expected.r, c.tolerance);
      EXPECT_NEAR(p[1], c.expected.g, c.tolerance);
      EXPECT_NEAR(p[0], c.expected.b, c.tolerance);
      // Neutral Lab colours are grey: the three channels agree.
      if (c.mode == kLab) {
        EXPECT_NEAR(p[0], p[1], 1);
        EXPECT_NEAR(p[1], p[2], 1);
      }
    }
  }
}

TEST(PSDReader, ModesThatAreNotReadGiveAnEmptyPictureOfTheRightSize) {
  for (uint32_t mode : {5u, 6u, 10u, 200u}) {
    SCOPED_TRACE(mode);
    TPSDGraphic picture;
    Load(picture, Picture(mode, 8, 2, 7, 3, true).Build());
    EXPECT_EQ(picture.Width(), 7);
    EXPECT_EQ(picture.Height(), 3);
    EXPECT_TRUE(test_support::BitmapMatches(picture, Expected(7, 3, 8, [](const uint32_t*) {
                                              return Rgb{0, 0, 0};
                                            })));
  }
}

TEST(PSDReader, PackedRowsAreCutAtTheRowsEnd) {
  // Each row's data is a run of 128 bytes for a picture 5 pixels wide: the rest of the
  // run is dropped and the next row starts from its own count.
  for (uint32_t mode : {kGrey, kRGB}) {
    SCOPED_TRACE(mode);
    const uint32_t channels = mode == kGrey ? 1 : 3;
    PsdFile file = Picture(mode, 8, channels, 5, 3, true);
    for (uint32_t i = 0; i < channels * 3; ++i) file.packedRows.push_back({0x81, uint8_t(10 + i)});
    TPSDGraphic picture;
    Load(picture, file.Build());
    for (int y = 0; y < 3; ++y) {
      const uint8_t* p = picture.ScanLine(y);
      const Bytes expected = mode == kGrey
                                 ? Bytes(5, uint8_t(10 + y))
                                 : Bytes{uint8_t(16 + y), uint8_t(13 + y), uint8_t(10 + y)};
      for (size_t x = 0; x < 5; ++x) {
        const size_t size = expected.size() == 5 ? 1 : 3;
        EXPECT_EQ(Bytes(p + size * x, p + size * x + size),
                  size == 1 ? Bytes{expected[x]} : expected)
            << "row " << y << ", x " << x;
      }
    }
  }
}

TEST(PSDReader, DamagedFilesFailWithTheirMessage) {
  auto rgb = [](bool packed = false) { return Picture(kRGB, 8, 3, 6, 4, packed); };
  const std::string tooLarge = "The picture needs more than";
  struct Case {
    const char* name;
    Bytes file;
    std::string message;
  };
  PsdFile lower = rgb();
  lower.signature = "8bps";
  auto cut = [](Bytes bytes, size_t keep) {
    bytes.resize(keep);
    return bytes;
  };
  const Bytes raw = rgb().Build();
  const Bytes packed = rgb(true).Build();
  const size_t tableStart = rgb(true).DataStart();
  PsdFile twoChannels = rgb();
  twoChannels.channels = 2;
  twoChannels.data.resize(2);
  PsdFile cmykOfThree = Picture(kCMYK, 8, 3, 6, 4, false);
  PsdFile deep = Picture(kRGB, 24, 3, 6, 4, false);
  PsdFile oneBitRGB = Picture(kRGB, 1, 3, 6, 4, false);
  // Pictures far larger than their data: 2 x 10^8 bytes a row of 16-bit grey, and rows of
  // 6 x 10^7 RGB bytes from three 2-byte runs.
  PsdFile wideGrey = Picture(kGrey, 16, 1, 1, 20, false);
  wideGrey.columns = 100000000;
  PsdFile fewRuns = Picture(kRGB, 8, 3, 1, 1, true);
  fewRuns.columns = 20000000;
  fewRuns.packedRows = {{0x81, 1}, {0x81, 2}, {0x81, 3}};
  PsdFile hugeGrey = Picture(kGrey, 16, 1, 1, 1, false);
  hugeGrey.columns = 0x40000000;
  PsdFile greyNoChannel = Picture(kGrey, 8, 0, 6, 4, false);
  PsdFile bitmap8 = Picture(kBitmap, 8, 1, 6, 4, false);
  PsdFile wide = rgb();
  wide.columns = 0x80000000;
  PsdFile huge = rgb();
  huge.columns = 0x7FFFFFFF;
  PsdFile longResources = rgb();
  longResources.resources.clear();
  Bytes resourcesPastEnd = longResources.Build();
  // The resources' length says 2^31 bytes: the next length cannot be read.
  resourcesPastEnd[26 + 4 + 0] = 0x80;
  const Case cases[] = {
      {"lower-case signature", lower.Build(), "Not a valid psd file."},
      {"a header cut short", cut(raw, 20), "Stream read error"},
      {"no colour mode data length", cut(raw, 28), "Stream read error"},
      {"a section length past the end of the file", resourcesPastEnd, "Stream read error"},
      {"raw pixel data cut short", cut(raw, raw.size() - 1), "Stream read error"},
      {"packed pixel data cut short", cut(packed, packed.size() - 1), "Stream read error"},
      {"the count table cut short", cut(packed, tableStart + 5), "Stream read error"},
      {"RGB of two channels", twoChannels.Build(), "Not a valid psd file."},
      {"CMYK of three channels", cmykOfThree.Build(), "Not a valid psd file."},
      {"grey of no channel", greyNoChannel.Build(), "Not a valid psd file."},
      {"24-bit RGB", deep.Build(), "Not a valid psd file."},
      {"1-bit RGB", oneBitRGB.Build(), "Not a valid psd file."},
      {"16-bit grey rows past the data", wideGrey.Build(), "Stream read error"},
      {"packed rows past what their runs can fill", fewRuns.Build(), "Stream read error"},
      {"16-bit grey of 2^30 columns in 60 bytes", hugeGrey.Build(), tooLarge},
      {"8-bit bitmap", bitmap8.Build(), "Not a valid psd file."},
      {"a width past the Bitmap's range", wide.Build(), tooLarge},
      {"a picture past the memory limit", huge.Build(), tooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string message = LoadError(c.file);
    if (c.message == tooLarge)
      EXPECT_EQ(message.substr(0, tooLarge.size()), tooLarge) << message;
    else
      EXPECT_EQ(message, c.message);
  }
}

TEST(PSDReader, ASignatureErrorLeavesThePictureAsItWas) {
  TPSDGraphic picture;
  Load(picture, Picture(kGrey, 8, 1, 4, 2, false).Build());
  PsdFile wrong = Picture(kRGB, 8, 3, 9, 9, false);
  wrong.signature = "8BPX";
  EXPECT_THROW(Load(picture, wrong.Build()), PictureError);
  EXPECT_EQ(picture.Width(), 4);
  EXPECT_EQ(picture.GetPixelFormat(), PixelFormat::Bits8);
}

TEST(PSDReader, IsRegisteredForPsdAndPdd) {
  RegisterReaders();
  EXPECT_EQ(FindReaderClass("psd"), &TPSDGraphic::StaticClass());
  EXPECT_EQ(FindReaderClass("PDD"), &TPSDGraphic::StaticClass());
  EXPECT_EQ(FindReaderClass("psb"), &TPSDGraphic::StaticClass());
  test_support::TempDir dir;
  test_support::WriteFileBytes(dir.File("x.pdd"), Picture(kRGB, 8, 3, 5, 2, true).Build());
  pictures::Picture holder;
  holder.LoadFile(dir.File("x.pdd"));
  ASSERT_NE(holder.Graphic(), nullptr);
  EXPECT_EQ(&holder.Graphic()->Class(), &TPSDGraphic::StaticClass());
  EXPECT_TRUE(
      test_support::BitmapMatches(*holder.Graphic(), Expected(5, 2, 8, [](const uint32_t* s) {
        return Rgb{int(s[0]), int(s[1]), int(s[2])};
      })));
}

TEST(PSDToolFiles, ImageMagickFilesMatchTheToolsDecode) {
  for (const char* tool : {test_support::kConvert, test_support::kPython}) {
    if (test_support::ToolAvailable(tool)) continue;
    const char* ci = std::getenv("CI");
    if (ci && std::string(ci) == "true") FAIL() << tool << " is not installed";
    GTEST_SKIP() << tool << " is not installed";
  }
  test_support::TempDir dir;
  test_support::WriteFileBytes(dir.File("rgb.ppm"),
                               test_support::EncodePnm(test_support::TestPattern(83, 41)));
  test_support::WriteFileBytes(dir.File("rgba.pam"),
                               test_support::EncodePnm(test_support::TestPattern(83, 41, true)));
  struct Variant {
    const char* source;
    const char* options;
    int tolerance;  // 16-bit samples are cut to their upper byte where ImageMagick rounds
    // ImageMagick cannot read back the indexed files it writes, and it changes the colours
    // of pictures with alpha as it reads them: those are compared with Pillow's decode, or
    // where Pillow cannot read the file, with ImageMagick's picture of the source.
    enum { kMagick, kPillow, kSource } reference = kMagick;
    const char* extension = "psd";
  };
  const Variant variants[] = {
      {"rgb.ppm", "-compress none", 0},
      {"rgb.ppm", "-compress RLE", 0},
      {"rgb.ppm", "-colorspace Gray -compress none", 0},
      {"rgb.ppm", "-colorspace Gray -compress RLE", 0},
      {"rgb.ppm", "-colorspace Gray -depth 16 -compress RLE", 1},
      {"rgb.ppm", "-colorspace CMYK -compress none", 1},
      {"rgb.ppm", "-colorspace CMYK -compress RLE", 1},
      {"rgb.ppm", "-colors 60 -type Palette -compress none", 0, Variant::kPillow},
      {"rgb.ppm", "-compress RLE", 0, Variant::kPillow},
      {"rgb.ppm", "-colorspace CMYK -compress RLE", 1, Variant::kPillow},
      {"rgb.ppm", "-colors 60 -type Palette -compress RLE", 0, Variant::kPillow},
      {"rgb.ppm", "-depth 16 -compress none", 1},
      {"rgb.ppm", "-depth 16 -compress RLE", 1},
      {"rgba.pam", "-compress none", 0, Variant::kPillow},
      {"rgba.pam", "-compress RLE", 0, Variant::kPillow},
      {"rgba.pam", "-colorspace Gray -compress RLE", 1, Variant::kSource},  // grey rounded apart
      {"rgb.ppm", "-colorspace Gray -depth 16 -compress none", 1},
      {"rgb.ppm", "-compress RLE", 0, Variant::kMagick, "psb"},
      {"rgb.ppm", "-depth 16 -compress RLE", 1, Variant::kMagick, "psb"},
      {"rgb.ppm", "-colorspace Gray -depth 16 -compress none", 1, Variant::kMagick, "psb"},
      {"rgb.ppm", "-colorspace CMYK -depth 16 -compress RLE", 1, Variant::kMagick, "psb"},
  };
  int n = 0;
  for (const Variant& v : variants) {
    const std::string name = dir.File("v" + std::to_string(n++) + "." + v.extension);
    SCOPED_TRACE(std::string(v.source) + " " + v.options);
    const auto made = test_support::RunCommand(std::string(test_support::kConvert) + " " +
                                               dir.File(v.source) + " " + v.options + " " + name);
    ASSERT_EQ(made.status, 0) << made.output;
    TPSDGraphic picture;
    ASSERT_NO_THROW(picture.LoadFile(name));
    const std::string pillow =
        "from PIL import Image; import sys; "
        "Image.open(sys.argv[1]).convert('RGB').save(sys.stdout.buffer, 'PPM')";
    const std::string convert = std::string(test_support::kConvert) + " ";
    const RgbImage expected = test_support::DecodeWith(
        v.reference == Variant::kPillow ? std::string(test_support::kPython) + " -c " +
                                              test_support::ShellQuote(pillow) + " " + name
        : v.reference == Variant::kSource
            ? convert + dir.File(v.source) + " " + v.options + " -alpha off -depth 8 pam:-"
            : convert + test_support::ShellQuote(name + "[0]") +
                  " -colorspace sRGB -depth 8 pam:-");
    EXPECT_TRUE(test_support::BitmapMatches(picture, expected, v.tolerance));
  }
}

}  // namespace
}  // namespace pictures
