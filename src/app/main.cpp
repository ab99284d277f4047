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
#include "program/version.h"

namespace {

constexpr const char* kUsage =
    "Usage: importdlg [DEBUG [TYPE [S]]]\n"
    "       importdlg --native-path WINDOWS-PATH\n"
    "       importdlg --help|--version\n"
    "\n"
    "Shows the \"Select File to Import\" dialog for a host drawing program. The chosen\n"
    "file goes to the clipboard as one line of text, and its folder under [Paths] Import=\n"
    "into the host's settings file tolva.ini.\n"
    "\n"
    "Arguments, all optional, by position (an empty one stands for none):\n"
    "  DEBUG         first: show the start-up checkpoint messages\n"
    "  TYPE          second: a digit 0-3 preselects that entry of the file types\n"
    "  S             third: save mode (the caption asks for a name to save to)\n"
    "  --native-path print the host path that a Windows path, such as a hand-off text,\n"
    "                leads to (exit status 1 when it is on no mapped drive)\n"
    "\n"
    "Environment: IMPORTDLG_DRIVES, IMPORTDLG_SYSTEM_DIR, IMPORTDLG_WINEPREFIX,\n"
    "WINEPREFIX. See importdlg(1).\n";

}  // namespace

int main(int argc, char** argv) {
  // Only these exact single arguments are options: any other first argument is the
  // host's, and the dialog reads it as it always has.
  if (argc == 2 && std::string_view(argv[1]) == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::printf("importdlg %s\n", program::VersionText());
    return 0;
  }
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
