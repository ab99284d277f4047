#include "pictures/formats/tiff.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <span>

#include "compression/lzw.h"
#include "compression/rle.h"
#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/formats/tiff_library.h"
#include "base/pixel_helpers.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TTIFFGraphic, Bitmap)

namespace {

constexpr const char* kInvalidTIFF = "Invalid TIFF file.";
constexpr uint16_t kBigTIFFVersion = 43;

enum : uint16_t {
  kImageWidth = 256,
  kImageLength = 257,
  kBitsPerSample = 258,
  kCompression = 259,
  kPhotometric = 262,
  kStripOffsets = 273,
  kSamplesPerPixel = 277,
  kRowsPerStrip = 278,
  kStripByteCounts = 279,
  kPlanarConfiguration = 284,
  kPredictor = 317,
  kColorMap = 320,
  kExtraSamples = 338,
};

enum : uint16_t {
  kByte = 1,
  kShort = 3,
  kLong = 4,
  kSByte = 6,
  kSShort = 8,
  kSLong = 9,
};

// Bytes of one integer value of a type; 0 for the types that hold no integers.
uint32_t IntegerSize(uint16_t type) {
  switch (type) {
    case kByte:
    case kSByte: return 1;
    case kShort:
    case kSShort: return 2;
    case kLong:
    case kSLong: return 4;
    default: return 0;
  }
}

uint32_t LoadValue(const uint8_t* p, uint32_t size, bool motorola) {
  switch (size) {
    case 1: return p[0];
    case 2: return motorola ? LoadU16BE(p) : LoadU16LE(p);
    default: return motorola ? LoadU32BE(p) : LoadU32LE(p);
  }
}

// Copies `count` bits, most significant bit first within each byte, as TIFF rows and 1-
// and 4-bit Bitmap rows store samples narrower than a byte.
void CopyBits(const uint8_t* source, uint64_t from, uint8_t* dest, uint64_t to, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i, ++from, ++to) {
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (to & 7));
    if ((source[from >> 3] >> (7 - (from & 7))) & 1)
      dest[to >> 3] |= mask;
    else
      dest[to >> 3] &= static_cast<uint8_t>(~mask);
  }
}

// Copies `count` samples from index `from` of each pixel of `fromSamples` samples to index
// `to` of each pixel of `toSamples` samples. Used to drop extra samples and to interleave
// separate planes.
void MoveSamples(const uint8_t* source, uint32_t fromSamples, uint32_t from, uint8_t* dest,
                 uint32_t toSamples, uint32_t to, uint32_t count, uint32_t pixels, uint32_t bits) {
  if (bits % 8 == 0) {
    const size_t size = bits / 8;
    const size_t bytes = size * count;
    const uint8_t* s = source + size * from;
    uint8_t* d = dest + size * to;
    for (uint32_t x = 0; x < pixels; ++x, s += size * fromSamples, d += size * toSamples)
      std::memcpy(d, s, bytes);
    return;
  }
  for (uint32_t x = 0; x < pixels; ++x)
    CopyBits(source, (uint64_t(x) * fromSamples + from) * bits, dest,
             (uint64_t(x) * toSamples + to) * bits, uint64_t(count) * bits);
}

// Undoes horizontal differencing on a row of `pixels` pixels of `stride` samples each.
// 16-bit samples are little-endian words by now and are summed as words; prediction is
// defined for 8- and 16-bit samples only, so other depths are left as they are.
void UndoPrediction(uint8_t* row, uint32_t pixels, uint32_t stride, uint32_t bits) {
  if (pixels < 2 || stride == 0) return;
  const uint32_t n = pixels - 1;
  if (bits == 8) {
    switch (stride) {
      case 1: UndoPredictor1(row, n); return;
      case 3: UndoPredictor3(row, n); return;
      case 4: UndoPredictor4(row, n); return;
    }
    const size_t total = size_t(n) * stride;
    for (size_t j = 0; j < total; ++j)
      row[j + stride] = static_cast<uint8_t>(row[j + stride] + row[j]);
  } else if (bits == 16) {
    const size_t total = size_t(n) * stride;
    for (size_t j = 0; j < total; ++j) {
      uint8_t* next = row + 2 * (j + stride);
      const uint16_t sum = static_cast<uint16_t>(LoadU16LE(next) + LoadU16LE(row + 2 * j));
      next[0] = static_cast<uint8_t>(sum);
      next[1] = static_cast<uint8_t>(sum >> 8);
    }
  }
}

