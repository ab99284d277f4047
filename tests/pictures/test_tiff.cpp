#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/formats/tiff.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "support/byte_builders.h"
#include "support/loading.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using Values = std::vector<uint32_t>;
using test_support::PackBits;
using test_support::RgbImage;

enum : uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

enum : uint16_t {
  kWidth = 256,
  kLength = 257,
  kBits = 258,
  kCompression = 259,
  kPhotometric = 262,
  kFillOrder = 266,
  kStripOffsets = 273,
  kSamples = 277,
  kRowsPerStrip = 278,
  kByteCounts = 279,
  kPlanar = 284,
  kPredictor = 317,
  kColorMap = 320,
  kExtraSamples = 338,
};

// Builds a TIFF file: the 8-byte header, the strips, the value lists too long for their
// entry's 4-byte value field, and last the directory. StripOffsets and StripByteCounts are
// made from the strips unless the test sets them itself.
class TiffFile {
 public:
  explicit TiffFile(bool motorola = false) : motorola_(motorola) {}

  TiffFile& Set(uint16_t tag, uint16_t type, Values values) {
    Remove(tag);
    entries_.push_back({tag, type, std::move(values)});
    return *this;
  }
  // An entry whose value field is given as it stands: an offset chosen by the test.
  TiffFile& Raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
    Remove(tag);
    entries_.push_back({tag, type, {}, count, field});
    return *this;
  }
  TiffFile& Remove(uint16_t tag) {
    std::erase_if(entries_, [&](const Entry& e) { return e.tag == tag; });
    return *this;
  }
  TiffFile& Strips(std::vector<Bytes> strips, uint16_t type = kLong) {
    strips_ = std::move(strips);
    stripType_ = type;
    return *this;
  }
  TiffFile& WithoutByteCounts() {
    byteCounts_ = false;
    return *this;
  }
  // Writes the directory in the order the tags were set instead of sorted.
  TiffFile& Unsorted() {
    sorted_ = false;
    return *this;
  }
  // The first word of the header, for files that are neither "II" nor "MM".
  TiffFile& OrderWord(uint8_t a, uint8_t b) {
    order_ = {a, b};
    return *this;
  }

  Bytes Build() const {
    Bytes out(8, 0);
    out[0] = order_[0] ? order_[0] : motorola_ ? 'M' : 'I';
    out[1] = order_[1] ? order_[1] : motorola_ ? 'M' : 'I';
    Put(out, 2, 42, 2);
    Values offsets, counts;
    for (const Bytes& strip : strips_) {
      offsets.push_back(uint32_t(out.size()));
      counts.push_back(uint32_t(strip.size()));
      out.insert(out.end(), strip.begin(), strip.end());
    }
    std::vector<Entry> entries = entries_;
    auto has = [&](uint16_t tag) {
      return std::any_of(entries.begin(), entries.end(), [&](auto& e) { return e.tag == tag; });
    };
    if (!strips_.empty() && !has(kStripOffsets))
      entries.push_back({kStripOffsets, stripType_, offsets});
    if (!strips_.empty() && byteCounts_ && !has(kByteCounts))
      entries.push_back({kByteCounts, stripType_, counts});
    if (sorted_)
      std::stable_sort(entries.begin(), entries.end(),
                       [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    std::vector<Bytes> fields;
    for (const Entry& e : entries) {
      Bytes data = Encode(e);
      if (e.rawCount) {
        data.assign(4, 0);
        Put(data, 0, e.rawField, 4);
      }
      if (data.size() > 4) {
        if (out.size() % 2) out.push_back(0);
        Bytes field(4, 0);
        Put(field, 0, uint32_t(out.size()), 4);
        out.insert(out.end(), data.begin(), data.end());
        data = field;
      }
      data.resize(4, 0);
      fields.push_back(data);
    }
    if (out.size() % 2) out.push_back(0);
    Put(out, 4, uint32_t(out.size()), 4);
    Bytes ifd(2 + 12 * entries.size() + 4, 0);
    Put(ifd, 0, uint32_t(entries.size()), 2);
    for (size_t i = 0; i < entries.size(); ++i) {
      const size_t at = 2 + 12 * i;
      Put(ifd, at, entries[i].tag, 2);
      Put(ifd, at + 2, entries[i].type, 2);
      Put(ifd, at + 4,
          entries[i].rawCount ? entries[i].rawCount : uint32_t(entries[i].values.size()), 4);
      std::copy(fields[i].begin(), fields[i].end(), ifd.begin() + long(at) + 8);
    }
    out.insert(out.end(), ifd.begin(), ifd.end());
    return out;
  }

  bool Motorola() const { return motorola_; }

  void Put(Bytes& out, size_t at, uint32_t value, uint32_t size) const {
    for (uint32_t i = 0; i < size; ++i) {
      const uint32_t shift = motorola_ ? 8 * (size - 1 - i) : 8 * i;
      out[at + i] = uint8_t(value >> shift);
    }
  }

 private:
  struct Entry {
    uint16_t tag;
    uint16_t type;
    Values values;
    uint32_t rawCount = 0;  // not 0: the count and value field as given
    uint32_t rawField = 0;
  };

  Bytes Encode(const Entry& e) const {
    const uint32_t size = e.type == kShort ? 2 : e.type == kLong ? 4 : e.type == kRational ? 8 : 1;
    Bytes data(size * e.values.size(), 0);
    for (size_t i = 0; i < e.values.size(); ++i)
      Put(data, i * size, e.values[i], std::min(size, 4u));
    return data;
  }

  bool motorola_;
  std::array<uint8_t, 2> order_{};
  std::vector<Entry> entries_;
  std::vector<Bytes> strips_;
  uint16_t stripType_ = kLong;
  bool byteCounts_ = true;
  bool sorted_ = true;
};

// Packs samples of `bits` bits: whole-byte samples in the file's byte order, others as a
// bit string, most significant bit first. A row ends on a byte boundary.
Bytes PackRow(const Values& samples, int bits, bool motorola) {
  Bytes row;
  if (bits % 8 == 0) {
    const int size = bits / 8;
    for (uint32_t s : samples)
      for (int i = 0; i < size; ++i)
        row.push_back(uint8_t(s >> (motorola ? 8 * (size - 1 - i) : 8 * i)));
    return row;
  }
  row.assign((samples.size() * bits + 7) / 8, 0);
  for (size_t i = 0; i < samples.size(); ++i)
    for (int k = 0; k < bits; ++k) {
      const size_t bit = i * bits + size_t(k);
      if ((samples[i] >> (bits - 1 - k)) & 1) row[bit / 8] |= uint8_t(0x80 >> (bit % 8));
    }
  return row;
}

// Sample c of pixel (x, y) for a picture of `bits` bits a sample: every value differs
// from its neighbours, and 16-bit values differ in both bytes.
uint32_t Sample(int x, int y, int c, int bits) {
  const uint32_t v = uint32_t(x * 37 + y * 101 + c * 59 + x * y * 7);
  if (bits == 16) return (v * 251 + 0x1357) & 0xFFFF;
  return bits >= 32 ? v : v & ((1u << bits) - 1);
}

// The samples of a picture, row by row.
std::vector<Values> Samples(int width, int height, int samples, int bits) {
  std::vector<Values> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < samples; ++c) rows[size_t(y)].push_back(Sample(x, y, c, bits));
  return rows;
}

Bytes Pack(const std::vector<Values>& rows, int bits, bool motorola) {
  Bytes data;
  for (const Values& row : rows) {
    Bytes packed = PackRow(row, bits, motorola);
    data.insert(data.end(), packed.begin(), packed.end());
  }
  return data;
}

