#include "pictures/formats/mpo.h"

#include <cstring>
#include <vector>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TMPOGraphic, TJPEGImage)

namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kApp2 = 0xE2;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint16_t kMpEntryTag = 0xB002;
constexpr uint32_t kMpEntryBytes = 16;

// The data of the first APP2 segment that holds the multi-picture index, from the index's
// own TIFF-style header on; empty when the header segments have none.
std::span<const uint8_t> MultiPictureSegment(ByteReader& jpeg) {
  if (jpeg.U8() != kMarker || jpeg.U8() != 0xD8) return {};  // not a JPEG file
  for (;;) {
    if (jpeg.U8() != kMarker) return {};
    uint8_t marker = jpeg.U8();
    while (marker == kMarker) marker = jpeg.U8();  // fill bytes
    if (marker == kStartOfScan) return {};         // the header segments are over
    const uint16_t length = jpeg.U16BE();
    if (length < 2) return {};
    const std::span<const uint8_t> data = jpeg.Bytes(length - 2u);
    if (marker == kApp2 && data.size() >= 4 && std::memcmp(data.data(), "MPF\0", 4) == 0)
      return data.subspan(4);
  }
}

// The length of the first picture that the index's first MP entry gives, or 0.
uint32_t FirstPictureLength(std::span<const uint8_t> index) {
  ByteReader tiff(index);
  const uint16_t order = tiff.U16BE();
  if (order != 0x4949 && order != 0x4D4D) return 0;
  const bool little = order == 0x4949;
  const auto u16 = [&] { return little ? tiff.U16LE() : tiff.U16BE(); };
  const auto u32 = [&] { return little ? tiff.U32LE() : tiff.U32BE(); };
  if (u16() != 42) return 0;
  tiff.Seek(u32());
  const uint16_t entries = u16();
  for (uint16_t i = 0; i < entries; ++i) {
    const uint16_t tag = u16();
    tiff.Skip(2);  // the type: undefined bytes
    const uint32_t count = u32();
    const uint32_t offset = u32();
    if (tag != kMpEntryTag) continue;
    if (count < kMpEntryBytes) return 0;
    tiff.Seek(offset);
    tiff.Skip(4);  // the picture's attributes
    return u32();
  }
  return 0;
}

}  // namespace

std::span<const uint8_t> FirstMpoPicture(std::span<const uint8_t> file) {
  try {
    ByteReader jpeg(file);
    const uint32_t length = FirstPictureLength(MultiPictureSegment(jpeg));
    // The first picture starts the file, so its length reaches at least past its index.
    if (length >= jpeg.Position() && length <= file.size()) return file.first(length);
  } catch (const StreamReadError&) {
  }
  return file;
}

void TMPOGraphic::LoadFromStream(Stream& stream) {
  std::vector<uint8_t> storage;
  ViewStream first(FirstMpoPicture(stream.ReadRestView(storage)));
  TJPEGImage::LoadFromStream(first);
}

}  // namespace pictures
