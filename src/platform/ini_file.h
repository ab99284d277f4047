// Private-profile (INI) files, read and written as the Windows private-profile functions
// do. File names are Windows paths (translated through the drive map).
//
// How a file reads: lines end at CR LF, CR CR LF, CR or LF. Tab, CR, LF, VT, FF, 0x1A
// and blanks around lines, names and values are ignored. A line that begins with "["
// and has a "]" heads a section whose name runs to the last "]" of the line; "[Paths"
// without "]" heads none. A line with "=" is a key and its value, a line without one a
// bare key that has no value (a read gets the default). Lines beginning with ";" are
// comments. Section and key names match without regard to case; only the first
// occurrence of a section, and of a key in it, counts.
//
// A write gives the first matching key its value (a bare key gets "=" and the value),
// or adds the key after the last line of its section, or adds the section at the end of
// the file; every other line stays byte for byte as it was (line endings, comments,
// blank lines, other sections). A missing file is created; lines added to a file use its
// line endings (CR LF for a new file). The file is replaced in one step, so a failed
// write leaves the old file intact.
//
// Encoding: a file with a UTF-8 byte order mark is UTF-8 and keeps its mark; a file with
// a UTF-16 mark is UTF-16 of that byte order and stays so. A file without a mark is in
// the code page that SettingsCodePage() gives (wine_prefix.h): the ANSI code page of the
// locale for a host under Wine, else UTF-8. Text that the file's encoding cannot spell
// is not written.
#pragma once

#include <optional>

#include <QString>

#include "platform/code_page.h"

namespace platform {

// The value of `key` in `section`, with the blanks around it removed and one pair of
// matching quotes around it removed; `defaultValue` when the file, the section or the
// key is missing, or the key is bare.
QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, const QString& fileName);

// Sets `key` in `section` to `value`. Returns false when the file cannot be read or
// written, when the file's encoding has no spelling for the names or the value, or for
// a UTF-16 file that does not decode cleanly (the file is then unchanged). A value is
// written as it is, on one line: line breaks in it are replaced by blanks so that they
// cannot add lines to the file.
bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& fileName);

// The same on the bytes of a file in memory (the file functions use these); `codePage`
// is the encoding of a file without a byte order mark. ProfileTextWithValue gives
// nothing where WritePrivateProfileString would refuse for the encoding.
QString ProfileStringFromText(const QByteArray& text, const QString& section,
                              const QString& key, const QString& defaultValue,
                              unsigned codePage = CodePageUtf8);
std::optional<QByteArray> ProfileTextWithValue(const QByteArray& text, const QString& section,
                                               const QString& key, const QString& value,
                                               unsigned codePage = CodePageUtf8);

}  // namespace platform