// How decoded rows become Bitmap rows.
enum class RowKind {
  Copy,       // bytes copied as they are, cut at the end of the Bitmap row
  Expand2,    // 2-bit samples widened to one byte each
  Grey16,     // 16-bit samples reduced to their upper 8 bits
  Palette16,  // 16-bit palette indices looked up into 24-bit colour
  Convert,    // a ColorConverter of the pixel helpers
  Nothing,    // a depth the converters do not handle: the rows stay black
};

struct RowPlan {
  PixelFormat format = PixelFormat::Bits24;
  RowKind kind = RowKind::Copy;
  ColorConverter convert = nullptr;
  uint32_t used = 1;  // leading samples of each pixel that the row routine reads
};

RowPlan ChoosePlan(uint32_t colourSamples, uint32_t samples, uint32_t photometric, uint32_t bits) {
  RowPlan plan;
  const bool wide = bits == 8 || bits == 16;
  if (colourSamples == 1) {
    switch (bits) {
      case 1: plan.format = PixelFormat::Bits1; break;
      case 2:
        plan.format = PixelFormat::Bits8;
        plan.kind = RowKind::Expand2;
        break;
      case 4: plan.format = PixelFormat::Bits4; break;
      case 8: plan.format = PixelFormat::Bits8; break;
      case 16:
        if (photometric == 3) {
          plan.kind = RowKind::Palette16;
        } else {
          plan.format = PixelFormat::Bits8;
          plan.kind = RowKind::Grey16;
        }
        break;
      default: plan.used = samples; break;
    }
    return plan;
  }
  auto convert = [&](PixelFormat format, ColorConverter routine, uint32_t used) {
    plan.format = format;
    plan.kind = wide ? RowKind::Convert : RowKind::Nothing;
    plan.convert = routine;
    plan.used = used;
  };
  if (colourSamples == 3 && photometric == 2) {
    if (samples > 3)
      convert(PixelFormat::Bits32, RGBAToBGRA, 4);
    else
      convert(PixelFormat::Bits24, RGBToBGR, 3);
  } else if (colourSamples == 3 && photometric == 6) {
    plan.used = 3;  // YCbCr is copied without conversion
  } else if (colourSamples == 3 && photometric == 8) {
    convert(PixelFormat::Bits24, CIELabToBGR, 3);
  } else if (colourSamples == 4 && photometric == 2) {
    convert(PixelFormat::Bits32, RGBAToBGRA, 4);
  } else if (colourSamples == 4 && photometric == 5) {
    convert(PixelFormat::Bits24, CMYKToBGR, 4);
  } else if (colourSamples == 3 || colourSamples == 4) {
    plan.used = samples;
  } else {
    plan.format = PixelFormat::Device;
    plan.used = samples;
  }
  return plan;
}

// The palette of a one-sample picture. Grey ramps span black to white whatever the depth;
// photometric 0 (white is zero) runs the ramp backwards; photometric 3 takes the colour map.
LogPalette MakePalette(uint32_t bits, uint32_t photometric, const std::vector<uint16_t>& map) {
  const uint32_t count = bits == 1 ? 2 : bits == 2 ? 4 : bits == 4 ? 16 : 256;
  LogPalette record(count);
  for (uint32_t i = 0; i < count; ++i) {
    PaletteEntry& e = record.entries[i];
    if (photometric == 3 && map.size() >= 3 * size_t(count)) {
      e.red = static_cast<uint8_t>(map[i] >> 8);
      e.green = static_cast<uint8_t>(map[count + i] >> 8);
      e.blue = static_cast<uint8_t>(map[2 * count + i] >> 8);
    } else {
      const uint32_t grey = i * 255 / (count - 1);
      e.red = e.green = e.blue = static_cast<uint8_t>(photometric == 0 ? 255 - grey : grey);
    }
  }
  return record;
}

