// An IFF file is a FORM chunk: "FORM", a big-endian size, the form type ("ILBM" or
// "PBM "), then chunks of a four-letter id, a size and the data, padded to an even length.
// BMHD gives the size, the number of bit planes, the masking and the compression; CMAP the
// colours (three bytes each); CAMG the Amiga viewport modes (hold-and-modify, extra
// half-brite); DCOL the bits of each component of a direct-colour picture; BODY the rows.
// An ILBM row holds each plane in turn, a word-aligned run of bits, leftmost pixel in the
// most significant bit (plane 0 gives bit 0 of the pixel), then the mask plane where there
// is one; a PBM row holds one byte a pixel, padded to an even length. Rows may be packed
// with ByteRun1, which is PackBits.
#include "pictures/formats/ilbm.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/error.h"
#include "base/pixel_helpers.h"
#include "compression/rle.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TILBMGraphic, Bitmap)

namespace {

constexpr uint32_t Id(const char (&name)[5]) {
  return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
         uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3]));
}

// Viewport mode flags of the CAMG chunk.
constexpr uint32_t kHoldAndModify = 0x800;
constexpr uint32_t kExtraHalfBrite = 0x80;
// BMHD masking 1: a mask plane follows the colour planes of every row.
constexpr int kMaskPlane = 1;
constexpr int kByteRun1 = 1;

[[noreturn]] void Fail(const std::string& what) { throw PictureError("IFF: " + what); }

// The BMHD fields the reader uses: the size, the bit planes of the colours (a mask plane
// is not counted), the masking and the compression.
struct BitmapHeader {
  int width = 0, height = 0;
  int planes = 0, masking = 0, compression = 0;
};

struct DirectColourBits {
  int red, green, blue;
};

// What the chunks of the FORM say.
struct IFFPicture {
  bool chunky = false;  // FORM PBM
  std::optional<BitmapHeader> header;
  std::optional<uint32_t> viewportModes;
  std::optional<std::vector<PaletteEntry>> colours;
  std::optional<DirectColourBits> directColour;
  std::optional<std::span<const uint8_t>> body;
};

BitmapHeader ParseBitmapHeader(std::span<const uint8_t> data) {
  if (data.size() < 20) Fail("the BMHD chunk is too short");
  ByteReader in(data);
  BitmapHeader header;
  header.width = in.U16BE();
  header.height = in.U16BE();
  in.Skip(4);  // the position of the picture on the page
  header.planes = in.U8();
  header.masking = in.U8();
  header.compression = in.U8();
  return header;
}

std::vector<PaletteEntry> ParseColourMap(std::span<const uint8_t> data) {
  std::vector<PaletteEntry> colours(std::min<size_t>(data.size() / 3, 256));
  ByteReader in(data);
  for (PaletteEntry& colour : colours) {
    colour.red = in.U8();
    colour.green = in.U8();
    colour.blue = in.U8();
  }
  return colours;
}

IFFPicture ReadChunks(std::span<const uint8_t> file) {
  ByteReader in(file);
  if (file.size() < 12 || in.U32BE() != Id("FORM")) Fail("not an IFF file");
  const uint32_t formSize = in.U32BE();
  const uint32_t type = in.U32BE();
  if (type != Id("ILBM") && type != Id("PBM ")) Fail("not an ILBM or PBM picture");
  IFFPicture picture;
  picture.chunky = type == Id("PBM ");
  // A FORM that claims more than the file holds (a file cut short) is read as far as it goes.
  const size_t formBytes = std::max<uint32_t>(formSize, 4) - 4;
  ByteReader chunks(file.subspan(12, std::min(formBytes, file.size() - 12)));
  while (chunks.Remaining() >= 8) {
    const uint32_t id = chunks.U32BE();
    const uint32_t size = chunks.U32BE();
    const std::span<const uint8_t> data = chunks.Bytes(std::min<size_t>(size, chunks.Remaining()));
    if (size % 2 && !chunks.AtEnd()) chunks.Skip(1);
    if (id == Id("BMHD")) {
      picture.header = ParseBitmapHeader(data);
    } else if (id == Id("CMAP")) {
      picture.colours = ParseColourMap(data);
    } else if (id == Id("CAMG") && data.size() >= 4) {
      picture.viewportModes = LoadU32BE(data.data());
    } else if (id == Id("DCOL") && data.size() >= 3) {
      picture.directColour = DirectColourBits{data[0], data[1], data[2]};
    } else if (id == Id("BODY") && !picture.body) {
      picture.body = data;
    }
  }
  return picture;
}

