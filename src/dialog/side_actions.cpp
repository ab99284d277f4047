// Side actions: Copy to Disk and Show Help. Neither ends the dialog nor touches the
// clipboard or the host settings file.
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "dialog/error_display.h"
#include "dialog/form.h"
#include "dialog/texts.h"
#include "platform/paths.h"
#include "platform/program_start.h"
#include "platform/prompts.h"

void TForm1::dcopyitClick() {
  const QString path = labelfilename;
  // A file that has gone since it was selected is passed over without a word.
  if (!platform::FileExists(path)) return;
  if (platform::CurrentPrompts().Message(platform::MessageKind::Confirm, QStringLiteral("Copy this file to Disk?"),
                                         platform::MessageButtons::YesNo) == platform::MessageAnswer::No) {
    return;
  }

  QFile source(platform::HostPath(path));
  if (!source.open(QIODevice::ReadOnly)) throw dialog::DialogError(QStringLiteral("Cannot open file ") + path);
  const QByteArray bytes = source.readAll();
  if (source.error() != QFileDevice::NoError) throw dialog::DialogError(QStringLiteral("Stream read error"));
  source.close();

  // The copy is written under a temporary name beside the destination and takes the
  // destination's name only when every byte is on the disk, so a copy that fails part-way
  // (a full disk) leaves no partial file behind, and an older file of that name stays
  // as it was.
  const QString destination = QStringLiteral("a:\\") + dialog::filenamepart(path);
  const QString host = platform::HostPath(destination);
  const QFileInfo existing(host);
  if (host.isEmpty() || existing.isDir() || (existing.exists() && !existing.isWritable())) {
    throw dialog::DialogError(QStringLiteral("Cannot create file ") + destination);
  }
  QSaveFile copy(host);
  copy.setDirectWriteFallback(false);
  if (!copy.open(QIODevice::WriteOnly)) throw dialog::DialogError(QStringLiteral("Cannot create file ") + destination);
  if (copy.write(bytes) != bytes.size() || !copy.commit()) {
    copy.cancelWriting();
    throw dialog::DialogError(QStringLiteral("Stream write error"));
  }
}

void TForm1::dhelpClick() {
  // Where the reader program is beside the program (a Windows installation), it is started
  // as there; whether it runs is not reported.
  const QString folder = programfolder();
  if (platform::WinExec(folder + QStringLiteral("PDFread.exe tolhlp.pdf 45"), platform::SwShowNormal) > 31) return;
  // Otherwise the help document goes to the desktop's PDF viewer, open at the dialog's
  // page.
  const QString document = folder + QStringLiteral("tolhlp.pdf");
  if (!platform::FileExists(document)) {
    platform::CurrentPrompts().Message(platform::MessageKind::Error,
                                       QStringLiteral("The help document ") + document + QStringLiteral(" is missing."));
    return;
  }
  if (!platform::OpenPdfDocument(platform::HostPath(document), 45)) {
    platform::CurrentPrompts().Message(platform::MessageKind::Error,
                                       QStringLiteral("No program to show ") + document +
                                           QStringLiteral(" was found (a PDF viewer, or xdg-open)."));
  }
}
