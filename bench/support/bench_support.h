// Pieces shared by the decoding benchmarks: the picture size, a stream over bytes held in
// memory, the test pictures' samples, byte writers and a run-length packer for building
// files in memory, and the loop that decodes a file into a new picture each iteration.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "pictures/stream.h"

namespace bench {

using Bytes = std::vector<uint8_t>;

// The size of the pictures the benchmarks decode.
inline constexpr int kWidth = 4000;
inline constexpr int kHeight = 3000;

// A read-only stream over bytes that stay where they are, so that no reader pays for a copy.
class SpanStream : public pictures::Stream {
 public:
  explicit SpanStream(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position < 0 ? 0 : position; }
  int64_t Size() const override { return int64_t(bytes_.size()); }
  size_t Read(void* buffer, size_t count) override;
  // As a mapped file does, the stream lends readers its bytes.
  std::span<const uint8_t> Contents() const override { return bytes_; }

 private:
  std::span<const uint8_t> bytes_;
  int64_t position_ = 0;
};

// A photograph-like channel: gradients with a little noise and, with `flatBands`, flat
// bands where runs pay off, so that packed data mixes runs and literals.
uint8_t PhotoSample(int x, int y, int channel, bool flatBands = true);

void AppendBE16(Bytes& out, uint32_t value);
void AppendBE32(Bytes& out, uint32_t value);
void AppendLE16(Bytes& out, uint32_t value);
void PutBE16(Bytes& out, size_t at, uint32_t value);
void PutBE32(Bytes& out, size_t at, uint32_t value);

// Packs `count` values as most run-length formats do: runs of three or more equal values
// as run packets, the values between them as literal packets, each packet at most
// `maxCount` long. `runHeader(n)` and `literalHeader(n)` give a packet's header byte.
template <typename RunHeader, typename LiteralHeader>
void PackRuns(const uint8_t* values, size_t count, size_t maxCount, RunHeader runHeader,
              LiteralHeader literalHeader, Bytes& out) {
  size_t i = 0;
  while (i < count) {
    size_t run = 1;
    while (i + run < count && run < maxCount && values[i + run] == values[i]) ++run;
    if (run >= 3) {
      out.push_back(runHeader(run));
      out.push_back(values[i]);
      i += run;
      continue;
    }
    size_t end = i;
    while (end < count && end - i < maxCount &&
           !(end + 2 < count && values[end] == values[end + 1] && values[end] == values[end + 2]))
      ++end;
    out.push_back(literalHeader(end - i));
    out.insert(out.end(), values + i, values + end);
    i = end;
  }
}

// Decodes `file` from memory into a new `Reader` every iteration, as a program that opens
// a file does.
template <typename Reader>
void DecodeEachIteration(benchmark::State& state, std::span<const uint8_t> file) {
  for (auto _ : state) {
    SpanStream stream(file);
    Reader picture;
    picture.LoadFromStream(stream);
    benchmark::DoNotOptimize(picture.Height() > 0 ? picture.ScanLine(picture.Height() - 1)
                                                  : nullptr);
  }
}

// Loads `file` with stb_image every iteration, asking for `channels` channels (0: as the
// file has them). Each benchmark compiles stb_image with the formats it needs, so it
// passes in stb's load and free functions.
using StbLoad = unsigned char* (*)(const unsigned char*, int, int*, int*, int*, int);
using StbFree = void (*)(void*);
void StbEachIteration(benchmark::State& state, std::span<const uint8_t> file, int channels,
                      StbLoad load, StbFree free);

}  // namespace bench
