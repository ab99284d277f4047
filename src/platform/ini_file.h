// Private-profile (INI) files, read and written as the Windows private-profile functions
// do. File names are Windows paths (translated through the drive map).
//
// Section and key names match without regard to case, and surrounding blanks are
// ignored. A write replaces the value of one key, or adds the key at the end of its
// section, or adds the section at the end of the file; every other line stays byte for
// byte as it was (line endings, comments, blank lines, other sections). A missing file is
// created; lines added to a file use its line endings (CR LF for a new file). The file
// is replaced in one step, so a failed write leaves the old file intact.
// Values are text in UTF-8.
#pragma once

#include <QString>

namespace platform {

// The value of `key` in `section`, with blanks around it removed and one pair of
// matching quotes around it removed; `defaultValue` when the file, the section or the
// key is missing. Lines beginning with ";" are comments.
QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, const QString& fileName);

// Sets `key` in `section` to `value`. Returns false when the file cannot be read or
// written (the file is then unchanged). A value is written as it is, on one line: line
// breaks in it are replaced by blanks so that they cannot add lines to the file.
bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& fileName);

// The same on an INI text in memory (the file functions use these).
QString ProfileStringFromText(const QByteArray& text, const QString& section,
                              const QString& key, const QString& defaultValue);
QByteArray ProfileTextWithValue(const QByteArray& text, const QString& section,
                                const QString& key, const QString& value);

}  // namespace platform
