// Selection details: the "File Information" box, the notice panel, the enabling of Import
// and Copy to Disk, the "&Properties" menu and the preview area.
#include <QPainter>

#include "dialog/form.h"
#include "dialog/form_pictures.h"
#include "dialog/texts.h"
#include "platform/date_time.h"
#include "platform/folder_listing.h"

namespace {

// A file's own time stamp is kept to two seconds: odd seconds and fractions go.
QDateTime twosecondstamp(const QDateTime& local) {
  const QTime time = local.time();
  return QDateTime(local.date(), QTime(time.hour(), time.minute(), time.second() - time.second() % 2));
}

}  // namespace

void TForm1::filesClick() {
  const ListEntry* entry = files->selected();
  if (!entry) {
    clearitClick();
    return;
  }
  fstate->setpanel(2, entry->subitems[dialog::kPathItem]);
  SpeedButton5Click();
}

void TForm1::SpeedButton5Click() {
  const ListEntry* entry = files->selected();
  if (!entry || entry->subitems[dialog::kKindItem] != QLatin1String("file")) {
    clearitClick();
    return;
  }
  dcopyit->setEnabled(true);
  const QString path = entry->subitems[dialog::kPathItem];
  labelfilename = path;
  Label5->setText(dialog::filenamepart(path));

  // Size and time stamp come from the file's directory entry, as in the listing: a file
  // that cannot be opened (no read permission, another program holding it) still has
  // both, and nothing is opened, so a pipe put in the file's place cannot block the
  // dialog. What cannot be known (the file has gone) is shown empty rather than made up.
  // The size is a 64-bit count, so that files of 2 GiB and more show their real size.
  Label7->setText(QString());
  Label9->setText(QString());
  platform::FoundFile found;
  if (platform::FindFile(path, &found) && (found.attributes & platform::FileAttributeArchive)) {
    Label7->setText(dialog::kbdetailtext(found.size));
    const QDateTime local = platform::FileTimeToLocalDateTime(found.lastWriteTime);
    if (local.isValid()) Label9->setText(dialog::detaildatetext(twosecondstamp(local)));
  }
  dopen->setEnabled(true);
}

void TForm1::clearitClick() {
  Label5->setText(QString());
  Label7->setText(QString());
  Label9->setText(QString());
  dopen->setEnabled(false);
  labelfilename.clear();
  dcopyit->setEnabled(false);
}

void TForm1::menuPopup() {
  menuitem->setEnabled(files->selected() != nullptr);
}

void TForm1::menuitemClick() {
  const ListEntry* entry = files->selected();
  if (entry) showinfo(entry->subitems[dialog::kPathItem], entry->subitems[dialog::kKindItem]);
}

void TForm1::showinfo(const QString& path, const QString& kind) {
  QString text;
  if (kind == QLatin1String("drive")) {
    text = QStringLiteral("This is a drive.\r\nDoubleclick this item to browse its root-directory.");
  } else if (kind == QLatin1String("dir")) {
    text = QStringLiteral("This is a directory.\r\nDoubleclick this item to browse .");
  } else {
    platform::FoundFile found;
    if (!platform::FindFile(path, &found)) {
      text = QStringLiteral("Sorry, but the file doesn't exist ?!");
    } else {
      text = QStringLiteral("This is the file called ") + path + QStringLiteral("\r\nIts size is ") +
             QString::number(found.size) + QStringLiteral(" Byte(s)");
    }
  }
  platform::CurrentPrompts().Message(platform::MessageKind::Plain, text);
}

void TForm1::PaintBox3Paint(QPainter& painter) {
  painter.drawPixmap(0, 0, dialog::art::previewpicture());
}

void TForm1::csaveClick() {
  dopen->setVisible(true);
}
