// Navigation: moving from one location to another with the folder combo, a double-click
// or Enter on an entry, the "Previous folder" button and Backspace.
//
// FIXME: not built yet. ComboBox1Change, filesDblClick, SpeedButton1Click and chClick are
// wired to their controls but do nothing so far; the key handlers below already pass the
// keys on to them.
#include "dialog/form.h"

void TForm1::ComboBox1Change() {
  // FIXME: not built yet (go to the chosen combo item).
}

void TForm1::filesDblClick() {
  // FIXME: not built yet (open a folder or drive, import a file).
}

void TForm1::SpeedButton1Click() {
  // FIXME: not built yet (up one level).
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
  // FIXME: not built yet (list the current location again).
}
