#include "pictures/formats/qoi.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "support/byte_builders.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using test_support::AppendBE32;
using test_support::Bytes;
using test_support::RgbImage;

Bytes Header(uint32_t width, uint32_t height, int channels, int colourSpace = 0) {
  Bytes b = {'q', 'o', 'i', 'f'};
  AppendBE32(b, width);
  AppendBE32(b, height);
  b.push_back(uint8_t(channels));
  b.push_back(uint8_t(colourSpace));
  return b;
}

const Bytes kEndMarker = {0, 0, 0, 0, 0, 0, 0, 1};

Bytes File(const Bytes& header, const Bytes& ops, const Bytes& end = kEndMarker) {
  Bytes file = header;
  file.insert(file.end(), ops.begin(), ops.end());
  file.insert(file.end(), end.begin(), end.end());
  return file;
}

// A small encoder after the format's description, which uses every operation where it
// fits; `used` counts them by name so that a test can see that it did.
Bytes Encode(const RgbImage& image, std::map<std::string, int>& used) {
  const bool alpha = !image.alpha.empty();
  Bytes ops;
  std::array<std::array<uint8_t, 4>, 64> seen{};
  std::array<uint8_t, 4> previous = {0, 0, 0, 255};
  int run = 0;
  const size_t pixels = size_t(image.width) * image.height;
  auto flushRun = [&] {
    if (run == 0) return;
    ops.push_back(uint8_t(0xC0 | (run - 1)));
    ++used["run"];
    run = 0;
  };
  for (size_t i = 0; i < pixels; ++i) {
    const std::array<uint8_t, 4> p = {image.rgb[3 * i], image.rgb[3 * i + 1], image.rgb[3 * i + 2],
                                      alpha ? image.alpha[i] : uint8_t(255)};
    if (p == previous) {
      if (++run == 62) flushRun();
      continue;
    }
    flushRun();
    const size_t hash = (p[0] * 3 + p[1] * 5 + p[2] * 7 + p[3] * 11) % 64;
    if (seen[hash] == p) {
      ops.push_back(uint8_t(hash));
      ++used["index"];
    } else if (p[3] != previous[3]) {
      ops.insert(ops.end(), {0xFF, p[0], p[1], p[2], p[3]});
      ++used["rgba"];
    } else {
      const int dr = int8_t(p[0] - previous[0]), dg = int8_t(p[1] - previous[1]),
                db = int8_t(p[2] - previous[2]);
      if (dr >= -2 && dr <= 1 && dg >= -2 && dg <= 1 && db >= -2 && db <= 1) {
        ops.push_back(uint8_t(0x40 | (dr + 2) << 4 | (dg + 2) << 2 | (db + 2)));
        ++used["diff"];
      } else if (dg >= -32 && dg <= 31 && dr - dg >= -8 && dr - dg <= 7 && db - dg >= -8 &&
                 db - dg <= 7) {
        ops.insert(ops.end(), {uint8_t(0x80 | (dg + 32)), uint8_t((dr - dg + 8) << 4 | (db - dg + 8))});
        ++used["luma"];
      } else {
        ops.insert(ops.end(), {0xFE, p[0], p[1], p[2]});
        ++used["rgb"];
      }
    }
    seen[hash] = p;
    previous = p;
  }
  flushRun();
  return File(Header(uint32_t(image.width), uint32_t(image.height), alpha ? 4 : 3), ops);
}

// A picture for every operation: a top third of small steps (differences), larger steps
// in green (luma) and jumps (new colours); a band of one colour (runs that cross rows);
// then three colours in turn (the index), whose alpha varies where there is alpha.
RgbImage Picture(int width, int height, bool alpha) {
  RgbImage image;
  image.width = width;
  image.height = height;
  image.rgb.resize(size_t(width) * height * 3);
  if (alpha) image.alpha.assign(size_t(width) * height, 255);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const size_t i = size_t(y) * width + x;
      uint8_t* p = &image.rgb[3 * i];
      if (y < height / 3) {
        p[0] = uint8_t(x + y), p[1] = uint8_t(x + (x % 7 == 6 ? 20 : 0)), p[2] = uint8_t(2 * y);
        if (x % 11 == 10) p[0] = uint8_t(x * 37), p[1] = uint8_t(y * 91);
      } else if (y < height / 2) {
        p[0] = p[1] = p[2] = 77;
      } else {
        p[0] = uint8_t(100 * (i % 3)), p[1] = 50, p[2] = uint8_t(i % 3);
        if (alpha) image.alpha[i] = uint8_t(60 * (i % 3));
      }
    }
  return image;
}

