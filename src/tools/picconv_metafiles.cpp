// Metafile support of picconv, built where the Qt drawing layer is. Metafiles are drawn
// with QPainter, whose text drawing needs a GUI application object; it is made only when
// the input is a metafile, on the offscreen platform unless the caller chose another, so
// picconv needs no display.
#include <QGuiApplication>

#include <cstdlib>
#include <memory>
#include <string>

#include "pictures/registry.h"
#include "platform/metafile.h"

void RegisterProgramFormats(int& argc, char** argv, const std::string& input) {
  platform::RegisterMetafileFormats();
  const pictures::ReaderClass* reader = pictures::FindReaderClass(pictures::FileExtension(input));
  if (reader != &platform::TMetafile::StaticClass()) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static std::unique_ptr<QGuiApplication> application =
      std::make_unique<QGuiApplication>(argc, argv);
}
