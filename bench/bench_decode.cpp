// Decoding speed of the Windows bitmap and JPEG readers on 4000 x 3000 pictures built in
// memory by the benchmark itself, beside peers that read the same bytes: stb_image (both
// formats) and, for JPEG, plain libjpeg's own decode loop with the same output (blue,
// green, red rows). Every decoder reads from memory and keeps its own output layout.
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>

#include "pictures/bitmap.h"
#include "pictures/formats/jpeg.h"
#include "pictures/stream.h"
#include "support/bench_support.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_ONLY_JPEG
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace {

using bench::Bytes;
using bench::kHeight;
using bench::kWidth;

pictures::Bitmap Picture24() {
  pictures::Bitmap bitmap;
  bitmap.SetPixelFormat(pictures::PixelFormat::Bits24);
  bitmap.SetSize(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c) row[3 * x + c] = bench::PhotoSample(x, y, c, false);
  }
  return bitmap;
}

const Bytes& BitmapFile() {
  static const Bytes file = [] {
    pictures::MemoryStream stream;
    Picture24().SaveToStream(stream);
    return stream.Bytes();
  }();
  return file;
}

struct JpegError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

// Quality 90, 4:2:0 chroma, baseline: what cameras and most programs write.
const Bytes& JpegFile() {
  static const Bytes file = [] {
    const pictures::Bitmap picture = Picture24();
    jpeg_compress_struct cinfo{};
    JpegError error{};
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = JpegErrorExit;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(error.jump)) throw std::runtime_error("cannot make the JPEG file");
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = const_cast<uint8_t*>(picture.ScanLine(int(cinfo.next_scanline)));
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
  }();
  return file;
}

void SetCounters(benchmark::State& state, size_t fileBytes) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fileBytes));
  state.counters["Mpixel/s"] = benchmark::Counter(
      double(kWidth) * kHeight * 1e-6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

// Picture24's samples, which it stores blue first.
bench::Expected Picture24Colours() {
  bench::Expected expected;
  expected.colour = [](int x, int y) {
    return bench::Rgb{bench::PhotoSample(x, y, 2, false), bench::PhotoSample(x, y, 1, false),
                      bench::PhotoSample(x, y, 0, false)};
  };
  return expected;
}

void BM_Bmp24_Ours(benchmark::State& state) {
  const Bytes& file = BitmapFile();
  bench::DecodeEachIteration<pictures::Bitmap>(state, file, Picture24Colours());
  SetCounters(state, file.size());
}
BENCHMARK(BM_Bmp24_Ours)->Unit(benchmark::kMillisecond);

void BM_Bmp24_Stb(benchmark::State& state) {
  const Bytes& file = BitmapFile();
  bench::StbEachIteration(state, file, 0, stbi_load_from_memory, stbi_image_free);
  SetCounters(state, file.size());
}
BENCHMARK(BM_Bmp24_Stb)->Unit(benchmark::kMillisecond);

void BM_Bmp24_Save(benchmark::State& state) {
  const pictures::Bitmap picture = Picture24();
  for (auto _ : state) {
    pictures::MemoryStream stream;
    picture.SaveToStream(stream);
    benchmark::DoNotOptimize(stream.Bytes().data());
  }
  pictures::MemoryStream stream;
  picture.SaveToStream(stream);
  if (stream.Bytes() != BitmapFile()) state.SkipWithError("the saved file differs");
  SetCounters(state, BitmapFile().size());
}
BENCHMARK(BM_Bmp24_Save)->Unit(benchmark::kMillisecond);

// libjpeg's own loop: the same output (blue, green, red) into `pixels`, rows of kWidth.
bool DecodeWithLibjpeg(const Bytes& file, uint8_t* pixels) {
  jpeg_decompress_struct cinfo{};
  JpegError error{};
  cinfo.err = jpeg_std_error(&error.pub);
  error.pub.error_exit = JpegErrorExit;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), file.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  const bool fits = cinfo.output_width == unsigned(kWidth) && cinfo.output_height == unsigned(kHeight);
  while (fits && cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels + size_t(cinfo.output_scanline) * kWidth * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  if (fits) jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return fits;
}

// Ours must give exactly what libjpeg's own decode gives.
bench::Expected LibjpegColours() {
  static const Bytes reference = [] {
    Bytes pixels(size_t(kWidth) * kHeight * 3);
    if (!DecodeWithLibjpeg(JpegFile(), pixels.data())) pixels.clear();
    return pixels;
  }();
  bench::Expected expected;
  if (reference.empty()) expected.width = 0;
  expected.colour = [](int x, int y) {
    const uint8_t* p = reference.data() + (size_t(y) * kWidth + size_t(x)) * 3;
    return bench::Rgb{p[2], p[1], p[0]};
  };
  return expected;
}

void BM_Jpeg_Ours(benchmark::State& state) {
  const Bytes& file = JpegFile();
  bench::DecodeEachIteration<pictures::TJPEGImage>(state, file, LibjpegColours());
  SetCounters(state, file.size());
}
BENCHMARK(BM_Jpeg_Ours)->Unit(benchmark::kMillisecond);

// Into a new buffer every time, as every decoder here makes a new picture each time.
void BM_Jpeg_Libjpeg(benchmark::State& state) {
  const Bytes& file = JpegFile();
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> pixels(new uint8_t[size_t(kWidth) * kHeight * 3]);
    if (!DecodeWithLibjpeg(file, pixels.get())) {
      state.SkipWithError("libjpeg could not read the file");
      break;
    }
    benchmark::DoNotOptimize(pixels.get());
  }
  SetCounters(state, file.size());
}
BENCHMARK(BM_Jpeg_Libjpeg)->Unit(benchmark::kMillisecond);

void BM_Jpeg_Stb(benchmark::State& state) {
  const Bytes& file = JpegFile();
  bench::StbEachIteration(state, file, 0, stbi_load_from_memory, stbi_image_free);
  SetCounters(state, file.size());
}
BENCHMARK(BM_Jpeg_Stb)->Unit(benchmark::kMillisecond);

}  // namespace