// A colour map whose 16-bit values differ in both bytes: red, then green, then blue.
Values ColourMap(int bits) {
  const uint32_t n = 1u << bits;
  Values map(3 * n);
  for (uint32_t i = 0; i < n; ++i) {
    map[i] = (i * 997 + 13) & 0xFFFF;
    map[n + i] = (i * 313 + 7000) & 0xFFFF;
    map[2 * n + i] = (65535 - i * 211) & 0xFFFF;
  }
  return map;
}

struct Layout {
  int samples;
  int bits;
  int photometric;
  Values extra;  // the ExtraSamples values; none means no tag
};

// A one-strip file of the layout, with the tags every baseline reader expects.
TiffFile Baseline(int width, int height, const Layout& layout, const std::vector<Values>& rows,
                  bool motorola) {
  TiffFile file(motorola);
  file.Set(kWidth, kShort, {uint32_t(width)})
      .Set(kLength, kShort, {uint32_t(height)})
      .Set(kBits, kShort, Values(size_t(layout.samples), uint32_t(layout.bits)))
      .Set(kCompression, kShort, {1})
      .Set(kPhotometric, kShort, {uint32_t(layout.photometric)})
      .Set(kSamples, kShort, {uint32_t(layout.samples)})
      .Set(kRowsPerStrip, kShort, {uint32_t(height)});
  if (!layout.extra.empty()) file.Set(kExtraSamples, kShort, layout.extra);
  if (layout.photometric == 3 && layout.bits <= 16)
    file.Set(kColorMap, kShort, ColourMap(layout.bits));
  file.Strips({Pack(rows, layout.bits, motorola)});
  return file;
}

void Load(TTIFFGraphic& picture, const Bytes& file, size_t at = 0) {
  Bytes bytes(at, 0xEE);
  bytes.insert(bytes.end(), file.begin(), file.end());
  MemoryStream stream(bytes);
  stream.Seek(int64_t(at));
  picture.LoadFromStream(stream);
}

std::string LoadError(const Bytes& file) { return test_support::LoadError<TTIFFGraphic>(file); }

struct Rgba {
  int r, g, b, a = -1;  // a < 0: the picture has no alpha
};

Rgba Grey(int v) { return {v, v, v}; }

// The picture that `expect` gives for each pixel's samples.
RgbImage Expected(const std::vector<Values>& rows, int width, int samples,
                  const std::function<Rgba(const uint32_t*)>& expect) {
  RgbImage image;
  image.width = width;
  image.height = int(rows.size());
  for (const Values& row : rows)
    for (int x = 0; x < width; ++x) {
      const Rgba p = expect(&row[size_t(x) * samples]);
      image.rgb.insert(image.rgb.end(), {uint8_t(p.r), uint8_t(p.g), uint8_t(p.b)});
      if (p.a >= 0) image.alpha.push_back(uint8_t(p.a));
    }
  return image;
}

void ExpectPicture(const TTIFFGraphic& picture, const RgbImage& expected) {
  EXPECT_TRUE(test_support::BitmapMatches(picture, expected));
  if (!expected.alpha.empty()) {
    EXPECT_TRUE(test_support::AlphaMatches(picture, expected));
  }
}

// The colour map entry of an index, as the 8-bit colour that a Bitmap shows.
Rgba MapColour(int bits, uint32_t index) {
  const Values map = ColourMap(bits);
  const uint32_t n = 1u << bits;
  return {int(map[index] >> 8), int(map[n + index] >> 8), int(map[2 * n + index] >> 8)};
}

int Clamp(int v) { return std::clamp(v, 0, 255); }

TEST(TIFFReader, LayoutsGiveTheirPixelFormatAndColoursInBothByteOrders) {
  struct Case {
    const char* name;
    Layout layout;
    PixelFormat format;
    std::function<Rgba(const uint32_t*)> expect;
  };
  const Case cases[] = {
      {"bilevel, white is zero",
       {1, 1, 0, {}},
       PixelFormat::Bits1,
       [](const uint32_t* s) { return Grey(s[0] ? 0 : 255); }},
      {"bilevel, black is zero",
       {1, 1, 1, {}},
       PixelFormat::Bits1,
       [](const uint32_t* s) { return Grey(s[0] ? 255 : 0); }},
      {"2-bit grey",
       {1, 2, 1, {}},
       PixelFormat::Bits8,
       [](const uint32_t* s) { return Grey(int(s[0]) * 85); }},
      {"4-bit grey, white is zero",
       {1, 4, 0, {}},
       PixelFormat::Bits4,
       [](const uint32_t* s) { return Grey(255 - int(s[0]) * 17); }},
      {"4-bit grey",
       {1, 4, 1, {}},
       PixelFormat::Bits4,
       [](const uint32_t* s) { return Grey(int(s[0]) * 17); }},
      {"8-bit grey, white is zero",
       {1, 8, 0, {}},
       PixelFormat::Bits8,
       [](const uint32_t* s) { return Grey(255 - int(s[0])); }},
      {"8-bit grey",
       {1, 8, 1, {}},
       PixelFormat::Bits8,
       [](const uint32_t* s) { return Grey(int(s[0])); }},
      {"16-bit grey",
       {1, 16, 1, {}},
       PixelFormat::Bits8,
       [](const uint32_t* s) { return Grey(int(s[0] >> 8)); }},
      {"1-bit palette",
       {1, 1, 3, {}},
       PixelFormat::Bits1,
       [](const uint32_t* s) { return MapColour(1, s[0]); }},
      {"2-bit palette",
       {1, 2, 3, {}},
       PixelFormat::Bits8,
       [](const uint32_t* s) { return MapColour(2, s[0]); }},
      {"4-bit palette",
       {1, 4, 3, {}},
       PixelFormat::Bits4,
       [](const uint32_t* s) { return MapColour(4, s[0]); }},
      {"8-bit palette",
       {1, 8, 3, {}},
       PixelFormat::Bits8,
       [](const uint32_t* s) { return MapColour(8, s[0]); }},
      {"16-bit palette",
       {1, 16, 3, {}},
       PixelFormat::Bits24,
       [](const uint32_t* s) { return MapColour(16, s[0]); }},
      {"grey and unassociated alpha",
       {2, 8, 1, {2}},
       PixelFormat::Bits8,
       [](const uint32_t* s) { return Grey(int(s[0])); }},
      {"16-bit grey and alpha",
       {2, 16, 1, {2}},
       PixelFormat::Bits8,
       [](const uint32_t* s) { return Grey(int(s[0] >> 8)); }},
      {"palette and alpha",
       {2, 8, 3, {2}},
       PixelFormat::Bits8,
       [](const uint32_t* s) { return MapColour(8, s[0]); }},
      {"RGB",
       {3, 8, 2, {}},
       PixelFormat::Bits24,
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2])};
       }},
      {"16-bit RGB",
       {3, 16, 2, {}},
       PixelFormat::Bits24,
       [](const uint32_t* s) {
         return Rgba{int(s[0] >> 8), int(s[1] >> 8), int(s[2] >> 8)};
       }},
      {"RGB and four samples without ExtraSamples",
       {4, 8, 2, {}},
       PixelFormat::Bits32,
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2]), int(s[3])};
       }},
      {"RGB and unspecified extra sample",
       {4, 8, 2, {0}},
       PixelFormat::Bits32,
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2]), int(s[3])};
       }},
      {"RGB and associated alpha",
       {4, 8, 2, {1}},
       PixelFormat::Bits32,
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2]), int(s[3])};
       }},
      {"RGB and unassociated alpha",
       {4, 8, 2, {2}},
       PixelFormat::Bits32,
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2]), int(s[3])};
       }},
      {"16-bit RGBA",
       {4, 16, 2, {2}},
       PixelFormat::Bits32,
       [](const uint32_t* s) {
         return Rgba{int(s[0] >> 8), int(s[1] >> 8), int(s[2] >> 8), int(s[3] >> 8)};
       }},
      {"RGB and two extra samples",
       {5, 8, 2, {2, 0}},
       PixelFormat::Bits32,
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2]), int(s[3])};
       }},
      {"16-bit RGB and two extra samples",
       {5, 16, 2, {2, 0}},
       PixelFormat::Bits32,
       [](const uint32_t* s) {
         return Rgba{int(s[0] >> 8), int(s[1] >> 8), int(s[2] >> 8), int(s[3] >> 8)};
       }},
      {"12-bit RGB and two extra samples",
       {5, 12, 2, {2, 0}},
       PixelFormat::Bits32,
       [](const uint32_t* s) {
         const auto scale = [](uint32_t v) { return (int(v) * 255 + 2047) / 4095; };
         return Rgba{scale(s[0]), scale(s[1]), scale(s[2]), scale(s[3])};
       }},
      {"CMYK",
       {4, 8, 5, {}},
       PixelFormat::Bits24,
       [](const uint32_t* s) {
         // (255 - ink) * (255 - K) / 255, rounded to the nearest.
         auto channel = [&](uint32_t ink) {
           return Clamp(255 - int(ink + s[3]) + (int(ink * s[3]) + 127) / 255);
         };
         return Rgba{channel(s[0]), channel(s[1]), channel(s[2])};
       }},
      {"12-bit grey, scaled from its full range",
       {1, 12, 1, {}},
       PixelFormat::Bits8,
       [](const uint32_t* s) { return Grey((int(s[0]) * 255 + 2047) / 4095); }},
      {"grey and two more samples, the first taken as alpha",
       {3, 8, 1, {}},
       PixelFormat::Bits32,
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[0]), int(s[0]), int(s[1])};
       }},
      {"palette and three more samples",
       {4, 8, 3, {}},
       PixelFormat::Bits8,
       [](const uint32_t* s) { return MapColour(8, s[0]); }},
      {"five RGB samples without ExtraSamples",
       {5, 8, 2, {}},
       PixelFormat::Bits32,
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2]), int(s[3])};
       }},
      {"32-bit samples, scaled from their full range",
       {3, 32, 2, {}},
       PixelFormat::Bits24,
       [](const uint32_t*) { return Grey(0); }},
  };
  for (const Case& c : cases) {
    for (bool motorola : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (motorola ? ", Motorola" : ", Intel"));
      const int width = 13, height = 5;
      const auto rows = Samples(width, height, c.layout.samples, c.layout.bits);
      TTIFFGraphic picture;
      Load(picture, Baseline(width, height, c.layout, rows, motorola).Build());
      EXPECT_EQ(picture.GetPixelFormat(), c.format);
      ExpectPicture(picture, Expected(rows, width, c.layout.samples, c.expect));
    }
  }
}