int32_t ClampToInt32(uint64_t value) {
  return static_cast<int32_t>(std::min<uint64_t>(value, INT32_MAX));
}

}  // namespace

// What the directory says about a picture in strips, as our own reader needs it.
struct TTIFFGraphic::StripLayout {
  uint32_t photometric = 0;
  uint32_t samples = 1;
  uint32_t bits = 1;
  bool sameBits = true;  // every sample has the first sample's depth
  uint32_t colourSamples = 1;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t compression = 0;
  uint32_t predictor = 0;
  bool planar = false;
  std::vector<uint32_t> offsets;
  std::vector<uint32_t> byteCounts;
  std::vector<uint32_t> rowsList;
};

namespace {

enum : uint16_t {
  kFillOrder = 266,
  kOrientation = 274,
  kTileWidth = 322,
  kTileOffsets = 324,
  kInkSet = 332,
  kSampleFormat = 339,
};

// Reads the strips of one picture, one at a time, into a buffer of whole rows. What a strip
// does not fill (data cut short, a strip past the end of the file, a compressed strip that
// decodes short) is zero, never the previous strip's rows.
class StripLoader {
 public:
  StripLoader(Stream& stream, int64_t base, uint32_t compression,
              const std::vector<uint32_t>& offsets, const std::vector<uint32_t>& byteCounts,
              size_t rowBytes)
      : stream_(stream),
        base_(base),
        offsets_(offsets),
        byteCounts_(byteCounts),
        rowBytes_(rowBytes) {
    if (compression == 5) decoder_ = std::make_unique<TTIFFLZW>();
    if (compression == 32773) decoder_ = std::make_unique<TPackbitsRLE>();
  }

  // Strip s of `rows` rows; the rows follow each other rowBytes apart.
  uint8_t* Load(size_t s, uint64_t rows) {
    const size_t size = CheckedBufferSize({rows, rowBytes_});
    if (strip_.size() < size) strip_.resize(size);
    stream_.Seek(base_ + offsets_[s]);
    if (!decoder_) {
      const size_t got = stream_.Read(strip_.data(), size);
      std::memset(strip_.data() + got, 0, size - got);
      return strip_.data();
    }
    std::memset(strip_.data(), 0, size);
    const size_t available = static_cast<size_t>(
        std::min<uint64_t>({PackedBytes(s), uint64_t(stream_.Remaining()), INT32_MAX}));
    // A stream that holds the file in memory gives the packed bytes where they are.
    const std::span<const uint8_t> contents = stream_.Contents();
    const uint8_t* source;
    size_t got = available;
    if (!contents.empty()) {
      source = contents.data() + stream_.Position();
    } else {
      if (packed_.size() < available) packed_.resize(available);
      got = stream_.Read(packed_.data(), available);
      source = packed_.data();
    }
    decoder_->Decode(source, strip_.data(), ClampToInt32(got), ClampToInt32(size));
    return strip_.data();
  }

 private:
  // A missing byte count lets the strip run to the end of the file.
  uint64_t PackedBytes(size_t s) const {
    return s < byteCounts_.size() ? byteCounts_[s] : UINT64_MAX;
  }

  Stream& stream_;
  int64_t base_;
  const std::vector<uint32_t>& offsets_;
  const std::vector<uint32_t>& byteCounts_;
  size_t rowBytes_;
  std::unique_ptr<TDecoder> decoder_;
  std::vector<uint8_t> strip_;
  std::vector<uint8_t> packed_;
};

// Turns decoded rows of `plan.used` samples a pixel into Bitmap rows.
class RowWriter {
 public:
  RowWriter(Bitmap& picture, const RowPlan& plan, uint32_t width, uint32_t bits,
            const std::vector<uint16_t>& colorMap)
      : picture_(picture),
        plan_(plan),
        width_(width),
        bits_(bits),
        colorMap_(colorMap),
        usedRowBytes_((CheckedBufferSize({width, plan.used, bits}) + 7) / 8),
        bitmapRowBytes_(picture.RowBytes()) {}

