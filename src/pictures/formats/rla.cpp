#include "pictures/formats/rla.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "compression/rle.h"
#include "base/byte_reader.h"
#include "base/error.h"
#include "base/pixel_helpers.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TRLAGraphic, Bitmap)

namespace {

constexpr size_t kHeaderSize = 740;
// Offsets of the header fields the reader uses; every number is big-endian.
constexpr size_t kActiveWindowOffset = 8;  // left, right, bottom, top (signed 16-bit)
constexpr size_t kChannelCountOffset = 20;  // colour channels, matte channels

// A packet's length is a 16-bit count, so no packet can be longer than this.
constexpr size_t kLargestPacket = 0xFFFF;

struct RLAHeader {
  int width = 0;
  int height = 0;
  bool storedUpwards = false;  // the file's first row is the bottom row
  int colourChannels = 0;
  bool hasMatte = false;
};

RLAHeader ParseHeader(std::span<const uint8_t> bytes) {
  ByteReader fields(bytes);
  RLAHeader header;
  fields.Seek(kActiveWindowOffset);
  const int left = fields.S16BE();
  const int right = fields.S16BE();
  const int bottom = fields.S16BE();
  const int top = fields.S16BE();
  fields.Seek(kChannelCountOffset);
  header.colourChannels = fields.S16BE();
  header.hasMatte = fields.S16BE() != 0;
  if (header.colourChannels != 3 && header.colourChannels != 4)
    throw PictureError("RLA: image must be RGB(A).");
  header.width = right - left + 1;
  header.height = std::abs(bottom - top) + 1;
  header.storedUpwards = bottom < top;
  if (header.width < 1) throw PictureError("RLA: invalid image size.");
  return header;
}

// Guards against pictures far larger than the file: rows may share their data through the
// offset table, but each distinct row must come from packet bytes, of which a run packet
// (a count and a value) gives at most 128 pixels of one channel.
void RequireRowData(std::vector<int64_t> offsets, int64_t dataBytes, uint64_t rowBytes) {
  constexpr uint64_t kLongestRunPerByte = 64;
  std::sort(offsets.begin(), offsets.end());
  const auto distinctRows = uint64_t(std::unique(offsets.begin(), offsets.end()) - offsets.begin());
  RequireFill(uint64_t(std::max<int64_t>(dataBytes, 0)), kLongestRunPerByte,
              distinctRows * rowBytes);
}

}  // namespace

void TRLAGraphic::LoadFromStream(Stream& stream) {
  Clear();
  const int64_t start = stream.Position();
  std::array<uint8_t, kHeaderSize> headerBytes;
  stream.ReadBuffer(headerBytes.data(), headerBytes.size());
  const RLAHeader header = ParseHeader(headerBytes);

  // A 32-bit picture reads the three colour channels and the matte; a fourth colour
  // channel is never shown, and when a matte follows it, it is stepped over.
  const int channelsPerRow = header.hasMatte ? 4 : 3;
  const int skippedChannels = header.hasMatte ? header.colourChannels - 3 : 0;

  // The offset table is read and checked against the file before the picture's memory is
  // taken, so that a short file with a large header fails without allocating.
  std::vector<uint8_t> table = stream.ReadBytes(size_t(header.height) * 4);
  std::vector<int64_t> rowOffsets(size_t(header.height));
  const int64_t smallestRow = 2 * int64_t(channelsPerRow + skippedChannels);
  for (size_t y = 0; y < rowOffsets.size(); ++y) {
    rowOffsets[y] = start + int64_t(LoadU32BE(&table[y * 4]));
    if (rowOffsets[y] + smallestRow > stream.Size()) throw StreamReadError();
  }
  RequireRowData(rowOffsets, stream.Remaining(), uint64_t(header.width) * channelsPerRow);

  SetPixelFormat(header.hasMatte ? PixelFormat::Bits32 : PixelFormat::Bits24);
  SetSize(header.width, header.height);

  const size_t width = size_t(header.width);
  std::vector<uint8_t> packet(kLargestPacket);
  std::vector<uint8_t> channels(CheckedBufferSize({4, width}));
  std::array<uint8_t*, 4> channel;
  for (size_t c = 0; c < 4; ++c) channel[c] = channels.data() + c * width;
  TRLADecoder decoder;

  for (int y = 0; y < header.height; ++y) {
    stream.Seek(rowOffsets[size_t(y)]);
    uint8_t* line = ScanLine(header.storedUpwards ? header.height - 1 - y : y);
    for (int c = 0; c < channelsPerRow; ++c) {
      if (c == 3) {
        for (int skip = 0; skip < skippedChannels; ++skip) {
          const uint16_t skippedLength = ReadU16BE(stream);
          Skip(stream, skippedLength);
        }
      }
      const uint16_t length = ReadU16BE(stream);
      stream.ReadBuffer(packet.data(), length);
      // A packet that expands to fewer pixels than the row leaves the rest black rather
      // than showing the previous row's values.
      std::memset(channel[size_t(c)], 0, width);
      const uint8_t* source = packet.data();
      decoder.Decode(source, channel[size_t(c)], length, header.width);
    }
    if (header.hasMatte)
      PlanesToBGRA(channel[0], channel[1], channel[2], channel[3], line, width);
    else
      PlanesToBGR(channel[0], channel[1], channel[2], line, width);
  }
}

}  // namespace pictures
