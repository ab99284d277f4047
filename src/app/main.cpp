// The import dialog program: fills the format registry, shows the dialog and runs the
// event loop until the dialog ends.
#include <QApplication>

#include <cstdio>
#include <string>
#include <string_view>

#include "dialog/form.h"
#include "pictures/registry.h"
#include "platform/metafile.h"
#include "platform/paths.h"
#include "platform/prompts.h"

int main(int argc, char** argv) {
  // "importdlg --native-path WINPATH" prints the host path that a Windows path (such as
  // a hand-off text) leads to, so that a host on this machine can open the file.
  if (argc == 3 && std::string_view(argv[1]) == "--native-path") {
    const QString windowsPath = QString::fromLocal8Bit(argv[2]);
    const QString device = platform::DosDeviceName(windowsPath);
    if (!device.isEmpty()) {
      std::fprintf(stderr, "importdlg: %s names the device %s, not a file\n", argv[2],
                   device.toLocal8Bit().constData());
      return 1;
    }
    const std::string host = platform::HostPathBytes(windowsPath);
    if (host.empty()) {
      std::fprintf(stderr, "importdlg: %s is not on a mapped drive\n", argv[2]);
      return 1;
    }
    std::printf("%s\n", host.c_str());
    return 0;
  }
  // Qt's own file dialog everywhere: a desktop's dialog may ask before replacing a file,
  // which the bitmap save dialog must not, and it behaves the same with the keyboard on
  // every desktop.
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
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
  pictures::UnregisterReaders();
  return status;
}
