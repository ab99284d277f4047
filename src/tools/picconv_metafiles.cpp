// Metafile support of picconv, built where the Qt drawing layer is. Metafiles are drawn
// with QPainter, whose text drawing needs a GUI application object; it is made only when
// the input is a metafile, on the offscreen platform unless the caller chose another, so
// picconv needs no display.
#include <QGuiApplication>
#include <QtGlobal>

#include <cstdlib>
#include <memory>
#include <string>

#include "pictures/registry.h"
#include "platform/metafile.h"

namespace {

QtMessageHandler qtHandler = nullptr;

// Qt tells, on the first font lookup, that XDG_RUNTIME_DIR is not set (a service or a
// container run as root) and which folder it takes instead. That changes nothing for a
// metafile drawn offscreen, and picconv's own messages should not drown in it.
void DropRuntimeFolderNotice(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: "))) return;
  if (qtHandler) qtHandler(type, context, message);
}

}  // namespace

void RegisterProgramFormats(int& argc, char** argv, const std::string& input) {
  platform::RegisterMetafileFormats();
  const pictures::ReaderClass* reader = pictures::FindReaderClass(pictures::FileExtension(input));
  if (reader != &platform::TMetafile::StaticClass()) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  qtHandler = qInstallMessageHandler(DropRuntimeFolderNotice);
  static std::unique_ptr<QGuiApplication> application =
      std::make_unique<QGuiApplication>(argc, argv);
}
