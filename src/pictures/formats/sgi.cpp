#include "pictures/formats/sgi.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/palette.h"
#include "base/pixel_helpers.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TSGIGraphic, Bitmap)

namespace {

constexpr size_t kHeaderSize = 512;
constexpr uint16_t kMagic = 474;
const char* const kNotSGI = "Not a valid sgi, bw or rgb(a) image.";

// Reads `count` big-endian 32-bit values at `offset`; values the file does not hold are 0.
std::vector<uint32_t> ReadTable(Stream& stream, int64_t offset, size_t count) {
  std::vector<uint8_t> bytes(count * 4, 0);
  stream.Seek(offset);
  stream.Read(bytes.data(), bytes.size());
  std::vector<uint32_t> table(count);
  for (size_t i = 0; i < count; ++i) table[i] = LoadU32BE(&bytes[i * 4]);
  return table;
}

// Guards against pictures far larger than the file. Rows may share packed data through the
// start table, but each distinct row comes from packets, of which a run (a count and one
// sample) gives at most 127 samples: 64 bytes a packed byte, 32 for 16-bit samples.
void RequirePackedRows(std::vector<uint32_t> starts, uint64_t dataBytes, int bytesPerChannel,
                       uint64_t width) {
  const uint64_t longestRunPerByte = bytesPerChannel == 1 ? 64 : 32;
  std::sort(starts.begin(), starts.end());
  const auto distinctRows = uint64_t(std::unique(starts.begin(), starts.end()) - starts.begin());
  RequireFill(dataBytes, longestRunPerByte, distinctRows * width);
}

}  // namespace

void TSGIGraphic::ReleaseLoadState() {
  RowStarts = {};
  RowLengths = {};
  RowBuffer = {};
  Decoder.reset();
  Stream_ = nullptr;
}

void TSGIGraphic::LoadFromStream(Stream& stream) {
  Clear();
  struct Release {
    TSGIGraphic* self;
    ~Release() { self->ReleaseLoadState(); }
  } release{this};

  Stream_ = &stream;
  BasePosition = stream.Position();
  // A short header reads as zeros past its end, as do the tables and rows below: the
  // reader takes what the file holds and leaves the rest black.
  std::array<uint8_t, kHeaderSize> header{};
  stream.Read(header.data(), header.size());
  ByteReader in(header);
  if (in.U16BE() != kMagic) throw PictureError(kNotSGI);
  const uint8_t storage = in.U8();
  BytesPerChannel = in.U8();
  in.U16BE();  // dimension
  const int width = in.U16BE();
  const int height = in.U16BE();
  const int depth = in.U16BE();  // the number of channels
  // Samples of 1 or 2 bytes are all the format has; any other size leaves no way to find
  // the rows.
  if (BytesPerChannel != 1 && BytesPerChannel != 2) throw PictureError(kNotSGI);

  // Only the first channel of a grey picture is shown (a grey picture with alpha shows its
  // grey), so only the used channels' table entries are read.
  const int channels = depth == 3 ? 3 : depth == 4 ? 4 : 1;
  // A valid packed row never needs more than three bytes a sample, so RowBuffer bounds every
  // read of packed data; the decoder stops at the buffer's end whatever the row says.
  RowBuffer.assign(CheckedBufferSize({uint64_t(width), BytesPerChannel, 3}) + 8, 0);
  const uint64_t dataBytes =
      uint64_t(std::max<int64_t>(stream.Size() - BasePosition - int64_t(kHeaderSize), 0));
  const uint64_t channelRows = uint64_t(height) * channels;
  if (storage == 1) {
    const int64_t tableBytes = int64_t(height) * depth * 4;
    // Both tables must be there: without them no row can be found.
    RequireFill(dataBytes, 1, uint64_t(tableBytes) + channelRows * 4);
    RowStarts = ReadTable(stream, BasePosition + int64_t(kHeaderSize), channelRows);
    RowLengths = ReadTable(stream, BasePosition + int64_t(kHeaderSize) + tableBytes, channelRows);
    Decoder = std::make_unique<TSGIRLE>();
    Decoder->SampleSize = BytesPerChannel;
    RequirePackedRows(RowStarts, dataBytes, BytesPerChannel, uint64_t(width));
  } else {
    RequireFill(dataBytes, 1, channelRows * width * BytesPerChannel);
  }

  SetPixelFormat(depth == 3   ? PixelFormat::Bits24
                 : depth == 4 ? PixelFormat::Bits32
                              : PixelFormat::Bits8);
  if (channels == 1) SetPalette(CreatePalette(GreyPaletteRecord()));
  SetSize(width, height);
  if (width == 0 || height == 0) return;

  // Rows are read into channel buffers first; a row the file holds nothing of is left as
  // the Bitmap's own zero memory, so that a short file with a large header touches no
  // more memory than it has rows.
  std::vector<uint8_t> planes(size_t(width) * 4);
  uint8_t* red = planes.data();
  uint8_t* green = red + width;
  uint8_t* blue = green + width;
  uint8_t* alpha = blue + width;
  for (int i = 0; i < height; ++i) {
    if (channels == 1) {
      if (ReadRow(i, red, nullptr, nullptr, nullptr))
        std::memcpy(ScanLine(height - 1 - i), red, size_t(width));
      continue;
    }
    if (!ReadRow(i, red, green, blue, channels == 4 ? alpha : nullptr)) continue;
    uint8_t* out = ScanLine(height - 1 - i);
    if (channels == 3)
      PlanesToBGR(red, green, blue, out, size_t(width));
    else
      PlanesToBGRA(red, green, blue, alpha, out, size_t(width));
  }
}

bool TSGIGraphic::ReadRow(int row, uint8_t* red, uint8_t* green, uint8_t* blue,
                          uint8_t* alpha) {
  uint8_t* const dests[4] = {red, green, blue, alpha};
  bool any = false;
  for (int c = 0; c < 4; ++c)
    if (dests[c] && ReadChannelRow(row, c, dests[c])) any = true;
  return any;
}

bool TSGIGraphic::ReadChannelRow(int row, int channel, uint8_t* dest) {
  const size_t width = size_t(Width());
  const int64_t height = Height();
  if (Decoder) {
    std::memset(dest, 0, width);
    const size_t index = size_t(row + channel * height);
    if (index >= RowStarts.size()) return false;
    Stream_->Seek(BasePosition + int64_t(RowStarts[index]));
    // Rows are read at their length times the sample size; the decoder ends the row at
    // its closing zero count.
    const size_t wanted = std::min<uint64_t>(uint64_t(RowLengths[index]) * BytesPerChannel,
                                             RowBuffer.size());
    const size_t got = Stream_->Read(RowBuffer.data(), wanted);
    const uint8_t* source = RowBuffer.data();
    Decoder->Decode(source, dest, int32_t(got), int32_t(width));
    return got > 0;
  }
  const int64_t plane = (channel * height + row) * int64_t(width) * BytesPerChannel;
  Stream_->Seek(BasePosition + int64_t(kHeaderSize) + plane);
  if (BytesPerChannel == 1) {
    const size_t got = Stream_->Read(dest, width);
    std::memset(dest + got, 0, width - got);
    return got > 0;
  }
  const size_t got = Stream_->Read(RowBuffer.data(), width * 2);
  std::memset(RowBuffer.data() + got, 0, width * 2 - got);
  HighBytesOfBE16(RowBuffer.data(), dest, width);
  return got > 0;
}

}  // namespace pictures
