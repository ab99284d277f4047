// What the clipboard servers of importdlg-clipboard share: the text in the forms they serve,
// and the one-line report to the dialog on standard output.
#pragma once

#include <optional>
#include <string>

namespace clipboard_server {

struct HandOffText {
  std::string utf8;
  std::optional<std::string> latin1;  // only where every character has a Latin-1 form
};

// Writes "error: REASON" on standard output and ends the program.
[[noreturn]] void Fail(const std::string& reason);

// Writes "ready" on standard output and lets go of the pipe, so that the dialog stops
// waiting.
void ReportReady();

// Serve the text until another program takes the selection, the display goes away or the
// seconds have passed. Each reports through Fail when it cannot take the selection.
void ServeOnX11(const HandOffText& text, long seconds);
void ServeOnWayland(const HandOffText& text, long seconds);

// Empties the Wayland compositor's selection through the data-control protocol, so that
// a server of an earlier hand-off ends, and reports "ready".
void EmptyOnWayland();

}  // namespace clipboard_server
