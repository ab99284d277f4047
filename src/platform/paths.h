// Windows paths on a POSIX machine.
//
// The dialog works with Windows paths ("C:\home\ana\Pictures\"); this layer translates
// them at the boundary through the drive map (drives.h). The Windows namespace ignores
// letter case, so each component of a Windows path is resolved to the host name spelled
// exactly so when it exists, otherwise to the first case-insensitive match in name order.
// Both "\" and "/" separate components in a Windows path; "." and ".." are resolved in
// the text, and names are normalised as Windows does: a folder's name loses one trailing
// period ("dir.\x" is "dir\x"), the last name all its trailing periods and spaces
// ("file.txt. " is "file.txt").
//
// A host path outside every drive root maps to a rooted path without a drive letter
// ("\opt\tool\bin"), and such a rooted path maps back to the host's "/" tree, so every
// host path has a Windows form that leads back to it.
#pragma once

#include <string>

#include <QString>

namespace platform {

// The host path that a Windows path leads to, without a trailing "/" (except "/").
// Components that do not exist are kept as written, so the result also names files that
// are yet to be created. Empty when the drive letter is not mapped, the path is not
// absolute (no drive letter and no leading "\") or it names a DOS device (see below).
QString HostPath(const QString& windowsPath);

// The DOS device that a Windows path names, upper-cased ("COM1"), or empty. Windows and
// Wine open a device, not a file, for a last name that is AUX, CON, NUL, PRN, COM1 to
// COM9 or LPT1 to LPT9 in any case, also with an extension or trailing spaces
// ("D:\pics\com1.txt", "nul .bmp"); such a path never maps to a host file.
QString DosDeviceName(const QString& windowsPath);
// The same as bytes for the file system (std::string for the picture library).
std::string HostPathBytes(const QString& windowsPath);

// The Windows path of a host path: the drive of the longest matching drive root, ":",
// and the rest with "\" as separator ("/home/ana" with C: = "/" gives "C:\home\ana").
// A drive root itself gives "C:\". A relative host path is made absolute first. Outside
// every drive root: "\" followed by the path (see above).
QString WindowsPath(const QString& hostPath);

// True when the Windows path leads to an existing directory (or file).
bool DirectoryExists(const QString& windowsPath);
bool FileExists(const QString& windowsPath);

// The short (8.3) form of a path. POSIX file systems have no short names, so this always
// fails: it returns false and leaves `shortPath` unchanged. The caller then uses the path
// as it stands.
bool GetShortPathName(const QString& longPath, QString& shortPath);

// The system folder as a Windows path without a trailing backslash: the host directory
// IMPORTDLG_SYSTEM_DIR when set (a Windows path there is taken as it is); otherwise, when
// a Wine prefix is named, the folder a 32-bit host's system folder query reaches there,
// "C:\windows\syswow64" where that exists, else "C:\windows\system32"; otherwise
// $XDG_CONFIG_HOME, otherwise ~/.config. The host settings file lies in it.
QString GetSystemDirectory();

// The Windows path of the running program's file ("C:\usr\bin\importdlg").
QString ProgramFilePath();

}  // namespace platform
