#include "base/pixel_helpers.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "base/pixel_paths.h"

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

// Linear light in [0, 1] to 8-bit sRGB, through a table fine enough that the steep start
// of the curve stays within a quarter level.
class SRGBEncoder {
 public:
  static constexpr int kSteps = 16384;
  SRGBEncoder() {
    for (int i = 0; i <= kSteps; ++i) {
      const double v = double(i) / kSteps;
      const double e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
      table_[i] = static_cast<uint8_t>(std::lround(255 * e));
    }
  }
  uint8_t operator()(float linear) const {
    if (!(linear > 0)) return 0;  // also NaN
    if (linear >= 1) return 255;
    return table_[static_cast<int>(linear * kSteps + 0.5f)];
  }

 private:
  uint8_t table_[kSteps + 1];
};

const SRGBEncoder& Encoder() {
  static const SRGBEncoder encoder;
  return encoder;
}

}  // namespace

uint8_t LinearToSrgb8(float linear) { return Encoder()(linear); }

float HalfToFloat(uint16_t half) {
  const uint32_t sign = uint32_t(half & 0x8000) << 16;
  const uint32_t exponent = (half >> 10) & 0x1F;
  const uint32_t mantissa = half & 0x3FF;
  if (exponent == 0) {
    // Zero and the subnormal numbers: the mantissa counts units of 2^-24.
    const float magnitude = std::ldexp(float(mantissa), -24);
    return sign ? -magnitude : magnitude;
  }
  // Infinities and NaNs keep their kind; normal numbers move to the float's exponent bias.
  const uint32_t bits = exponent == 0x1F ? sign | 0x7F800000 | mantissa << 13
                                         : sign | (exponent + 112) << 23 | mantissa << 13;
  return std::bit_cast<float>(bits);
}

namespace {

// The inverse of the CIE lightness function f(t), straight line below t = 6/29.
inline float InverseLabF(float f) {
  constexpr float kDelta = 6.0f / 29.0f;
  return f > kDelta ? f * f * f : 3 * kDelta * kDelta * (f - 4.0f / 29.0f);
}

}  // namespace

void CIELabValueToBGR(float L, float a, float b, uint8_t* out) {
  // L*a*b* relative to the D50 white (X 0.9642, Y 1, Z 0.8249), then to linear sRGB by
  // the Bradford-adapted D50 matrix, then the sRGB transfer curve.
  const float fy = (L + 16) / 116;
  const float X = 0.9642f * InverseLabF(fy + a / 500);
  const float Y = InverseLabF(fy);
  const float Z = 0.8249f * InverseLabF(fy - b / 200);
  const SRGBEncoder& encode = Encoder();
  out[0] = encode(0.0719453f * X - 0.2289914f * Y + 1.4052427f * Z);
  out[1] = encode(-0.9787684f * X + 1.9161415f * Y + 0.0334540f * Z);
  out[2] = encode(3.1338561f * X - 1.6168667f * Y - 0.4906146f * Z);
}

namespace {

// One pixel of 8-bit samples (L 0..255 for 0..100, a and b signed bytes) or of 16-bit
// little-endian words (L 0..65535 for 0..100, a and b signed, 256 to a unit).
inline void Lab8ToBGR(uint8_t L, uint8_t a, uint8_t b, uint8_t* out) {
  CIELabValueToBGR(L * (100.0f / 255), static_cast<int8_t>(a), static_cast<int8_t>(b), out);
}
inline void Lab16ToBGR(int32_t L, int32_t a, int32_t b, uint8_t* out) {
  CIELabValueToBGR(L * (100.0f / 65535), static_cast<int16_t>(a) / 256.0f,
                   static_cast<int16_t>(b) / 256.0f, out);
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

void CIELabToBGR(const void* Source, void* Dest, uint8_t BitsPerSample, uint32_t Count) {
  const auto* in = static_cast<const uint8_t*>(Source);
  auto* out = static_cast<uint8_t*>(Dest);
  const uint32_t pixels = Count / 3;
  if (BitsPerSample == 8) {
    for (uint32_t i = 0; i < pixels; ++i, in += 3, out += 3) Lab8ToBGR(in[0], in[1], in[2], out);
  } else if (BitsPerSample == 16) {
    for (uint32_t i = 0; i < pixels; ++i, in += 6, out += 3)
      Lab16ToBGR(Word(in, 0), Word(in, 1), Word(in, 2), out);
  }
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

void CIELabPlanarToBGR(const void* L, const void* a, const void* b, void* Dest,
                       uint8_t BitsPerSample, uint32_t Count) {
  const auto* l = static_cast<const uint8_t*>(L);
  const auto* pa = static_cast<const uint8_t*>(a);
  const auto* pb = static_cast<const uint8_t*>(b);
  auto* out = static_cast<uint8_t*>(Dest);
  const uint32_t pixels = Count / 3;
  if (BitsPerSample == 8) {
    for (uint32_t i = 0; i < pixels; ++i, out += 3) Lab8ToBGR(l[i], pa[i], pb[i], out);
  } else if (BitsPerSample == 16) {
    for (uint32_t i = 0; i < pixels; ++i, out += 3)
      Lab16ToBGR(Word(l, i), Word(pa, i), Word(pb, i), out);
  }
}

// The prediction helpers keep the running sums in registers instead of reading back each
// byte just written; the sums are the same, byte by byte modulo 256.
void PlanesToBGR(const uint8_t* red, const uint8_t* green, const uint8_t* blue, uint8_t* out,
                 size_t pixels) {
  // The converters count in 32 bits; a row of a Bitmap never holds more pixels than that.
  const auto n = static_cast<uint32_t>(pixels);
  if (pixel_paths::HasByteShuffles())
    pixel_paths::RGBPlanarToBGRShuffle(red, green, blue, out, n);
  else
    pixel_paths::RGBPlanarToBGRPlain(red, green, blue, out, n);
}

void PlanesToBGRA(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                  const uint8_t* alpha, uint8_t* out, size_t pixels) {
  for (size_t x = 0; x < pixels; ++x, out += 4) {
    out[0] = blue[x];
    out[1] = green[x];
    out[2] = red[x];
    out[3] = alpha[x];
  }
}

void HighBytesOfBE16(const uint8_t* words, uint8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = words[2 * i];
}

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