TEST(TIFFReader, CIELabSamplesAreConvertedInEightAndSixteenBits) {
  // L = 255 with neutral a and b is white; L = 0 is black. a and b are signed.
  for (int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    const uint32_t top = bits == 8 ? 255 : 0xFFFF;
    const std::vector<Values> rows = {{top, 0, 0, 0, 0, 0}};
    TTIFFGraphic picture;
    Load(picture, Baseline(2, 1, {3, bits, 8, {}}, rows, false).Build());
    EXPECT_EQ(picture.GetPixelFormat(), PixelFormat::Bits24);
    const uint8_t* p = picture.ScanLine(0);
    EXPECT_EQ(Bytes(p, p + 6), (Bytes{255, 255, 255, 0, 0, 0}));
  }
}

TEST(TIFFReader, AColourMapOfEightBitValuesIsTakenAsItStands) {
  const auto rows = Samples(6, 2, 1, 8);
  Values map(768);
  for (uint32_t i = 0; i < 256; ++i) map[i] = i, map[256 + i] = 255 - i, map[512 + i] = i / 2;
  TTIFFGraphic picture;
  Load(picture, Baseline(6, 2, {1, 8, 3, {}}, rows, false).Set(kColorMap, kShort, map).Build());
  ExpectPicture(picture, Expected(rows, 6, 1, [](const uint32_t* s) {
                  return Rgba{int(s[0]), 255 - int(s[0]), int(s[0]) / 2};
                }));
}

TEST(TIFFReader, AnUnknownByteOrderWordIsReadAsIntel) {
  const auto rows = Samples(6, 3, 1, 16);
  TiffFile file = Baseline(6, 3, {1, 16, 1, {}}, rows, false);
  TTIFFGraphic picture;
  Load(picture, file.OrderWord('X', 'Y').Build());
  ExpectPicture(picture,
                Expected(rows, 6, 1, [](const uint32_t* s) { return Grey(int(s[0] >> 8)); }));
}

// TIFF LZW that writes only literal codes: a clear code, one 9-bit code per byte, the
// end-of-information code. Valid for up to 250 bytes, while codes stay 9 bits wide.
Bytes LzwLiterals(const Bytes& data) {
  Bytes out;
  uint32_t buffer = 0;
  int count = 0;
  auto put = [&](uint32_t code) {
    buffer = buffer << 9 | code;
    count += 9;
    while (count >= 8) {
      out.push_back(uint8_t(buffer >> (count - 8)));
      count -= 8;
    }
  };
  put(256);
  for (uint8_t b : data) put(b);
  put(257);
  if (count) out.push_back(uint8_t(buffer << (8 - count)));
  return out;
}

// The bytes with the order of the bits in each reversed, as FillOrder 2 stores them.
Bytes ReverseBits(Bytes data) {
  for (uint8_t& b : data) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = uint8_t(r << 1 | (b >> i & 1));
    b = r;
  }
  return data;
}

TEST(TIFFReader, StripLayouts) {
  const int width = 7, height = 5;
  const auto rows = Samples(width, height, 3, 8);
  auto rgb = [](const uint32_t* s) { return Rgba{int(s[0]), int(s[1]), int(s[2])}; };
  // The rows packed into strips of `per` rows each.
  auto strips = [&](int per) {
    std::vector<Bytes> list;
    for (int y = 0; y < height; y += per) {
      std::vector<Values> part(rows.begin() + y, rows.begin() + std::min(height, y + per));
      list.push_back(Pack(part, 8, false));
    }
    return list;
  };
  struct Case {
    const char* name;
    std::function<void(TiffFile&)> change;
  };
  const Case cases[] = {
      {"one strip whose RowsPerStrip is smaller than the height",
       [](TiffFile& f) { f.Set(kRowsPerStrip, kShort, {2}); }},
      {"one strip and RowsPerStrip of 2^32 - 1",
       [](TiffFile& f) { f.Set(kRowsPerStrip, kLong, {0xFFFFFFFF}); }},
      {"strips of two rows, LONG tables",
       [&](TiffFile& f) { f.Set(kRowsPerStrip, kShort, {2}).Strips(strips(2), kLong); }},
      {"strips of two rows, SHORT tables",
       [&](TiffFile& f) { f.Set(kRowsPerStrip, kLong, {2}).Strips(strips(2), kShort); }},
      {"two SHORT strip offsets held in the value field",
       [&](TiffFile& f) { f.Set(kRowsPerStrip, kShort, {3}).Strips(strips(3), kShort); }},
      {"several strips without RowsPerStrip share the rows",
       [&](TiffFile& f) { f.Remove(kRowsPerStrip).Strips(strips(1), kLong); }},
      {"RowsPerStrip 0 means all rows", [](TiffFile& f) { f.Set(kRowsPerStrip, kShort, {0}); }},
      {"one strip without StripByteCounts", [](TiffFile& f) { f.WithoutByteCounts(); }},
      {"a directory out of tag order", [](TiffFile& f) { f.Unsorted().Set(kWidth, kLong, {7}); }},
      {"width and height as LONG",
       [](TiffFile& f) { f.Set(kWidth, kLong, {7}).Set(kLength, kLong, {5}); }},
      {"bits stored least significant first",
       [&](TiffFile& f) {
         f.Set(kFillOrder, kShort, {2}).Strips({ReverseBits(Pack(rows, 8, false))});
       }},
      {"LZW codes stored least significant bit first",
       [&](TiffFile& f) {
         f.Set(kFillOrder, kShort, {2})
             .Set(kCompression, kShort, {5})
             .Strips({ReverseBits(LzwLiterals(Pack(rows, 8, false)))});
       }},
  };
  for (const Case& c : cases) {
    for (bool motorola : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (motorola ? ", Motorola" : ", Intel"));
      TiffFile file = Baseline(width, height, {3, 8, 2, {}}, rows, motorola);
      c.change(file);
      TTIFFGraphic picture;
      Load(picture, file.Build());
      ExpectPicture(picture, Expected(rows, width, 3, rgb));
    }
  }
}

