// A float map is text, then samples: the magic ("PF" colour or "Pf" grey with 32-bit
// floats, "PH" or "Ph" with 16-bit halves), the width, the height and a scale, separated by
// white space; one white-space byte after the scale; then the rows, bottom row first, each
// pixel's samples in the order red, green, blue. The scale's sign gives the byte order of
// the samples (negative: little-endian); its size is a unit for the samples and plays no
// part in showing them.
#include "pictures/formats/pfm.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"
#include "base/colour_space.h"
#include "base/error.h"
#include "base/pixel_helpers.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TPFMGraphic, Bitmap)

namespace {

[[noreturn]] void Fail(const std::string& what) { throw PictureError("PFM: " + what); }

bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The next word of the header, after any white space; the byte that ends it is left.
std::string_view NextWord(ByteReader& in) {
  while (!in.AtEnd() && IsSpace(in.Peek(1)[0])) in.Skip(1);
  const std::span<const uint8_t> rest = in.Rest();
  size_t length = 0;
  while (length < rest.size() && length < 64 && !IsSpace(rest[length])) ++length;
  in.Skip(length);
  return {reinterpret_cast<const char*>(rest.data()), length};
}

int ParseSize(std::string_view word) {
  int value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size() || value < 1) Fail("invalid picture size");
  return value;
}

struct FloatMapHeader {
  bool colour = false;
  int sampleBytes = 4;
  int width = 0;
  int height = 0;
  bool littleEndian = false;
};

FloatMapHeader ReadHeader(ByteReader& in) {
  FloatMapHeader header;
  const std::string_view magic = NextWord(in);
  if (magic != "PF" && magic != "Pf" && magic != "PH" && magic != "Ph") Fail("not a float map");
  header.colour = magic[1] == 'F' || magic[1] == 'H';
  header.sampleBytes = magic[1] == 'F' || magic[1] == 'f' ? 4 : 2;
  header.width = ParseSize(NextWord(in));
  header.height = ParseSize(NextWord(in));
  const std::string_view scaleText = NextWord(in);
  double scale = 0;
  const auto [end, error] = std::from_chars(scaleText.data(), scaleText.data() + scaleText.size(), scale);
  if (error != std::errc() || end != scaleText.data() + scaleText.size() || scale == 0 || !std::isfinite(scale))
    Fail("invalid scale");
  header.littleEndian = scale < 0;
  if (in.AtEnd() || !IsSpace(in.U8())) Fail("invalid scale");
  return header;
}

}  // namespace

void TPFMGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::vector<uint8_t> storage;
  ByteReader in(stream.ReadRestView(storage));
  const FloatMapHeader header = ReadHeader(in);
  const size_t samples = header.colour ? 3 : 1;
  const size_t width = size_t(header.width);
  const size_t rowBytes = width * samples * size_t(header.sampleBytes);
  if (!CanFill(in.Remaining(), 1, uint64_t(rowBytes) * uint64_t(header.height)))
    Fail("the file is shorter than its picture");

  SetPixelFormat(header.colour ? PixelFormat::Bits24 : PixelFormat::Bits8);
  RowFill fill(*this, header.width, header.height);
  if (!header.colour) SetPalette(CreatePalette(GreyPaletteRecord()));
  auto sample = [&](std::span<const uint8_t> bytes) {
    if (header.sampleBytes == 2)
      return HalfToFloat(header.littleEndian ? LoadU16LE(bytes.data()) : LoadU16BE(bytes.data()));
    return std::bit_cast<float>(header.littleEndian ? LoadU32LE(bytes.data()) : LoadU32BE(bytes.data()));
  };
  const size_t bytes = size_t(header.sampleBytes);
  for (int y = header.height - 1; y >= 0; --y) {
    const std::span<const uint8_t> row = in.Bytes(rowBytes);
    uint8_t* out = ScanLine(y);
    // Samples are red, green, blue; the Bitmap's pixels blue, green, red.
    for (size_t x = 0; x < width; ++x)
      for (size_t c = 0; c < samples; ++c)
        out[x * samples + (samples - 1 - c)] =
            LinearToSRGB8(sample(row.subspan((x * samples + c) * bytes, bytes)));
  }
  fill.Done();
}

}  // namespace pictures
