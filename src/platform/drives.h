// Drive letters on a POSIX machine: each letter names a host directory.
//
// The map comes from the environment variable IMPORTDLG_DRIVES, for example
// "A=/media/floppy;D=/srv/data". Drive C: is "/" unless the variable names C itself.
// When IMPORTDLG_DRIVES is not set and a Wine prefix is named (wine_prefix.h), the map is
// the prefix's instead: its dosdevices links, with the drive types its registry gives
// (the default map stays when the prefix has no drive links).
// The map is read once, on first use; ReloadDriveMap reads it again (tests).
// All functions are for the GUI thread.
#pragma once

#include <cstdint>

#include <QString>

namespace platform {

// Drive type codes, numbered as the Windows drive type query numbers them.
enum DriveType : unsigned {
  DriveUnknown = 0,    // the type cannot be determined
  DriveNoRootDir = 1,  // no drive of that letter, or its directory does not exist
  DriveRemovable = 2,  // removable medium (floppy, USB stick, memory card)
  DriveFixed = 3,      // the root file system and ordinary disks
  DriveRemote = 4,     // network file systems
  DriveCdrom = 5,      // optical media
  DriveRamdisk = 6,    // tmpfs, ramfs
};

// The texts that the drives listing shows for the codes above: "Unknown", "=======",
// "Floppy Disk", "Local Drive", "Network Drive", "CD-Rom Drive", "RAM-Disk". A code out of
// range gives "Unknown".
QString DriveTypeText(unsigned code);

// Bit n set means that drive letter 'A' + n is mapped (n = 0 to 25). Exactly the mapped
// letters are set, whether or not their directories exist.
uint32_t GetLogicalDrives();

// The type of the drive whose root is given as a Windows path ("C:\", "c:", "D:\x\" all
// name the drive of their first letter). An unmapped letter or a text without a drive
// letter gives DriveNoRootDir, a mapped directory that does not exist as well.
unsigned GetDriveType(const QString& rootPath);

// Total size and the space free to the user, in bytes, of drive number `drive`
// (1 = A, 2 = B, ... 26 = Z). -1 when the drive is unmapped, missing or its file system
// cannot be asked.
int64_t DiskSize(int drive);
int64_t DiskFree(int drive);

// The host directory that a drive letter names (any case), without a trailing "/"
// except for "/" itself; empty for an unmapped letter.
QString DriveHostRoot(QChar letter);

// Reads IMPORTDLG_DRIVES (or the Wine prefix) again. A malformed item (no "=", no single letter before it,
// an empty or relative directory) is ignored.
void ReloadDriveMap();

}  // namespace platform
