// Navigation: moving from one location to another with the folder combo, a double-click
// or Enter on an entry, the "Previous folder" button and Backspace.
#include "dialog/form.h"
#include "dialog/texts.h"
#include "platform/paths.h"
#include "platform/prompts.h"

namespace {

const QString kDrives = QStringLiteral("Drives");

void noaccess(const QString& where) {
  platform::CurrentPrompts().Message(platform::MessageKind::Plain,
                                     QStringLiteral("No Access to ") + where + QStringLiteral(" ."));
}

}  // namespace

void TForm1::ComboBox1Change() {
  clearitClick();
  // Moving through the open list with the keyboard changes the selection too; only a
  // choice made with the list closed moves the dialog.
  if (ComboBox1->droppeddown() || ComboBox1->currentIndex() < 0) return;
  const QString item = ComboBox1->currentText();
  const QString target = item.mid(item.indexOf(QLatin1Char(':')) + 1);
  if (target == kDrives || platform::DirectoryExists(target)) {
    if (currentpath == kDrives && target != kDrives) setcolumnforfiles();
    currentpath = target;
    setfiles();
    files->setFocus();
    if (files->count() > 0) files->setselectedindex(0);
  } else {
    noaccess(target);
    ComboBox1update();
    files->setFocus();
  }
}

void TForm1::filesDblClick() {
  const ListEntry* entry = files->selected();
  if (!entry) return;
  // The entry goes away with the next listing, so its texts are copied first.
  const QString kind = entry->subitems[dialog::kKindItem];
  const QString path = entry->subitems[dialog::kPathItem];
  const QString caption = entry->caption;
  if (kind == QLatin1String("dir")) {
    currentpath = path;
    setfiles();
  } else if (kind == QLatin1String("drive")) {
    if (platform::DirectoryExists(path)) {
      currentpath = path;
      setcolumnforfiles();
      setfiles();
    } else {
      noaccess(caption);
    }
  } else {
    // The import reads the details of the selection; they are brought up to date in case
    // the selection moved without a click.
    if (labelfilename != path) SpeedButton5Click();
    dopenClick();
  }
}

void TForm1::SpeedButton1Click() {
  if (currentpath == kDrives) return;
  if (currentpath.size() >= 2 && currentpath[currentpath.size() - 2] == QLatin1Char(':')) {
    currentpath = kDrives;
  } else {
    currentpath.chop(1);
    while (!currentpath.isEmpty() && !currentpath.endsWith(QLatin1Char('\\'))) currentpath.chop(1);
    // A location without a drive letter ("\srv\pics\", from the host settings file) runs
    // out of backslashes at its top; the way up then ends in the drives pseudo-folder,
    // as it does from a drive root.
    if (currentpath.isEmpty()) currentpath = kDrives;
  }
  setfiles();
  files->setFocus();
  if (files->count() > 0) files->setselectedindex(0);
}

void TForm1::filesKeyDown(int key) {
  if (key == 8) SpeedButton1Click();
}

void TForm1::filesKeyUp(int key) {
  // The details follow a selection moved with the keyboard; Enter acts as a double-click.
  filesClick();
  if (key == 13) filesDblClick();
}

void TForm1::chClick() {
  files->setFocus();
  setfiles();
}
