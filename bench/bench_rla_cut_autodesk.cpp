// Decoding speed of the RLA, CUT and Autodesk readers on 4000 x 3000 pictures built in
// memory. No common library reads these formats, so the figures are absolute: bytes of
// decoded pixels per second and time per picture.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "pictures/formats/autodesk.h"
#include "pictures/formats/cut.h"
#include "pictures/formats/rla.h"
#include "support/bench_support.h"

namespace {

using bench::AppendBE16;
using bench::AppendLE16;
using bench::Bytes;
using bench::kHeight;
using bench::kWidth;
using bench::PhotoSample;
using bench::PutBE16;

Bytes MakeRLA(bool withMatte) {
  const int channels = withMatte ? 4 : 3;
  Bytes file(740, 0);
  PutBE16(file, 10, kWidth - 1);   // active window right
  PutBE16(file, 14, kHeight - 1);  // active window top: rows stored upwards
  PutBE16(file, 20, 3);            // colour channels
  PutBE16(file, 22, withMatte ? 1 : 0);
  const size_t table = file.size();
  file.resize(table + 4 * size_t(kHeight));
  Bytes values(kWidth), packed;
  for (int y = 0; y < kHeight; ++y) {
    const uint32_t offset = uint32_t(file.size());
    bench::PutBE32(file, table + 4 * size_t(y), offset);
    for (int c = 0; c < channels; ++c) {
      for (int x = 0; x < kWidth; ++x) values[size_t(x)] = PhotoSample(x, y, c);
      packed.clear();
      bench::PackRuns(
          values.data(), values.size(), 128, [](size_t n) { return uint8_t(n - 1); },
          [](size_t n) { return uint8_t(-int(n)); }, packed);
      AppendBE16(file, int(packed.size()));
      file.insert(file.end(), packed.begin(), packed.end());
    }
  }
  return file;
}

Bytes MakeCUT() {
  Bytes file;
  AppendLE16(file, kWidth);
  AppendLE16(file, kHeight);
  AppendLE16(file, 0);
  Bytes values(kWidth), packed;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) values[size_t(x)] = PhotoSample(x, y, 1);
    packed.clear();
    bench::PackRuns(values.data(), values.size(), 127, [](size_t n) { return uint8_t(0x80 | n); },
                    [](size_t n) { return uint8_t(n); }, packed);
    packed.push_back(0);
    AppendLE16(file, int(packed.size()));
    file.insert(file.end(), packed.begin(), packed.end());
  }
  return file;
}

Bytes MakeAutodesk() {
  Bytes file;
  AppendLE16(file, 0x9119);
  AppendLE16(file, kWidth);
  AppendLE16(file, kHeight);
  file.resize(32, 0);
  for (int i = 0; i < 768; ++i) file.push_back(uint8_t(i % 64));
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) file.push_back(PhotoSample(x, y, 2));
  return file;
}

// One sample as grey (CUT without its palette file takes the grey ramp) or through the
// Autodesk file's palette, whose 6-bit components are i % 64.
bench::Expected IndexColours(int channel, bool autodeskPalette) {
  bench::Expected expected;
  expected.colour = [=](int x, int y) {
    const uint8_t i = PhotoSample(x, y, channel);
    if (!autodeskPalette) return bench::Rgb{i, i, i};
    auto component = [&](int k) { return uint8_t(((i * 3 + k) % 64) << 2); };
    return bench::Rgb{component(0), component(1), component(2)};
  };
  return expected;
}

// The file's first row is the picture's bottom one.
bench::Expected RlaColours() {
  bench::Expected expected;
  expected.colour = [](int x, int y) {
    const int stored = kHeight - 1 - y;
    return bench::Rgb{PhotoSample(x, stored, 0), PhotoSample(x, stored, 1),
                      PhotoSample(x, stored, 2)};
  };
  return expected;
}

template <typename Reader>
void Decode(benchmark::State& state, const Bytes& file, int bytesPerPixel,
            const bench::Expected& expected) {
  bench::DecodeEachIteration<Reader>(state, file, expected);
  const int64_t pixels = int64_t(kWidth) * kHeight;
  state.SetBytesProcessed(state.iterations() * pixels * bytesPerPixel);
  state.counters["file_MB"] = double(file.size()) / 1e6;
}

void BM_RLA_RGB(benchmark::State& state) {
  static const Bytes file = MakeRLA(false);
  Decode<pictures::TRLAGraphic>(state, file, 3, RlaColours());
}
void BM_RLA_RGBA(benchmark::State& state) {
  static const Bytes file = MakeRLA(true);
  Decode<pictures::TRLAGraphic>(state, file, 4, RlaColours());
}
void BM_CUT(benchmark::State& state) {
  static const Bytes file = MakeCUT();
  Decode<pictures::TCUTGraphic>(state, file, 1, IndexColours(1, false));
}
void BM_Autodesk(benchmark::State& state) {
  static const Bytes file = MakeAutodesk();
  Decode<pictures::TAutodeskGraphic>(state, file, 1, IndexColours(2, true));
}

BENCHMARK(BM_RLA_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RLA_RGBA)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CUT)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Autodesk)->Unit(benchmark::kMillisecond);

}  // namespace
