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
#include "platform/drives.h"
#include "platform/folder_listing.h"
#include "platform/host_names.h"
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
// Upper-casing is safe on a file system that ignores case; where a folder on the path
// holds two names that differ only in case, the upper-cased path could lead the host to
// the other one, so the path goes in the file system's own spelling instead.
QString handoffpath(const QString& path) {
  if (platform::HasCaseTwin(path)) return platform::ExactCasePath(path);
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

bool hasdriveletter(const QString& path) {
  return path.size() >= 2 && path[1] == QLatin1Char(':') && path[0].unicode() < 128 && path[0].isLetter();
}

// The names of a Windows path's folders and file, without its drive.
QStringList namesonpath(const QString& path) {
  return path.mid(hasdriveletter(path) ? 2 : 0).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

// True when a name on the path is one that a Windows path cannot hold (one with a
// character of its syntax, : * ? " < > |, or a control character).
bool holdsnamewindowscannot(const QString& path) {
  const QStringList names = namesonpath(path);
  return std::any_of(names.begin(), names.end(),
                     [](const QString& name) { return platform::NameHostsCannotHold(name.toUtf8().toStdString()); });
}

// The first name on the path that Windows would resolve to another file or a device (see
// NameWindowsReadsAsAnother), or an empty text.
QString namewindowsreadsasanother(const QString& path) {
  for (const QString& name : namesonpath(path)) {
    if (platform::NameWindowsReadsAsAnother(name.toUtf8().toStdString())) return name;
  }
  return QString();
}

QString whywindowsreadsanother(const QString& name) {
  return QStringLiteral("Windows would not open a file of the name \"") + name +
         QStringLiteral("\" (it ends in a period or a space, or names a device such as CON or NUL)");
}

const QString kCharactersWindowsNamesCannotHold = QStringLiteral("(: * ? \" < > |)");

// What the host cannot take is refused before either channel is written: a text with a
// control character would reach it as several lines (and the settings file with blanks in
// their place), a name with a character of a Windows path's syntax would be read as that
// syntax (the settings value "D:\COLON:NAME?.BMP" cut at its second colon), and a path
// without a drive names no place at all.
void refusewhatthehostcannottake(const QString& text) {
  if (platform::HasControlCharacter(text)) {
    QString shown = text;
    for (QChar& c : shown) {
      if (platform::HasControlCharacter(QString(c))) c = QLatin1Char('?');
    }
    throw dialog::DialogError(QStringLiteral("Unable to hand over ") + shown +
                              QStringLiteral(": the name holds a control character"));
  }
  if (holdsnamewindowscannot(text)) {
    throw dialog::DialogError(QStringLiteral("Unable to hand over ") + text +
                              QStringLiteral(": a name holds a character that Windows names cannot hold ") +
                              kCharactersWindowsNamesCannotHold);
  }
  if (const QString name = namewindowsreadsasanother(text); !name.isEmpty()) {
    throw dialog::DialogError(QStringLiteral("Unable to hand over ") + text + QStringLiteral(": ") +
                              whywindowsreadsanother(name));
  }
  if (!hasdriveletter(text)) {
    throw dialog::DialogError(QStringLiteral("Unable to hand over ") + text + QStringLiteral(": the path lies on no drive"));
  }
}

// Where no process can keep the text after the dialog has ended, the user is told so
// before the dialog ends: the host will find the clipboard empty.
void putonclipboard(const QString& text) {
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

// The picture that a conversion draws in the preview area belongs to that conversion:
// however it ends (the hand-off, or a failure that leaves the dialog open with another
// file to be selected), the area shows its illustration again at its next painting.
class IllustrationBackAfterwards {
 public:
  explicit IllustrationBackAfterwards(dialog::TPaintBox& area) : area_(area) {}
  ~IllustrationBackAfterwards() { area_.paintagain(); }
  IllustrationBackAfterwards(const IllustrationBackAfterwards&) = delete;
  IllustrationBackAfterwards& operator=(const IllustrationBackAfterwards&) = delete;

 private:
  dialog::TPaintBox& area_;
};

// The mapped drives with the host folders they stand for: "C: /, D: /srv/data".
QString drivesandfolders(uint32_t drivemask) {
  QStringList drives;
  for (int n = 0; n < 26; ++n) {
    if (!(drivemask & (1u << n))) continue;
    const QChar letter(u'A' + n);
    drives << QString(letter) + QStringLiteral(": ") + platform::DriveHostRoot(letter);
  }
  return drives.join(QStringLiteral(", "));
}

// Why the bitmap file cannot be written where the user chose, or empty when it can. The
// host must reach the file by a drive, must be able to name it, and the picture being
// converted must not be written over by its own conversion.
QString whynotthere(const QString& chosen, const QString& source, uint32_t drivemask) {
  const int drive = hasdriveletter(chosen) ? dialog::asciiupper(chosen.left(1))[0].unicode() - 'A' : -1;
  if (drive < 0 || !(drivemask & (1u << drive))) {
    // A folder outside the map comes back from the save dialog as a rooted path without
    // a drive; the user saw it as the host folder, so it is named so.
    const QString host = platform::HostPath(chosen);
    const QString folder = host.isEmpty() ? folderpart(chosen) : host.left(host.lastIndexOf(QLatin1Char('/')) + 1);
    return QStringLiteral("The folder ") + folder +
           QStringLiteral(" lies on no drive, so the host could not open the bitmap file there. Choose a folder on a drive (") +
           drivesandfolders(drivemask) + QStringLiteral(")");
  }
  if (holdsnamewindowscannot(chosen)) {
    return chosen + QStringLiteral(" holds a character that Windows names cannot hold ") +
           kCharactersWindowsNamesCannotHold + QStringLiteral(". Choose another name");
  }
  if (const QString name = namewindowsreadsasanother(chosen); !name.isEmpty()) {
    return chosen + QStringLiteral(": ") + whywindowsreadsanother(name) + QStringLiteral(". Choose another name");
  }
  if (platform::SameFile(chosen, source)) {
    return chosen + QStringLiteral(" is the picture being converted, and the bitmap file would take its place. Choose another name");
  }
  return QString();
}

}  // namespace

std::optional<QString> TForm1::choosebitmapfile(const QString& source) {
  SaveDialog1.fileName = bitmapname(source);
  for (;;) {
    const std::optional<QString> chosen = platform::CurrentPrompts().SaveFile(SaveDialog1);
    if (!chosen) return std::nullopt;
    const QString refused = whynotthere(*chosen, source, drivemask);
    if (refused.isEmpty()) {
      SaveDialog1.fileName = *chosen;
      return chosen;
    }
    platform::CurrentPrompts().Message(platform::MessageKind::Error, refused + QLatin1Char('.'));
    SaveDialog1.fileName = bitmapname(source);
  }
}

void TForm1::dopenClick() {
  QString P = labelfilename;
  // The button is enabled only while a file is selected; without one there is nothing
  // to hand over.
  if (P.isEmpty()) return;
  // A file deleted since it was selected would reach the host as a name of nothing.
  if (!platform::FileExists(P)) {
    platform::CurrentPrompts().Message(platform::MessageKind::Plain, QStringLiteral("Sorry, but the file doesn't exist ?!"));
    setfiles();
    return;
  }
  QString S = handoffpath(P);

  if (!handedoverdirectly(S)) {
    // The host cannot read this picture: it gets a Windows bitmap file of it instead.
    const std::optional<QString> chosen = choosebitmapfile(P);
    if (!chosen) return;
    const QString F = *chosen;

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
    const IllustrationBackAfterwards illustration(*PaintBox3);

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
  refusewhatthehostcannottake(S);
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
