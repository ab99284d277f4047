// Folder listing: the entries of the current location, the two column sets, the three
// view styles, the column-click sorting and the folder combo.
#include <QHash>
#include <QPainter>

#include "dialog/form.h"
#include "dialog/texts.h"
#include "platform/date_time.h"
#include "platform/drives.h"
#include "platform/folder_listing.h"
#include "platform/shell_info.h"

using dialog::ListColumn;
using dialog::ViewStyle;

const std::array<QString, 7> TForm1::drivetypes = {
    QStringLiteral("Unknown"),       QStringLiteral("======="),      QStringLiteral("Floppy Disk"),
    QStringLiteral("Local Drive"),   QStringLiteral("Network Drive"), QStringLiteral("CD-Rom Drive"),
    QStringLiteral("RAM-Disk")};

namespace {

const QString kDrives = QStringLiteral("Drives");
// The entry kinds are shared by every entry of a listing instead of copied into each.
const QString kKindDir = QStringLiteral("dir");
const QString kKindFile = QStringLiteral("file");
const QString kKindDrive = QStringLiteral("drive");

// The size and Modified texts of one listing. Many entries share them (files of the same
// size in KB, files written in the same second), so each text is made once and then
// shared, which saves formatting and memory in large folders.
class EntryTexts {
 public:
  const QString& size(qint64 bytes, bool isdirectory) {
    // Keyed by the whole kilobytes that the text shows (1 to 1023 bytes count as 1).
    const qint64 key = isdirectory ? -1 : (bytes > 0 && bytes < 1024 ? 1 : bytes / 1024);
    auto found = sizes_.constFind(key);
    if (found == sizes_.constEnd()) found = sizes_.insert(key, dialog::kbtext(bytes, isdirectory));
    return found.value();
  }
  QString modified(platform::FileTime lastwrite) {
    // Local time differs from universal time by whole seconds, so two times of the same
    // second always show the same minute.
    if (lastwrite.value < 0) return dialog::datetimetext(lastwrite);
    const qint64 second = lastwrite.value / 10000000;
    auto found = times_.constFind(second);
    if (found == times_.constEnd()) found = times_.insert(second, dialog::datetimetext(lastwrite));
    return found.value();
  }

 private:
  QHash<qint64, QString> sizes_;
  QHash<qint64, QString> times_;
};

}  // namespace

void TForm1::setfiles() {
  clearitClick();
  // The caption shows the path as it stands, before a missing backslash is added below.
  setWindowTitle((csave ? QStringLiteral("Enter FileName to Save..  [") : QStringLiteral("Select File to Import.. [")) +
                 currentpath + QLatin1Char(']'));
  if (currentpath == kDrives) {
    setdrives();
    return;
  }
  SpeedButton1->setEnabled(true);
  files->setUpdatesEnabled(false);
  const ViewStyle style = files->viewstyle();
  files->setviewstyle(ViewStyle::List);
  files->clear();
  setbusycursor(true);
  if (!currentpath.endsWith(QLatin1Char('\\'))) currentpath += QLatin1Char('\\');

  qint64 total = 0;
  platform::FolderListing listing;
  listing.Read(currentpath, platform::kAnyFileAttributes);
  std::vector<ListEntry> entries;
  entries.reserve(listing.size());
  platform::ShellFileInfo info;
  EntryTexts texts;
  for (const platform::FolderEntry& found : listing) {
    const std::string_view rawname = listing.NameBytes(found);
    const bool isdirectory = (found.attributes & platform::FileAttributeDirectory) != 0;
    if (isdirectory && (rawname == "." || rawname == "..")) continue;
    if (ch && !isdirectory) continue;
    if (!isdirectory && !extensionaccepted(platform::NameExtension(rawname))) continue;
    const QString name = listing.Name(found);
    platform::ShellInfoForEntry(name, isdirectory, &info);
    ListEntry entry;
    entry.caption = info.displayName;
    entry.imageindex = info.iconIndex;
    entry.subitems = {texts.size(found.size, isdirectory), info.typeName, texts.modified(found.lastWriteTime),
                      isdirectory ? kKindDir : kKindFile, currentpath + name};
    total += found.size;
    entries.push_back(std::move(entry));
  }

  // Sorted before the list takes the entries, so that the views are filled only once.
  const std::vector<int> order = dialog::sortorder(entries, 3);
  std::vector<ListEntry> sorted;
  sorted.reserve(entries.size());
  for (int index : order) sorted.push_back(std::move(entries[size_t(index)]));
  const int count = int(sorted.size());
  files->setentries(std::move(sorted));
  files->setviewstyle(style);
  files->setUpdatesEnabled(true);

  fstate->setpanel(0, QString::number(count) + QStringLiteral(" Object(s)"));
  fstate->setpanel(1, dialog::sizetext(total));
  setbusycursor(false);
  ComboBox1update();
}