// How the stored pixels become colours.
enum class Model {
  Palette,         // an index into the colour map
  ExtraHalfBrite,  // indices 32 to 63 are the colours 0 to 31 at half brightness
  HoldAndModify,   // an index, or a new value for one component of the pixel to the left
  Deep,            // 8 planes each of red, green, blue (and alpha)
  DirectColour,    // the planes of red, then green, then blue, of the DCOL chunk's sizes
};

Model ModelOf(const IFFPicture& picture) {
  const int planes = picture.header->planes;
  if (picture.chunky) {
    if (planes > 8) Fail("a PBM picture of " + std::to_string(planes) + " bits a pixel is not supported");
    return Model::Palette;
  }
  if (picture.directColour) {
    const DirectColourBits bits = *picture.directColour;
    if (std::min({bits.red, bits.green, bits.blue}) < 1 ||
        std::max({bits.red, bits.green, bits.blue}) > 8)
      Fail("direct colour must have 1 to 8 bits a component");
    if (bits.red + bits.green + bits.blue != planes)
      Fail("the DCOL chunk does not match the number of bit planes");
    return Model::DirectColour;
  }
  if (planes == 24 || planes == 32) return Model::Deep;
  if (planes > 8) Fail(std::to_string(planes) + " bit planes are not supported");
  if (picture.viewportModes) {
    if ((*picture.viewportModes & kHoldAndModify) && planes >= 3) return Model::HoldAndModify;
    if ((*picture.viewportModes & kExtraHalfBrite) && planes == 6) return Model::ExtraHalfBrite;
    return Model::Palette;
  }
  // Without viewport modes, a six-plane picture whose colour map is too short for 64
  // colours can only be in one of the modes that need fewer: hold-and-modify takes 16
  // colours, extra half-brite 32.
  const size_t colours = picture.colours ? picture.colours->size() : 64;
  if (planes == 6 && colours <= 32)
    return colours <= 16 ? Model::HoldAndModify : Model::ExtraHalfBrite;
  return Model::Palette;
}

// The colour map as the picture uses it: `count` entries, those the CMAP lacks black, or a
// grey ramp when there is no CMAP.
LogPalette PaletteOf(const IFFPicture& picture, Model model) {
  const int planes = picture.header->planes;
  const size_t count = model == Model::ExtraHalfBrite ? 64
                       : model == Model::HoldAndModify ? size_t(1) << (planes - 2)
                                                       : size_t(1) << planes;
  LogPalette record(count);
  if (picture.colours) {
    std::copy_n(picture.colours->begin(), std::min(count, picture.colours->size()),
                record.entries.begin());
  } else {
    for (size_t i = 0; i < count; ++i) {
      const auto level = uint8_t(count > 1 ? (i * 255 + (count - 1) / 2) / (count - 1) : 0);
      record.entries[i] = {level, level, level, 0};
    }
  }
  if (model == Model::ExtraHalfBrite) {
    for (size_t i = 32; i < 64; ++i) {
      const PaletteEntry& bright = record.entries[i - 32];
      record.entries[i] = {uint8_t(bright.red >> 1), uint8_t(bright.green >> 1),
                           uint8_t(bright.blue >> 1), 0};
    }
  }
  return record;
}

// Spreads the eight bits of a plane byte, leftmost pixel first, into the lowest bits of
// eight bytes: pixel k in byte k (counted from the least significant).
constexpr std::array<uint64_t, 256> kSpread = [] {
  std::array<uint64_t, 256> spread{};
  for (uint32_t b = 0; b < 256; ++b)
    for (uint32_t k = 0; k < 8; ++k) spread[b] |= uint64_t((b >> (7 - k)) & 1) << (8 * k);
  return spread;
}();

// One stored ILBM row, with its planes turned into bytes a pixel.
class PlaneRow {
 public:
  PlaneRow(size_t planeBytes, int storedPlanes)
      : planeBytes_(planeBytes), stored_(planeBytes * size_t(storedPlanes)) {}

