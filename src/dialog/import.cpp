// Import hand-off: the selected file, converted to a Windows bitmap file where the host
// cannot read it, or one of the two keywords, goes to the clipboard and the program ends.
//
// FIXME: not built yet. The handlers are wired to "Import", "EPS" and "DXF" (and Import is
// reached from a double-click or Enter on a file) but do nothing so far.
#include "dialog/form.h"

void TForm1::dopenClick() {
  // FIXME: not built yet (hand the selected file over).
}

void TForm1::dailoadClick() {
  // FIXME: not built yet (hand "AIEPS" over).
}

void TForm1::SpeedButton6Click() {
  // FIXME: not built yet (hand "DXF" over).
}
