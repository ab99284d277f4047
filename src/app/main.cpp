// The import dialog program: fills the format registry, shows the dialog and runs the
// event loop until the dialog ends.
#include <QApplication>

#include "dialog/form.h"
#include "pictures/registry.h"
#include "platform/clipboard.h"
#include "platform/metafile.h"
#include "platform/prompts.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString title = QStringLiteral("Select File");
  QApplication::setApplicationName(title);
  platform::SetApplicationTitle(title);

  platform::RegisterMetafileFormats();
  pictures::RegisterReaders();
  int status;
  {
    TForm1 form(QApplication::arguments().mid(1));
    form.show();
    status = QApplication::exec();
  }
  platform::KeepClipboardAfterExit();
  pictures::UnregisterReaders();
  return status;
}
