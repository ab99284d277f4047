// Run-length decoders. Each one follows its format's packet rules for valid data and, for
// data that asks for more than it was given, stops at the end of the packed bytes and never
// writes past the end of the output buffer.
#include "compression/rle.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/byte_reader.h"
#include "base/pixel_helpers.h"

namespace pictures {

namespace {

// The bounds of one Decode call: packed bytes [p, end) and output [out, outEnd).
struct Bounds {
  const uint8_t* p;
  const uint8_t* end;
  uint8_t* out;
  uint8_t* outEnd;

  Bounds(const uint8_t* source, int32_t packedSize, uint8_t* dest, int32_t unpackedSize)
      : p(source),
        end(source + std::max<int32_t>(packedSize, 0)),
        out(dest),
        outEnd(dest + std::max<int32_t>(unpackedSize, 0)) {}

  size_t In() const { return static_cast<size_t>(end - p); }
  size_t Room() const { return static_cast<size_t>(outEnd - out); }

  // Writes `value` `count` times, as far as the output has room.
  void Fill(uint8_t value, size_t count) {
    count = std::min(count, Room());
    if (count == 0) return;  // the output may be empty, without a buffer at all
    std::memset(out, value, count);
    out += count;
  }
  // Copies up to `count` packed bytes to the output: consumes as many as there are (at
  // most `count`) and writes as many of them as fit.
  void Copy(size_t count) {
    const size_t available = std::min(count, In());
    const size_t written = std::min(available, Room());
    if (written > 0) std::memcpy(out, p, written);
    out += written;
    p += available;
  }
};

// Exact copies and fills of up to 128 bytes without a library call: two overlapping moves
// of one size cover any length from that size to twice it, so no byte outside the count
// is touched.
inline void CopyPacket(uint8_t* out, const uint8_t* in, size_t n) {
  if (n >= 16) {
    for (size_t i = 0; i + 16 < n; i += 16) std::memcpy(out + i, in + i, 16);
    std::memcpy(out + n - 16, in + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(out, in, 8);
    std::memcpy(out + n - 8, in + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(out, in, 4);
    std::memcpy(out + n - 4, in + n - 4, 4);
  } else {
    out[0] = in[0];
    out[n / 2] = in[n / 2];
    out[n - 1] = in[n - 1];
  }
}

inline void FillPacket(uint8_t* out, uint8_t value, size_t n) {
  if (n >= 16) {
    for (size_t i = 0; i + 16 < n; i += 16) std::memset(out + i, value, 16);
    std::memset(out + n - 16, value, 16);
  } else if (n >= 8) {
    std::memset(out, value, 8);
    std::memset(out + n - 8, value, 8);
  } else {
    for (size_t i = 0; i < n; ++i) out[i] = value;
  }
}

}  // namespace

void TPackbitsRLE::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                          int32_t UnpackedSize) {
  Bounds b(Source, PackedSize, Dest, UnpackedSize);
  // While both buffers have room for the longest packet (a header and 128 bytes in, 128
  // bytes out), no bound needs checking.
  while (b.end - b.p > 128 && b.outEnd - b.out >= 128) {
    const int n = static_cast<int8_t>(*b.p++);
    if (n >= 0) {
      CopyPacket(b.out, b.p, static_cast<size_t>(n) + 1);
      b.p += n + 1;
      b.out += n + 1;
    } else if (n != -128) {
      FillPacket(b.out, *b.p++, static_cast<size_t>(1 - n));
      b.out += 1 - n;
    }
  }
  while (b.p < b.end && b.out < b.outEnd) {
    const int n = static_cast<int8_t>(*b.p++);
    if (n >= 0) {
      b.Copy(static_cast<size_t>(n) + 1);
    } else if (n != -128) {  // -128 is a no-operation byte
      if (b.p == b.end) break;
      b.Fill(*b.p++, static_cast<size_t>(1 - n));
    }
  }
}

bool PackBitsRunReader::StartPacket() {
  while (position_ < data_.size()) {
    const int n = static_cast<int8_t>(data_[position_++]);
    if (n >= 0) {
      run_ = false;
      packetLeft_ = size_t(n) + 1;
      return true;
    }
    if (n == -128) continue;  // a no-operation byte
    if (position_ == data_.size()) return false;
    run_ = true;
    value_ = data_[position_++];
    packetLeft_ = size_t(1 - n);
    return true;
  }
  return false;
}

size_t PackBitsRunReader::Read(std::span<uint8_t> out) {
  size_t written = 0;
  while (written < out.size()) {
    if (packetLeft_ == 0 && !StartPacket()) break;
    size_t n = std::min(packetLeft_, out.size() - written);
    if (run_) {
      std::fill_n(out.begin() + ptrdiff_t(written), n, value_);
    } else {
      n = std::min(n, data_.size() - position_);
      if (n == 0) {  // the copy packet's bytes ran out with the data
        packetLeft_ = 0;
        break;
      }
      std::copy_n(data_.begin() + ptrdiff_t(position_), n, out.begin() + ptrdiff_t(written));
      position_ += n;
    }
    packetLeft_ -= n;
    written += n;
  }
  return written;
}

uint64_t PackBitsMaxUnpacked(uint64_t packedBytes) { return packedBytes / 2 * 128; }

void TPCXRLE::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                     int32_t UnpackedSize) {
  PCXRunReader runs(Source, static_cast<size_t>(std::max<int32_t>(PackedSize, 0)));
  runs.Read(Dest, static_cast<size_t>(std::max<int32_t>(UnpackedSize, 0)));
}

size_t PCXRunReader::Read(uint8_t* out, size_t size) {
  if (size == 0) return 0;
  uint8_t* o = out;
  uint8_t* const oEnd = out + size;
  if (runLeft_ > 0) {
    const size_t n = std::min(runLeft_, size);
    std::memset(o, runValue_, n);
    o += n;
    runLeft_ -= n;
  }
  const uint8_t* p = p_;
  const uint8_t* const end = end_;
  for (;;) {
    // While both buffers have room for the longest packet, no bound needs checking. Eight
    // plain bytes in a row (none with both top bits set) are copied at once.
    while (end - p >= 8 && oEnd - o >= 64) {
      uint64_t eight;
      std::memcpy(&eight, p, 8);
      if ((eight & (eight << 1) & 0x8080808080808080ull) == 0) {
        std::memcpy(o, &eight, 8);
        p += 8;
        o += 8;
        continue;
      }
      const uint8_t v = *p++;
      if (v < 0xC0) {
        *o++ = v;
      } else {
        const size_t count = v & 0x3F;
        std::memset(o, *p++, count);
        o += count;
      }
    }
    while (end - p >= 2 && oEnd - o >= 63) {
      const uint8_t v = *p++;
      if (v < 0xC0) {
        *o++ = v;
      } else {
        const size_t count = v & 0x3F;
        std::memset(o, *p++, count);
        o += count;
      }
    }
    if (p == end || o == oEnd) break;
    const uint8_t v = *p++;
    if (v < 0xC0) {
      *o++ = v;
    } else {
      // A count of 0 consumes the pair and writes nothing; a run longer than the room left
      // is kept for the next Read.
      if (p == end) break;
      const size_t count = v & 0x3F;
      const size_t n = std::min<size_t>(count, static_cast<size_t>(oEnd - o));
      runValue_ = *p++;
      std::memset(o, runValue_, n);
      o += n;
      runLeft_ = count - n;
    }
  }
  p_ = p;
  return static_cast<size_t>(o - out);
}

uint64_t PCXMaxUnpacked(uint64_t packedBytes) {
  // A lone last byte can only be a plain one.
  return packedBytes / 2 * 63 + packedBytes % 2;
}

void TSGIRLE::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                     int32_t UnpackedSize) {
  Bounds b(Source, PackedSize, Dest, UnpackedSize);
  if (SampleSize == 1) {
    while (b.p < b.end && b.out < b.outEnd) {
      const uint8_t v = *b.p++;
      const size_t count = v & 0x7F;
      if (count == 0) break;
      if (v & 0x80) {
        b.Copy(count);
      } else {
        if (b.p == b.end) break;
        b.Fill(*b.p++, count);
      }
    }
    return;
  }
  // 16-bit samples: big-endian words, of which the most significant byte is kept.
  while (b.In() >= 2 && b.out < b.outEnd) {
    const uint16_t w = LoadU16BE(b.p);
    b.p += 2;
    const size_t count = w & 0x7F;
    if (count == 0) break;
    if (w & 0x80) {
      const size_t samples = std::min({count, b.In() / 2, b.Room()});
      HighBytesOfBE16(b.p, b.out, samples);
      b.out += samples;
      b.p += 2 * samples;
    } else {
      if (b.In() < 2) break;
      b.Fill(b.p[0], count);
      b.p += 2;
    }
  }
}