TEST(TIFFReader, OffsetsCountFromWhereTheFileStartsInTheStream) {
  const auto rows = Samples(4, 3, 1, 8);
  TTIFFGraphic picture;
  Load(picture, Baseline(4, 3, {1, 8, 1, {}}, rows, true).Build(), 37);
  ExpectPicture(picture, Expected(rows, 4, 1, [](const uint32_t* s) { return Grey(int(s[0])); }));
}

// Separate planes: each plane's rows in strips of `per` rows, plane after plane.
std::vector<Bytes> PlaneStrips(const std::vector<Values>& rows, int samples, int bits, int per,
                               bool motorola) {
  std::vector<Bytes> list;
  for (int c = 0; c < samples; ++c)
    for (size_t y = 0; y < rows.size(); y += size_t(per)) {
      std::vector<Values> part;
      for (size_t r = y; r < std::min(rows.size(), y + size_t(per)); ++r) {
        Values plane;
        for (size_t i = size_t(c); i < rows[r].size(); i += size_t(samples))
          plane.push_back(rows[r][i]);
        part.push_back(plane);
      }
      list.push_back(Pack(part, bits, motorola));
    }
  return list;
}

TEST(TIFFReader, SeparatePlanesAreInterleaved) {
  struct Case {
    const char* name;
    Layout layout;
    int rowsPerStrip;
    std::function<Rgba(const uint32_t*)> expect;
  };
  const Case cases[] = {
      {"RGB, one strip a plane",
       {3, 8, 2, {}},
       6,
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2])};
       }},
      {"RGB, strips of four rows",
       {3, 8, 2, {}},
       4,
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2])};
       }},
      {"16-bit RGBA",
       {4, 16, 2, {2}},
       5,
       [](const uint32_t* s) {
         return Rgba{int(s[0] >> 8), int(s[1] >> 8), int(s[2] >> 8), int(s[3] >> 8)};
       }},
      {"grey and alpha", {2, 8, 1, {2}}, 3, [](const uint32_t* s) { return Grey(int(s[0])); }},
      {"4-bit grey and alpha",
       {2, 4, 1, {2}},
       3,
       [](const uint32_t* s) { return Grey(int(s[0]) * 17); }},
  };
  for (const Case& c : cases) {
    for (bool motorola : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (motorola ? ", Motorola" : ", Intel"));
      const int width = 9, height = 6;
      const auto rows = Samples(width, height, c.layout.samples, c.layout.bits);
      TiffFile file = Baseline(width, height, c.layout, rows, motorola);
      file.Set(kPlanar, kShort, {2})
          .Set(kRowsPerStrip, kShort, {uint32_t(c.rowsPerStrip)})
          .Strips(PlaneStrips(rows, c.layout.samples, c.layout.bits, c.rowsPerStrip, motorola));
      TTIFFGraphic picture;
      Load(picture, file.Build());
      ExpectPicture(picture, Expected(rows, width, c.layout.samples, c.expect));
    }
  }
}

// Horizontal differencing of each row: every sample minus the same sample of the pixel
// to its left, modulo the sample size.
std::vector<Values> Difference(std::vector<Values> rows, int samples, int bits) {
  const uint32_t mask = bits == 16 ? 0xFFFF : 0xFF;
  for (Values& row : rows)
    for (size_t i = row.size(); i-- > size_t(samples);)
      row[i] = (row[i] - row[i - size_t(samples)]) & mask;
  return rows;
}

TEST(TIFFReader, PredictorTwoRestoresRowsBySamples) {
  struct Case {
    const char* name;
    Layout layout;
    std::function<Rgba(const uint32_t*)> expect;
  };
  const Case cases[] = {
      {"8-bit grey", {1, 8, 1, {}}, [](const uint32_t* s) { return Grey(int(s[0])); }},
      {"grey and alpha", {2, 8, 1, {2}}, [](const uint32_t* s) { return Grey(int(s[0])); }},
      {"RGB",
       {3, 8, 2, {}},
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2])};
       }},
      {"RGBA",
       {4, 8, 2, {2}},
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2]), int(s[3])};
       }},
      {"RGB and two extra samples",
       {5, 8, 2, {2, 0}},
       [](const uint32_t* s) {
         return Rgba{int(s[0]), int(s[1]), int(s[2]), int(s[3])};
       }},
      {"CMYK",
       {4, 8, 5, {}},
       [](const uint32_t* s) {
         auto channel = [&](uint32_t ink) {
           return Clamp(255 - int(ink + s[3]) + (int(ink * s[3]) + 127) / 255);
         };
         return Rgba{channel(s[0]), channel(s[1]), channel(s[2])};
       }},
      {"16-bit grey", {1, 16, 1, {}}, [](const uint32_t* s) { return Grey(int(s[0] >> 8)); }},
      {"16-bit RGB",
       {3, 16, 2, {}},
       [](const uint32_t* s) {
         return Rgba{int(s[0] >> 8), int(s[1] >> 8), int(s[2] >> 8)};
       }},
  };
  for (const Case& c : cases) {
    for (bool motorola : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (motorola ? ", Motorola" : ", Intel"));
      const int width = 11, height = 4;
      const auto rows = Samples(width, height, c.layout.samples, c.layout.bits);
      const auto differenced = Difference(rows, c.layout.samples, c.layout.bits);
      TiffFile file = Baseline(width, height, c.layout, differenced, motorola);
      file.Set(kPredictor, kShort, {2});
      TTIFFGraphic picture;
      Load(picture, file.Build());
      ExpectPicture(picture, Expected(rows, width, c.layout.samples, c.expect));
    }
  }
}

TEST(TIFFReader, SixteenBitPredictionCarriesIntoTheUpperByte) {
  // 0x00F0 then a difference of 0x0020 gives 0x0110: a byte-wise sum would give 0x0010.
  for (bool motorola : {false, true}) {
    SCOPED_TRACE(motorola);
    TiffFile file = Baseline(3, 1, {1, 16, 1, {}}, {{0x00F0, 0x0020, 0x0100}}, motorola);
    file.Set(kPredictor, kShort, {2});
    TTIFFGraphic picture;
    Load(picture, file.Build());
    const uint8_t* p = picture.ScanLine(0);
    EXPECT_EQ(Bytes(p, p + 3), (Bytes{0x00, 0x01, 0x02}));
  }
}