  std::span<uint8_t> Stored() { return stored_; }
  std::span<const uint8_t> Stored() const { return stored_; }

  // Gathers `count` (at most 8) planes from plane `first` on into one byte a pixel, plane
  // first + k giving bit k; `out` holds 8 bytes for each byte of a plane.
  void Gather(int first, int count, std::span<uint8_t> out) const {
    for (size_t i = 0; i < planeBytes_; ++i) {
      uint64_t eight = 0;
      for (int k = 0; k < count; ++k)
        eight |= kSpread[stored_[size_t(first + k) * planeBytes_ + i]] << k;
      for (size_t j = 0; j < 8; ++j) out[8 * i + j] = uint8_t(eight >> (8 * j));
    }
  }

 private:
  size_t planeBytes_;
  std::vector<uint8_t> stored_;
};

// Hold-and-modify: the top two bits of a pixel say whether its low bits are a colour map
// index (0) or the new top bits of its blue (1), red (2) or green (3) component, whose
// lower bits stay those of the pixel to its left. Each row starts from colour 0.
void HoldAndModifyToBGR(std::span<const uint8_t> pixels, const LogPalette& palette, int planes,
                        std::span<uint8_t> out) {
  const int valueBits = planes - 2;
  const uint8_t valueMask = uint8_t((1 << valueBits) - 1);
  const int shift = 8 - valueBits;
  const uint8_t keep = uint8_t((1 << shift) - 1);
  PaletteEntry colour = palette.entries[0];
  for (size_t x = 0; x < out.size() / 3; ++x) {
    const uint8_t value = pixels[x] & valueMask;
    const uint8_t modified = uint8_t(value << shift);
    switch (pixels[x] >> valueBits) {
      case 0: colour = palette.entries[value]; break;
      case 1: colour.blue = uint8_t(modified | (colour.blue & keep)); break;
      case 2: colour.red = uint8_t(modified | (colour.red & keep)); break;
      default: colour.green = uint8_t(modified | (colour.green & keep)); break;
    }
    out[3 * x] = colour.blue;
    out[3 * x + 1] = colour.green;
    out[3 * x + 2] = colour.red;
  }
}

// Values of `bits` bits scaled to 0..255.
std::array<uint8_t, 256> ScaleTable(int bits) {
  std::array<uint8_t, 256> table{};
  const uint32_t top = (1u << bits) - 1;
  for (uint32_t v = 0; v <= top; ++v) table[v] = uint8_t((v * 255 + top / 2) / top);
  return table;
}

// The stored rows of the BODY, one at a time, copied or expanded.
class BodyRows {
 public:
  BodyRows(std::span<const uint8_t> body, bool packed) : plain_(body), runs_(body), packed_(packed) {}

  // Fills `row`, with zeros where the data ends; false when it ended.
  bool Next(std::span<uint8_t> row) {
    size_t got = 0;
    if (packed_) {
      got = runs_.Read(row);
    } else {
      got = std::min(row.size(), plain_.Remaining());
      plain_.Copy(row.data(), got);
    }
    std::fill(row.begin() + ptrdiff_t(got), row.end(), 0);
    return got == row.size();
  }

 private:
  ByteReader plain_;
  PackBitsRunReader runs_;
  bool packed_;
};

// Turns stored rows into Bitmap rows: palette indices, or blue, green, red (and alpha).
class RowConverter {
 public:
  RowConverter(const IFFPicture& picture, Model model, size_t planeBytes)
      : model_(model),
        chunky_(picture.chunky),
        planes_(picture.header->planes),
        width_(size_t(picture.header->width)),
        alpha_(model == Model::Deep && planes_ == 32),
        indexed_(model == Model::Palette || model == Model::ExtraHalfBrite),
        palette_(indexed_ || model == Model::HoldAndModify ? PaletteOf(picture, model) : LogPalette()),
        // A DCOL chunk counts only where it chose the model (a PBM picture ignores it).
        direct_(model == Model::DirectColour ? *picture.directColour : DirectColourBits{8, 8, 8}),
        scratch_(planeBytes * 8 * 4) {
    for (size_t c = 0; c < 4; ++c) component_[c] = std::span(scratch_).subspan(c * planeBytes * 8, planeBytes * 8);
    scale_ = {ScaleTable(direct_.red), ScaleTable(direct_.green), ScaleTable(direct_.blue)};
  }
  RowConverter(const RowConverter&) = delete;
  RowConverter& operator=(const RowConverter&) = delete;

