#include "pictures/pixel_helpers.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "pictures/pixel_paths.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PICTURES_PIXEL_SHUFFLES 1
#endif

namespace pictures {

namespace {

inline uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// The upper 8 bits of the little-endian 16-bit sample at index i.
inline uint8_t High8(const uint8_t* words, size_t i) { return words[2 * i + 1]; }
inline int32_t Word(const uint8_t* words, size_t i) { return words[2 * i] | words[2 * i + 1] << 8; }

inline int32_t Ink8(int32_t ink, int32_t k) { return 255 - (ink - MulDiv(ink, k, 255) + k); }
inline int32_t Ink16(int32_t ink, int32_t k) {
  return 255 - ((ink - MulDiv(ink, k, 65535) + k) >> 8);
}

inline void LabToBGR(uint8_t L, int8_t a, int8_t b, uint8_t* out) {
  const double lightness = L / 2.55;
  const double fy = (lightness + 16.0) / 116.0;
  double X, Y, Z;
  if (lightness < 7.9996) {
    Y = lightness / 903.3;
    X = Y + a / 3893.5;
    Z = Y - b / 1557.4;
  } else {
    X = std::pow(fy + a / 500.0, 3);
    Y = fy * fy * fy;
    Z = std::pow(fy - b / 200.0, 3);
  }
  // nearbyint rounds halves to even in the default rounding mode.
  const auto R = static_cast<int32_t>(std::nearbyint(255 * (2.998 * X - 1.458 * Y - 0.541 * Z)));
  const auto G = static_cast<int32_t>(std::nearbyint(255 * (-0.952 * X + 1.893 * Y + 0.059 * Z)));
  const auto B = static_cast<int32_t>(std::nearbyint(255 * (0.099 * X - 0.198 * Y + 1.099 * Z)));
  out[0] = Clamp(B);
  out[1] = Clamp(G);
  out[2] = Clamp(R);
}

}  // namespace

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  const int64_t product = int64_t(a) * b;
  const int64_t half = (c < 0 ? -int64_t(c) : int64_t(c)) / 2;
  const bool negative = (product < 0) != (c < 0);
  const int64_t magnitude = ((product < 0 ? -product : product) + half) /
                            (c < 0 ? -int64_t(c) : int64_t(c));
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

void SwapShorts(void* words, uint32_t count) {
  auto* p = static_cast<uint8_t*>(words);
  for (uint32_t i = 0; i < count; ++i, p += 2) std::swap(p[0], p[1]);
}

void SwapLongs(void* words, uint32_t count) {
  auto* p = static_cast<uint8_t*>(words);
  for (uint32_t i = 0; i < count; ++i, p += 4) {
    std::swap(p[0], p[3]);
    std::swap(p[1], p[2]);
  }
}

uint32_t SwapLong(uint32_t value) {
  return value >> 24 | (value >> 8 & 0xFF00) | (value << 8 & 0xFF0000) | value << 24;
}

void Samples16To8(const void* Source, void* Dest, uint8_t, uint32_t Count) {
  const auto* in = static_cast<const uint8_t*>(Source);
  auto* out = static_cast<uint8_t*>(Dest);
  for (uint32_t i = 0; i < Count; ++i) out[i] = High8(in, i);
}

void RGBToBGR(const void* Source, void* Dest, uint8_t BitsPerSample, uint32_t Count) {
  const auto* in = static_cast<const uint8_t*>(Source);
  auto* out = static_cast<uint8_t*>(Dest);
  const uint32_t pixels = Count / 3;
  if (BitsPerSample == 8) {
    if (pixel_paths::HasByteShuffles())
      pixel_paths::RGBToBGRShuffle(in, out, pixels);
    else
      pixel_paths::RGBToBGRPlain(in, out, pixels);
  } else if (BitsPerSample == 16) {
    for (uint32_t i = 0; i < pixels; ++i, out += 3) {
      out[0] = High8(in, 3 * i + 2);
      out[1] = High8(in, 3 * i + 1);
      out[2] = High8(in, 3 * i);
    }
  }
}

void RGBAToBGRA(const void* Source, void* Dest, uint8_t BitsPerSample, uint32_t Count) {
  const auto* in = static_cast<const uint8_t*>(Source);
  auto* out = static_cast<uint8_t*>(Dest);
  const uint32_t pixels = Count / 4;
  if (BitsPerSample == 8) {
    if (pixel_paths::HasByteShuffles())
      pixel_paths::RGBAToBGRAShuffle(in, out, pixels);
    else
      pixel_paths::RGBAToBGRAPlain(in, out, pixels);
  } else if (BitsPerSample == 16) {
    for (uint32_t i = 0; i < pixels; ++i, out += 4) {
      out[0] = High8(in, 4 * i + 2);
      out[1] = High8(in, 4 * i + 1);
      out[2] = High8(in, 4 * i);
      out[3] = High8(in, 4 * i + 3);
    }
  }
}

void CMYKToBGR(const void* Source, void* Dest, uint8_t BitsPerSample, uint32_t Count) {
  const auto* in = static_cast<const uint8_t*>(Source);
  auto* out = static_cast<uint8_t*>(Dest);
  const uint32_t pixels = Count / 4;
  if (BitsPerSample == 8) {
    for (uint32_t i = 0; i < pixels; ++i, in += 4, out += 3) {
      out[0] = Clamp(Ink8(in[2], in[3]));
      out[1] = Clamp(Ink8(in[1], in[3]));
      out[2] = Clamp(Ink8(in[0], in[3]));
    }
  } else if (BitsPerSample == 16) {
    for (uint32_t i = 0; i < pixels; ++i, out += 3) {
      const int32_t k = Word(in, 4 * i + 3);
      out[0] = Clamp(Ink16(Word(in, 4 * i + 2), k));
      out[1] = Clamp(Ink16(Word(in, 4 * i + 1), k));
      out[2] = Clamp(Ink16(Word(in, 4 * i), k));
    }
  }
}

void CIELabToBGR(const void* Source, void* Dest, uint8_t, uint32_t Count) {
  const auto* in = static_cast<const uint8_t*>(Source);
  auto* out = static_cast<uint8_t*>(Dest);
  const uint32_t pixels = Count / 3;
  for (uint32_t i = 0; i < pixels; ++i, in += 3, out += 3)
    LabToBGR(in[0], static_cast<int8_t>(in[1]), static_cast<int8_t>(in[2]), out);
}

void RGBPlanarToBGR(const void* R, const void* G, const void* B, void* Dest,
                    uint8_t BitsPerSample, uint32_t Count) {
  const auto* r = static_cast<const uint8_t*>(R);
  const auto* g = static_cast<const uint8_t*>(G);
  const auto* b = static_cast<const uint8_t*>(B);
  auto* out = static_cast<uint8_t*>(Dest);
  const uint32_t pixels = Count / 3;
  if (BitsPerSample == 8) {
    if (pixel_paths::HasByteShuffles())
      pixel_paths::RGBPlanarToBGRShuffle(r, g, b, out, pixels);
    else
      pixel_paths::RGBPlanarToBGRPlain(r, g, b, out, pixels);
  } else if (BitsPerSample == 16) {
    for (uint32_t i = 0; i < pixels; ++i, out += 3) {
      out[0] = High8(b, i);
      out[1] = High8(g, i);
      out[2] = High8(r, i);
    }
  }
}

void CMYKPlanarToBGR(const void* C, const void* M, const void* Y, const void* K, void* Dest,
                     uint8_t BitsPerSample, uint32_t Count) {
  const auto* c = static_cast<const uint8_t*>(C);
  const auto* m = static_cast<const uint8_t*>(M);
  const auto* y = static_cast<const uint8_t*>(Y);
  const auto* k = static_cast<const uint8_t*>(K);
  auto* out = static_cast<uint8_t*>(Dest);
  const uint32_t pixels = Count / 4;
  if (BitsPerSample == 8) {
    for (uint32_t i = 0; i < pixels; ++i, out += 3) {
      out[0] = Clamp(Ink8(y[i], k[i]));
      out[1] = Clamp(Ink8(m[i], k[i]));
      out[2] = Clamp(Ink8(c[i], k[i]));
    }
  } else if (BitsPerSample == 16) {
    for (uint32_t i = 0; i < pixels; ++i, out += 3) {
      const int32_t black = Word(k, i);
      out[0] = Clamp(Ink16(Word(y, i), black));
      out[1] = Clamp(Ink16(Word(m, i), black));
      out[2] = Clamp(Ink16(Word(c, i), black));
    }
  }
}

void CIELabPlanarToBGR(const void* L, const void* a, const void* b, void* Dest, uint8_t,
                       uint32_t Count) {
  const auto* l = static_cast<const uint8_t*>(L);
  const auto* pa = static_cast<const uint8_t*>(a);
  const auto* pb = static_cast<const uint8_t*>(b);
  auto* out = static_cast<uint8_t*>(Dest);
  const uint32_t pixels = Count / 3;
  for (uint32_t i = 0; i < pixels; ++i, out += 3)
    LabToBGR(l[i], static_cast<int8_t>(pa[i]), static_cast<int8_t>(pb[i]), out);
}

// The prediction helpers keep the running sums in registers instead of reading back each
// byte just written; the sums are the same, byte by byte modulo 256.
void UndoPredictor1(uint8_t* row, uint32_t N) {
  uint8_t sum = row[0];
  for (uint32_t i = 1; i <= N; ++i) row[i] = sum = static_cast<uint8_t>(sum + row[i]);
}

void UndoPredictor3(uint8_t* row, uint32_t N) {
  uint8_t s0 = row[0], s1 = row[1], s2 = row[2];
  uint8_t* p = row + 3;
  for (uint32_t i = 0; i < N; ++i, p += 3) {
    p[0] = s0 = static_cast<uint8_t>(s0 + p[0]);
    p[1] = s1 = static_cast<uint8_t>(s1 + p[1]);
    p[2] = s2 = static_cast<uint8_t>(s2 + p[2]);
  }
}

void UndoPredictor4(uint8_t* row, uint32_t N) {
  uint8_t s0 = row[0], s1 = row[1], s2 = row[2], s3 = row[3];
  uint8_t* p = row + 4;
  for (uint32_t i = 0; i < N; ++i, p += 4) {
    p[0] = s0 = static_cast<uint8_t>(s0 + p[0]);
    p[1] = s1 = static_cast<uint8_t>(s1 + p[1]);
    p[2] = s2 = static_cast<uint8_t>(s2 + p[2]);
    p[3] = s3 = static_cast<uint8_t>(s3 + p[3]);
  }
}

namespace pixel_paths {

void RGBToBGRPlain(const uint8_t* in, uint8_t* out, uint32_t pixels) {
  uint32_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Four pixels (three 32-bit words) a step, all read before any is written.
    for (; i + 4 <= pixels; i += 4, in += 12, out += 12) {
      uint32_t w0, w1, w2;  // R0 G0 B0 R1 | G1 B1 R2 G2 | B2 R3 G3 B3
      std::memcpy(&w0, in, 4);
      std::memcpy(&w1, in + 4, 4);
      std::memcpy(&w2, in + 8, 4);
      const uint32_t o0 =
          (w0 >> 16 & 0xFF) | (w0 & 0xFF00) | (w0 & 0xFF) << 16 | (w1 & 0xFF00) << 16;
      const uint32_t o1 =
          (w1 & 0xFF) | (w0 >> 16 & 0xFF00) | (w2 & 0xFF) << 16 | (w1 & 0xFF000000);
      const uint32_t o2 =
          (w1 >> 16 & 0xFF) | (w2 >> 16 & 0xFF00) | (w2 & 0xFF0000) | (w2 & 0xFF00) << 16;
      std::memcpy(out, &o0, 4);
      std::memcpy(out + 4, &o1, 4);
      std::memcpy(out + 8, &o2, 4);
    }
  }
  for (; i < pixels; ++i, in += 3, out += 3) {
    const uint8_t red = in[0], green = in[1], blue = in[2];
    out[0] = blue;
    out[1] = green;
    out[2] = red;
  }
}

void RGBAToBGRAPlain(const uint8_t* in, uint8_t* out, uint32_t pixels) {
  for (uint32_t i = 0; i < pixels; ++i, in += 4, out += 4) {
    const uint8_t red = in[0], green = in[1], blue = in[2], alpha = in[3];
    out[0] = blue;
    out[1] = green;
    out[2] = red;
    out[3] = alpha;
  }
}

void RGBPlanarToBGRPlain(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* out,
                         uint32_t pixels) {
  for (uint32_t i = 0; i < pixels; ++i, out += 3) {
    out[0] = b[i];
    out[1] = g[i];
    out[2] = r[i];
  }
}

#ifdef PICTURES_PIXEL_SHUFFLES

bool HasByteShuffles() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return has;
}