TEST(TIFFReader, CompressedStripsAreExpandedOneStripAtATime) {
  const int width = 10, height = 6;
  auto rows = Samples(width, height, 3, 8);
  for (Values& row : rows) std::fill(row.begin() + 3, row.begin() + 9, 9);  // runs for PackBits
  for (int compression : {5, 32773}) {
    for (int per : {2, 4, 6}) {
      SCOPED_TRACE(testing::Message() << "compression " << compression << ", rows " << per);
      std::vector<Bytes> strips;
      for (int y = 0; y < height; y += per) {
        const std::vector<Values> part(rows.begin() + y, rows.begin() + std::min(height, y + per));
        const Bytes data = Pack(part, 8, false);
        strips.push_back(compression == 5 ? LzwLiterals(data) : PackBits(data));
      }
      TiffFile file = Baseline(width, height, {3, 8, 2, {}}, rows, false);
      file.Set(kCompression, kShort, {uint32_t(compression)})
          .Set(kRowsPerStrip, kShort, {uint32_t(per)})
          .Strips(strips);
      TTIFFGraphic picture;
      Load(picture, file.Build());
      ExpectPicture(picture, Expected(rows, width, 3, [](const uint32_t* s) {
                      return Rgba{int(s[0]), int(s[1]), int(s[2])};
                    }));
    }
  }
}

TEST(TIFFReader, DamagedFilesFailWithTheirMessage) {
  const auto rows = Samples(4, 3, 1, 8);
  auto grey = [&] { return Baseline(4, 3, {1, 8, 1, {}}, rows, false); };
  Bytes wrongVersion = grey().Build();
  wrongVersion[2] = 44;
  Bytes bigHeaderOnly = grey().Build();  // version 43 with a classic header after it
  bigHeaderOnly[2] = 43;
  Bytes cutHeader = grey().Build();
  cutHeader.resize(6);
  Bytes directoryOutside = grey().Build();
  directoryOutside[4] = 0xF0;
  directoryOutside[5] = 0xFF;
  Bytes directoryCut = grey().Build();
  directoryCut.resize(directoryCut.size() - 20);
  // A colour map that starts 100 bytes before the end of the file, which is 1536 too few.
  TiffFile mapCut = grey().Set(kPhotometric, kShort, {3}).Raw(kColorMap, kShort, 768, 0);
  mapCut.Raw(kColorMap, kShort, 768, uint32_t(mapCut.Build().size() - 100));
  // The strip starts eight bytes before the end of the file; it needs twelve.
  TiffFile cutStrip = grey();
  cutStrip.Raw(kStripOffsets, kLong, 1, uint32_t(cutStrip.Build().size() - 8));
  const std::string tooLarge = "The picture needs more than";
  struct Case {
    const char* name;
    Bytes file;
    std::string message;
  };
  const Case cases[] = {
      {"version 44", wrongVersion, "Invalid TIFF file."},
      {"a BigTIFF header that is not one", bigHeaderOnly, "Invalid TIFF file. *"},
      {"width 0", grey().Set(kWidth, kShort, {0}).Build(), "Invalid TIFF file."},
      {"no ImageLength", grey().Remove(kLength).Build(), "Invalid TIFF file."},
      {"no strips", grey().Strips({}).Build(), "Invalid TIFF file."},
      {"palette without colour map", grey().Set(kPhotometric, kShort, {3}).Build(),
       "Invalid TIFF file."},
      {"no Compression tag", grey().Remove(kCompression).Build(),
       "TIFF: Unknown compression scheme"},
      {"a compression no reader knows", grey().Set(kCompression, kShort, {34000}).Build(),
       "TIFF: Unknown compression scheme"},
      {"JPEG compression of data that is no JPEG", grey().Set(kCompression, kShort, {7}).Build(),
       "Invalid TIFF file. *"},
      {"two RGB samples", Baseline(4, 3, {2, 8, 2, {}}, Samples(4, 3, 2, 8), false).Build(),
       "Invalid TIFF file. *"},
      {"16-bit YCbCr", Baseline(4, 3, {3, 16, 6, {}}, Samples(4, 3, 3, 16), false).Build(),
       "Invalid TIFF file. *"},
      {"a Group 4 fax picture of three samples",  // fax rows are one bit a pixel
       grey().Set(kCompression, kShort, {4}).Set(kSamples, kShort, {3}).Build(),
       "Invalid TIFF file."},
      {"a WebP-coded picture of 259 samples",  // WebP strips are 8-bit RGB or RGBA
       grey().Set(kCompression, kShort, {50001}).Set(kSamples, kShort, {259}).Build(),
       "Invalid TIFF file."},
      {"an impossible LZW code",  // the 9-bit code 511 while the table ends at 258
       grey().Set(kCompression, kShort, {5}).Strips({{0xFF, 0x80, 0x00}}).Build(),
       "TIF LZW: invalid opcode."},
      {"a header cut short", cutHeader, "Stream read error"},
      {"a directory outside the file", directoryOutside, "Stream read error"},
      {"a directory cut short", directoryCut, "Stream read error"},
      {"a strip table outside the file",
       grey().Set(kRowsPerStrip, kShort, {1}).Raw(kStripOffsets, kLong, 3, 0x7FFFFFF0).Build(),
       "Stream read error"},
      {"more strips than the file can hold",
       grey().Set(kRowsPerStrip, kShort, {1}).Raw(kStripOffsets, kLong, 0xFFFFFFFF, 8).Build(),
       "Stream read error"},
      {"a colour map outside the file",
       grey().Set(kPhotometric, kShort, {3}).Raw(kColorMap, kShort, 768, 0x7FFFFFF0).Build(),
       "Stream read error"},
      {"a colour map cut short", mapCut.Build(), "Stream read error"},
      {"a width past the Bitmap's range", grey().Set(kWidth, kLong, {0x80000000}).Build(),
       tooLarge},
      {"a picture past the memory limit", grey().Set(kWidth, kLong, {0x7FFFFFFF}).Build(),
       tooLarge},
      {"a row past the memory limit",
       grey()
           .Set(kBits, kShort, {64})
           .Set(kSamples, kShort, {255})
           .Set(kWidth, kLong, {0x100000})
           .Build(),
       tooLarge},
      {"an uncompressed strip cut short", cutStrip.Build(), "Stream read error"},
      {"an uncompressed strip past the end of the file",
       grey().Set(kStripOffsets, kLong, {0x7FFFFFF0}).Build(), "Stream read error"},
      {"a small file that declares a large picture",
       grey().Set(kWidth, kLong, {20000}).Set(kLength, kLong, {20000}).Build(),
       "Stream read error"},
      {"LZW data that cannot fill its picture",
       grey()
           .Set(kCompression, kShort, {5})
           .Set(kWidth, kLong, {30000})
           .Set(kLength, kLong, {30000})
           .Build(),
       "Stream read error"},
      {"Deflate data that cannot fill its picture",
       grey()
           .Set(kCompression, kShort, {8})
           .Set(kWidth, kLong, {30000})
           .Set(kLength, kLong, {30000})
           .Build(),
       "Stream read error"},
      {"Huffman-coded JPEG data that cannot fill its picture",
       grey()
           .Set(kCompression, kShort, {7})
           .Set(kWidth, kLong, {30000})
           .Set(kLength, kLong, {30000})
           .Build(),
       "Stream read error"},
      {"a Deflate picture past the memory limit",
       grey()
           .Set(kCompression, kShort, {8})
           .Set(kWidth, kLong, {60000})
           .Set(kLength, kLong, {60000})
           .Build(),
       tooLarge},
      {"no samples", grey().Set(kSamples, kShort, {0}).Build(), "Invalid TIFF file."},
      {"0 bits a sample", grey().Set(kBits, kShort, {0}).Build(), "Invalid TIFF file."},
      {"65 bits a sample", grey().Set(kBits, kShort, {65}).Build(), "Invalid TIFF file."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string message = LoadError(c.file);
    // A message ending in "*" may be followed by libtiff's own text.
    if (c.message == tooLarge || c.message.back() == '*')
      EXPECT_EQ(message.substr(0, c.message.size() - (c.message.back() == '*')),
                c.message.substr(0, c.message.size() - (c.message.back() == '*')))
          << message;
    else
      EXPECT_EQ(message, c.message);
  }
}

TEST(TIFFReader, RowsThatACompressedStripDoesNotFillAreBlack) {
  // Two PackBits strips of two rows; the second one damaged. Its missing rows are black,
  // never the first strip's rows again.
  const int width = 4, height = 4;
  const auto rows = Samples(width, height, 1, 8);
  const Bytes first = PackBits(Pack({rows[0], rows[1]}, 8, false));
  const Bytes second = PackBits(Pack({rows[2], rows[3]}, 8, false));
  const Bytes secondRowOnly = PackBits(Pack({rows[2]}, 8, false));
  const Values black(size_t(width), 0);
  struct Case {
    const char* name;
    std::vector<Bytes> strips;
    uint32_t secondOffset;  // 0: where the strip was written
    std::vector<Values> expected;
  };
  const Case cases[] = {
      {"decodes one row of two", {first, secondRowOnly}, 0, {rows[0], rows[1], rows[2], black}},
      {"is empty", {first, {}}, 0, {rows[0], rows[1], black, black}},
      {"starts past the end of the file",
       {first, second},
       0x7FFFFFF0,
       {rows[0], rows[1], black, black}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiffFile file = Baseline(width, height, {1, 8, 1, {}}, rows, false);
    file.Set(kCompression, kShort, {32773}).Set(kRowsPerStrip, kShort, {2}).Strips(c.strips);
    if (c.secondOffset) file.Set(kStripOffsets, kLong, {8, c.secondOffset});
    TTIFFGraphic picture;
    Load(picture, file.Build());
    ExpectPicture(
        picture, Expected(c.expected, width, 1, [](const uint32_t* s) { return Grey(int(s[0])); }));
  }
  // A byte count past the end of the file lets the strip run to the end.
  TiffFile file = Baseline(width, height, {1, 8, 1, {}}, rows, false);
  file.Set(kCompression, kShort, {32773})
      .Strips({PackBits(Pack(rows, 8, false))})
      .Set(kByteCounts, kLong, {0x7FFFFFF0});
  TTIFFGraphic picture;
  Load(picture, file.Build());
  ExpectPicture(picture,
                Expected(rows, width, 1, [](const uint32_t* s) { return Grey(int(s[0])); }));
}

TEST(TIFFReader, FilesFoundByFuzzingFailCleanly) {
  const struct {
    const char* file;
    const char* message;
  } cases[] = {
      {"fuzz-samples-low-byte-zero.tif", "Invalid TIFF file."},
      {"fuzz-huge-odd-sample-width.tif", "Invalid TIFF file."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(
        LoadError(test_support::ReadFileBytes(std::string(IMPORTDLG_TESTDATA) + "/tiff/" + c.file)),
        c.message);
  }
}

TEST(TIFFReader, IsRegisteredForTifAndTiff) {
  RegisterReaders();
  EXPECT_EQ(FindReaderClass("tif"), &TTIFFGraphic::StaticClass());
  EXPECT_EQ(FindReaderClass("TIFF"), &TTIFFGraphic::StaticClass());
  test_support::TempDir dir;
  const auto rows = Samples(5, 2, 3, 8);
  test_support::WriteFileBytes(dir.File("x.TIF"),
                               Baseline(5, 2, {3, 8, 2, {}}, rows, true).Build());
  Picture holder;
  holder.LoadFile(dir.File("x.TIF"));
  ASSERT_NE(holder.Graphic(), nullptr);
  EXPECT_EQ(&holder.Graphic()->Class(), &TTIFFGraphic::StaticClass());
  EXPECT_TRUE(
      test_support::BitmapMatches(*holder.Graphic(), Expected(rows, 5, 3, [](const uint32_t* s) {
        return Rgba{int(s[0]), int(s[1]), int(s[2])};
      })));
}

// Files written by independent tools, each compared with that tool's own decode.
class TIFFToolFiles : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"/usr/bin/tiffcp", "/usr/bin/ppm2tiff", "/usr/bin/tiff2rgba",
                             "/usr/bin/tiffset", test_support::kConvert, test_support::kPython}) {
      if (test_support::ToolAvailable(tool)) continue;
      const char* ci = std::getenv("CI");
      if (ci && std::string(ci) == "true") FAIL() << tool << " is not installed";
      GTEST_SKIP() << tool << " is not installed";
    }
    test_support::WriteFileBytes(dir_.File("rgb.ppm"),
                                 test_support::EncodePnm(test_support::TestPattern(71, 43)));
    test_support::WriteFileBytes(dir_.File("rgba.pam"),
                                 test_support::EncodePnm(test_support::TestPattern(71, 43, true)));
  }

  std::string Path(const std::string& name) const { return dir_.File(name); }

  void Run(const std::string& command) {
    const auto result = test_support::RunCommand(command);
    ASSERT_EQ(result.status, 0) << command << "\n" << result.output;
  }

  // Loads `name` and compares it with ImageMagick's decode.
  void ExpectLikeConvert(const std::string& name, int tolerance = 0, bool alpha = false) {
    SCOPED_TRACE(name);
    TTIFFGraphic picture;
    ASSERT_NO_THROW(picture.LoadFile(Path(name)));
    const RgbImage expected = test_support::DecodeWith(std::string(test_support::kConvert) + " " +
                                                       test_support::ShellQuote(Path(name)) +
                                                       " -colorspace sRGB -depth 8 pam:-");
    EXPECT_TRUE(test_support::BitmapMatches(picture, expected, tolerance));
    if (alpha) {
      EXPECT_TRUE(test_support::AlphaMatches(picture, expected, tolerance));
    }
  }

  // Loads `name` and compares it with libtiff's RGBA decode of the same file.
  void ExpectLikeTiff2rgba(const std::string& name, int tolerance) {
    SCOPED_TRACE(name);
    TTIFFGraphic picture;
    ASSERT_NO_THROW(picture.LoadFile(Path(name)));
    Run("/usr/bin/tiff2rgba -c none " + Path(name) + " " + Path("reference.tif"));
    EXPECT_TRUE(
        test_support::BitmapMatches(picture, DecodeWithPillow(Path("reference.tif")), tolerance));
  }

  static RgbImage DecodeWithPillow(const std::string& path) {
    return test_support::DecodeWith(
        std::string(test_support::kPython) + " -c " +
        test_support::ShellQuote("from PIL import Image; import sys; Image.open(sys.argv[1])"
                                 ".convert('RGB').save(sys.stdout.buffer, 'PPM')") +
        " " + test_support::ShellQuote(path));
  }

  test_support::TempDir dir_;
};

