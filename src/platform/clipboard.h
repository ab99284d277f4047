// The clipboard, holding plain text.
//
// As on Windows, the hand-off text must stay readable by other programs after this program
// has ended. HandOffClipboardText arranges that where the display server allows it: the
// text goes to our own server program, importdlg-clipboard beside this program, which holds
// the clipboard selection until another program takes it. On X11 it owns the CLIPBOARD
// selection. On Wayland (WAYLAND_DISPLAY set, also where Qt draws through XWayland) it
// sets the selection through the compositor's data-control protocol; where the compositor
// has none, it owns the X11 CLIPBOARD through XWayland (DISPLAY set), and without XWayland
// the text goes to `wl-copy` when that is installed.
// On platforms without a display server (offscreen) the clipboard is this process's own.
// GUI thread only.
#pragma once

#include <QString>

namespace platform {

// Empties the clipboard (this also ends a server that still keeps an earlier hand-off, on
// Wayland through the compositor's data-control protocol). False when it cannot be opened (the caller reports "Cannot open clipboard").
bool EmptyClipboard();
// Replaces the clipboard's contents by one plain text, held by this process. False when
// it cannot be opened.
bool SetClipboardText(const QString& text);
// The clipboard's plain text (empty when it holds none).
QString GetClipboardText();

// True when the text holds a control character (C0, DEL or C1): it is not one line.
bool HasControlCharacter(const QString& text);

enum class HandOffOutcome {
  Kept,       // a process outside this one serves the text after this program has ended
  Local,      // no display server: the text is on this process's own clipboard
  Lost,       // the text is on the clipboard only while this program runs (see reason)
  Refused,    // the text holds a control character; the clipboard is unchanged
  NotOpened,  // the clipboard cannot be opened
};

struct HandOffResult {
  HandOffOutcome outcome;
  QString reason;  // for Lost: why no process could keep the text
};

// Puts the hand-off text on the clipboard so that it outlives this program where the
// display server allows it (see the top of this file).
HandOffResult HandOffClipboardText(const QString& text);

// The part of the hand-off that gives the text to a process outside this one, for the
// display server that Qt names `platformName` ("xcb", "wayland"...): Kept, or Lost with
// the reasons. A session with WAYLAND_DISPLAY set takes the Wayland ways even where Qt
// draws through XWayland. HandOffClipboardText calls it for the platform in use.
HandOffResult KeepOutsideThisProcess(const QString& platformName, const QString& text);

// How long a program that is to keep the text may take to say that it does (5 s); one
// that has not answered by then is stopped. For tests.
void SetHandOffDeadline(int milliseconds);

}  // namespace platform
