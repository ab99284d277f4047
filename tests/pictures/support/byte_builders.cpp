#include "support/byte_builders.h"

#include <algorithm>

namespace test_support {

void AppendLE16(Bytes& out, uint32_t value) {
  out.push_back(uint8_t(value));
  out.push_back(uint8_t(value >> 8));
}

void AppendLE32(Bytes& out, uint32_t value) {
  AppendLE16(out, value & 0xFFFF);
  AppendLE16(out, value >> 16);
}

void AppendBE16(Bytes& out, uint32_t value) {
  out.push_back(uint8_t(value >> 8));
  out.push_back(uint8_t(value));
}

void AppendBE32(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

void PutBE16(Bytes& out, size_t at, uint32_t value) {
  out[at] = uint8_t(value >> 8);
  out[at + 1] = uint8_t(value);
}

void PutBE32(Bytes& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + size_t(i)] = uint8_t(value >> (24 - 8 * i));
}

Bytes LE16(uint32_t value) { return {uint8_t(value), uint8_t(value >> 8)}; }

void AppendBytes(Bytes& out, std::initializer_list<int> bytes) {
  for (int v : bytes) out.push_back(uint8_t(v));
}

Bytes PackBits(const Bytes& data) {
  Bytes out;
  size_t i = 0;
  while (i < data.size()) {
    size_t run = 1;
    while (i + run < data.size() && run < 128 && data[i + run] == data[i]) ++run;
    if (run >= 3) {
      out.push_back(uint8_t(1 - int(run)));
      out.push_back(data[i]);
      i += run;
      continue;
    }
    const size_t n = std::min<size_t>(128, data.size() - i);
    out.push_back(uint8_t(n - 1));
    out.insert(out.end(), data.begin() + long(i), data.begin() + long(i + n));
    i += n;
  }
  return out;
}

}  // namespace test_support