TEST_F(TIFFToolFiles, LibtiffCopiesInEveryCompressionLayoutAndByteOrder) {
  Run("/usr/bin/ppm2tiff " + Path("rgb.ppm") + " " + Path("rgb.tif"));
  Run(std::string(test_support::kConvert) + " " + Path("rgb.ppm") + " -colorspace Gray -depth 8 " +
      Path("grey.tif"));
  Run(std::string(test_support::kConvert) + " " + Path("rgb.ppm") + " -depth 16 " +
      Path("rgb16.tif"));
  Run(std::string(test_support::kConvert) + " " + Path("rgba.pam") + " " + Path("rgba.tif"));
  const char* options[] = {
      "-c none",
      "-c lzw",
      "-c packbits",
      "-c lzw:2",
      "-c none -p separate",
      "-c lzw -p separate",
      "-c lzw:2 -p separate",
      "-c lzw -B",
      "-c packbits -B",
      "-c lzw:2 -B",
      "-c none -L",
      "-c lzw -r 5",
      "-c lzw:2 -B -p separate -r 7",
  };
  int n = 0;
  for (const char* source : {"rgb", "grey", "rgb16", "rgba"})
    for (const char* option : options) {
      // libtiff copies 16-bit samples into separate planes only through ImageMagick.
      if (std::string(source) == "rgb16" &&
          std::string(option).find("-p separate") != std::string::npos)
        continue;
      const std::string name = std::string(source) + "-" + std::to_string(n++) + ".tif";
      SCOPED_TRACE(option);
      Run("/usr/bin/tiffcp " + std::string(option) + " " + Path(std::string(source) + ".tif") +
          " " + Path(name));
      ExpectLikeConvert(name, std::string(source) == "rgb16" ? 1 : 0,
                        std::string(source) == "rgba");
    }
}

