#include "pictures/formats/heif_library.h"

#include <string>

namespace pictures {

namespace {

// The name of libheif's shared library for its stable interface, as packaged.
constexpr const char* kHeifLibraryName = "libheif.so.1";

struct LoadedHeif {
  HeifLibrary functions;
  std::string error;  // empty when the library is ready
};

LoadedHeif Load() {
  LoadedHeif loaded;
  void* handle = OpenSharedLibrary({kHeifLibraryName}, "HEIF", loaded.error);
  if (!handle) return loaded;
  HeifLibrary& f = loaded.functions;
#define PICTURES_HEIF_RESOLVE(name) \
  if (!ResolveFunction(handle, #name, "HEIF", f.name, loaded.error)) return loaded;
  PICTURES_HEIF_FUNCTIONS(PICTURES_HEIF_RESOLVE)
#undef PICTURES_HEIF_RESOLVE
  const heif_error initialised = f.heif_init(nullptr);
  if (initialised.code != heif_error_Ok)
    loaded.error = std::string("the HEIF library cannot start (") +
                   (initialised.message ? initialised.message : "no reason given") + ")";
  return loaded;
}

}  // namespace

const HeifLibrary* LoadHeifLibrary(std::string& why) {
  static const LoadedHeif loaded = Load();
  why = loaded.error;
  return loaded.error.empty() ? &loaded.functions : nullptr;
}

}  // namespace pictures
