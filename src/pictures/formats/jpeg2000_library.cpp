#include "pictures/formats/jpeg2000_library.h"

namespace pictures {

namespace {

struct LoadedOpenJpeg {
  OpenJpegLibrary functions;
  std::string error;  // empty when the library is ready
};

LoadedOpenJpeg Load() {
  LoadedOpenJpeg loaded;
  void* handle = OpenSharedLibrary({"libopenjp2.so.7"}, "OpenJPEG", loaded.error);
  if (!handle) return loaded;
  // Its messages go to the handlers each decode installs; a few places print directly.
  SilenceTerminalOutput(handle);
  OpenJpegLibrary& f = loaded.functions;
#define PICTURES_OPENJPEG_RESOLVE(name) \
  if (!ResolveFunction(handle, #name, "OpenJPEG", f.name, loaded.error)) return loaded;
  PICTURES_OPENJPEG_FUNCTIONS(PICTURES_OPENJPEG_RESOLVE)
#undef PICTURES_OPENJPEG_RESOLVE
  return loaded;
}

}  // namespace

const OpenJpegLibrary* LoadOpenJpegLibrary(std::string& why) {
  static const LoadedOpenJpeg loaded = Load();
  why = loaded.error;
  return loaded.error.empty() ? &loaded.functions : nullptr;
}

}  // namespace pictures
