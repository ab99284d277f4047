#include "pictures/pixel_helpers.h"

#include <cmath>
#include <cstring>

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
    for (uint32_t i = 0; i < pixels; ++i, in += 3, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
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
    for (uint32_t i = 0; i < pixels; ++i, in += 4, out += 4) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      out[3] = in[3];
    }
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
    for (uint32_t i = 0; i < pixels; ++i, out += 3) {
      out[0] = b[i];
      out[1] = g[i];
      out[2] = r[i];
    }
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

void UndoPredictor1(uint8_t* row, uint32_t N) {
  for (uint32_t i = 1; i <= N; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - 1]);
}

void UndoPredictor3(uint8_t* row, uint32_t N) {
  for (uint32_t j = 0; j < 3 * N; ++j) row[j + 3] = static_cast<uint8_t>(row[j + 3] + row[j]);
}

void UndoPredictor4(uint8_t* row, uint32_t N) {
  for (uint32_t j = 0; j < 4 * N; ++j) row[j + 4] = static_cast<uint8_t>(row[j + 4] + row[j]);
}

}  // namespace pictures
