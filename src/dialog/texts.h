// Text helpers of the import dialog: the size, date and number texts that the folder list
// and the details show, the sort comparison of list entries, and the small character
// functions that the folder combo uses. None of them needs a window.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <array>
#include <climits>

#include "platform/date_time.h"

// One row of the folder list `files`.
struct ListEntry {
  QString caption;      // the shell's display name
  int imageindex = -1;  // index into both shell icon lists
  // 0 size or drive type, 1 type name or disk size, 2 modified or free space,
  // 3 entry kind ("dir", "file" or "drive"), 4 entry path.
  std::array<QString, 5> subitems;
};

namespace dialog {

// Sub-item positions that the other handlers read.
inline constexpr int kKindItem = 3;
inline constexpr int kPathItem = 4;

// How often `c` occurs in `text`.
int countchar(QChar c, const QString& text);
// The 1-based position of the n-th `c` in `text`, or INT_MAX when there is none.
int nthcharpos(QChar c, const QString& text, int n);

// Upper-cases the ASCII letters a to z only; every other character keeps its case.
QString asciiupper(const QString& text);

// The extension of a file name: from the last "." after the last "\" or ":", dot
// included; empty when there is none.
QString extensionof(const QString& name);
// The file-name part of a path: everything after its last "\" or ":".
QString filenamepart(const QString& path);

// A byte count as the byte total and the drive sizes show it: "0 Byte(s)", "1.5 KByte",
// "1.02E3 KByte", "1 MByte"; a negative count gives the empty text.
QString sizetext(qint64 count);
// The size column: empty for a directory, else the size in whole KB with 1 to 1023 bytes
// counted as 1024 ("0 KB", "1 KB", "1024 KB").
QString kbtext(qint64 size, bool isdirectory);
// The modified column: the universal time converted to local time, written as the short
// date, two blanks and the time without seconds.
QString datetimetext(platform::FileTime lastwrite);
// The detail size: bytes / 1024 with thousands separators and one decimal, " Kb" added.
QString kbdetailtext(qint64 size);
// The detail date of a local time: the short date, a space and the long time, the time
// left out at exactly midnight.
QString detaildatetext(const QDateTime& stamp);

// The quotient numerator / denominator in general format with three significant digits
// (fixed below 1000, otherwise mantissa, "E" and the power of ten), decimal separator
// of the locale. Both must be positive.
QString generalformat3(quint64 numerator, quint64 denominator);

// The byte key by which an entry sorts under sort key index k (0 to 4).
QByteArray sortkey(const ListEntry& entry, int k);
// The caption as the sort compares it: upper-cased under the user's locale.
QByteArray sortcaption(const ListEntry& entry);
// -1, 0 or +1: the entries' keys under index k compared byte by byte, then the
// upper-cased captions.
int compareentries(const ListEntry& a, const ListEntry& b, int k);

// How one item of the folder combo ("0:Drives", "1:C:\\", "T3:C:\\A\\B\\") is drawn: the
// path it stands for, whether it is the drives pseudo-folder, whether it is the current
// location (shown with the open-state icon), its level and its indent in pixels (8 per
// level in the open list, none in the closed combo's field).
struct ComboItemLook {
  QString path;
  bool drives = false;
  bool open = false;
  int level = 0;
  int indent = 0;
};
ComboItemLook comboitemlook(const QString& itemtext, bool infield);

}  // namespace dialog
