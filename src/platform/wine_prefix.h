// The Wine prefix of a host that is a Windows program running under Wine.
//
// IMPORTDLG_WINEPREFIX, else WINEPREFIX, names the prefix folder. Its "dosdevices" folder
// holds one symbolic link per drive letter ("c:" -> "../drive_c", "z:" -> "/"), and its
// "system.reg" keeps the drive types that Wine reports under Software\Wine\Drives
// ("d:"="cdrom"). Such a host reads 8-bit text files in the ANSI code page of its locale.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

namespace platform {

// The prefix folder as a host path, or empty when neither variable names one.
QString WinePrefix();

struct WineDrive {
  int index;                    // 0 = A
  QString hostRoot;             // the folder the link points to, absolute and cleaned
  std::optional<unsigned> type;  // the DriveType the registry gives, if any
};

// The drives of a prefix: the letters of its dosdevices links ("c:", any case), the
// folders they point to (whether or not these exist) and the types from system.reg.
// Device links ("d::"), ports and other entries are skipped. Empty when the prefix has no
// dosdevices folder.
std::vector<WineDrive> WineDrives(const QString& prefix);

// The drive types that a system.reg text names under Software\Wine\Drives, by drive
// index. Types Wine knows are "floppy", "hd", "network", "cdrom" and "ramdisk"; others are
// left out.
std::array<std::optional<unsigned>, 26> WineDriveTypes(const QByteArray& systemReg);

// The code page of settings files that have no byte order mark: the ANSI code page of the
// locale when a prefix is named (what the host reads them in), else UTF-8.
unsigned SettingsCodePage();

}  // namespace platform
