// Side actions: Copy to Disk and Show Help. Neither ends the dialog nor touches the
// clipboard or the host settings file.
//
// FIXME: not built yet. Both handlers are wired to their buttons but do nothing so far.
#include "dialog/form.h"

void TForm1::dcopyitClick() {
  // FIXME: not built yet (copy the selected file to the root of drive A:).
}

void TForm1::dhelpClick() {
  // FIXME: not built yet (start the help reader).
}
