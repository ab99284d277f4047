#include "support/dng_file.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace test_support {

namespace {

enum Type : uint16_t {
  kByte = 1,
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kSRational = 10
};

struct Entry {
  uint16_t tag;
  Type type;
  std::vector<int64_t> values;  // rationals as numerator, denominator pairs
};

void Put(std::vector<uint8_t>& out, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + size_t(i)] = uint8_t(value >> (8 * i));
}

int TypeBytes(Type type) {
  switch (type) {
    case kShort: return 2;
    case kLong:
    case kRational:
    case kSRational: return 4;  // a rational is two of these
    default: return 1;
  }
}

std::vector<int64_t> Text(const std::string& text) {
  std::vector<int64_t> chars(text.begin(), text.end());
  chars.push_back(0);
  return chars;
}

}  // namespace

uint16_t DngSample(const DngPicture& picture, int x, int y, int colour) {
  const double u = double(x) / picture.width, v = double(y) / picture.height;
  const double level = colour == 0   ? 0.15 + 0.6 * u
                       : colour == 1 ? 0.2 + 0.5 * v + 0.1 * std::sin(12 * u)
                                     : 0.7 - 0.5 * u * v;
  return uint16_t(picture.black + std::lround(level * (picture.white - picture.black)));
}

std::vector<uint8_t> MakeDng(const DngPicture& p) {
  std::vector<uint8_t> out = {'I', 'I', 42, 0, 0, 0, 0, 0};
  const uint32_t stripOffset = uint32_t(out.size());
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const uint16_t sample = DngSample(p, x, y, p.pattern[size_t((y % 2) * 2 + x % 2)]);
      out.push_back(uint8_t(sample));
      out.push_back(uint8_t(sample >> 8));
    }
  const int64_t w = p.width, h = p.height;
  // The camera sees through sRGB's primaries: its matrix from XYZ is sRGB's, in 1/10000.
  const std::vector<int64_t> xyzToCamera = {32406, 10000, -15372, 10000, -4986, 10000,
                                            -9689, 10000, 18758,  10000, 415,   10000,
                                            557,   10000, -2040,  10000, 10570, 10000};
  const std::vector<Entry> entries = {
      {254, kLong, {0}},                                     // the main picture
      {256, kLong, {w}},                                     // ImageWidth
      {257, kLong, {h}},                                     // ImageLength
      {258, kShort, {16}},                                   // BitsPerSample
      {259, kShort, {1}},                                    // no compression
      {262, kShort, {32803}},                                // colour filter array
      {271, kAscii, Text("Test")},                           // Make
      {272, kAscii, Text("Test camera")},                    // Model
      {273, kLong, {stripOffset}},                           // StripOffsets
      {274, kShort, {p.orientation}},                        // Orientation
      {277, kShort, {1}},                                    // SamplesPerPixel
      {278, kLong, {h}},                                     // RowsPerStrip
      {279, kLong, {w * h * 2}},                             // StripByteCounts
      {284, kShort, {1}},                                    // PlanarConfiguration
      {33421, kShort, {2, 2}},                               // CFARepeatPatternDim
      {33422, kByte, {p.pattern.begin(), p.pattern.end()}},  // CFAPattern
      {50706, kByte, {1, 4, 0, 0}},                          // DNGVersion
      {50708, kAscii, Text("Test camera")},                  // UniqueCameraModel
      {50714, kShort, {p.black}},                            // BlackLevel
      {50717, kShort, {p.white}},                            // WhiteLevel
      {50721, kSRational, xyzToCamera},                      // ColorMatrix1
      {50728, kRational, {1, 2, 1, 1, 7, 10}},               // AsShotNeutral
      {50778, kShort, {21}},                                 // CalibrationIlluminant1: D65
  };
  if (out.size() % 2) out.push_back(0);
  const size_t ifd = out.size();
  Put(out, 4, ifd, 4);
  out.resize(ifd + 2 + 12 * entries.size() + 4, 0);
  Put(out, ifd, entries.size(), 2);
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const int size = TypeBytes(e.type);
    const size_t count =
        e.type == kRational || e.type == kSRational ? e.values.size() / 2 : e.values.size();
    const size_t at = ifd + 2 + 12 * i;
    Put(out, at, e.tag, 2);
    Put(out, at + 2, e.type, 2);
    Put(out, at + 4, count, 4);
    size_t field = at + 8;
    if (size_t(size) * e.values.size() > 4) {  // the values follow the directory
      Put(out, field, out.size(), 4);
      field = out.size();
      out.resize(out.size() + size_t(size) * e.values.size(), 0);
    }
    for (size_t k = 0; k < e.values.size(); ++k)
      Put(out, field + k * size_t(size), uint64_t(e.values[k]), size);
  }
  return out;
}

}  // namespace test_support