void TCUTRLE::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                     int32_t UnpackedSize) {
  Bounds b(Source, PackedSize, Dest, UnpackedSize);
  // The line starts with its 16-bit length, which the packets make redundant. Packets go
  // on being parsed once the output is full, so that Source still ends past the line.
  if (b.In() < 2) {
    Source = b.end;
    return;
  }
  b.p += 2;
  while (b.p < b.end) {
    const uint8_t v = *b.p++;
    if (v == 0) break;
    const size_t count = v & 0x7F;
    if (v & 0x80) {
      if (b.p == b.end) break;
      b.Fill(*b.p++, count);
    } else {
      b.Copy(count);
    }
  }
  Source = b.p;
}

void TRLADecoder::Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
                         int32_t UnpackedSize) {
  Bounds b(Source, PackedSize, Dest, UnpackedSize);
  while (b.p < b.end && b.out < b.outEnd) {
    const int n = static_cast<int8_t>(*b.p++);
    if (n >= 0) {
      if (b.p == b.end) break;
      b.Fill(*b.p++, static_cast<size_t>(n) + 1);
    } else {
      b.Copy(static_cast<size_t>(-n));
    }
  }
}

uint32_t DecodeTargaRLE(const uint8_t* Source, uint8_t* Dest, uint32_t Count,
                        uint32_t BitsPerPixel, uint32_t SourceSize, uint32_t DestSize) {
  size_t s;
  switch (BitsPerPixel) {
    case 8: s = 1; break;
    case 15:
    case 16: s = 2; break;
    case 24: s = 3; break;
    case 32: s = 4; break;
    default: return 0;
  }
  // `written` counts what the packets produce; what lands in Dest is cut at DestSize, so
  // that the consumed count still follows the packets when the row buffer is short.
  uint64_t written = 0;
  size_t consumed = 0;
  while (written < Count && consumed < SourceSize) {
    const uint8_t h = Source[consumed++];
    const size_t n = (h & 0x7F) + 1u;
    const size_t bytes = n * s;
    const size_t room = written < DestSize ? DestSize - static_cast<size_t>(written) : 0;
    uint8_t* out = Dest + (written < DestSize ? written : DestSize);
    if (h & 0x80) {
      if (SourceSize - consumed < s) {
        consumed = SourceSize;
        break;
      }
      const uint8_t* pixel = Source + consumed;
      consumed += s;
      const size_t fill = std::min(bytes, room);
      if (fill == 0) {
        // The row buffer is full; the packet is only consumed.
      } else if (s == 1) {
        std::memset(out, *pixel, fill);
      } else {
        // One pixel, then doubling copies of what is already written.
        const size_t first = std::min(s, fill);
        std::memcpy(out, pixel, first);
        size_t done = first;
        while (done < fill) {
          const size_t step = std::min(done, fill - done);
          std::memcpy(out + done, out, step);
          done += step;
        }
      }
    } else {
      const size_t available = std::min(bytes, static_cast<size_t>(SourceSize) - consumed);
      if (const size_t n = std::min(available, room); n > 0) std::memcpy(out, Source + consumed, n);
      consumed += available;
      if (available < bytes) break;
    }
    written += bytes;
  }
  return static_cast<uint32_t>(consumed);
}

