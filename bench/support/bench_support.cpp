#include "support/bench_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bench {

size_t SpanStream::Read(void* buffer, size_t count) {
  if (position_ >= Size()) return 0;
  const size_t n = std::min<size_t>(count, size_t(Size() - position_));
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += int64_t(n);
  return n;
}

uint8_t PhotoSample(int x, int y, int channel, bool flatBands) {
  uint32_t noise = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(channel) * 977u;
  noise = (noise >> 13) & 7;
  if (flatBands && (y / 40) % 4 == 0 && (x / 300) % 2 == 0) return uint8_t(channel * 60 + y / 40);
  return uint8_t((x / 16 + y / 12 + channel * 50) + noise);
}

Expected PhotoColours(bool flatBands) {
  Expected expected;
  expected.colour = [flatBands](int x, int y) {
    return Rgb{PhotoSample(x, y, 0, flatBands), PhotoSample(x, y, 1, flatBands),
               PhotoSample(x, y, 2, flatBands)};
  };
  return expected;
}

void CheckPicture(benchmark::State& state, const pictures::Bitmap& picture,
                  const Expected& expected) {
  // The message must outlive the benchmark's report.
  static std::string message;
  if (picture.Width() != expected.width || picture.Height() != expected.height) {
    message = "the decoded picture is " + std::to_string(picture.Width()) + " x " +
              std::to_string(picture.Height());
    state.SkipWithError(message.c_str());
    return;
  }
  const bool bgra = picture.GetPixelFormat() == pictures::PixelFormat::Bits32;
  std::vector<uint8_t> row(size_t(expected.width) * 3);
  for (int y = 0; y < expected.height; ++y) {
    const uint8_t* pixels = picture.ScanLine(y);
    if (!bgra) {
      pictures::RowToBGR(picture, y, row.data());
      pixels = row.data();
    }
    const size_t step = bgra ? 4 : 3;
    for (int x = 0; x < expected.width; ++x) {
      const Rgb want = expected.colour(x, y);
      const uint8_t* got = pixels + size_t(x) * step;
      if (std::abs(got[2] - want.red) > expected.tolerance ||
          std::abs(got[1] - want.green) > expected.tolerance ||
          std::abs(got[0] - want.blue) > expected.tolerance) {
        message = "the decoded picture differs from the file's at (" + std::to_string(x) +
                  ", " + std::to_string(y) + ")";
        state.SkipWithError(message.c_str());
        return;
      }
    }
  }
}

void AppendBE16(Bytes& out, uint32_t value) {
  out.push_back(uint8_t(value >> 8));
  out.push_back(uint8_t(value));
}

void AppendBE32(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

void AppendLE16(Bytes& out, uint32_t value) {
  out.push_back(uint8_t(value));
  out.push_back(uint8_t(value >> 8));
}

void PutBE16(Bytes& out, size_t at, uint32_t value) {
  out[at] = uint8_t(value >> 8);
  out[at + 1] = uint8_t(value);
}

void PutBE32(Bytes& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + size_t(i)] = uint8_t(value >> (24 - 8 * i));
}

void StbEachIteration(benchmark::State& state, std::span<const uint8_t> file, int channels,
                      StbLoad load, StbFree free) {
  for (auto _ : state) {
    int width, height, stored;
    unsigned char* pixels = load(file.data(), int(file.size()), &width, &height, &stored, channels);
    if (!pixels) state.SkipWithError("stb_image could not read the file");
    benchmark::DoNotOptimize(pixels);
    free(pixels);
  }
}

}  // namespace bench
