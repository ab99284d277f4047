// SGI image files (.sgi, .rgb, .rgba, .bw): black-and-white, RGB and RGBA pictures stored as
// planes of rows, plain or run-length packed, with 8 or 16 bits per sample.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "compression/rle.h"
#include "pictures/bitmap.h"

namespace pictures {

class TSGIGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;

 private:
  // Reads SGI row `row` (0 = bottom) of each channel whose buffer is given into that
  // buffer, one byte a pixel. Samples the file does not hold read as 0. Returns false
  // when the file holds nothing of the row.
  bool ReadRow(int row, uint8_t* red, uint8_t* green, uint8_t* blue, uint8_t* alpha);
  bool ReadChannelRow(int row, int channel, uint8_t* dest);
  void ReleaseLoadState();

  // Load state, alive during one LoadFromStream.
  int64_t BasePosition = 0;
  std::vector<uint32_t> RowStarts;   // packed files: offset of each row, by row + channel * height
  std::vector<uint32_t> RowLengths;  // packed files: packed bytes of each row
  std::vector<uint8_t> RowBuffer;    // packed or 16-bit row data on its way to a channel
  Stream* Stream_ = nullptr;
  std::unique_ptr<TSGIRLE> Decoder;  // present for packed files
  uint8_t BytesPerChannel = 1;
};

}  // namespace pictures
