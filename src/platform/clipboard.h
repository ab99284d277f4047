// The clipboard, holding plain text.
//
// As on Windows, text placed on the clipboard stays readable by other programs after this
// program has ended: on X11 (and Wayland, where the tool is installed) the program hands
// its text at exit to a small background process that keeps serving it until another
// program takes the clipboard. On the offscreen platform the text stays in the process.
// GUI thread only.
#pragma once

#include <QString>

namespace platform {

// Empties the clipboard. False when it cannot be opened (the caller reports
// "Cannot open clipboard").
bool EmptyClipboard();
// Replaces the clipboard's contents by one plain text. False when it cannot be opened.
bool SetClipboardText(const QString& text);
// The clipboard's plain text (empty when it holds none).
QString GetClipboardText();

// Call once before the program exits (after the event loop has returned and before the
// QApplication is destroyed): if the clipboard still holds text that this program put
// there, it is handed to a background helper on X11 and Wayland. Returns true when a
// helper took it over, false when nothing needed keeping or no helper was available.
bool KeepClipboardAfterExit();

}  // namespace platform