void TForm1::setdrives() {
  SpeedButton1->setEnabled(false);
  files->setUpdatesEnabled(false);
  files->clear();
  setcolumnfordrives();
  setbusycursor(true);
  std::vector<ListEntry> entries;
  for (int n = 0; n < 26; ++n) {
    if (!(drivemask & (1u << n))) continue;
    const QString root = QChar('A' + n) + QStringLiteral(":\\");
    const platform::ShellFileInfo info = getinfo(root);
    const unsigned type = platform::GetDriveType(root);
    ListEntry entry;
    entry.caption = info.displayName;
    entry.imageindex = info.iconIndex;
    entry.subitems = {drivetypes[type < drivetypes.size() ? type : 0], dialog::sizetext(platform::DiskSize(n + 1)),
                      dialog::sizetext(platform::DiskFree(n + 1)), kKindDrive, root};
    entries.push_back(std::move(entry));
  }
  const int count = int(entries.size());
  files->setentries(std::move(entries));
  files->setUpdatesEnabled(true);
  setbusycursor(false);
  fstate->setpanel(0, QString::number(count) + QStringLiteral(" Object(s)"));
  fstate->setpanel(1, QString());
  ComboBox1update();
}

platform::ShellFileInfo TForm1::getinfo(const QString& path) const {
  platform::ShellFileInfo info;
  platform::SHGetFileInfo(path, 0, &info,
                          platform::ShgfiDisplayName | platform::ShgfiTypeName | platform::ShgfiSysIconIndex);
  return info;
}

void TForm1::setcolumnforfiles() {
  files->setcolumns({ListColumn{QStringLiteral("Name"), Qt::AlignLeft}, ListColumn{QStringLiteral("Size"), Qt::AlignRight},
                     ListColumn{QStringLiteral("Type"), Qt::AlignLeft},
                     ListColumn{QStringLiteral("Modified"), Qt::AlignLeft}});
}

void TForm1::setcolumnfordrives() {
  files->setcolumns({ListColumn{QStringLiteral("Name"), Qt::AlignLeft}, ListColumn{QStringLiteral("Type"), Qt::AlignLeft},
                     ListColumn{QStringLiteral("Disksize"), Qt::AlignRight},
                     ListColumn{QStringLiteral("Free Space"), Qt::AlignLeft}});
}

void TForm1::filesColumnClick(int column) {
  static constexpr int kKeys[] = {4, 0, 1, 2};
  if (column >= 0 && column < 4) files->sortby(kKeys[column]);
}

void TForm1::SpeedButton2Click() {
  files->setviewstyle(ViewStyle::Icon);
}

void TForm1::SpeedButton3Click() {
  files->setviewstyle(ViewStyle::List);
}

void TForm1::SpeedButton4Click() {
  files->setviewstyle(ViewStyle::Report);
}

// ---- The folder combo ----

void TForm1::ComboBox1update() {
  ComboBox1->setUpdatesEnabled(false);
  ComboBox1->clear();
  int current = -1;
  const bool drives = currentpath == kDrives;
  const int drivenumber = currentpath.isEmpty() ? -1 : dialog::asciiupper(currentpath.left(1))[0].unicode() - 'A';
  QStringList items;
  items << QStringLiteral("0:Drives");
  for (int n = 0; n < 26; ++n) {
    if (!(drivemask & (1u << n))) continue;
    items << QStringLiteral("1:") + QChar('A' + n) + QStringLiteral(":\\");
    if (!drives && n == drivenumber) {
      const bool root = currentpath.size() >= 2 && currentpath[currentpath.size() - 2] == QLatin1Char(':');
      if (!root) {
        const int backslashes = dialog::countchar(QLatin1Char('\\'), currentpath);
        for (int k = 2; k <= backslashes; ++k) {
          items << QString::number(k) + QLatin1Char(':') + currentpath.left(dialog::nthcharpos(QLatin1Char('\\'), currentpath, k));
        }
      }
      current = int(items.size()) - 1;
    }
    if (drives) current = 0;
  }
  if (current >= 0) items[current] = QLatin1Char('T') + items[current];
  ComboBox1->addItems(items);
  ComboBox1->setCurrentIndex(-1);
  ComboBox1->setUpdatesEnabled(true);
  ComboBox1->setCurrentIndex(current);
}

void TForm1::ComboBox1DrawItem(QPainter& painter, int index, const QRect& rect, bool selected, bool infield) {
  const dialog::ComboItemLook look = dialog::comboitemlook(ComboBox1->itemText(index), infield);
  const QPalette& palette = ComboBox1->palette();
  painter.fillRect(rect, selected ? palette.highlight() : palette.base());
  QString name;
  int icon;
  if (look.drives) {
    name = kDrives;
    icon = platform::IconComputer;
  } else {
    platform::ShellFileInfo info;
    platform::SHGetFileInfo(look.path, 0, &info,
                            platform::ShgfiDisplayName | platform::ShgfiSysIconIndex |
                                (look.open ? unsigned(platform::ShgfiOpenIcon) : 0u));
    name = info.displayName;
    icon = info.iconIndex;
  }
  const int left = rect.left() + look.indent;
  painter.setPen(selected ? palette.highlightedText().color() : palette.text().color());
  painter.drawText(QRect(left + 20, rect.top() + 2, std::max(0, rect.right() - left - 20), rect.height() - 2),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, name);
  if (smallicons && icon >= 0) smallicons->Draw(painter, left + 2, rect.top() + 2, icon);
}
