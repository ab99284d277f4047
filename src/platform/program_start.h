// Starting another program from a command line.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Show states of a started program's window, as WinExec takes them (only passed on).
enum ShowCommand : int { SwHide = 0, SwShowNormal = 1 };

// Starts a command line detached: the first word is the program (a Windows path, or a
// name to find on the search path), the other words its arguments. Words are separated
// by blanks; double quotes group blanks into a word. When the first word does not name
// an existing file, longer and longer runs of the leading words are tried as the program
// path, as Windows does for an unquoted path with blanks ("C:\Program Files\x.exe a").
// A program named "x.exe" that does not exist is also looked for as "x".
// Returns a value above 31 when the program was started, else an error code below 32
// (2: file not found); the caller may ignore it.
unsigned WinExec(const QString& commandLine, int showCommand = SwShowNormal);

// Opens a PDF document (a host path) in the desktop's viewer for PDF files, at `page`
// where that viewer can be told a page (Evince and Okular take "-p"), else through
// xdg-open. False when no viewer could be started.
bool OpenPdfDocument(const QString& hostPath, int page);

// The words of a command line (blanks separate, double quotes group; the quotes are
// dropped).
QStringList SplitCommandLine(const QString& commandLine);

}  // namespace platform
