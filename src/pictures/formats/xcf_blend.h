// The layer modes of GIMP pictures. A layer's colour is first blended with the colour
// below it (the backdrop) by its mode's formula, then composited: the blended colour, the
// layer's own colour and the backdrop are weighed by the two alphas. Each mode does both in
// a light of its own: GIMP 2.8's modes, which GIMP 2.10 keeps as "legacy" modes, mix the
// stored (perceptual) values; the modes GIMP 2.10 added mix linear light.
//
// Pixels here are straight (not premultiplied) red, green, blue, alpha floats, 0 to 1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pictures::xcf {

enum class Light : uint8_t { Linear, Perceptual };

// How the blended colour and the two alphas make the result (`la` the layer's alpha times
// its opacity and mask, `ba` the backdrop's).
enum class Composite : uint8_t {
  Union,           // either shows: alpha la + ba - la ba
  ClipToBackdrop,  // only where the backdrop is: alpha ba
  ClipToLayer,     // only where the layer is: alpha la
  Intersection,    // only where both are: alpha la ba
  // GIMP 2.8's rule for its modes other than normal: the layer's alpha is limited by the
  // backdrop's, and the result keeps the backdrop's alpha.
  Legacy,
  Behind,  // the layer goes under the backdrop
  Erase,   // the layer's alpha is taken away from the backdrop's
};

// The blended colour of `count` pixels: red, green and blue of `out` from those of the
// backdrop `in` and the layer `layer` (alpha is neither read nor written). `out` may be
// `in`.
using BlendFunction = void (*)(const float* in, const float* layer, float* out, size_t count);

struct LayerMode {
  const char* name;
  BlendFunction blend;
  Light blendLight;      // in which the colours are blended
  Light compositeLight;  // in which the result is composited
  Composite composite;   // the composite the mode has unless a layer chooses another
  bool drawn;            // false for a mode drawn as normal because its own is not done here
};

// The mode of GIMP's mode number `number` (0 to 61); any other number is drawn as normal.
const LayerMode& LayerModeFor(uint32_t number);

// What a layer asks for: its mode, and the light and composite it may choose in place of
// the mode's own (GIMP 2.10's modes only; legacy modes keep theirs).
struct ModeChoice {
  BlendFunction blend;
  Light blendLight;
  Light compositeLight;
  Composite composite;
};

// `blendSpace` and `compositeSpace` as stored: 1 linear, 2 perceptual, anything else the
// mode's own; `compositeMode` 1 union, 2 clip to backdrop, 3 clip to layer, 4
// intersection, else the mode's own. A negative value is the mode's own, stored with it.
ModeChoice ChooseMode(uint32_t number, int32_t blendSpace, int32_t compositeSpace,
                      int32_t compositeMode);

// Changes the colours of `count` pixels from one light to the other.
void ConvertLight(float* pixels, size_t count, Light from, Light to);

// Mixes `count` pixels of a layer into the backdrop in place. The backdrop's pixels are in
// the choice's composite light, the layer's in its blend light (they may be changed);
// `strength` is each pixel's opacity times its mask, by which the layer's alpha is
// multiplied.
void MixLayer(const ModeChoice& mode, float* backdrop, float* layer, const float* strength,
              size_t count);

// Moves each backdrop pixel towards `result` by `strength` (0 keeps the backdrop, 1 gives
// the result), weighing colours by their alphas: how a pass-through layer group's opacity
// and mask act.
void Crossfade(float* backdrop, const float* result, const float* strength, size_t count);

}  // namespace pictures::xcf
