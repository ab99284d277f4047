// Decoding speed of the RLA, CUT and Autodesk readers on 4000 x 3000 pictures built in
// memory. No common library reads these formats, so the figures are absolute: bytes of
// decoded pixels per second and time per picture.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "pictures/formats/autodesk.h"
#include "pictures/formats/cut.h"
#include "pictures/formats/rla.h"
#include "pictures/stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// A photograph-like channel: smooth gradients with some noise, and flat bands where runs
// pay off, so that the packed data mixes runs and literals.
uint8_t Sample(int x, int y, int channel) {
  uint32_t noise = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(channel) * 977u;
  noise = (noise >> 13) & 7;
  if ((y / 40) % 4 == 0 && (x / 300) % 2 == 0) return uint8_t(channel * 60 + y / 40);
  return uint8_t((x / 16 + y / 12 + channel * 50) + noise);
}

void Put16BE(Bytes& bytes, size_t at, int value) {
  bytes[at] = uint8_t(value >> 8);
  bytes[at + 1] = uint8_t(value);
}
void Append16BE(Bytes& bytes, int value) {
  bytes.push_back(uint8_t(value >> 8));
  bytes.push_back(uint8_t(value));
}
void Append16LE(Bytes& bytes, int value) {
  bytes.push_back(uint8_t(value));
  bytes.push_back(uint8_t(value >> 8));
}

// Packs a row with runs of three or more equal values and literals elsewhere; `maxCount`
// is the longest packet and `runByte`/`literalByte` make a packet's count byte.
template <typename RunByte, typename LiteralByte>
void PackRow(const Bytes& values, size_t maxCount, RunByte runByte, LiteralByte literalByte,
             Bytes& out) {
  size_t i = 0;
  while (i < values.size()) {
    size_t run = 1;
    while (i + run < values.size() && run < maxCount && values[i + run] == values[i]) ++run;
    if (run >= 3) {
      out.push_back(runByte(run));
      out.push_back(values[i]);
      i += run;
      continue;
    }
    size_t end = i;
    while (end < values.size() && end - i < maxCount &&
           !(end + 2 < values.size() && values[end] == values[end + 1] &&
             values[end] == values[end + 2]))
      ++end;
    out.push_back(literalByte(end - i));
    out.insert(out.end(), values.begin() + long(i), values.begin() + long(end));
    i = end;
  }
}

Bytes MakeRLA(bool withMatte) {
  const int channels = withMatte ? 4 : 3;
  Bytes file(740, 0);
  Put16BE(file, 10, kWidth - 1);   // active window right
  Put16BE(file, 14, kHeight - 1);  // active window top: rows stored upwards
  Put16BE(file, 20, 3);            // colour channels
  Put16BE(file, 22, withMatte ? 1 : 0);
  const size_t table = file.size();
  file.resize(table + 4 * size_t(kHeight));
  Bytes values(kWidth), packed;
  for (int y = 0; y < kHeight; ++y) {
    const uint32_t offset = uint32_t(file.size());
    for (int i = 0; i < 4; ++i) file[table + 4 * size_t(y) + size_t(i)] = uint8_t(offset >> (24 - 8 * i));
    for (int c = 0; c < channels; ++c) {
      for (int x = 0; x < kWidth; ++x) values[size_t(x)] = Sample(x, y, c);
      packed.clear();
      PackRow(values, 128, [](size_t n) { return uint8_t(n - 1); },
              [](size_t n) { return uint8_t(-int(n)); }, packed);
      Append16BE(file, int(packed.size()));
      file.insert(file.end(), packed.begin(), packed.end());
    }
  }
  return file;
}

Bytes MakeCUT() {
  Bytes file;
  Append16LE(file, kWidth);
  Append16LE(file, kHeight);
  Append16LE(file, 0);
  Bytes values(kWidth), packed;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) values[size_t(x)] = Sample(x, y, 1);
    packed.clear();
    PackRow(values, 127, [](size_t n) { return uint8_t(0x80 | n); },
            [](size_t n) { return uint8_t(n); }, packed);
    packed.push_back(0);
    Append16LE(file, int(packed.size()));
    file.insert(file.end(), packed.begin(), packed.end());
  }
  return file;
}

Bytes MakeAutodesk() {
  Bytes file;
  Append16LE(file, 0x9119);
  Append16LE(file, kWidth);
  Append16LE(file, kHeight);
  file.resize(32, 0);
  for (int i = 0; i < 768; ++i) file.push_back(uint8_t(i % 64));
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) file.push_back(Sample(x, y, 2));
  return file;
}

template <typename Reader>
void Decode(benchmark::State& state, const Bytes& file, int bytesPerPixel) {
  pictures::MemoryStream stream(file);
  for (auto _ : state) {
    stream.Seek(0);
    Reader picture;
    picture.LoadFromStream(stream);
    benchmark::DoNotOptimize(picture.ScanLine(kHeight - 1));
  }
  const int64_t pixels = int64_t(kWidth) * kHeight;
  state.SetBytesProcessed(state.iterations() * pixels * bytesPerPixel);
  state.counters["file_MB"] = double(file.size()) / 1e6;
}

void BM_RLA_RGB(benchmark::State& state) {
  static const Bytes file = MakeRLA(false);
  Decode<pictures::TRLAGraphic>(state, file, 3);
}
void BM_RLA_RGBA(benchmark::State& state) {
  static const Bytes file = MakeRLA(true);
  Decode<pictures::TRLAGraphic>(state, file, 4);
}
void BM_CUT(benchmark::State& state) {
  static const Bytes file = MakeCUT();
  Decode<pictures::TCUTGraphic>(state, file, 1);
}
void BM_Autodesk(benchmark::State& state) {
  static const Bytes file = MakeAutodesk();
  Decode<pictures::TAutodeskGraphic>(state, file, 1);
}

BENCHMARK(BM_RLA_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RLA_RGBA)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CUT)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Autodesk)->Unit(benchmark::kMillisecond);

}  // namespace
