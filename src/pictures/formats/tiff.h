// The TIFF reader: the first image of a TIFF file. Our own reader takes strips,
// uncompressed, LZW or PackBits, in the layouts and depths its row routines convert right;
// every other TIFF (tiles, other compressions, BigTIFF, orientation...) goes to libtiff.
#pragma once

#include <cstdint>
#include <vector>

#include "pictures/bitmap.h"

namespace pictures {

class TTIFFGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  // A new TIFF picture is an empty 24-bit Bitmap.
  TTIFFGraphic();

  void LoadFromStream(Stream& stream) override;

  // One directory entry as it stands in the file. `value` is the value field read in the
  // file's byte order as a 32-bit word; `raw` keeps its four bytes as stored, because
  // short value lists (two SHORTs, four BYTEs) live in the field itself.
  struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    uint32_t value = 0;
    uint8_t raw[4] = {};
  };

  uint16_t ByteOrder = 0;
  uint16_t Version = 0;
  uint32_t FirstIFD = 0;
  std::vector<Entry> Directory;
  int64_t BasePosition = 0;
  // Red values, then green, then blue; 3 << bits per sample values for a palette picture.
  std::vector<uint16_t> ColorMap;
  // Whether the last load went to libtiff rather than our own strip reader.
  bool ReadByLibrary = false;

 private:
  struct StripLayout;

  bool Motorola() const { return ByteOrder == 0x4D4D; }
  void ReadHeader(Stream& stream);
  void ReadDirectory(Stream& stream);
  StripLayout ReadStripLayout(Stream& stream) const;
  bool OwnReaderTakes(const StripLayout& layout) const;
  void ReadColorMap(Stream& stream, const StripLayout& layout);
  // Raises the stream read error unless the strips hold enough data, at the compression's
  // best expansion, for `planes` planes of rows of `rowBytes`.
  void RequireStripData(Stream& stream, const StripLayout& layout, uint64_t rowBytes,
                        uint64_t planes) const;
  void ReadStrips(Stream& stream, const StripLayout& layout);
  const Entry* FindTag(uint16_t tag) const;
  uint32_t GetValue(uint16_t tag, uint32_t defaultValue) const;
  // The tag's values by the type its entry declares, read from the value field itself when
  // they fit in its four bytes and from the offset otherwise. At most `limit` values are
  // read. A missing tag, or one of a type that holds no integers, gives an empty list.
  std::vector<uint32_t> GetValueList(Stream& stream, uint16_t tag,
                                     uint32_t limit = UINT32_MAX) const;
};

}  // namespace pictures