TEST(QOIReader, DecodesWhatTheEncoderWrote) {
  struct Case {
    int width, height;
    bool alpha;
  };
  for (const Case& c : {Case{1, 1, false}, Case{1, 9, true}, Case{37, 23, false},
                        Case{300, 200, true}, Case{130, 70, false}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << (c.alpha ? " RGBA" : " RGB"));
    const RgbImage source = Picture(c.width, c.height, c.alpha);
    std::map<std::string, int> used;
    TQOIGraphic picture;
    test_support::Load(picture, Encode(source, used));
    EXPECT_EQ(picture.GetPixelFormat(), c.alpha ? PixelFormat::Bits32 : PixelFormat::Bits24);
    EXPECT_EQ(picture.Transparent(), c.alpha);
    EXPECT_TRUE(test_support::DecodedMatches(picture, source));
    if (c.width * c.height >= 1000) {
      for (const char* op : {"rgb", "index", "diff", "luma", "run"}) EXPECT_GT(used[op], 0) << op;
      EXPECT_EQ(used["rgba"] > 0, c.alpha);
    }
  }
}

// Pixel (x, y) as blue, green, red, alpha.
std::array<uint8_t, 4> Bgra(const Bitmap& bitmap, int x) {
  const uint8_t* p = bitmap.ScanLine(0) + 4 * x;
  return {p[0], p[1], p[2], p[3]};
}

TEST(QOIReader, OperationsStartFromOpaqueBlackAndAnEmptyIndex) {
  struct Case {
    const char* what;
    Bytes ops;
    std::vector<std::array<uint8_t, 4>> pixels;  // blue, green, red, alpha
  };
  const Case cases[] = {
      {"a run repeats opaque black", {0xC1}, {{0, 0, 0, 255}, {0, 0, 0, 255}}},
      {"an index not yet filled is transparent black", {0x05, 0x00}, {{0, 0, 0, 0}, {0, 0, 0, 0}}},
      {"differences wrap round", {0x40, 0x7F}, {{254, 254, 254, 255}, {255, 255, 255, 255}}},
      {"luma: green -32, red and blue relative to it", {0x80, 0x0F, 0xFE, 1, 2, 3},
       {{0xE7, 0xE0, 0xD8, 255}, {3, 2, 1, 255}}},
      {"rgba then an index back to it", {0xFF, 9, 8, 7, 6, 0xFE, 1, 1, 1, uint8_t((9 * 3 + 8 * 5 + 7 * 7 + 6 * 11) % 64)},
       {{7, 8, 9, 6}, {1, 1, 1, 6}, {7, 8, 9, 6}}},
  };
  for (const Case& c : cases) {
    TQOIGraphic picture;
    test_support::Load(picture, File(Header(uint32_t(c.pixels.size()), 1, 4), c.ops));
    for (size_t x = 0; x < c.pixels.size(); ++x)
      EXPECT_EQ(Bgra(picture, int(x)), c.pixels[x]) << c.what << ", pixel " << x;
  }
}

TEST(QOIReader, DamagedFilesFailWithClearMessages) {
  const Bytes good = File(Header(2, 1, 3), {0xFE, 1, 2, 3, 0xC0});
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  };
  const Case cases[] = {
      {"empty", {}, "QOI: not a QOI file"},
      {"other magic", File({'q', 'o', 'i', 'x', 0, 0, 0, 1, 0, 0, 0, 1, 3, 0}, {0xC0}), "QOI: not a QOI file"},
      {"header cut short", Bytes(good.begin(), good.begin() + 13), "QOI: not a QOI file"},
      {"two channels", File(Header(1, 1, 2), {0xC0}), "QOI: a picture has 3 or 4 channels"},
      {"no width", File(Header(0, 1, 3), {0xC0}), "QOI: invalid image size"},
      {"no height", File(Header(1, 0, 3), {0xC0}), "QOI: invalid image size"},
      {"height past 2^31", File(Header(1, 0x80000000u, 3), {0xC0}), "QOI: invalid image size"},
      {"operations end early", File(Header(9, 1, 3), {0xFE, 1, 2}), "QOI: the file ends before its last pixel"},
      {"runs too short for the picture", File(Header(125, 1, 3), {0xFD, 0xFD}),
       "QOI: the file ends before its last pixel"},
      // 4 GB of pixels from a few bytes fail before any memory is taken.
      {"bomb", File(Header(65536, 65536, 4), {0xFD, 0xFD}), "QOI: the file ends before its last pixel"},
      {"end marker cut short", Bytes(good.begin(), good.end() - 1),
       "QOI: the end marker does not follow the last pixel"},
      {"operations past the last pixel", File(Header(1, 1, 3), {0xC0, 0xC0}),
       "QOI: the end marker does not follow the last pixel"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(test_support::LoadError<TQOIGraphic>(c.file), c.message) << c.what;
  EXPECT_EQ(test_support::LoadError<TQOIGraphic>(good), "no error");
}

}  // namespace
}  // namespace pictures