  size_t UsedRowBytes() const { return usedRowBytes_; }

  void Write(const uint8_t* row, int y) {
    uint8_t* dest = picture_.ScanLine(y);
    switch (plan_.kind) {
      case RowKind::Copy:
        if (usedRowBytes_ != 0) std::memcpy(dest, row, std::min(usedRowBytes_, bitmapRowBytes_));
        break;
      case RowKind::Expand2:
        for (uint32_t x = 0; x < width_; ++x) dest[x] = (row[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        break;
      case RowKind::Grey16: Samples16To8(row, dest, 16, width_); break;
      case RowKind::Palette16: LookUpPalette16(row, dest); break;
      case RowKind::Convert:
        plan_.convert(row, dest, static_cast<uint8_t>(bits_), width_ * plan_.used);
        break;
      case RowKind::Nothing: break;
    }
  }

 private:
  void LookUpPalette16(const uint8_t* row, uint8_t* dest) const {
    const size_t entries = colorMap_.size() / 3;
    for (uint32_t x = 0; x < width_; ++x, dest += 3) {
      const size_t index = LoadU16LE(row + 2 * size_t(x));
      dest[0] = static_cast<uint8_t>(colorMap_[2 * entries + index] >> 8);
      dest[1] = static_cast<uint8_t>(colorMap_[entries + index] >> 8);
      dest[2] = static_cast<uint8_t>(colorMap_[index] >> 8);
    }
  }

  Bitmap& picture_;
  const RowPlan& plan_;
  uint32_t width_;
  uint32_t bits_;
  const std::vector<uint16_t>& colorMap_;
  size_t usedRowBytes_;
  size_t bitmapRowBytes_;
};

}  // namespace

TTIFFGraphic::TTIFFGraphic() { SetPixelFormat(PixelFormat::Bits24); }

const TTIFFGraphic::Entry* TTIFFGraphic::FindTag(uint16_t tag) const {
  auto it = std::lower_bound(Directory.begin(), Directory.end(), tag,
                             [](const Entry& e, uint16_t t) { return e.tag < t; });
  return it != Directory.end() && it->tag == tag ? &*it : nullptr;
}

uint32_t TTIFFGraphic::GetValue(uint16_t tag, uint32_t defaultValue) const {
  const Entry* e = FindTag(tag);
  if (!e) return defaultValue;
  if (e->count != 1) return e->value;
  const uint32_t size = IntegerSize(e->type);
  return size ? LoadValue(e->raw, size, Motorola()) : defaultValue;
}

std::vector<uint32_t> TTIFFGraphic::GetValueList(Stream& stream, uint16_t tag,
                                                 uint32_t limit) const {
  std::vector<uint32_t> list;
  const Entry* e = FindTag(tag);
  const uint32_t size = e ? IntegerSize(e->type) : 0;
  if (size == 0 || e->count == 0) return list;
  const uint64_t total = uint64_t(e->count) * size;
  const uint32_t count = std::min(e->count, limit);
  std::vector<uint8_t> bytes;
  const uint8_t* p = e->raw;
  if (total > 4) {
    stream.Seek(BasePosition + e->value);
    bytes = stream.ReadBytes(size_t(count) * size);
    p = bytes.data();
  }
  list.resize(count);
  for (uint32_t i = 0; i < count; ++i) list[i] = LoadValue(p + size_t(i) * size, size, Motorola());
  return list;
}

void TTIFFGraphic::LoadFromStream(Stream& stream) {
  Clear();
  BasePosition = stream.Position();
  ReadByLibrary = true;
  ReadHeader(stream);
  if (Version == kBigTIFFVersion) {
    ReadTIFFWithLibrary(*this, stream, BasePosition);
    return;
  }
  ReadDirectory(stream);
  const StripLayout layout = ReadStripLayout(stream);
  ReadColorMap(stream, layout);
  if (!OwnReaderTakes(layout)) {
    ReadTIFFWithLibrary(*this, stream, BasePosition);
    return;
  }
  ReadByLibrary = false;
  ReadStrips(stream, layout);
}

void TTIFFGraphic::ReadHeader(Stream& stream) {
  uint8_t header[8];
  stream.ReadBuffer(header, sizeof header);
  ByteOrder = LoadU16LE(header);
  Version = static_cast<uint16_t>(LoadValue(header + 2, 2, Motorola()));
  FirstIFD = LoadValue(header + 4, 4, Motorola());
  if (Version != 42 && Version != kBigTIFFVersion) throw PictureError(kInvalidTIFF);
}

void TTIFFGraphic::ReadDirectory(Stream& stream) {
  const bool motorola = Motorola();
  stream.Seek(BasePosition + FirstIFD);
  uint8_t countBytes[2];
  stream.ReadBuffer(countBytes, 2);
  const uint32_t entries = LoadValue(countBytes, 2, motorola);
  const std::vector<uint8_t> table = stream.ReadBytes(size_t(entries) * 12);
  Directory.assign(entries, Entry{});
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* p = table.data() + size_t(i) * 12;
    Entry& e = Directory[i];
    e.tag = static_cast<uint16_t>(LoadValue(p, 2, motorola));
    e.type = static_cast<uint16_t>(LoadValue(p + 2, 2, motorola));
    e.count = LoadValue(p + 4, 4, motorola);
    e.value = LoadValue(p + 8, 4, motorola);
    std::memcpy(e.raw, p + 8, 4);
  }
  // Tags are looked up by binary search; a directory written out of order is still read.
  std::stable_sort(Directory.begin(), Directory.end(),
                   [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
}

TTIFFGraphic::StripLayout TTIFFGraphic::ReadStripLayout(Stream& stream) const {
  StripLayout layout;
  layout.photometric = GetValue(kPhotometric, 0) & 0xFF;
  layout.samples = GetValue(kSamplesPerPixel, 1) & 0xFF;
  const std::vector<uint32_t> bitsList = GetValueList(stream, kBitsPerSample, layout.samples);
  layout.bits = bitsList.empty() ? 1 : bitsList[0];
  layout.sameBits =
      std::all_of(bitsList.begin(), bitsList.end(), [&](uint32_t b) { return b == layout.bits; });
  layout.rowsList = GetValueList(stream, kRowsPerStrip);
  layout.offsets = GetValueList(stream, kStripOffsets);
  layout.byteCounts = GetValueList(stream, kStripByteCounts);
  // No TIFF sample is wider than 64 bits.
  if (layout.samples == 0 || layout.bits == 0 || layout.bits > 64) throw PictureError(kInvalidTIFF);
  // ExtraSamples counts the samples that follow the colour samples of each pixel; its
  // values only say what they mean (unspecified, associated or unassociated alpha).
  const Entry* extra = FindTag(kExtraSamples);
  const uint32_t extraSamples = extra ? extra->count : 0;
  layout.colourSamples = extraSamples < layout.samples ? layout.samples - extraSamples : 0;
  layout.width = GetValue(kImageWidth, 0);
  layout.height = GetValue(kImageLength, 0);
  layout.compression = GetValue(kCompression, 0) & 0xFFFF;
  layout.predictor = GetValue(kPredictor, 0);
  layout.planar = layout.samples > 1 && GetValue(kPlanarConfiguration, 1) == 2;
  return layout;
}

bool TTIFFGraphic::OwnReaderTakes(const StripLayout& layout) const {
  // Strips of the compressions we decode (a missing Compression tag is refused below), in
  // the plain row order and bit order.
  if (layout.compression != 0 && layout.compression != 1 && layout.compression != 5 &&
      layout.compression != 32773)
    return false;
  if (FindTag(kTileWidth) || FindTag(kTileOffsets)) return false;
  if (GetValue(kOrientation, 1) != 1 || GetValue(kFillOrder, 1) != 1) return false;
  if (FindTag(kSampleFormat)) {
    const Entry* format = FindTag(kSampleFormat);
    if (format->count != 1 || GetValue(kSampleFormat, 1) != 1) return false;
  }
  if (!layout.sameBits) return false;
  const uint32_t bits = layout.bits;
  const bool wide = bits == 8 || bits == 16;
  if (layout.predictor == 2 ? !wide : layout.predictor > 2) return false;
  // Colour maps are 16-bit values; some writers put 8-bit values there, which libtiff
  // recognises.
  if (!ColorMap.empty() &&
      std::all_of(ColorMap.begin(), ColorMap.end(), [](uint16_t v) { return v < 256; }))
    return false;
  // The photometric interpretations and depths whose colours our row routines give right.
  switch (layout.colourSamples) {
    case 1:
      return layout.photometric <= 1 || layout.photometric == 3
                 ? bits == 1 || bits == 2 || bits == 4 || wide
                 : false;
    case 3: return (layout.photometric == 2 || layout.photometric == 8) && wide;
    case 4:
      return wide &&
             (layout.photometric == 2 || (layout.photometric == 5 && GetValue(kInkSet, 1) == 1));
    default: return false;
  }
}

void TTIFFGraphic::ReadColorMap(Stream& stream, const StripLayout& layout) {
  ColorMap.clear();
  if (layout.colourSamples != 1 || layout.photometric != 3 || layout.bits > 16) return;
  const Entry* map = FindTag(kColorMap);
  if (!map) throw PictureError(kInvalidTIFF);
  const size_t values = size_t(3) << layout.bits;
  stream.Seek(BasePosition + map->value);
  const std::vector<uint8_t> bytes = stream.ReadBytes(values * 2);
  ColorMap.resize(values);
  for (size_t i = 0; i < values; ++i)
    ColorMap[i] = static_cast<uint16_t>(LoadValue(&bytes[2 * i], 2, Motorola()));
}

void TTIFFGraphic::RequireStripData(Stream& stream, const StripLayout& layout, uint64_t rowBytes,
                                    uint64_t planes) const {
  const int64_t fileEnd = stream.Size();
  const uint64_t expansion = layout.compression == 5       ? kTIFFLZWBestExpansion
                             : layout.compression == 32773 ? kPackBitsBestExpansion
                                                           : 1;
  uint64_t data = 0;
  for (size_t s = 0; s < layout.offsets.size(); ++s) {
    const int64_t start = BasePosition + layout.offsets[s];
    if (start >= fileEnd) continue;
    uint64_t bytes = uint64_t(fileEnd - start);
    if (layout.compression > 1 && s < layout.byteCounts.size())
      bytes = std::min<uint64_t>(bytes, layout.byteCounts[s]);
    data += bytes;
  }
  RequireFill(data, expansion, rowBytes * layout.height * planes);
}

void TTIFFGraphic::ReadStrips(Stream& stream, const StripLayout& layout) {
  if (layout.offsets.empty()) throw PictureError(kInvalidTIFF);
  const uint32_t bits = layout.bits;
  const uint32_t samples = layout.samples;
  const RowPlan plan = ChoosePlan(layout.colourSamples, samples, layout.photometric, bits);
  SetPixelFormat(plan.format);
  if (plan.format == PixelFormat::Bits1 || plan.format == PixelFormat::Bits4 ||
      plan.format == PixelFormat::Bits8)
    SetPalette(CreatePalette(MakePalette(bits == 16 ? 8 : bits, layout.photometric, ColorMap)));

  const uint32_t width = layout.width;
  const uint32_t height = layout.height;
  if (width == 0 || height == 0) throw PictureError(kInvalidTIFF);
  // Sizes past the Bitmap's range fail as too large, with the Bitmap's own message.
  if (width > INT32_MAX || height > INT32_MAX) CheckedBufferSize({UINT64_MAX, UINT64_MAX});
  if (layout.compression != 1 && layout.compression != 5 && layout.compression != 32773)
    throw PictureError("TIFF: Unknown compression scheme");

  // Separate planes are read only as far as the row routine needs them.
  const bool planar = layout.planar;
  const uint32_t planes = planar ? std::min(samples, plan.used) : 1;
  const uint32_t rowSamples = planar ? 1 : samples;
  const size_t fileRowBytes = (CheckedBufferSize({width, rowSamples, bits}) + 7) / 8;
  // A picture too large for the Bitmap fails with the size message before the data check.
  CheckedBufferSize({height, (uint64_t(width) * BitsPerPixel(plan.format) + 7) / 8});
  RequireStripData(stream, layout, fileRowBytes, planes);
  SetSize(static_cast<int>(width), static_cast<int>(height));

  // Rows per strip: a single strip holds the whole picture; without the tag the strips
  // share the rows evenly; 0 is taken to mean all rows, as the tag's default does.
  const std::vector<uint32_t>& rowsList = layout.rowsList;
  const size_t strips = layout.offsets.size();
  uint64_t stripsPerPlane = strips;
  if (planar)
    stripsPerPlane = !rowsList.empty() && rowsList[0] != 0
                         ? (uint64_t(height) + rowsList[0] - 1) / rowsList[0]
                         : (strips + samples - 1) / samples;
  auto stripRows = [&](size_t s) -> uint64_t {
    if (strips == 1) return height;
    if (rowsList.empty()) return (height + stripsPerPlane - 1) / stripsPerPlane;
    const uint32_t rows = rowsList[std::min(s, rowsList.size() - 1)];
    return rows == 0 ? height : rows;
  };

  StripLoader loader(stream, BasePosition, layout.compression, layout.offsets, layout.byteCounts,
                     fileRowBytes);
  RowWriter writer(*this, plan, width, bits, ColorMap);
  const bool swap16 = Motorola() && bits == 16;
  // Prepares a decoded row of `stride` samples a pixel: words in little-endian order,
  // differencing undone.
  auto prepare = [&](uint8_t* row, uint32_t stride) {
    if (swap16) SwapShorts(row, width * stride);
    if (layout.predictor == 2) UndoPrediction(row, width, stride, bits);
  };

  if (!planar) {
    const bool dropSamples = plan.used < samples && plan.kind != RowKind::Nothing;
    std::vector<uint8_t> used(dropSamples ? writer.UsedRowBytes() : 0);
    uint64_t y = 0;
    for (size_t s = 0; s < strips && y < height; ++s) {
      const uint64_t rows = std::min<uint64_t>(stripRows(s), height - y);
      uint8_t* row = loader.Load(s, rows);
      for (uint64_t r = 0; r < rows; ++r, ++y, row += fileRowBytes) {
        prepare(row, samples);
        if (dropSamples)
          MoveSamples(row, samples, 0, used.data(), plan.used, 0, plan.used, width, bits);
        writer.Write(dropSamples ? used.data() : row, static_cast<int>(y));
      }
    }
    return;
  }
  // Separate planes: each plane's strips are interleaved into one picture-sized buffer of
  // the samples in use, which is then converted row by row.
  const size_t usedRowBytes = writer.UsedRowBytes();
  std::vector<uint8_t> image(CheckedBufferSize({height, usedRowBytes}));
  for (uint32_t p = 0; p < planes; ++p) {
    uint64_t y = 0;
    for (uint64_t i = 0; i < stripsPerPlane && y < height; ++i) {
      const size_t s = static_cast<size_t>(p * stripsPerPlane + i);
      if (s >= strips) break;
      const uint64_t rows = std::min<uint64_t>(stripRows(s), height - y);
      uint8_t* row = loader.Load(s, rows);
      for (uint64_t r = 0; r < rows; ++r, ++y, row += fileRowBytes) {
        prepare(row, 1);
        MoveSamples(row, 1, 0, image.data() + y * usedRowBytes, plan.used, p, 1, width, bits);
      }
    }
  }
  for (uint32_t y = 0; y < height; ++y)
    writer.Write(image.data() + size_t(y) * usedRowBytes, static_cast<int>(y));
}

}  // namespace pictures
