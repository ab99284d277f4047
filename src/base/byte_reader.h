// A bounded reader over bytes held in memory. Every reader and decoder parses untrusted
// data through it: a read past the end raises an error instead of touching other memory.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "base/error.h"

namespace pictures {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t Position() const { return position_; }
  size_t Size() const { return bytes_.size(); }
  size_t Remaining() const { return bytes_.size() - position_; }
  bool AtEnd() const { return position_ >= bytes_.size(); }

  // Moves to an absolute offset; raises when the offset lies past the end.
  void Seek(size_t offset) {
    if (offset > bytes_.size()) Fail();
    position_ = offset;
  }
  void Skip(size_t count) { Seek(Checked(count) + position_); }

  uint8_t U8() { return *Take(1); }
  int8_t S8() { return static_cast<int8_t>(U8()); }
  uint16_t U16LE() { const uint8_t* p = Take(2); return static_cast<uint16_t>(p[0] | p[1] << 8); }
  uint16_t U16BE() { const uint8_t* p = Take(2); return static_cast<uint16_t>(p[0] << 8 | p[1]); }
  uint32_t U32LE() {
    const uint8_t* p = Take(4);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }
  uint32_t U32BE() {
    const uint8_t* p = Take(4);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
  }
  uint64_t U64BE() {
    const uint64_t high = U32BE();
    return high << 32 | U32BE();
  }
  int16_t S16LE() { return static_cast<int16_t>(U16LE()); }
  int16_t S16BE() { return static_cast<int16_t>(U16BE()); }
  int32_t S32LE() { return static_cast<int32_t>(U32LE()); }
  int32_t S32BE() { return static_cast<int32_t>(U32BE()); }

  // The next `count` bytes as a view, consumed.
  std::span<const uint8_t> Bytes(size_t count) { return {Take(count), count}; }
  void Copy(void* out, size_t count) {
    if (count) std::memcpy(out, Take(count), count);
  }
  // The next `count` bytes without consuming them.
  std::span<const uint8_t> Peek(size_t count) const {
    if (count > Remaining()) Fail();
    return bytes_.subspan(position_, count);
  }
  std::span<const uint8_t> Rest() const { return bytes_.subspan(position_); }

 private:
  const uint8_t* Take(size_t count) {
    if (count > Remaining()) Fail();
    const uint8_t* p = bytes_.data() + position_;
    position_ += count;
    return p;
  }
  size_t Checked(size_t count) const {
    if (count > Remaining()) Fail();
    return count;
  }
  [[noreturn]] static void Fail() { throw StreamReadError(); }

  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
};

// Little- and big-endian loads from a buffer the caller has already bounded.
inline uint16_t LoadU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint16_t LoadU16BE(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t LoadU32LE(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint32_t LoadU32BE(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint64_t LoadU64LE(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}
inline uint64_t LoadU64BE(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

}  // namespace pictures
