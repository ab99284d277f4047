// Run-length decoders of the picture formats, and the Targa packet routine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "compression/decoder.h"

namespace pictures {

// PackBits (TIFF compression 32773, Photoshop): ends when PackedSize bytes are consumed.
class TPackbitsRLE : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
};

// PackBits data expanded piece by piece (Amiga ByteRun1 is the same scheme), for readers
// that take a picture a row at a time: each Read continues where the previous one ended,
// and a packet that reaches past the end of one Read's output carries on into the next
// (writers let packets cross rows). A header n of 0 to 127 copies the next n + 1 bytes, -1
// to -127 repeats the next byte 1 - n times, -128 does nothing.
class PackBitsRunReader {
 public:
  explicit PackBitsRunReader(std::span<const uint8_t> data) : data_(data) {}
  // Fills `out`; returns fewer bytes than its size only when the packed data ends (a copy
  // packet cut short gives the bytes there are).
  size_t Read(std::span<uint8_t> out);

 private:
  bool StartPacket();

  std::span<const uint8_t> data_;
  size_t position_ = 0;
  size_t packetLeft_ = 0;  // bytes of the current packet not yet written
  bool run_ = false;       // the current packet repeats `value_`
  uint8_t value_ = 0;
};

// The most bytes `packedBytes` bytes of PackBits data can expand to: every pair of bytes a
// run of 128.
uint64_t PackBitsMaxUnpacked(uint64_t packedBytes);

// PCX: ends when UnpackedSize bytes are written.
class TPCXRLE : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
};

// PCX run-length data expanded piece by piece, for readers that take a picture a line at
// a time: each Read continues where the previous one ended, and a run that reaches past
// the end of one Read's output carries on into the next (writers let runs cross lines).
// TPCXRLE decodes a block as one Read.
class PCXRunReader {
 public:
  PCXRunReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  // Writes up to `size` bytes to `out`; fewer only when the packed data ends.
  size_t Read(uint8_t* out, size_t size);

 private:
  const uint8_t* p_;
  const uint8_t* end_;
  size_t runLeft_ = 0;  // bytes of the last run not yet written
  uint8_t runValue_ = 0;
};

// The most bytes `packedBytes` bytes of PCX data can expand to: every pair of bytes a run
// of 63.
uint64_t PCXMaxUnpacked(uint64_t packedBytes);

// SGI: ends at a count of 0. SampleSize 1 means 8-bit samples, any other value 16-bit
// big-endian samples of which the most significant byte is kept.
class TSGIRLE : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
  uint8_t SampleSize = 1;
};

// CUT: one line, ends at a zero byte and leaves Source just past it.
class TCUTRLE : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
};

// Wavefront RLA: ends when PackedSize bytes are consumed.
class TRLADecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override;
};

// Expands Targa packets until at least Count bytes are written; returns the packed bytes
// consumed (0 for an unknown depth). Reads at most SourceSize bytes and writes at most
// DestSize bytes, whatever the packets say.
uint32_t DecodeTargaRLE(const uint8_t* Source, uint8_t* Dest, uint32_t Count,
                        uint32_t BitsPerPixel, uint32_t SourceSize, uint32_t DestSize);

// Targa packets expanded piece by piece, for readers that take a picture a row at a time:
// each Read continues where the previous one ended, and a packet that reaches past the end
// of one Read's output carries on into the next (writers let packets cross rows). The
// bytes are those DecodeTargaRLE writes for the whole picture at once: a run whose pixel
// is cut off by the end of the data ends the data, a plain packet cut short gives the
// bytes there are.
class TargaPacketReader {
 public:
  // `pixelBytes` is 1 to 4.
  TargaPacketReader(const uint8_t* data, size_t size, size_t pixelBytes)
      : p_(data), end_(data + size), pixelBytes_(pixelBytes) {}
  // Writes up to `size` bytes to `out`; fewer only when the packed data ends.
  size_t Read(uint8_t* out, size_t size);

 private:
  bool StartPacket();
  void FillRun(uint8_t* out, size_t size);

  const uint8_t* p_;
  const uint8_t* end_;
  size_t pixelBytes_;
  size_t packetLeft_ = 0;  // bytes of the current packet not yet written
  bool run_ = false;       // the current packet repeats `pixel_`
  uint8_t pixel_[4] = {};
  size_t phase_ = 0;       // the byte of `pixel_` a run goes on with
};

// The most bytes `packedBytes` bytes of Targa packets of `pixelBytes`-byte pixels can
// expand to: every header and pixel a run of 128.
uint64_t TargaMaxUnpacked(uint64_t packedBytes, uint32_t pixelBytes);

// GIMP XCF tiles: the bytes of one plane of a tile (byte k of every pixel), `count` of them
// written `stride` bytes apart. A count byte n below 127 repeats the next byte n + 1 times,
// 127 repeats the byte after a 16-bit big-endian count that many times, 128 copies as many
// bytes as a 16-bit count says, and n above 128 copies 256 - n bytes. Returns the packed
// bytes used, or 0 when the packets end before the plane is full or a packet reaches past
// its end (the tile is damaged).
size_t DecodeXCFPlane(const uint8_t* source, size_t sourceSize, uint8_t* dest, size_t count,
                      size_t stride);

}  // namespace pictures