// Five pixels a step: 16 bytes are loaded and stored, of which the first 15 are turned and
// the last is the next pixel's red byte, stored unchanged. Steps are taken while a whole
// pixel follows the 16 bytes, so nothing past the row is touched. Each step's bytes are
// loaded before the previous step's store: in place, every byte is read before it is
// turned, and no load waits for the store that overlaps it.
__attribute__((target("ssse3"))) void RGBToBGRShuffle(const uint8_t* in, uint8_t* out,
                                                      uint32_t pixels) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  uint32_t i = 0;
  if (pixels >= 6) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    for (; i + 11 <= pixels; i += 5, in += 15, out += 15) {
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 15));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, order));
      v = next;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, order));
    i += 5, in += 15, out += 15;
  }
  RGBToBGRPlain(in, out, pixels - i);
}

__attribute__((target("ssse3"))) void RGBAToBGRAShuffle(const uint8_t* in, uint8_t* out,
                                                        uint32_t pixels) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
  uint32_t i = 0;
  for (; i + 4 <= pixels; i += 4, in += 16, out += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, order));
  }
  RGBAToBGRAPlain(in, out, pixels - i);
}

namespace {

// Byte shuffles that interleave 16 samples of each of the blue, green and red planes into
// 48 bytes of blue, green, red pixels: kInterleave[k][plane] fills output block k with that
// plane's samples and leaves zeros (mask bytes 0x80) for the others.
using InterleaveMasks = uint8_t[3][3][16];
constexpr auto MakeInterleaveMasks() {
  struct Masks {
    alignas(16) InterleaveMasks m;
  } masks{};
  for (int k = 0; k < 3; ++k)
    for (int plane = 0; plane < 3; ++plane)
      for (int j = 0; j < 16; ++j) {
        const int n = 16 * k + j;
        masks.m[k][plane][j] = n % 3 == plane ? uint8_t(n / 3) : 0x80;
      }
  return masks;
}
constexpr auto kInterleave = MakeInterleaveMasks();

}  // namespace