TEST_F(TIFFToolFiles, ImageMagickColourModesAndDepths) {
  const char* variants[][2] = {
      {"-colors 2 -depth 1 -type Palette", "pal1"},
      {"-depth 16 -interlace Plane", "planar16"},
      {"-depth 16 -interlace Plane -define tiff:predictor=2 -compress lzw", "planarpredictor16"},
      {"-colors 16 -depth 4 -type Palette", "pal4"},
      {"-colors 200 -type Palette", "pal8"},
      {"-monochrome", "mono"},
      {"-colorspace Gray -depth 4", "grey4"},
      {"-colorspace Gray -depth 16", "grey16"},
      {"-colorspace CMYK", "cmyk"},
      {"-colorspace CMYK -depth 16 -compress lzw", "cmyk16"},
      {"-define tiff:endian=msb -compress lzw", "rgbmsb"},
      {"-depth 16 -define tiff:endian=msb -define tiff:predictor=2 -compress lzw",
       "msbpredictor16"},
      {"-compress RLE", "packbits"},
  };
  for (const auto& v : variants) {
    const std::string name = std::string(v[1]) + ".tif";
    Run(std::string(test_support::kConvert) + " " + Path("rgb.ppm") + " " + v[0] + " " +
        Path(name));
    // 16-bit samples and colour maps are cut to their upper byte, where ImageMagick
    // rounds; its CMYK conversion rounds too.
    const std::string kind = v[1];
    const bool rounded =
        kind.find("16") != std::string::npos || kind.find("cmyk") == 0 || kind.find("pal") == 0;
    ExpectLikeConvert(name, rounded ? 1 : 0);
  }
  Run(std::string(test_support::kConvert) + " " + Path("rgba.pam") + " -colorspace Gray " +
      Path("greyalpha.tif"));
  ExpectLikeConvert("greyalpha.tif");
}

TEST_F(TIFFToolFiles, PillowModesAndCompressions) {
  const std::string script =
      "import sys\n"
      "from PIL import Image\n"
      "d = sys.argv[1]\n"
      "rgb = Image.open(d + '/rgb.ppm')\n"
      "for c in ['raw', 'tiff_lzw', 'packbits']:\n"
      "    rgb.save(f'{d}/pil-rgb-{c}.tif', compression=c)\n"
      "    rgb.convert('L').save(f'{d}/pil-l-{c}.tif', compression=c)\n"
      "    rgb.convert('1').save(f'{d}/pil-1-{c}.tif', compression=c)\n"
      "    rgb.convert('P').save(f'{d}/pil-p-{c}.tif', compression=c)\n"
      "    rgb.convert('CMYK').save(f'{d}/pil-cmyk-{c}.tif', compression=c)\n"
      "    a = rgb.convert('L').point(lambda v: 255 - v)\n"
      "    r = rgb.copy(); r.putalpha(a); r.save(f'{d}/pil-rgba-{c}.tif', compression=c)\n"
      "    l = rgb.convert('L'); l.putalpha(a); l.save(f'{d}/pil-la-{c}.tif', compression=c)\n";
  test_support::WriteFileBytes(Path("make.py"), Bytes(script.begin(), script.end()));
  Run(std::string(test_support::kPython) + " " + Path("make.py") + " " + dir_.Path());
  for (const char* mode : {"rgb", "l", "1", "p", "cmyk", "rgba", "la"})
    for (const char* compression : {"raw", "tiff_lzw", "packbits"}) {
      const std::string name = std::string("pil-") + mode + "-" + compression + ".tif";
      SCOPED_TRACE(name);
      TTIFFGraphic picture;
      ASSERT_NO_THROW(picture.LoadFile(Path(name)));
      const std::string open = "from PIL import Image; import sys; im = Image.open(sys.argv[1]); ";
      const RgbImage expected = test_support::DecodeWith(
          std::string(test_support::kPython) + " -c " +
          test_support::ShellQuote(open + "im.convert('RGB').save(sys.stdout.buffer, 'PPM')") +
          " " + Path(name));
      EXPECT_TRUE(
          test_support::BitmapMatches(picture, expected, std::string(mode) == "cmyk" ? 1 : 0));
      if (std::string(mode) == "rgba") {
        RgbImage alpha = test_support::DecodeWith(
            std::string(test_support::kPython) + " -c " +
            test_support::ShellQuote(open + "im.getchannel('A').save(sys.stdout.buffer, 'PPM')") +
            " " + Path(name));
        for (size_t i = 0; i < alpha.rgb.size(); i += 3) alpha.alpha.push_back(alpha.rgb[i]);
        EXPECT_TRUE(test_support::AlphaMatches(picture, alpha));
      }
    }
}

TEST_F(TIFFToolFiles, LibtiffVariantsMatchLibtiffsOwnDecode) {
  Run("/usr/bin/ppm2tiff " + Path("rgb.ppm") + " " + Path("rgb.tif"));
  Run(std::string(test_support::kConvert) + " " + Path("rgb.ppm") + " -colorspace Gray -depth 8 " +
      Path("grey.tif"));
  Run(std::string(test_support::kConvert) + " " + Path("rgb.ppm") +
      " -monochrome -depth 1 -type bilevel " + Path("mono.tif"));
  Run(std::string(test_support::kConvert) + " " + Path("rgba.pam") + " " + Path("rgba.tif"));
  // libtiff's RGBA decode is the reference, except where it multiplies the colours by
  // alpha (Pillow's decode keeps them apart, as we do) and for the fill order that its
  // output keeps and Pillow does not read (ImageMagick's decode).
  enum Reference { kTiff2rgba, kPillow, kMagick };
  struct Variant {
    const char* source;
    const char* options;
    int tolerance;
    Reference reference = kTiff2rgba;
  };
  const Variant variants[] = {
      {"rgb", "-c zip", 0},
      {"rgb", "-c zip:2 -p separate", 0},
      {"grey", "-c zip:2", 0},
      {"rgba", "-c zip", 0, kPillow},
      {"rgb", "-c jpeg", 8},  // YCbCr, subsampled
      {"rgb", "-c jpeg:r", 8},
      {"grey", "-c jpeg", 8},
      {"mono", "-c g3", 0},
      {"mono", "-c g3:2d:fill", 0},
      {"mono", "-c g4", 0},
      {"mono", "-c g4 -f lsb2msb", 0, kMagick},
      {"rgb", "-c lzma", 0},
      {"rgb", "-c zstd", 0},
      {"rgb", "-c webp", 0},
      {"rgb", "-t -w 16 -l 16", 0},
      {"rgb", "-t -w 32 -l 16 -c lzw:2", 0},
      {"rgb", "-t -w 16 -l 32 -p separate -c zip", 0},
      {"rgb", "-t -w 16 -l 16 -c jpeg", 8},
      {"grey", "-t -w 16 -l 16 -c packbits", 0},
      {"mono", "-t -w 16 -l 16 -c g4", 0},
      {"rgba", "-t -w 16 -l 16", 0, kPillow},
      {"rgb", "-8", 0},
      {"rgb", "-8 -c zip -t -w 16 -l 16", 0},
      {"grey", "-8 -B -c lzw", 0},
  };
  int n = 0;
  for (const Variant& v : variants) {
    SCOPED_TRACE(std::string(v.source) + " " + v.options);
    const std::string name = "variant-" + std::to_string(n++) + ".tif";
    Run("/usr/bin/tiffcp " + std::string(v.options) + " " + Path(std::string(v.source) + ".tif") +
        " " + Path(name));
    if (v.reference == kTiff2rgba) {
      ExpectLikeTiff2rgba(name, v.tolerance);
    } else if (v.reference == kMagick) {
      ExpectLikeConvert(name, v.tolerance);
    } else {
      TTIFFGraphic picture;
      ASSERT_NO_THROW(picture.LoadFile(Path(name)));
      EXPECT_TRUE(test_support::BitmapMatches(picture, DecodeWithPillow(Path(name)), v.tolerance));
    }
  }
}

