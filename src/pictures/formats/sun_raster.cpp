#include "pictures/formats/sun_raster.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/error.h"
#include "base/pixel_helpers.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TSunRasterGraphic, Bitmap)

namespace {

constexpr uint32_t kMagic = 0x59A66A95;

// Picture types: the old and standard ones store rows as they are, the byte-encoded one
// packs them in runs, the RGB one stores colours red first.
enum SunType : uint32_t { kOld = 0, kStandard = 1, kByteEncoded = 2, kRgbOrder = 3 };
enum SunMapType : uint32_t { kNoMap = 0, kEqualRgb = 1 };

// A run is the escape byte, a count and a value: three bytes for up to 256 bytes.
constexpr uint64_t kLongestRunPerByte = 256 / 3 + 1;
constexpr uint8_t kRunEscape = 0x80;

[[noreturn]] void Fail(const std::string& what) { throw PictureError("Sun raster: " + what); }

struct SunHeader {
  uint32_t width, height, depth, type, mapType, mapLength;

  // Rows are padded to a multiple of 16 bits.
  size_t StoredRowBytes() const { return (uint64_t(width) * depth + 15) / 16 * 2; }
};

SunHeader ParseHeader(ByteReader& in) {
  if (in.Size() < 32 || in.U32BE() != kMagic) Fail("not a Sun raster file");
  SunHeader h{};
  h.width = in.U32BE();
  h.height = in.U32BE();
  h.depth = in.U32BE();
  in.U32BE();  // the length of the pixel data, 0 in old files: the rows say what follows
  h.type = in.U32BE();
  h.mapType = in.U32BE();
  h.mapLength = in.U32BE();
  if (h.type > kRgbOrder) Fail("unsupported picture type " + std::to_string(h.type));
  if (h.depth != 1 && h.depth != 8 && h.depth != 24 && h.depth != 32)
    Fail("unsupported depth " + std::to_string(h.depth));
  if (h.width == 0 || h.height == 0 || h.width > INT32_MAX || h.height > INT32_MAX)
    Fail("invalid image size");
  return h;
}

// An equal-RGB map holds all its reds, then all greens, then all blues. Other maps (raw
// maps) are passed over; so is a map beside 24- and 32-bit colours.
LogPalette ReadColourMap(ByteReader& in, const SunHeader& header) {
  if (header.mapLength > in.Remaining()) Fail("the colour map is cut short");
  const std::span<const uint8_t> map = in.Bytes(header.mapLength);
  if (header.mapType != kEqualRgb || header.depth > 8) return {};
  const size_t count = std::min<size_t>(map.size() / 3, 256);
  LogPalette palette(count);
  for (size_t i = 0; i < count; ++i)
    palette.entries[i] = {map[i], map[map.size() / 3 + i], map[2 * (map.size() / 3) + i], 0};
  return palette;
}

// The rows as stored, one at a time: taken from the file as they are, or expanded from
// byte-encoded runs, which run on from one row into the next.
class RowSource {
 public:
  RowSource(std::span<const uint8_t> data, bool encoded, size_t rowBytes)
      : in_(data), encoded_(encoded), row_(encoded ? rowBytes : 0) {}

  std::span<const uint8_t> Next(size_t rowBytes) {
    if (!encoded_) return in_.Bytes(rowBytes);
    for (uint8_t& out : row_) out = NextByte();
    return row_;
  }

 private:
  // An escape byte, a count n and a value give the value n + 1 times; the escape byte and
  // a count of 0 give the escape byte itself.
  uint8_t NextByte() {
    if (runLeft_ > 0) {
      --runLeft_;
      return runValue_;
    }
    const uint8_t byte = in_.U8();
    if (byte != kRunEscape) return byte;
    const uint8_t count = in_.U8();
    if (count == 0) return kRunEscape;
    runValue_ = in_.U8();
    runLeft_ = count;
    return runValue_;
  }

  ByteReader in_;
  bool encoded_;
  std::vector<uint8_t> row_;
  size_t runLeft_ = 0;
  uint8_t runValue_ = 0;
};

void PlaceRow(const SunHeader& header, std::span<const uint8_t> stored, uint8_t* row) {
  const size_t width = header.width;
  switch (header.depth) {
    case 1: std::memcpy(row, stored.data(), (width + 7) / 8); break;
    case 8: std::memcpy(row, stored.data(), width); break;
    case 24:
      if (header.type == kRgbOrder)
        RGBToBGR(stored.data(), row, 8, uint32_t(width * 3));
      else
        std::memcpy(row, stored.data(), width * 3);
      break;
    case 32: {
      // A pad byte, then the colour.
      const bool rgb = header.type == kRgbOrder;
      for (size_t x = 0; x < width; ++x) {
        const uint8_t* pixel = stored.subspan(4 * x + 1, 3).data();
        row[3 * x] = rgb ? pixel[2] : pixel[0];
        row[3 * x + 1] = pixel[1];
        row[3 * x + 2] = rgb ? pixel[0] : pixel[2];
      }
      break;
    }
  }
}

void GivePalette(Bitmap& bitmap, const SunHeader& header, const LogPalette& map) {
  if (!map.entries.empty())
    bitmap.SetPalette(CreatePalette(map));
  else if (header.depth == 1)
    // Without a map a set bit is black.
    bitmap.SetPalette(CreatePalette(BlackWhitePaletteRecord(ZeroBit::White)));
  else
    bitmap.SetPalette(CreatePalette(GreyPaletteRecord()));
}

PixelFormat FormatFor(uint32_t depth) {
  return depth == 1 ? PixelFormat::Bits1 : depth == 8 ? PixelFormat::Bits8 : PixelFormat::Bits24;
}

}  // namespace

void TSunRasterGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::vector<uint8_t> storage;
  ByteReader file(stream.ReadRestView(storage));
  const SunHeader header = ParseHeader(file);
  const LogPalette map = ReadColourMap(file, header);

  const bool encoded = header.type == kByteEncoded;
  const size_t rowBytes = header.StoredRowBytes();
  // Rows of 2^33 bytes by 2^31 rows would not fit in 64 bits; no file can fill them anyway.
  const uint64_t pictureBytes =
      rowBytes > UINT64_MAX / header.height ? UINT64_MAX : uint64_t(rowBytes) * header.height;
  if (!CanFill(file.Remaining(), encoded ? kLongestRunPerByte : 1, pictureBytes))
    Fail("the file ends before its last row");

  SetPixelFormat(FormatFor(header.depth));
  if (header.depth <= 8) GivePalette(*this, header, map);
  RowFill fill(*this, int(header.width), int(header.height));
  RowSource rows(file.Rest(), encoded, rowBytes);
  try {
    for (int y = 0; y < Height(); ++y) PlaceRow(header, rows.Next(rowBytes), ScanLine(y));
  } catch (const StreamReadError&) {
    Fail("the file ends before its last row");
  }
  fill.Done();
}

}  // namespace pictures
