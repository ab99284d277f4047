// librsvg, loaded when the first SVG drawing is read rather than when the program starts:
// it brings GLib, GIO and cairo with it, which no other picture needs. The functions of
// those libraries that the SVG reader calls are looked up in them too.
#pragma once

// The reader calls the sizing function that rsvg-convert itself falls back on.
#define RSVG_DISABLE_DEPRECATION_WARNINGS
#include <librsvg/rsvg.h>

#include <string>

#include "pictures/shared_library.h"

namespace pictures {

#define PICTURES_RSVG_FUNCTIONS(X)             \
  X(rsvg_handle_new_from_stream_sync)          \
  X(rsvg_handle_set_dpi)                       \
  X(rsvg_handle_get_intrinsic_size_in_pixels)  \
  X(rsvg_handle_get_dimensions)                \
  X(rsvg_handle_render_document)

#define PICTURES_GIO_FUNCTIONS(X)       \
  X(g_memory_input_stream_new_from_data) \
  X(g_file_new_for_path)

#define PICTURES_GOBJECT_FUNCTIONS(X) X(g_object_unref)

#define PICTURES_GLIB_FUNCTIONS(X) X(g_error_free)

#define PICTURES_CAIRO_FUNCTIONS(X)        \
  X(cairo_image_surface_create_for_data)   \
  X(cairo_surface_status)                  \
  X(cairo_surface_flush)                   \
  X(cairo_surface_destroy)                 \
  X(cairo_create)                          \
  X(cairo_status)                          \
  X(cairo_destroy)

struct SvgLibrary {
  PICTURES_RSVG_FUNCTIONS(PICTURES_LIBRARY_POINTER)
  PICTURES_GIO_FUNCTIONS(PICTURES_LIBRARY_POINTER)
  PICTURES_GOBJECT_FUNCTIONS(PICTURES_LIBRARY_POINTER)
  PICTURES_GLIB_FUNCTIONS(PICTURES_LIBRARY_POINTER)
  PICTURES_CAIRO_FUNCTIONS(PICTURES_LIBRARY_POINTER)
};

// Loads librsvg and the libraries it uses once for the process (safe from several
// threads). Null when one cannot be loaded; `why` then says which and why.
const SvgLibrary* LoadSvgLibrary(std::string& why);

}  // namespace pictures