// Pictures of a megabyte or more in compressed strips decode their later half on a second
// thread, through a second libtiff handle.
TEST_F(TIFFToolFiles, LargeCompressedPicturesDecodeTheSameOnTwoThreads) {
  test_support::WriteFileBytes(Path("large.ppm"),
                               test_support::EncodePnm(test_support::TestPattern(800, 500)));
  Run("/usr/bin/ppm2tiff " + Path("large.ppm") + " " + Path("large.tif"));
  // JPEG strips and tiles hold subsampled YCbCr that each handle must be told to convert.
  const struct {
    const char* options;
    int tolerance;
  } copies[] = {
      {"-c jpeg -r 16", 1},          {"-c jpeg:r -r 16", 1},
      {"-t -w 64 -l 64 -c jpeg", 1}, {"-c zip -r 16", 0},
      {"-c zip:2 -r 7", 0},          {"-c lzma -r 64", 0},
      {"-c zip -r 16 -p separate", 0},
      {"-t -w 64 -l 32 -c zip", 0},  // the last: turned bottom-up below
  };
  for (const auto& copy : copies) {
    SCOPED_TRACE(copy.options);
    Run("/usr/bin/tiffcp " + std::string(copy.options) + " " + Path("large.tif") + " " +
        Path("large-copy.tif"));
    ExpectLikeConvert("large-copy.tif", copy.tolerance);
  }
  // Bottom-up rows (orientation 4) on both threads.
  Run("/usr/bin/tiffset -s 274 4 " + Path("large-copy.tif"));
  TTIFFGraphic picture;
  ASSERT_NO_THROW(picture.LoadFile(Path("large-copy.tif")));
  EXPECT_TRUE(test_support::BitmapMatches(
      picture, test_support::DecodeWith(std::string(test_support::kConvert) + " " +
                                        Path("large-copy.tif") + " -auto-orient ppm:-")));
}

// The arithmetic coder packs a flat picture of 2048 x 2048 into some 140 bytes, far fewer
// than Huffman coding can reach.
TEST_F(TIFFToolFiles, ArithmeticCodedJPEGStripsAreRead) {
  REQUIRE_TOOL("/usr/bin/cjpeg");
  Run(std::string(test_support::kConvert) + " -size 2048x2048 xc:gray40 -depth 8 pgm:- | " +
      "/usr/bin/cjpeg -grayscale -arithmetic > " + Path("flat.jpg"));
  TiffFile file = Baseline(1, 1, {1, 8, 1, {}}, {{0}}, false);
  file.Set(kWidth, kShort, {2048})
      .Set(kLength, kShort, {2048})
      .Set(kRowsPerStrip, kShort, {2048})
      .Set(kCompression, kShort, {7})
      .Strips({test_support::ReadFileBytes(Path("flat.jpg"))});
  TTIFFGraphic picture;
  ASSERT_NO_THROW(Load(picture, file.Build()));
  RgbImage flat;
  flat.width = flat.height = 2048;
  flat.rgb.assign(size_t(3) * 2048 * 2048, 102);
  EXPECT_TRUE(test_support::BitmapMatches(picture, flat, 1));
}

TEST_F(TIFFToolFiles, OrientationIsAppliedAsImageMagickDoes) {
  Run("/usr/bin/ppm2tiff " + Path("rgb.ppm") + " " + Path("rgb.tif"));
  for (int orientation = 1; orientation <= 8; ++orientation) {
    for (const char* options : {"-c none", "-c zip"}) {
      SCOPED_TRACE(std::to_string(orientation) + " " + options);
      const std::string name = "oriented.tif";
      Run("/usr/bin/tiffcp " + std::string(options) + " " + Path("rgb.tif") + " " + Path(name));
      Run("/usr/bin/tiffset -s 274 " + std::to_string(orientation) + " " + Path(name));
      TTIFFGraphic picture;
      ASSERT_NO_THROW(picture.LoadFile(Path(name)));
      EXPECT_TRUE(test_support::BitmapMatches(
          picture, test_support::DecodeWith(std::string(test_support::kConvert) + " " + Path(name) +
                                            " -auto-orient ppm:-")));
    }
  }
}

TEST_F(TIFFToolFiles, DepthsAndColourSpacesOfOtherWriters) {
  const std::string script =
      "import sys\n"
      "from PIL import Image\n"
      "d = sys.argv[1]\n"
      "rgb = Image.open(d + '/rgb.ppm')\n"
      "rgb.save(d + '/pil-jpeg.tif', compression='jpeg')\n"
      "rgb.convert('YCbCr').save(d + '/pil-ycbcr.tif')\n"
      "rgb.convert('LAB').save(d + '/pil-lab.tif')\n"
      "rgb.convert('L').save(d + '/pil-grey.tif')\n"
      "rgb.convert('L').convert('F').point(lambda v: v / 255.0).save(d + '/pil-float.tif')\n";
  test_support::WriteFileBytes(Path("make.py"), Bytes(script.begin(), script.end()));
  Run(std::string(test_support::kPython) + " " + Path("make.py") + " " + dir_.Path());
  ExpectLikeTiff2rgba("pil-jpeg.tif", 8);
  ExpectLikeTiff2rgba("pil-ycbcr.tif", 8);
  {
    // CIE L*a*b* against an ICC colour engine's D50 transform (libtiff's RGBA interface
    // converts for a display of its own).
    TTIFFGraphic picture;
    ASSERT_NO_THROW(picture.LoadFile(Path("pil-lab.tif")));
    const std::string transform =
        "from PIL import Image, ImageCms; import sys; im = Image.open(sys.argv[1]); "
        "t = ImageCms.buildTransform(ImageCms.createProfile('LAB', colorTemp=5000), "
        "ImageCms.createProfile('sRGB'), 'LAB', 'RGB', flags=0x500); "
        "ImageCms.applyTransform(im, t).save(sys.stdout.buffer, 'PPM')";
    EXPECT_TRUE(test_support::BitmapMatches(
        picture,
        test_support::DecodeWith(std::string(test_support::kPython) + " -c " +
                                 test_support::ShellQuote(transform) + " " + Path("pil-lab.tif")),
        2));
  }
  {
    // Floating-point samples run from 0 to 1: the picture is the grey one they came from.
    TTIFFGraphic picture;
    ASSERT_NO_THROW(picture.LoadFile(Path("pil-float.tif")));
    EXPECT_TRUE(test_support::BitmapMatches(picture, DecodeWithPillow(Path("pil-grey.tif")), 1));
  }
  const char* magick[][2] = {
      {"-colorspace Gray -depth 2", "grey2"},
      {"-colorspace Gray -depth 12", "grey12"},
      {"-colorspace Gray -depth 32", "grey32"},
      {"-colorspace Gray -depth 32 -define quantum:format=floating-point -compress zip",
       "greyfloat"},
      {"-depth 16 -define quantum:format=floating-point -compress zip", "rgbhalf"},
      {"-depth 32 -define quantum:format=floating-point -compress zip", "rgbfloat"},
  };
  for (const auto& v : magick) {
    const std::string name = std::string(v[1]) + ".tif";
    Run(std::string(test_support::kConvert) + " " + Path("rgb.ppm") + " " + v[0] + " " +
        Path(name));
    ExpectLikeConvert(name, 1);
  }
}

}  // namespace
}  // namespace pictures
