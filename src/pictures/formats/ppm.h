// Netpbm portable bitmaps (.pbm, .pgm, .ppm): bitmaps, grey maps and pixel maps, as text
// (P1, P2, P3) or raw bytes (P4, P5, P6). The magic number inside the file decides the
// variant; the extension plays no part.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "pictures/bitmap.h"

namespace pictures {

class TPPMGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override;

 private:
  static constexpr size_t kBufferSize = 4096;

  // The next byte of the stream, through the buffer; raises "PPM: Stream read error." at
  // the end of the stream.
  uint8_t ReadByte();
  // The byte at the buffer index without consuming it, or 0 when the buffer is used up
  // (the buffer is not refilled).
  uint8_t PeekByte() const;
  // The rest of the current line, without its line end and without anything from its
  // first "#" on.
  std::string ReadLine();
  // The next unsigned decimal number, skipping comments and any other characters before
  // it; the byte that ends it is consumed. Numbers too large for 32 bits read as 2^32 - 1.
  uint32_t ReadNumber();
  // The next pixel of a plain bitmap: one digit, of which the lowest bit counts.
  uint8_t ReadBit();
  // `count` bytes in a row, through the buffer (or straight from the stream once the
  // buffer is used up); raises "PPM: Stream read error." when the stream ends first.
  void ReadBytes(uint8_t* dest, size_t count);
  // Bytes still to come: those left in the buffer and those left in the stream.
  uint64_t BytesLeft() const;

  void ReadPixelRows(int magic, int width, int height, uint32_t maxValue);

  Stream* stream_ = nullptr;
  std::array<uint8_t, kBufferSize> buffer_{};
  size_t index_ = kBufferSize;  // kBufferSize: used up, refill before the next byte
  size_t filled_ = 0;           // bytes that the last refill brought
};

}  // namespace pictures