// Sixteen pixels a step, stored as three whole blocks of 16 bytes.
__attribute__((target("ssse3"))) void RGBPlanarToBGRShuffle(const uint8_t* r, const uint8_t* g,
                                                            const uint8_t* b, uint8_t* out,
                                                            uint32_t pixels) {
  auto mask = [](int k, int plane) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[k][plane]));
  };
  const __m128i m[3][3] = {{mask(0, 0), mask(0, 1), mask(0, 2)},
                           {mask(1, 0), mask(1, 1), mask(1, 2)},
                           {mask(2, 0), mask(2, 1), mask(2, 2)}};
  uint32_t i = 0;
  for (; i + 16 <= pixels; i += 16, out += 48) {
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i vg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + i));
    const __m128i vr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i));
    for (int k = 0; k < 3; ++k) {
      const __m128i block =
          _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(vb, m[k][0]), _mm_shuffle_epi8(vg, m[k][1])),
                       _mm_shuffle_epi8(vr, m[k][2]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * k), block);
    }
  }
  RGBPlanarToBGRPlain(r + i, g + i, b + i, out, pixels - i);
}

#else

bool HasByteShuffles() { return false; }
void RGBToBGRShuffle(const uint8_t* in, uint8_t* out, uint32_t pixels) {
  RGBToBGRPlain(in, out, pixels);
}
void RGBAToBGRAShuffle(const uint8_t* in, uint8_t* out, uint32_t pixels) {
  RGBAToBGRAPlain(in, out, pixels);
}
void RGBPlanarToBGRShuffle(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* out,
                           uint32_t pixels) {
  RGBPlanarToBGRPlain(r, g, b, out, pixels);
}

#endif

}  // namespace pixel_paths

}  // namespace pictures
