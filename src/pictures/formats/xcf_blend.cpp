#include "pictures/formats/xcf_blend.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "base/colour_space.h"

namespace pictures::xcf {

namespace {

constexpr size_t kPiece = 256;  // pixels mixed at a time, in buffers on the stack

inline float Clamp01(float v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

// a / b where b may be 0: what the quotient tends to (0 for 0 / 0), held to a large value.
inline float SafeDivide(float a, float b) {
  constexpr float kLargest = 1e6f;
  if (b > 1e-6f) return std::min(a / b, kLargest);
  return a > 0 ? kLargest : 0;
}

// The formulas of one colour channel: i from the backdrop, m from the layer.
float Normal(float, float m) { return m; }
float Multiply(float i, float m) { return i * m; }
float Screen(float i, float m) { return 1 - (1 - i) * (1 - m); }
// GIMP 2.8's overlay, which is also its soft light: i (i + 2m (1 - i)).
float SoftLight(float i, float m) { return i * (i + 2 * m * (1 - i)); }
float Overlay(float i, float m) { return i < 0.5f ? 2 * i * m : 1 - 2 * (1 - i) * (1 - m); }
float Difference(float i, float m) { return std::fabs(i - m); }
float Addition(float i, float m) { return i + m; }
float AdditionClamped(float i, float m) { return Clamp01(i + m); }
float Subtract(float i, float m) { return i - m; }
float SubtractClamped(float i, float m) { return Clamp01(i - m); }
float DarkenOnly(float i, float m) { return std::min(i, m); }
float LightenOnly(float i, float m) { return std::max(i, m); }
float Divide(float i, float m) { return SafeDivide(i, m); }
float DivideClamped(float i, float m) { return Clamp01(SafeDivide(i, m)); }
float Dodge(float i, float m) { return SafeDivide(i, 1 - m); }
float DodgeClamped(float i, float m) { return Clamp01(SafeDivide(i, 1 - m)); }
float Burn(float i, float m) { return 1 - SafeDivide(1 - i, m); }
float BurnClamped(float i, float m) { return 1 - Clamp01(SafeDivide(1 - i, m)); }
float HardLight(float i, float m) { return m > 0.5f ? 1 - (1 - i) * (2 - 2 * m) : 2 * i * m; }
float GrainExtract(float i, float m) { return i - m + 0.5f; }
float GrainExtractClamped(float i, float m) { return Clamp01(i - m + 0.5f); }
float GrainMerge(float i, float m) { return i + m - 0.5f; }
float GrainMergeClamped(float i, float m) { return Clamp01(i + m - 0.5f); }
float VividLight(float i, float m) {
  return m <= 0.5f ? 1 - Clamp01(SafeDivide(1 - i, 2 * m)) : Clamp01(SafeDivide(i, 2 * (1 - m)));
}
float PinLight(float i, float m) { return m > 0.5f ? std::max(i, 2 * m - 1) : std::min(i, 2 * m); }
float LinearLight(float i, float m) { return i + 2 * m - 1; }
float HardMix(float i, float m) { return i + m < 1 ? 0.0f : 1.0f; }
float Exclusion(float i, float m) { return i + m - 2 * i * m; }
float LinearBurn(float i, float m) { return i + m - 1; }

// Hue, saturation and value (HSV), and hue, saturation and lightness (HSL); hue 0 to 6.
struct Cylinder {
  float hue, saturation, third;
};

float HueOf(const float* c, float max, float delta) {
  if (delta <= 0) return 0;
  float hue = c[0] == max ? (c[1] - c[2]) / delta
              : c[1] == max ? 2 + (c[2] - c[0]) / delta
                            : 4 + (c[0] - c[1]) / delta;
  return hue < 0 ? hue + 6 : hue;
}

Cylinder ToHSV(const float* c) {
  const float max = std::max({c[0], c[1], c[2]});
  const float delta = max - std::min({c[0], c[1], c[2]});
  return {HueOf(c, max, delta), max > 0 ? delta / max : 0, max};
}

Cylinder ToHSL(const float* c) {
  const float max = std::max({c[0], c[1], c[2]});
  const float min = std::min({c[0], c[1], c[2]});
  const float lightness = (max + min) / 2;
  const float delta = max - min;
  const float spread = lightness <= 0.5f ? max + min : 2 - max - min;
  return {HueOf(c, max, delta), spread > 0 ? delta / spread : 0, lightness};
}

// The colour of chroma `chroma` at `hue` whose smallest channel is `min`.
void FromHue(float hue, float chroma, float min, float* out) {
  if (!(hue >= 0 && hue < 6)) hue = 0;  // from colours that are not numbers
  const float x = chroma * (1 - std::fabs(std::fmod(hue, 2.0f) - 1));
  const int sector = std::min(static_cast<int>(hue), 5);
  static constexpr int kOrder[6][3] = {{0, 1, 2}, {1, 0, 2}, {2, 0, 1},
                                       {2, 1, 0}, {1, 2, 0}, {0, 2, 1}};
  const float parts[3] = {chroma, x, 0};
  for (int c = 0; c < 3; ++c) out[c] = min + parts[kOrder[sector][c]];
}

void FromHSV(Cylinder hsv, float* out) {
  const float chroma = hsv.third * hsv.saturation;
  FromHue(hsv.hue, chroma, hsv.third - chroma, out);
}

void FromHSL(Cylinder hsl, float* out) {
  const float chroma = (1 - std::fabs(2 * hsl.third - 1)) * hsl.saturation;
  FromHue(hsl.hue, chroma, hsl.third - chroma / 2, out);
}

// The formulas of whole pixels. Each reads all of `in` and `layer` before writing `out`.
void Hue(const float* in, const float* layer, float* out) {
  Cylinder result = ToHSV(in);
  const Cylinder from = ToHSV(layer);
  // A grey layer has no hue to give.
  if (from.saturation <= 0) {
    std::copy(in, in + 3, out);
    return;
  }
  result.hue = from.hue;
  FromHSV(result, out);
}

void Saturation(const float* in, const float* layer, float* out) {
  Cylinder result = ToHSV(in);
  result.saturation = ToHSV(layer).saturation;
  FromHSV(result, out);
}

void Value(const float* in, const float* layer, float* out) {
  Cylinder result = ToHSV(in);
  result.third = ToHSV(layer).third;
  FromHSV(result, out);
}

void Colour(const float* in, const float* layer, float* out) {
  Cylinder result = ToHSL(layer);
  result.third = ToHSL(in).third;
  FromHSL(result, out);
}

// Luminance of linear light, by the sRGB primaries.
inline float Luma(const float* c) { return 0.2126f * c[0] + 0.7152f * c[1] + 0.0722f * c[2]; }

void LumaDarkenOnly(const float* in, const float* layer, float* out) {
  const float* darker = Luma(in) <= Luma(layer) ? in : layer;
  std::copy(darker, darker + 3, out);
}

void LumaLightenOnly(const float* in, const float* layer, float* out) {
  const float* lighter = Luma(in) >= Luma(layer) ? in : layer;
  std::copy(lighter, lighter + 3, out);
}

void Luminance(const float* in, const float* layer, float* out) {
  const float from = Luma(in);
  const float to = Luma(layer);
  for (int c = 0; c < 3; ++c) out[c] = from > 0 ? in[c] * (to / from) : to;
}

template <float (*F)(float, float)>
void EachChannel(const float* in, const float* layer, float* out, size_t count) {
  for (size_t i = 0; i < count * 4; i += 4)
    for (size_t c = 0; c < 3; ++c) out[i + c] = F(in[i + c], layer[i + c]);
}

template <void (*F)(const float*, const float*, float*)>
void EachPixel(const float* in, const float* layer, float* out, size_t count) {
  for (size_t i = 0; i < count * 4; i += 4) {
    float result[3];
    F(in + i, layer + i, result);
    std::copy(result, result + 3, out + i);
  }
}

constexpr Light kLinear = Light::Linear;
constexpr Light kPerceptual = Light::Perceptual;

// A GIMP 2.8 mode: perceptual values, its own composite.
constexpr LayerMode Legacy(const char* name, BlendFunction blend,
                           Composite composite = Composite::Legacy) {
  return {name, blend, kPerceptual, kPerceptual, composite, true};
}
// A GIMP 2.10 mode: blended in the light GIMP chooses for it, composited in linear light,
// where there is a backdrop unless it says otherwise.
constexpr LayerMode Modern(const char* name, BlendFunction blend, Light blendLight,
                           Composite composite = Composite::ClipToBackdrop) {
  return {name, blend, blendLight, kLinear, composite, true};
}
constexpr LayerMode NotDrawn(const char* name, Light light) {
  return {name, EachChannel<Normal>, light, light, Composite::Union, false};
}

// Indexed by GIMP's mode number.
constexpr std::array<LayerMode, 62> kModes = {{
    Legacy("normal (legacy)", EachChannel<Normal>, Composite::Union),
    NotDrawn("dissolve", kPerceptual),
    Legacy("behind (legacy)", EachChannel<Normal>, Composite::Behind),
    Legacy("multiply (legacy)", EachChannel<Multiply>),
    Legacy("screen (legacy)", EachChannel<Screen>),
    Legacy("overlay (legacy)", EachChannel<SoftLight>),
    Legacy("difference (legacy)", EachChannel<Difference>),
    Legacy("addition (legacy)", EachChannel<AdditionClamped>),
    Legacy("subtract (legacy)", EachChannel<SubtractClamped>),
    Legacy("darken only (legacy)", EachChannel<DarkenOnly>),
    Legacy("lighten only (legacy)", EachChannel<LightenOnly>),
    Legacy("hue (legacy)", EachPixel<Hue>),
    Legacy("saturation (legacy)", EachPixel<Saturation>),
    Legacy("colour (legacy)", EachPixel<Colour>),
    Legacy("value (legacy)", EachPixel<Value>),
    Legacy("divide (legacy)", EachChannel<DivideClamped>),
    Legacy("dodge (legacy)", EachChannel<DodgeClamped>),
    Legacy("burn (legacy)", EachChannel<BurnClamped>),
    Legacy("hard light (legacy)", EachChannel<HardLight>),
    Legacy("soft light (legacy)", EachChannel<SoftLight>),
    Legacy("grain extract (legacy)", EachChannel<GrainExtractClamped>),
    Legacy("grain merge (legacy)", EachChannel<GrainMergeClamped>),
    NotDrawn("colour erase (legacy)", kPerceptual),
    Modern("overlay", EachChannel<Overlay>, kPerceptual),
    NotDrawn("LCh hue", kLinear),
    NotDrawn("LCh chroma", kLinear),
    NotDrawn("LCh colour", kLinear),
    NotDrawn("LCh lightness", kLinear),
    Modern("normal", EachChannel<Normal>, kLinear, Composite::Union),
    Modern("behind", EachChannel<Normal>, kLinear, Composite::Behind),
    Modern("multiply", EachChannel<Multiply>, kLinear),
    Modern("screen", EachChannel<Screen>, kPerceptual),
    Modern("difference", EachChannel<Difference>, kPerceptual),
    Modern("addition", EachChannel<Addition>, kLinear),
    Modern("subtract", EachChannel<Subtract>, kLinear),
    Modern("darken only", EachChannel<DarkenOnly>, kLinear),
    Modern("lighten only", EachChannel<LightenOnly>, kLinear),
    Modern("hue", EachPixel<Hue>, kPerceptual),
    Modern("saturation", EachPixel<Saturation>, kPerceptual),
    Modern("colour", EachPixel<Colour>, kPerceptual),
    Modern("value", EachPixel<Value>, kPerceptual),
    Modern("divide", EachChannel<Divide>, kLinear),
    Modern("dodge", EachChannel<Dodge>, kPerceptual),
    Modern("burn", EachChannel<Burn>, kPerceptual),
    Modern("hard light", EachChannel<HardLight>, kPerceptual),
    Modern("soft light", EachChannel<SoftLight>, kPerceptual),
    Modern("grain extract", EachChannel<GrainExtract>, kPerceptual),
    Modern("grain merge", EachChannel<GrainMerge>, kPerceptual),
    Modern("vivid light", EachChannel<VividLight>, kPerceptual),
    Modern("pin light", EachChannel<PinLight>, kPerceptual),
    Modern("linear light", EachChannel<LinearLight>, kPerceptual),
    Modern("hard mix", EachChannel<HardMix>, kPerceptual),
    Modern("exclusion", EachChannel<Exclusion>, kPerceptual),
    Modern("linear burn", EachChannel<LinearBurn>, kPerceptual),
    Modern("luma darken only", EachPixel<LumaDarkenOnly>, kPerceptual),
    Modern("luma lighten only", EachPixel<LumaLightenOnly>, kPerceptual),
    Modern("luminance", EachPixel<Luminance>, kLinear),
    NotDrawn("colour erase", kLinear),
    Modern("erase", EachChannel<Normal>, kLinear, Composite::Erase),
    NotDrawn("merge", kLinear),
    NotDrawn("split", kLinear),
    // Pass-through is a layer group's mode; the reader draws such groups itself.
    Modern("pass through", EachChannel<Normal>, kLinear, Composite::Union),
}};

constexpr uint32_t kFirstModernMode = 23;

std::optional<Light> LightOf(int32_t space) {
  switch (std::abs(space)) {
    case 1: return kLinear;
    case 2: return kPerceptual;
    default: return std::nullopt;
  }
}

std::optional<Composite> CompositeOf(int32_t mode) {
  switch (std::abs(mode)) {
    case 1: return Composite::Union;
    case 2: return Composite::ClipToBackdrop;
    case 3: return Composite::ClipToLayer;
    case 4: return Composite::Intersection;
    default: return std::nullopt;
  }
}

// The composites, pixel by pixel: `b` the backdrop (changed in place), `l` the layer, `c`
// the blended colour, `s` the layer's strength.
template <typename Rule>
void EachComposite(float* backdrop, const float* layer, const float* blended,
                   const float* strength, size_t count, Rule rule) {
  for (size_t p = 0; p < count; ++p)
    rule(backdrop + 4 * p, layer + 4 * p, blended + 4 * p, strength[p]);
}

void CompositePixels(Composite kind, float* backdrop, const float* layer, const float* blended,
               const float* strength, size_t count) {
  switch (kind) {
    case Composite::Union:
      EachComposite(backdrop, layer, blended, strength, count,
                    [](float* b, const float* l, const float* c, float s) {
                      const float la = l[3] * s;
                      const float ba = b[3];
                      const float alpha = la + ba - la * ba;
                      if (alpha > 0)
                        for (int k = 0; k < 3; ++k)
                          b[k] = (la * ba * c[k] + la * (1 - ba) * l[k] + (1 - la) * ba * b[k]) / alpha;
                      b[3] = alpha;
                    });
      break;
    case Composite::ClipToBackdrop:
      EachComposite(backdrop, layer, blended, strength, count,
                    [](float* b, const float* l, const float* c, float s) {
                      const float la = l[3] * s;
                      for (int k = 0; k < 3; ++k) b[k] += la * (c[k] - b[k]);
                    });
      break;
    case Composite::ClipToLayer:
      EachComposite(backdrop, layer, blended, strength, count,
                    [](float* b, const float* l, const float* c, float s) {
                      const float ba = b[3];
                      for (int k = 0; k < 3; ++k) b[k] = ba * c[k] + (1 - ba) * l[k];
                      b[3] = l[3] * s;
                    });
      break;
    case Composite::Intersection:
      EachComposite(backdrop, layer, blended, strength, count,
                    [](float* b, const float* l, const float* c, float s) {
                      std::copy(c, c + 3, b);
                      b[3] *= l[3] * s;
                    });
      break;
    case Composite::Legacy:
      EachComposite(backdrop, layer, blended, strength, count,
                    [](float* b, const float* l, const float* c, float s) {
                      const float ba = b[3];
                      const float ca = std::min(ba, l[3]) * s;
                      const float alpha = ba + (1 - ba) * ca;
                      if (!(ca > 0 && alpha > 0)) return;
                      const float ratio = ca / alpha;
                      for (int k = 0; k < 3; ++k) b[k] = c[k] * ratio + b[k] * (1 - ratio);
                    });
      break;
    case Composite::Behind:
      EachComposite(backdrop, layer, blended, strength, count,
                    [](float* b, const float* l, const float*, float s) {
                      const float la = l[3] * s;
                      const float ba = b[3];
                      const float alpha = ba + la * (1 - ba);
                      if (alpha > 0)
                        for (int k = 0; k < 3; ++k) b[k] = (ba * b[k] + la * (1 - ba) * l[k]) / alpha;
                      b[3] = alpha;
                    });
      break;
    case Composite::Erase:
      EachComposite(backdrop, layer, blended, strength, count,
                    [](float* b, const float* l, const float*, float s) { b[3] *= 1 - l[3] * s; });
      break;
  }
}

}  // namespace

const LayerMode& LayerModeFor(uint32_t number) {
  return number < kModes.size() ? kModes[number] : kModes[0];
}

ModeChoice ChooseMode(uint32_t number, int32_t blendSpace, int32_t compositeSpace,
                      int32_t compositeMode) {
  const LayerMode& mode = LayerModeFor(number);
  ModeChoice choice{mode.blend, mode.blendLight, mode.compositeLight, mode.composite};
  if (number < kFirstModernMode || number >= kModes.size()) return choice;
  choice.blendLight = LightOf(blendSpace).value_or(choice.blendLight);
  choice.compositeLight = LightOf(compositeSpace).value_or(choice.compositeLight);
  // Behind and erase are composites of their own, which a layer cannot change.
  if (mode.composite != Composite::Behind && mode.composite != Composite::Erase)
    choice.composite = CompositeOf(compositeMode).value_or(choice.composite);
  return choice;
}

void ConvertLight(float* pixels, size_t count, Light from, Light to) {
  if (from == to) return;
  float (*convert)(float) = to == kLinear ? SRGBToLinear : LinearToSRGB;
  for (size_t i = 0; i < count * 4; i += 4)
    for (size_t c = 0; c < 3; ++c) pixels[i + c] = convert(pixels[i + c]);
}

void MixLayer(const ModeChoice& mode, float* backdrop, float* layer, const float* strength,
              size_t count) {
  std::array<float, kPiece * 4> blended;
  std::array<float, kPiece * 4> in;
  for (size_t done = 0; done < count; done += kPiece) {
    const size_t n = std::min(kPiece, count - done);
    float* b = backdrop + 4 * done;
    float* l = layer + 4 * done;
    if (mode.blendLight == mode.compositeLight) {
      mode.blend(b, l, blended.data(), n);
    } else {
      std::copy(b, b + 4 * n, in.begin());
      ConvertLight(in.data(), n, mode.compositeLight, mode.blendLight);
      mode.blend(in.data(), l, blended.data(), n);
      ConvertLight(blended.data(), n, mode.blendLight, mode.compositeLight);
      ConvertLight(l, n, mode.blendLight, mode.compositeLight);
    }
    CompositePixels(mode.composite, b, l, blended.data(), strength + done, n);
  }
}

void Crossfade(float* backdrop, const float* result, const float* strength, size_t count) {
  for (size_t p = 0; p < count; ++p) {
    float* b = backdrop + 4 * p;
    const float* r = result + 4 * p;
    const float s = strength[p];
    const float alpha = b[3] + s * (r[3] - b[3]);
    if (alpha > 0)
      for (int k = 0; k < 3; ++k) b[k] = (b[3] * b[k] * (1 - s) + r[3] * r[k] * s) / alpha;
    b[3] = alpha;
  }
}

}  // namespace pictures::xcf
