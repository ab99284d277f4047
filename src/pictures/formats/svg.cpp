#include "pictures/formats/svg.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/formats/svg_library.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TSVGGraphic, Bitmap)

namespace {

// Lengths in inches, centimetres and the like become pixels at this many to the inch, the
// resolution of CSS and of the browsers a drawing is made for.
constexpr double kPixelsPerInch = 96;
// cairo draws on surfaces of at most this many pixels a side.
constexpr double kLongestSide = 32767;

[[noreturn]] void Fail(const std::string& what) { throw PictureError("SVG: " + what); }

struct GObjectDeleter {
  const SvgLibrary* lib;
  void operator()(void* object) const { lib->g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

struct CairoDeleter {
  const SvgLibrary* lib;
  void operator()(cairo_surface_t* surface) const { lib->cairo_surface_destroy(surface); }
  void operator()(cairo_t* context) const { lib->cairo_destroy(context); }
};

// The message of a GLib error, which is then freed; `fallback` when there is none.
std::string TakeMessage(const SvgLibrary& lib, GError* error, const char* fallback) {
  if (!error) return fallback;
  std::string message = error->message ? error->message : "";
  lib.g_error_free(error);
  while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back())))
    message.pop_back();
  return message.empty() ? fallback : message;
}

// The document's size in pixels: its width and height where both are absolute, the other
// side from the view box's proportions where only one is, else what librsvg makes of the
// document without a viewport (the view box's size, or failing that the extent of what it
// draws), as rsvg-convert does. The picture has the size rounded up to whole pixels; the
// drawing fills the exact size.
RsvgRectangle DocumentSize(const SvgLibrary& lib, RsvgHandle* handle) {
  double width = 0, height = 0;
  if (lib.rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height))
    return {0, 0, width, height};
  RsvgDimensionData dimensions{};
  lib.rsvg_handle_get_dimensions(handle, &dimensions);
  return {0, 0, double(dimensions.width), double(dimensions.height)};
}

// Paints the drawing over white straight onto the Bitmap's rows, which are in cairo's own
// layout: 32-bit native-endian pixels, alpha in the top byte.
void DrawOver(const SvgLibrary& lib, RsvgHandle* handle, const RsvgRectangle& viewport,
              Bitmap& bitmap) {
  std::memset(bitmap.ScanLine(0), 0xFF, bitmap.RowStride() * size_t(bitmap.Height()));
  const CairoDeleter destroy{&lib};
  const std::unique_ptr<cairo_surface_t, CairoDeleter> surface(
      lib.cairo_image_surface_create_for_data(bitmap.ScanLine(0), CAIRO_FORMAT_ARGB32,
                                              bitmap.Width(), bitmap.Height(),
                                              int(bitmap.RowStride())),
      destroy);
  const std::unique_ptr<cairo_t, CairoDeleter> cairo(lib.cairo_create(surface.get()), destroy);
  if (lib.cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS ||
      lib.cairo_status(cairo.get()) != CAIRO_STATUS_SUCCESS)
    Fail("out of memory");
  GError* error = nullptr;
  if (!lib.rsvg_handle_render_document(handle, cairo.get(), &viewport, &error))
    Fail(TakeMessage(lib, error, "the drawing cannot be drawn"));
  lib.cairo_surface_flush(surface.get());
}

}  // namespace

void TSVGGraphic::LoadFile(const std::string& path) {
  path_ = path;
  Bitmap::LoadFile(path);
}

void TSVGGraphic::LoadFromStream(Stream& stream) {
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> file = stream.ReadRestView(storage);
  Clear();
  if (file.empty()) Fail("the file is empty");
  std::string unavailable;
  const SvgLibrary* lib = LoadSvgLibrary(unavailable);
  if (!lib) Fail(unavailable);

  const GObjectDeleter unref{lib};
  const GObjectPtr<GInputStream> input(
      lib->g_memory_input_stream_new_from_data(file.data(), gssize(file.size()), nullptr), unref);
  // librsvg reads other files only in the folder of this base file or below it, and none
  // without one; it fetches nothing from the network.
  const GObjectPtr<GFile> base(path_.empty() ? nullptr : lib->g_file_new_for_path(path_.c_str()),
                               unref);
  GError* error = nullptr;
  // No flags: librsvg keeps the XML parser's limits on what a document may ask of it.
  const GObjectPtr<RsvgHandle> handle(
      lib->rsvg_handle_new_from_stream_sync(input.get(), base.get(), RSVG_HANDLE_FLAGS_NONE,
                                            nullptr, &error),
      unref);
  if (!handle) Fail(TakeMessage(*lib, error, "the drawing cannot be read"));
  lib->rsvg_handle_set_dpi(handle.get(), kPixelsPerInch);

  const RsvgRectangle viewport = DocumentSize(*lib, handle.get());
  const double width = std::ceil(viewport.width), height = std::ceil(viewport.height);
  if (!(width >= 1 && height >= 1)) Fail("the drawing has no size");
  if (width > kLongestSide || height > kLongestSide)
    Fail("the drawing's size of " + std::to_string(uint64_t(width)) + " x " +
         std::to_string(uint64_t(height)) + " pixels is larger than can be drawn");
  CheckedBufferSize({uint64_t(width), uint64_t(height), 4});

  SetPixelFormat(PixelFormat::Bits32);
  try {
    RowFill fill(*this, int(width), int(height));
    DrawOver(*lib, handle.get(), viewport, *this);
    fill.Done();
  } catch (const PictureError&) {
    Clear();
    throw;
  }
}

}  // namespace pictures
