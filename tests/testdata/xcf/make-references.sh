#!/usr/bin/env bash
# Writes the GIMP pictures of this folder and their reference PNG files with GIMP itself
# (Debian's gimp package, run headless in batch mode): each NAME.xcf comes with NAME.png,
# the picture GIMP shows (its projection, in 8-bit sRGB with alpha). The tests read only
# the files; run this again after changing what it makes.
#
#   tests/testdata/xcf/make-references.sh
set -euo pipefail
cd "$(dirname "$0")"
command -v gimp-console >/dev/null || { echo "gimp-console is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# GIMP keeps an image's compression when it loads it: a one-pixel picture with zlib tiles,
# written here, makes the picture that is built on it save its tiles with zlib.
python3 - "$work/zlib-seed.xcf" <<'PY'
import struct, sys, zlib
tile = zlib.compress(bytes([200, 40, 40, 255]))
def be(*v): return struct.pack('>' + 'I' * len(v), *v)
head = b'gimp xcf v008\0' + be(1, 1, 0, 150) + be(17, 1) + b'\2' + be(0, 0)
layer_at = len(head) + 8
layer = be(1, 1, 1, 5) + b'seed\0' + be(0, 0)
hier_at = layer_at + len(layer) + 8
hier = be(1, 1, 4, hier_at + 20, 0)
level = be(1, 1, hier_at + 20 + 16, 0)
open(sys.argv[1], 'wb').write(head + be(layer_at, 0) + layer + be(hier_at, 0) + hier + level + tile)
PY

gimp-console -i -d -f -b - >"$work/log" 2>&1 <<SCHEME || { cat "$work/log" >&2; exit 1; }
(define (fill drawable gradient fg bg x1 y1 x2 y2)
  (gimp-context-set-foreground fg)
  (gimp-context-set-background bg)
  (gimp-context-set-gradient gradient)
  (gimp-drawable-edit-gradient-fill drawable GRADIENT-LINEAR 0 FALSE 1 0 FALSE x1 y1 x2 y2))

(define (add-layer image parent name type x y w h opacity mode)
  (let ((layer (car (gimp-layer-new image w h type name opacity mode))))
    (gimp-image-insert-layer image layer parent 0)
    (gimp-layer-set-offsets layer x y)
    layer))

(define (add-mask layer x1 y1 x2 y2)
  (let ((mask (car (gimp-layer-create-mask layer ADD-MASK-WHITE))))
    (gimp-layer-add-mask layer mask)
    (fill mask "FG to BG (RGB)" '(255 255 255) '(0 0 0) x1 y1 x2 y2)
    mask))

; Saves the picture and, beside it, what GIMP shows of it.
(define (save image name)
  (let* ((w (car (gimp-image-width image)))
         (h (car (gimp-image-height image)))
         (shown (car (gimp-image-new-with-precision w h RGB PRECISION-U8-GAMMA)))
         (layer (car (gimp-layer-new-from-visible image shown "shown"))))
    (gimp-image-insert-layer shown layer 0 0)
    (gimp-xcf-save 0 image (car (gimp-image-get-active-drawable image))
                   (string-append name ".xcf") (string-append name ".xcf"))
    (file-png-save2 RUN-NONINTERACTIVE shown layer (string-append name ".png")
                    (string-append name ".png") FALSE 9 FALSE FALSE FALSE FALSE FALSE FALSE FALSE)))

; One band of 4 rows for each mode, each layer over a backdrop that ends 8 columns short of
; the right edge, so that every mode is seen over colour and over transparency.
(define (modes-picture name precision modes)
  (let* ((w 32) (band 4) (h (* band (length modes)))
         (image (car (gimp-image-new-with-precision w h RGB precision)))
         (backdrop (add-layer image 0 "backdrop" RGBA-IMAGE 0 0 (- w 8) h 100
                              LAYER-MODE-NORMAL-LEGACY))
         (row 0))
    (fill backdrop "FG to BG (RGB)" '(10 200 90) '(250 30 160) 0 0 (- w 8) 0)
    (for-each
      (lambda (mode)
        (let ((layer (add-layer image 0 "mode" RGBA-IMAGE 0 row w band 85 mode)))
          (fill layer "FG to BG (RGB)" '(240 120 20) '(30 90 230) 0 0 w band)
          (set! row (+ row band))))
      modes)
    (save image name)))

(modes-picture "modes-legacy" PRECISION-U8-GAMMA
  (list LAYER-MODE-NORMAL-LEGACY LAYER-MODE-BEHIND-LEGACY LAYER-MODE-MULTIPLY-LEGACY
        LAYER-MODE-SCREEN-LEGACY LAYER-MODE-OVERLAY-LEGACY LAYER-MODE-DIFFERENCE-LEGACY
        LAYER-MODE-ADDITION-LEGACY LAYER-MODE-SUBTRACT-LEGACY LAYER-MODE-DARKEN-ONLY-LEGACY
        LAYER-MODE-LIGHTEN-ONLY-LEGACY LAYER-MODE-HSV-HUE-LEGACY
        LAYER-MODE-HSV-SATURATION-LEGACY LAYER-MODE-HSL-COLOR-LEGACY
        LAYER-MODE-HSV-VALUE-LEGACY LAYER-MODE-DIVIDE-LEGACY LAYER-MODE-DODGE-LEGACY
        LAYER-MODE-BURN-LEGACY LAYER-MODE-HARDLIGHT-LEGACY LAYER-MODE-SOFTLIGHT-LEGACY
        LAYER-MODE-GRAIN-EXTRACT-LEGACY LAYER-MODE-GRAIN-MERGE-LEGACY))

(modes-picture "modes" PRECISION-U8-GAMMA
  (list LAYER-MODE-OVERLAY LAYER-MODE-NORMAL LAYER-MODE-BEHIND LAYER-MODE-MULTIPLY
        LAYER-MODE-SCREEN LAYER-MODE-DIFFERENCE LAYER-MODE-ADDITION LAYER-MODE-SUBTRACT
        LAYER-MODE-DARKEN-ONLY LAYER-MODE-LIGHTEN-ONLY LAYER-MODE-HSV-HUE
        LAYER-MODE-HSV-SATURATION LAYER-MODE-HSL-COLOR LAYER-MODE-HSV-VALUE
        LAYER-MODE-DIVIDE LAYER-MODE-DODGE LAYER-MODE-BURN LAYER-MODE-HARDLIGHT
        LAYER-MODE-SOFTLIGHT LAYER-MODE-GRAIN-EXTRACT LAYER-MODE-GRAIN-MERGE
        LAYER-MODE-VIVID-LIGHT LAYER-MODE-PIN-LIGHT LAYER-MODE-LINEAR-LIGHT
        LAYER-MODE-HARD-MIX LAYER-MODE-EXCLUSION LAYER-MODE-LINEAR-BURN LAYER-MODE-ERASE))

; A backdrop, a layer at an offset with a mask and partial opacity, and one hanging over
; the canvas's edges, at each precision.
(define (precision-picture name precision)
  (let* ((image (car (gimp-image-new-with-precision 20 14 RGB precision)))
         (backdrop (add-layer image 0 "backdrop" RGB-IMAGE 0 0 20 14 100 LAYER-MODE-NORMAL))
         (masked (add-layer image 0 "masked" RGBA-IMAGE 3 2 14 10 70 LAYER-MODE-NORMAL))
         (edge (add-layer image 0 "edge" RGBA-IMAGE -4 8 12 9 100 LAYER-MODE-MULTIPLY)))
    (fill backdrop "FG to BG (RGB)" '(20 60 220) '(250 240 10) 0 0 20 14)
    (fill masked "FG to Transparent" '(230 20 40) '(0 0 0) 0 0 14 0)
    (add-mask masked 0 0 0 10)
    (fill edge "FG to BG (RGB)" '(120 250 200) '(250 120 60) 0 0 12 9)
    (save image name)))

(precision-picture "u8-linear" PRECISION-U8-LINEAR)
(precision-picture "u16-perceptual" PRECISION-U16-GAMMA)
(precision-picture "u16-linear" PRECISION-U16-LINEAR)
(precision-picture "u32-perceptual" PRECISION-U32-GAMMA)
(precision-picture "u32-linear" PRECISION-U32-LINEAR)
(precision-picture "half-perceptual" PRECISION-HALF-GAMMA)
(precision-picture "half-linear" PRECISION-HALF-LINEAR)
(precision-picture "float-perceptual" PRECISION-FLOAT-GAMMA)
(precision-picture "float-linear" PRECISION-FLOAT-LINEAR)
(precision-picture "double-linear" PRECISION-DOUBLE-LINEAR)

; Layer groups: a group with its own mode, opacity and mask holding a nested group, and a
; pass-through group at partial opacity; an invisible layer draws nothing.
(let* ((image (car (gimp-image-new 24 20 RGB)))
       (backdrop (add-layer image 0 "backdrop" RGB-IMAGE 0 0 24 20 100 LAYER-MODE-NORMAL))
       (outer (car (gimp-layer-group-new image)))
       (hidden (add-layer image 0 "hidden" RGBA-IMAGE 0 0 24 20 100 LAYER-MODE-NORMAL)))
  (fill backdrop "FG to BG (RGB)" '(200 200 40) '(20 80 160) 0 0 24 20)
  (fill hidden "FG to BG (RGB)" '(0 0 0) '(0 0 0) 0 0 1 1)
  (gimp-item-set-visible hidden FALSE)
  (gimp-image-insert-layer image outer 0 1)
  (gimp-layer-set-mode outer LAYER-MODE-SCREEN)
  (gimp-layer-set-opacity outer 80)
  (let* ((inner (car (gimp-layer-group-new image))))
    (gimp-image-insert-layer image inner outer 0)
    (fill (add-layer image inner "a" RGBA-IMAGE 2 2 12 12 100 LAYER-MODE-NORMAL)
          "FG to Transparent" '(250 30 30) '(0 0 0) 0 0 12 12)
    (fill (add-layer image inner "b" RGBA-IMAGE 6 4 12 12 100 LAYER-MODE-MULTIPLY)
          "FG to BG (RGB)" '(40 250 90) '(250 250 250) 0 0 0 12)
    (fill (add-layer image outer "c" RGBA-IMAGE 10 8 12 10 60 LAYER-MODE-NORMAL)
          "FG to BG (RGB)" '(30 30 240) '(240 240 30) 0 0 12 0))
  (add-mask outer 0 0 20 0)
  (let* ((through (car (gimp-layer-group-new image))))
    (gimp-image-insert-layer image through 0 0)
    (gimp-layer-set-mode through LAYER-MODE-PASS-THROUGH)
    (gimp-layer-set-opacity through 70)
    (fill (add-layer image through "d" RGBA-IMAGE 0 12 16 8 100 LAYER-MODE-DIFFERENCE)
          "FG to BG (RGB)" '(255 255 255) '(60 0 120) 0 0 16 0))
  (save image "groups"))

; Grey and indexed pictures, with alpha; the indexed one from a colour picture reduced to a
; palette of 12 colours.
(let* ((image (car (gimp-image-new 16 12 GRAY)))
       (backdrop (add-layer image 0 "backdrop" GRAYA-IMAGE 0 0 16 12 100 LAYER-MODE-NORMAL-LEGACY))
       (top (add-layer image 0 "top" GRAYA-IMAGE 4 3 10 8 60 LAYER-MODE-MULTIPLY-LEGACY)))
  (fill backdrop "FG to Transparent" '(230 230 230) '(0 0 0) 0 0 16 0)
  (fill top "FG to BG (RGB)" '(30 30 30) '(250 250 250) 0 0 0 8)
  (save image "grey"))
(let* ((image (car (gimp-image-new 16 12 RGB)))
       (backdrop (add-layer image 0 "backdrop" RGBA-IMAGE 0 0 16 12 100 LAYER-MODE-NORMAL-LEGACY))
       (top (add-layer image 0 "top" RGBA-IMAGE 5 2 8 8 100 LAYER-MODE-NORMAL-LEGACY)))
  (fill backdrop "FG to BG (RGB)" '(250 40 40) '(40 40 250) 0 0 16 0)
  (fill top "FG to BG (RGB)" '(40 250 40) '(250 250 40) 0 0 0 8)
  (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 0 0 4 12)
  (gimp-drawable-edit-clear backdrop)
  (gimp-selection-none image)
  (gimp-image-convert-indexed image CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 12 FALSE FALSE "")
  (save image "indexed"))

; Tiles compressed with zlib, on a picture larger than one tile.
(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE "$work/zlib-seed.xcf" "$work/zlib-seed.xcf")))
       (layer (car (gimp-image-get-active-layer image))))
  (gimp-image-resize image 70 66 0 0)
  (gimp-layer-resize-to-image-size layer)
  (fill layer "FG to BG (RGB)" '(10 10 10) '(240 220 200) 0 0 70 66)
  (fill (add-layer image 0 "top" RGBA-IMAGE 30 20 40 46 50 LAYER-MODE-NORMAL)
        "FG to Transparent" '(20 200 250) '(0 0 0) 0 0 40 46)
  (save image "zlib"))

(gimp-quit 0)
SCHEME
ls -la ./*.xcf ./*.png
