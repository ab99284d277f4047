#include "pictures/formats/svg_library.h"

namespace pictures {

namespace {

struct LoadedSvg {
  SvgLibrary functions;
  std::string error;  // empty when the libraries are ready
};

LoadedSvg Load() {
  LoadedSvg loaded;
  SvgLibrary& f = loaded.functions;
  // librsvg first: loading it brings the others, which are then only looked up.
#define PICTURES_SVG_LIBRARY(soname, what, FUNCTIONS)                         \
  {                                                                           \
    const char* library = what;                                               \
    void* handle = OpenSharedLibrary({soname}, library, loaded.error);        \
    if (!handle) return loaded;                                               \
    FUNCTIONS(PICTURES_SVG_RESOLVE)                                           \
  }
#define PICTURES_SVG_RESOLVE(name) \
  if (!ResolveFunction(handle, #name, library, f.name, loaded.error)) return loaded;
  PICTURES_SVG_LIBRARY("librsvg-2.so.2", "librsvg", PICTURES_RSVG_FUNCTIONS)
  PICTURES_SVG_LIBRARY("libgio-2.0.so.0", "GIO", PICTURES_GIO_FUNCTIONS)
  PICTURES_SVG_LIBRARY("libgobject-2.0.so.0", "GObject", PICTURES_GOBJECT_FUNCTIONS)
  PICTURES_SVG_LIBRARY("libglib-2.0.so.0", "GLib", PICTURES_GLIB_FUNCTIONS)
  PICTURES_SVG_LIBRARY("libcairo.so.2", "cairo", PICTURES_CAIRO_FUNCTIONS)
#undef PICTURES_SVG_RESOLVE
#undef PICTURES_SVG_LIBRARY
  return loaded;
}

}  // namespace

const SvgLibrary* LoadSvgLibrary(std::string& why) {
  static const LoadedSvg loaded = Load();
  why = loaded.error;
  return loaded.error.empty() ? &loaded.functions : nullptr;
}

}  // namespace pictures
