// picconv does not load Qt, so that converting a picture starts in a millisecond or two.
// Metafiles need Qt's drawing layer: their registry rows are listed here under the drawing
// layer's class name, and a metafile input is handed, with the same arguments, to the
// picconv-metafiles program (beside this one, or in the installation's helper folder),
// which is picconv with the drawing layer.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "pictures/bitmap.h"
#include "base/error.h"
#include "pictures/registry.h"
#include "program/helper_programs.h"

namespace {

const pictures::ReaderClass& MetafileClass() {
  static const pictures::ReaderClass descriptor{
      "TMetafile", &pictures::Bitmap::StaticClass(),
      []() -> std::unique_ptr<pictures::Bitmap> { return std::make_unique<pictures::Bitmap>(); }};
  return descriptor;
}

}  // namespace

void RegisterProgramFormats(int&, char** argv, const std::string& input) {
  auto& entries = pictures::MetafileEntries();
  entries.push_back({"wmf", "Metafiles", &MetafileClass()});
  entries.push_back({"emf", "Enhanced Metafiles", &MetafileClass()});
  if (input.empty() || pictures::FindReaderClass(pictures::FileExtension(input)) != &MetafileClass())
    return;
  const std::string helper = program::HelperProgram("picconv-metafiles");
  argv[0] = const_cast<char*>(helper.c_str());
  ::execv(helper.c_str(), argv);
  throw pictures::PictureError("Cannot start " + helper + ". " + std::strerror(errno));
}
