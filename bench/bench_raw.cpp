// Developing a 24-megapixel camera raw file (a 6000 x 4000 DNG of 16-bit samples written
// by the benchmark itself) through LibRaw, checked pixel by pixel against LibRaw's own
// dcraw_emu -w, which develops the same file the same way.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "pictures/formats/raw.h"
#include "support/bench_support.h"
#include "support/dng_file.h"

namespace {

using bench::Bytes;

// dcraw_emu's picture of the file (binary PPM on its standard output), or empty when the
// tool is missing.
Bytes DcrawEmuPicture(const Bytes& file, int& width, int& height) {
  char path[] = "/tmp/bench-raw-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  std::unique_ptr<FILE, int (*)(FILE*)> out(fdopen(fd, "wb"), fclose);
  std::fwrite(file.data(), 1, file.size(), out.get());
  out.reset();
  const std::string command = std::string("/usr/bin/dcraw_emu -w -Z - ") + path + " 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> in(popen(command.c_str(), "r"), pclose);
  Bytes ppm;
  int maximum = 0;
  if (in && std::fscanf(in.get(), "P6 %d %d %d", &width, &height, &maximum) == 3 &&
      std::fgetc(in.get()) != EOF) {
    ppm.resize(size_t(width) * size_t(height) * 3);
    ppm.resize(std::fread(ppm.data(), 1, ppm.size(), in.get()));
  }
  std::remove(path);
  return ppm;
}

void BM_Raw24Megapixels(benchmark::State& state) {
  const Bytes file = test_support::MakeDng({.width = 6000, .height = 4000});
  int width = 0, height = 0;
  const Bytes reference = DcrawEmuPicture(file, width, height);
  if (reference.size() != size_t(width) * size_t(height) * 3 || width == 0) {
    state.SkipWithError("dcraw_emu (libraw-bin) gave no picture to compare with");
    return;
  }
  bench::Expected expected;
  expected.width = width;
  expected.height = height;
  expected.colour = [&](int x, int y) {
    const uint8_t* p = &reference[(size_t(y) * size_t(width) + size_t(x)) * 3];
    return bench::Rgb{p[0], p[1], p[2]};
  };
  bench::DecodeEachIteration<pictures::TRAWGraphic>(state, file, expected);
}
BENCHMARK(BM_Raw24Megapixels)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
