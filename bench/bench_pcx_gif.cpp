// Decoding speed of the PCX and GIF readers on 4000 x 3000 pictures built in memory,
// beside peers that read the same files: FreeImage for PCX (8-bit and 24-bit) and giflib's
// DGifSlurp for GIF. Every reader decodes from memory into its own picture layout.
#include <benchmark/benchmark.h>

#include <FreeImage.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "pictures/formats/gif.h"
#include "pictures/formats/pcx.h"
#include "support/bench_support.h"

namespace {

using bench::Bytes;
using bench::kHeight;
using bench::kWidth;

// A sample of the picture: smooth areas (long runs and repeated strings), gradients and a
// band of noise, so that both packers see the mix a photograph or a drawing gives them.
uint8_t Sample(int x, int y, int channel) {
  const int band = (y / 300 + x / 500) % 4;
  switch (band) {
    case 0: return uint8_t((x / 40 + channel * 50) & 0xFF);             // flat steps
    case 1: return uint8_t((x + y + channel * 60) & 0xFF);              // gradient
    case 2: return uint8_t(((x * 1103515245u + y * 12345u) >> (8 + channel)) & 0xFF);  // noise
    default: return uint8_t(((x / 8) * (y / 8) + channel * 30) & 0xFF);  // blocks
  }
}

// One plane line packed the PCX way: runs of up to 63 bytes, single bytes of 0xC0 and
// above as runs of one.
void PackPcxLine(const uint8_t* line, size_t n, Bytes& out) {
  for (size_t i = 0; i < n;) {
    size_t run = 1;
    while (i + run < n && run < 63 && line[i + run] == line[i]) ++run;
    if (run > 1 || line[i] >= 0xC0) out.push_back(uint8_t(0xC0 | run));
    out.push_back(line[i]);
    i += run;
  }
}

Bytes PcxHeader(int planes) {
  Bytes h(128, 0);
  h[0] = 10;  // manufacturer
  h[1] = 5;   // version
  h[2] = 1;   // packed
  h[3] = 8;   // bits per pixel per plane
  h[8] = uint8_t(kWidth - 1);
  h[9] = uint8_t((kWidth - 1) >> 8);
  h[10] = uint8_t(kHeight - 1);
  h[11] = uint8_t((kHeight - 1) >> 8);
  h[65] = uint8_t(planes);
  h[66] = uint8_t(kWidth);
  h[67] = uint8_t(kWidth >> 8);
  h[68] = 1;  // colour palette
  return h;
}

const Bytes& Pcx8() {
  static const Bytes file = [] {
    Bytes f = PcxHeader(1);
    Bytes line(kWidth);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) line[x] = Sample(x, y, 0);
      PackPcxLine(line.data(), line.size(), f);
    }
    f.push_back(12);
    for (int i = 0; i < 256; ++i) f.insert(f.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
    return f;
  }();
  return file;
}

const Bytes& Pcx24() {
  static const Bytes file = [] {
    Bytes f = PcxHeader(3);
    Bytes line(kWidth);
    for (int y = 0; y < kHeight; ++y) {
      for (int channel = 0; channel < 3; ++channel) {
        for (int x = 0; x < kWidth; ++x) line[x] = Sample(x, y, channel);
        PackPcxLine(line.data(), line.size(), f);
      }
    }
    return f;
  }();
  return file;
}

// The 8-bit picture written by giflib's own encoder.
const Bytes& Gif() {
  static const Bytes file = [] {
    Bytes f;
    int error = 0;
    GifFileType* gif = EGifOpen(&f, [](GifFileType* g, const GifByteType* data, int n) {
      auto* out = static_cast<Bytes*>(g->UserData);
      out->insert(out->end(), data, data + n);
      return n;
    }, &error);
    if (!gif) throw std::runtime_error("EGifOpen failed");
    GifColorType colours[256];
    for (int i = 0; i < 256; ++i) colours[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)};
    ColorMapObject* map = GifMakeMapObject(256, colours);
    EGifSetGifVersion(gif, true);
    Bytes line(kWidth);
    bool ok = EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) line[x] = Sample(x, y, 0);
      ok = EGifPutLine(gif, line.data(), kWidth) == GIF_OK;
    }
    GifFreeMapObject(map);
    EGifCloseFile(gif, &error);
    if (!ok) throw std::runtime_error("EGifPutLine failed");
    return f;
  }();
  return file;
}

// What the files hold: the samples as red, green and blue, or one sample as an index into
// the palette that the 8-bit files carry.
bench::Expected SampleColours(int channels) {
  bench::Expected expected;
  if (channels == 3)
    expected.colour = [](int x, int y) {
      return bench::Rgb{Sample(x, y, 0), Sample(x, y, 1), Sample(x, y, 2)};
    };
  else
    expected.colour = [](int x, int y) {
      const uint8_t i = Sample(x, y, 0);
      return bench::Rgb{i, uint8_t(255 - i), uint8_t(i / 2)};
    };
  return expected;
}

template <class Reader>
void Ours(benchmark::State& state, const Bytes& file, int channels) {
  bench::DecodeEachIteration<Reader>(state, file, SampleColours(channels));
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

void FreeImagePcx(benchmark::State& state, const Bytes& file) {
  for (auto _ : state) {
    FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(file.data()), DWORD(file.size()));
    FIBITMAP* bitmap = FreeImage_LoadFromMemory(FIF_PCX, memory, 0);
    if (!bitmap) throw std::runtime_error("FreeImage could not read the PCX file");
    benchmark::DoNotOptimize(FreeImage_GetBits(bitmap));
    FreeImage_Unload(bitmap);
    FreeImage_CloseMemory(memory);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

void BM_Pcx8_Ours(benchmark::State& state) { Ours<pictures::TPCXGraphic>(state, Pcx8(), 1); }
void BM_Pcx8_FreeImage(benchmark::State& state) { FreeImagePcx(state, Pcx8()); }
void BM_Pcx24_Ours(benchmark::State& state) { Ours<pictures::TPCXGraphic>(state, Pcx24(), 3); }
void BM_Pcx24_FreeImage(benchmark::State& state) { FreeImagePcx(state, Pcx24()); }
void BM_Gif_Ours(benchmark::State& state) { Ours<pictures::TGIFGraphic>(state, Gif(), 1); }

void BM_Gif_Giflib(benchmark::State& state) {
  const Bytes& file = Gif();
  struct Cursor {
    const Bytes* bytes;
    size_t position;
  };
  for (auto _ : state) {
    Cursor cursor{&file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&cursor, [](GifFileType* g, GifByteType* out, int n) {
      auto* c = static_cast<Cursor*>(g->UserData);
      const size_t take = std::min<size_t>(size_t(n), c->bytes->size() - c->position);
      std::memcpy(out, c->bytes->data() + c->position, take);
      c->position += take;
      return int(take);
    }, &error);
    if (!gif || DGifSlurp(gif) != GIF_OK)
      throw std::runtime_error("giflib could not read the GIF file");
    benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
    DGifCloseFile(gif, &error);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

BENCHMARK(BM_Pcx8_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pcx8_FreeImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pcx24_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pcx24_FreeImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gif_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gif_Giflib)->Unit(benchmark::kMillisecond);

}  // namespace
