// Import hand-off: the selected file, converted to a Windows bitmap file where the host
// cannot read it, or one of the two keywords, goes to the clipboard and the program ends.
//
// The host learns the result from two channels only: the clipboard text and, for a file,
// the file's folder in the host settings file. A failure at any step leaves both as they
// were (the settings file is always written before the clipboard) and the dialog open.
#include <QImage>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <vector>

#include "dialog/error_display.h"
#include "dialog/form.h"
#include "dialog/texts.h"
#include "pictures/bitmap.h"
#include "pictures/formats/jpeg.h"
#include "platform/clipboard.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/prompts.h"

namespace {

// Extensions of the files that the host reads itself: drawings, traced curves, DXF files
// and the two picture types it decodes on its own.
const std::array<QString, 6> kDirectExtensions = {
    QStringLiteral(".AI"),  QStringLiteral(".EPS"), QStringLiteral(".CRV"),
    QStringLiteral(".BMP"), QStringLiteral(".JPG"), QStringLiteral(".DXF")};

// The path as the host is given it: the short form where the file system has one (and it
// fits in 255 characters), otherwise the path itself; then upper-cased, a to z only.
QString handoffpath(const QString& path) {
  QString shortpath;
  if (!platform::GetShortPathName(path, shortpath) || shortpath.isEmpty() || shortpath.size() > 255) {
    shortpath = path;
  }
  return dialog::asciiupper(shortpath);
}

bool handedoverdirectly(const QString& path) {
  const QString extension = dialog::extensionof(path);
  return std::any_of(kDirectExtensions.begin(), kDirectExtensions.end(), [&](const QString& direct) {
    return extension.compare(direct, Qt::CaseInsensitive) == 0;
  });
}

// Everything up to and including the last "\" or ":".
QString folderpart(const QString& path) {
  return path.left(path.size() - dialog::filenamepart(path).size());
}

// The same folder and base name with the extension ".bmp".
QString bitmapname(const QString& path) {
  return path.left(path.size() - dialog::extensionof(path).size()) + QStringLiteral(".bmp");
}

// The top-left part of a picture that fits into a width x height area, as an image of the
// 24-bit rows that the conversion writes.
QImage visiblepart(const pictures::Bitmap& picture, int width, int height) {
  const int w = std::min(picture.Width(), width);
  const int h = std::min(picture.Height(), height);
  QImage image(w, h, QImage::Format_BGR888);
  std::vector<uint8_t> row(size_t(picture.Width()) * 3);
  for (int y = 0; y < h; ++y) {
    pictures::RowToBGR(picture, y, row.data());
    std::memcpy(image.scanLine(y), row.data(), size_t(w) * 3);
  }
  return image;
}

// A text with a control character would reach the host as several lines (and the settings
// file with blanks in their place), so it is refused before either channel is written.
void refusecontrolcharacters(const QString& text) {
  if (!platform::HasControlCharacter(text)) return;
  QString shown = text;
  for (QChar& c : shown) {
    if (platform::HasControlCharacter(QString(c))) c = QLatin1Char('?');
  }
  throw dialog::DialogError(QStringLiteral("Unable to hand over ") + shown +
                            QStringLiteral(": the name holds a control character"));
}

// Where no process can keep the text after the dialog has ended, the user is told so
// before the dialog ends: the host will find the clipboard empty.
void putonclipboard(const QString& text) {
  refusecontrolcharacters(text);
  const platform::HandOffResult result = platform::HandOffClipboardText(text);
  if (result.outcome == platform::HandOffOutcome::NotOpened || result.outcome == platform::HandOffOutcome::Refused) {
    throw dialog::DialogError(QStringLiteral("Cannot open clipboard"));
  }
  if (result.outcome == platform::HandOffOutcome::Lost) {
    platform::CurrentPrompts().Message(platform::MessageKind::Error,
                                       QStringLiteral("The clipboard cannot keep ") + text +
                                           QStringLiteral(" after this dialog has ended, so the host will not find it (") +
                                           result.reason + QStringLiteral(")."));
  }
}

}  // namespace

void TForm1::dopenClick() {
  QString P = labelfilename;
  // The button is enabled only while a file is selected; without one there is nothing
  // to hand over.
  if (P.isEmpty()) return;
  QString S = handoffpath(P);

  if (!handedoverdirectly(S)) {
    // The host cannot read this picture: it gets a Windows bitmap file of it instead.
    SaveDialog1.fileName = bitmapname(P);
    const std::optional<QString> chosen = platform::CurrentPrompts().SaveFile(SaveDialog1);
    if (!chosen) return;
    const QString F = *chosen;
    SaveDialog1.fileName = F;

    // The reader is chosen by the extension of the long name.
    try {
      Image1.LoadFile(platform::HostPathBytes(P));
    } catch (const std::exception&) {
      platform::CurrentPrompts().Message(platform::MessageKind::Error,
                                         QStringLiteral("Unable to load picture!\r\r") + P);
      return;
    }
    pictures::Bitmap* loaded = Image1.Graphic();
    if (loaded->Class().InheritsFrom(pictures::TJPEGImage::StaticClass())) {
      Image1.AssignBitmap(*loaded);
      loaded = Image1.Graphic();
    }

    // The picture as drawn on a new 24-bit Bitmap is what the bitmap file gets; it goes
    // from the loaded picture to the file row by row, without a second picture in memory.
    // Shown until the preview area is next painted.
    PaintBox3->drawonce(visiblepart(*loaded, PaintBox3->width(), PaintBox3->height()));

    platform::CurrentPrompts().Message(platform::MessageKind::Information,
                                       QStringLiteral("Converting ") + P + QStringLiteral("\rto ") + F);
    try {
      const std::string host = platform::HostPathBytes(F);
      if (host.empty()) throw dialog::DialogError(QStringLiteral("No such drive"));
      pictures::SaveAs24BitBitmap(*loaded, host);
    } catch (const std::exception&) {
      platform::CurrentPrompts().Message(platform::MessageKind::Error, QStringLiteral("Unable to save ") + F);
      return;
    }
    P = F;
    S = handoffpath(F);
  }

  // The folder goes to the host settings file first; only when that worked does the
  // clipboard get the path.
  refusecontrolcharacters(S);
  const QString settings = systemfolder() + QStringLiteral("\\tolva.ini");
  if (!platform::WritePrivateProfileString(QStringLiteral("Paths"), QStringLiteral("Import"), folderpart(S), settings)) {
    throw dialog::DialogError(QStringLiteral("Unable to write to ") + settings);
  }
  putonclipboard(S);
  applicationterminate();
}

void TForm1::dailoadClick() {
  putonclipboard(QStringLiteral("AIEPS"));
  applicationterminate();
}

void TForm1::SpeedButton6Click() {
  putonclipboard(QStringLiteral("DXF"));
  applicationterminate();
}
