// Pieces shared by the decoding benchmarks: the picture size, a stream over bytes held in
// memory, the test pictures' samples, byte writers and a run-length packer for building
// files in memory, the loop that decodes a file into a new picture each iteration, and the
// check that the decoded picture is the one the file holds.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "pictures/bitmap.h"
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

struct Rgb {
  uint8_t red, green, blue;
};

// The picture a benchmark's file holds: its size and the colour at each pixel, with the
// difference per channel that a lossy format may show against it.
struct Expected {
  int width = kWidth;
  int height = kHeight;
  std::function<Rgb(int x, int y)> colour;
  int tolerance = 0;
};

// The same red, green and blue sample at every pixel: a photograph's channels.
Expected PhotoColours(bool flatBands = true);

// Marks the benchmark failed unless `picture` is the expected picture, compared pixel by
// pixel as the program saves it (24 bits; the alpha of 32-bit pixels is not looked at), so
// that a reader returning black or misplaced rows cannot benchmark well.
void CheckPicture(benchmark::State& state, const pictures::Bitmap& picture,
                  const Expected& expected);

// Decodes `file` from memory into a new `Reader` every iteration, as a program that opens
// a file does; then, outside the timing, decodes it once more and checks the result.
template <typename Reader>
void DecodeEachIteration(benchmark::State& state, std::span<const uint8_t> file,
                         const Expected& expected) {
  for (auto _ : state) {
    SpanStream stream(file);
    Reader picture;
    picture.LoadFromStream(stream);
    benchmark::DoNotOptimize(picture.Height() > 0 ? picture.ScanLine(picture.Height() - 1)
                                                  : nullptr);
  }
  SpanStream stream(file);
  Reader picture;
  picture.LoadFromStream(stream);
  CheckPicture(state, picture, expected);
}

// Loads `file` with stb_image every iteration, asking for `channels` channels (0: as the
// file has them). Each benchmark compiles stb_image with the formats it needs, so it
// passes in stb's load and free functions.
using StbLoad = unsigned char* (*)(const unsigned char*, int, int*, int*, int*, int);
using StbFree = void (*)(void*);
void StbEachIteration(benchmark::State& state, std::span<const uint8_t> file, int channels,
                      StbLoad load, StbFree free);

}  // namespace bench