size_t TargaPacketReader::Read(uint8_t* out, size_t size) {
  size_t written = 0;
  while (written < size) {
    if (packetLeft_ == 0 && !StartPacket()) break;
    const size_t n = std::min(packetLeft_, size - written);
    if (run_) {
      FillRun(out + written, n);
    } else {
      std::memcpy(out + written, p_, n);
      p_ += n;
    }
    written += n;
    packetLeft_ -= n;
  }
  return written;
}

bool TargaPacketReader::StartPacket() {
  if (p_ == end_) return false;
  const uint8_t header = *p_++;
  const size_t bytes = ((header & 0x7Fu) + 1u) * pixelBytes_;
  const auto available = static_cast<size_t>(end_ - p_);
  run_ = header & 0x80;
  if (!run_) {
    packetLeft_ = std::min(bytes, available);
    return true;
  }
  if (available < pixelBytes_) {
    p_ = end_;
    return false;
  }
  std::memcpy(pixel_, p_, pixelBytes_);
  p_ += pixelBytes_;
  packetLeft_ = bytes;
  phase_ = 0;
  return true;
}

void TargaPacketReader::FillRun(uint8_t* out, size_t size) {
  if (pixelBytes_ == 1) {
    std::memset(out, pixel_[0], size);
    return;
  }
  // One pixel from where the run stands, then doubling copies of what is already written
  // (whole pixels, so the pattern holds).
  size_t done = 0;
  for (; done < size && done < pixelBytes_; ++done)
    out[done] = pixel_[(phase_ + done) % pixelBytes_];
  while (done < size) {
    const size_t step = std::min(done, size - done);
    std::memcpy(out + done, out, step);
    done += step;
  }
  phase_ = (phase_ + size) % pixelBytes_;
}

uint64_t TargaMaxUnpacked(uint64_t packedBytes, uint32_t pixelBytes) {
  const uint64_t packet = uint64_t(pixelBytes) + 1;
  // What is left over cannot hold a run packet, only a plain one of fewer bytes.
  return packedBytes / packet * 128 * pixelBytes + packedBytes % packet;
}

size_t DecodeXCFPlane(const uint8_t* source, size_t sourceSize, uint8_t* dest, size_t count,
                      size_t stride) {
  size_t in = 0;
  size_t written = 0;
  while (written < count) {
    if (in >= sourceSize) return 0;
    const unsigned op = source[in++];
    const bool run = op < 128;
    size_t length = run ? op + 1 : 256 - op;
    if (op == 127 || op == 128) {
      if (sourceSize - in < 2) return 0;
      length = size_t(source[in]) << 8 | source[in + 1];
      in += 2;
    }
    if (length > count - written) return 0;
    if (sourceSize - in < (run ? 1 : length)) return 0;
    uint8_t* out = dest + written * stride;
    if (run) {
      for (size_t i = 0; i < length; ++i) out[i * stride] = source[in];
      in += 1;
    } else {
      for (size_t i = 0; i < length; ++i) out[i * stride] = source[in + i];
      in += length;
    }
    written += length;
  }
  return in;
}

}  // namespace pictures
