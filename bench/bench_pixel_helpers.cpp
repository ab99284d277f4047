// Speed of the row converters and prediction helpers on one row of 4000 pixels (in cache),
// through each path: the plain C++ one and the byte shuffles where the processor has them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "base/pixel_helpers.h"
#include "base/pixel_paths.h"

namespace {

namespace pp = pictures::pixel_paths;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPixels = 4000;

Bytes Row(size_t bytes) {
  Bytes row(bytes);
  for (size_t i = 0; i < bytes; ++i) row[i] = uint8_t(i * 7 + i / 13);
  return row;
}

void SetCounters(benchmark::State& state) {
  state.counters["MPixel/s"] =
      benchmark::Counter(kPixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

template <void (*Convert)(const uint8_t*, uint8_t*, uint32_t)>
void Interleaved(benchmark::State& state, uint32_t size, bool shuffle) {
  if (shuffle && !pp::HasByteShuffles()) return state.SkipWithError("no SSSE3");
  const Bytes in = Row(size_t(kPixels) * size);
  Bytes out(in.size());
  for (auto _ : state) {
    Convert(in.data(), out.data(), kPixels);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

// The same in place, as the portable bitmap reader turns rows of 16-bit samples.
template <void (*Convert)(const uint8_t*, uint8_t*, uint32_t)>
void InPlace(benchmark::State& state) {
  if (!pp::HasByteShuffles()) return state.SkipWithError("no SSSE3");
  Bytes row = Row(size_t(kPixels) * 3);
  for (auto _ : state) {
    Convert(row.data(), row.data(), kPixels);
    benchmark::DoNotOptimize(row.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

template <void (*Convert)(const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, uint32_t)>
void Planar(benchmark::State& state, bool shuffle) {
  if (shuffle && !pp::HasByteShuffles()) return state.SkipWithError("no SSSE3");
  const Bytes r = Row(kPixels), g = Row(kPixels), b = Row(kPixels);
  Bytes out(size_t(kPixels) * 3);
  for (auto _ : state) {
    Convert(r.data(), g.data(), b.data(), out.data(), kPixels);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

template <void (*Undo)(uint8_t*, uint32_t)>
void Prediction(benchmark::State& state, uint32_t size) {
  Bytes row = Row(size_t(kPixels) * size);
  for (auto _ : state) {
    Undo(row.data(), kPixels - 1);
    benchmark::DoNotOptimize(row.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

void RGBToBGR_plain(benchmark::State& s) { Interleaved<pp::RGBToBGRPlain>(s, 3, false); }
void RGBToBGR_shuffle(benchmark::State& s) { Interleaved<pp::RGBToBGRShuffle>(s, 3, true); }
void RGBToBGR_shuffle_in_place(benchmark::State& s) { InPlace<pp::RGBToBGRShuffle>(s); }
void RGBAToBGRA_plain(benchmark::State& s) { Interleaved<pp::RGBAToBGRAPlain>(s, 4, false); }
void RGBAToBGRA_shuffle(benchmark::State& s) { Interleaved<pp::RGBAToBGRAShuffle>(s, 4, true); }
void RGBPlanarToBGR_plain(benchmark::State& s) { Planar<pp::RGBPlanarToBGRPlain>(s, false); }
void RGBPlanarToBGR_shuffle(benchmark::State& s) { Planar<pp::RGBPlanarToBGRShuffle>(s, true); }
void UndoPredictor1(benchmark::State& s) { Prediction<pictures::UndoPredictor1>(s, 1); }
void UndoPredictor3(benchmark::State& s) { Prediction<pictures::UndoPredictor3>(s, 3); }
void UndoPredictor4(benchmark::State& s) { Prediction<pictures::UndoPredictor4>(s, 4); }

BENCHMARK(RGBToBGR_plain);
BENCHMARK(RGBToBGR_shuffle);
BENCHMARK(RGBToBGR_shuffle_in_place);
BENCHMARK(RGBAToBGRA_plain);
BENCHMARK(RGBAToBGRA_shuffle);
BENCHMARK(RGBPlanarToBGR_plain);
BENCHMARK(RGBPlanarToBGR_shuffle);
BENCHMARK(UndoPredictor1);
BENCHMARK(UndoPredictor3);
BENCHMARK(UndoPredictor4);

}  // namespace
