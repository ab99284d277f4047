// What the desktop shell tells about a path: display name, type name and icon.
//
// Icons live in two image lists shared by the whole process, one of small (16 x 16) and
// one of large (32 x 32) icons. An icon index is valid in both. The first indexes are
// fixed (see SystemIcon); more are added as new file types are met. Icons come from the
// desktop's icon theme, with the style's standard icons where the theme has none, and
// are drawn when first asked for.
//
// File information is kept per file type (extension), not per file, so a listing of many
// files asks the theme once per type. GUI thread only; needs a QGuiApplication.
#pragma once

#include <cstdint>
#include <vector>

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

class QPainter;

namespace platform {

// The fixed indexes of both image lists.
enum SystemIcon : int {
  IconUnknownFile = 0,
  IconDocument = 1,
  IconApplication = 2,
  IconFolder = 3,
  IconFolderOpen = 4,
  IconFloppy525 = 5,
  IconFloppy = 6,
  IconRemovableDrive = 7,
  IconHardDrive = 8,
  IconNetworkDrive = 9,
  IconNetworkDriveOffline = 10,
  IconCdDrive = 11,
  IconRamDrive = 12,
  IconEntireNetwork = 13,
  IconNetwork = 14,
  IconComputer = 15,  // "My Computer": the icon of the drives pseudo-folder
  IconPrinter = 16,
  kFixedIconCount = 17,
};

// One of the two shared image lists. Owned by the platform layer for the whole run:
// callers hold pointers and never delete them.
class SystemImageList {
 public:
  QSize IconSize() const { return size_; }
  // The number of indexes assigned so far (grows as new file types are met).
  int Count() const;
  // The icon at an index, drawn at this list's size; a null pixmap for an index that was
  // never assigned.
  QPixmap Pixmap(int index) const;
  // Draws the icon with its transparency at (x, y).
  void Draw(QPainter& painter, int x, int y, int index) const;

  SystemImageList(const SystemImageList&) = delete;
  SystemImageList& operator=(const SystemImageList&) = delete;

 private:
  friend class ShellIconStore;
  explicit SystemImageList(QSize size) : size_(size) {}
  QSize size_;
  mutable std::vector<QPixmap> cache_;
};

// The shared lists, created on first use. `large` chooses the 32 x 32 list.
SystemImageList* GetSystemImageList(bool large);

// An icon holding both sizes of an index (for views that switch between small and large
// icons). Empty for an index that was never assigned.
QIcon SystemIconOf(int index);

// What to ask for, as the shell's flags.
enum ShellInfoFlags : unsigned {
  ShgfiDisplayName = 0x0200,
  ShgfiTypeName = 0x0400,
  ShgfiSysIconIndex = 0x4000,
  ShgfiOpenIcon = 0x0002,        // the open-state icon (an open folder)
  ShgfiUseFileAttributes = 0x0010,  // do not look at the file system: trust `attributes`
};

struct ShellFileInfo {
  QString displayName;  // at most 260 characters
  QString typeName;     // at most 80 characters
  int iconIndex = -1;
};

// Fills `info` with what `flags` ask for about a Windows path:
// - a drive root ("C:\"): display name "<label or kind> (C:)", for example
//   "Local Disk (C:)", or "share on 'server' (Z:)" for a network share; type name after
//   the drive type ("Local Disk", "Floppy Disk", "Removable Disk", "Network Drive",
//   "CD Drive", "RAM Disk", or "Drive" when the drive's directory is missing); the drive
//   type's icon;
// - a folder: its name; "File Folder"; the folder icon (open folder with ShgfiOpenIcon);
// - a file: its name; "<EXT> File" with the extension upper-cased and without the dot
//   ("PCX File"), or "File" without an extension; the icon of its type.
// Without ShgfiUseFileAttributes the path is looked up (a path ending in "\" counts as a
// folder) and the function returns false, with the fields filled as well as the text
// allows, when it does not exist. With it, `attributes` (FileAttribute bits) say whether
// the path is a folder, and the file system is not touched.
bool SHGetFileInfo(const QString& windowsPath, uint32_t attributes, ShellFileInfo* info,
                   unsigned flags);

// The same for a name already listed in a folder: no path text to split and no lookup.
// This is the fast form for listings.
void ShellInfoForEntry(const QString& name, bool isDirectory, ShellFileInfo* info);

}  // namespace platform
