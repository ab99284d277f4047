// The pictures that the form carries: button glyphs, the file-type icons of the type list,
// the two side-strip pictures, the preview illustration and the window icon. They are
// drawn in code once and then shared.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace dialog::art {

// The 16 x 8 side-strip pictures: grey ramps, dark at the outer edge.
const QImage& im_left();
const QImage& im_right();

// The 16 x 16 icons of the type list (`im_ai` is 15 x 16), opaque on the button face.
enum class TypeIcon { all1, ai, obj, bmp, jpg, tif, gif, all };
const QPixmap& typeicon(TypeIcon which);

// Button glyphs, 16 x 16 with a transparent ground.
enum class Glyph { up, copy, largeicons, list, report, eps, dxf, help };
const QPixmap& glyph(Glyph which);

// The preview illustration: a desktop computer with an arrow pointing into its screen,
// 160 x 140 on a transparent ground.
const QPixmap& previewpicture();

// The window icon.
QIcon windowicon();

}  // namespace dialog::art