  PixelFormat Format() const {
    return indexed_ ? PixelFormat::Bits8 : alpha_ ? PixelFormat::Bits32 : PixelFormat::Bits24;
  }
  const LogPalette& Palette() const { return palette_; }

  void Convert(const PlaneRow& stored, std::span<uint8_t> line) const {
    if (chunky_) {
      std::copy_n(stored.Stored().begin(), width_, line.begin());
    } else if (indexed_) {
      stored.Gather(0, planes_, component_[0]);
      std::copy_n(component_[0].begin(), width_, line.begin());
    } else if (model_ == Model::HoldAndModify) {
      stored.Gather(0, planes_, component_[0]);
      HoldAndModifyToBGR(component_[0], palette_, planes_, line);
    } else if (model_ == Model::Deep) {
      for (int c = 0; c < (alpha_ ? 4 : 3); ++c) stored.Gather(8 * c, 8, component_[size_t(c)]);
      if (alpha_)
        PlanesToBGRA(component_[0].data(), component_[1].data(), component_[2].data(),
                     component_[3].data(), line.data(), width_);
      else
        PlanesToBGR(component_[0].data(), component_[1].data(), component_[2].data(), line.data(), width_);
    } else {
      const int bits[3] = {direct_.red, direct_.green, direct_.blue};
      for (size_t c = 0, first = 0; c < 3; first += size_t(bits[c]), ++c) {
        stored.Gather(int(first), bits[c], component_[c]);
        for (uint8_t& v : component_[c]) v = scale_[c][v];
      }
      PlanesToBGR(component_[0].data(), component_[1].data(), component_[2].data(), line.data(), width_);
    }
  }

 private:
  Model model_;
  bool chunky_;
  int planes_;
  size_t width_;
  bool alpha_;
  bool indexed_;
  LogPalette palette_;
  DirectColourBits direct_;
  std::vector<uint8_t> scratch_;  // four rows of bytes a pixel, which component_ views
  std::array<std::span<uint8_t>, 4> component_;
  std::array<std::array<uint8_t, 256>, 3> scale_;
};

}  // namespace

void TILBMGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::vector<uint8_t> storage;
  const IFFPicture picture = ReadChunks(stream.ReadRestView(storage));
  if (!picture.header) Fail("the file has no BMHD chunk");
  const BitmapHeader& header = *picture.header;
  if (header.planes == 0) Fail("the file holds a colour map but no picture");
  if (!picture.body) Fail("the file has no BODY chunk");
  if (header.width == 0 || header.height == 0) Fail("invalid picture size");
  if (header.compression > kByteRun1)
    Fail("unknown compression " + std::to_string(header.compression));
  const Model model = ModelOf(picture);

  const size_t width = size_t(header.width);
  const size_t planeBytes = picture.chunky ? (width + 1) / 2 * 2 : (width + 15) / 16 * 2;
  const int storedPlanes =
      picture.chunky ? 1 : header.planes + (header.masking == kMaskPlane ? 1 : 0);
  const uint64_t storedBytes = uint64_t(planeBytes) * uint64_t(storedPlanes) * uint64_t(header.height);
  const std::span<const uint8_t> body = *picture.body;
  const bool packed = header.compression == kByteRun1;
  if ((packed ? PackBitsMaxUnpacked(body.size()) : body.size()) < storedBytes)
    Fail("the BODY is too short for the picture");

  const RowConverter converter(picture, model, planeBytes);
  SetPixelFormat(converter.Format());
  SetSize(header.width, header.height);
  SetTransparent(converter.Format() == PixelFormat::Bits32);
  if (converter.Format() == PixelFormat::Bits8) SetPalette(CreatePalette(converter.Palette()));

  BodyRows rows(body, packed);
  PlaneRow stored(planeBytes, storedPlanes);
  for (int y = 0; y < header.height; ++y) {
    const bool complete = rows.Next(stored.Stored());
    converter.Convert(stored, std::span(ScanLine(y), RowBytes()));
    // A packed BODY that ends early leaves the rest of the picture black.
    if (!complete) break;
  }
}

}  // namespace pictures
