// Where the Windows namespace and the host's file system disagree about a name.
//
// Windows ignores letter case; a POSIX file system does not, so one folder may hold
// "cat.jpg" and "Cat.jpg", two files that every Windows path names as one. These functions
// tell when a path is such a case, give the path as the file system spells it, and tell
// whether two paths lead to the same file.
#pragma once

#include <QString>

namespace platform {

// True when the Windows path leads to an existing entry and some component of it, below
// the drive's root, shares its folder with another name equal to it ignoring case. A path
// that differs from the host's spelling only in case may then lead to the other entry.
bool HasCaseTwin(const QString& windowsPath);

// The Windows path with each existing component below the drive's root spelled exactly
// as the file system spells it ("C:\PICS\CAT.JPG" gives "C:\pics\cat.jpg" where the host
// has /pics/cat.jpg under C:). Components that do not exist are kept as written.
QString ExactCasePath(const QString& windowsPath);

// True when both Windows paths lead to one existing file: the same device and inode,
// whatever the names, their case or the links between them.
bool SameFile(const QString& windowsPathA, const QString& windowsPathB);

}  // namespace platform
