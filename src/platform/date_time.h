// File times and the user's date and time formats.
//
// Texts follow the user's locale, QLocale::system(), unless a test pins another one with
// SetUserLocale. Formatting is precompiled per locale, so that a listing of many files
// formats its dates quickly.
#pragma once

#include <cstdint>

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

namespace platform {

// A point in time as 100-nanosecond intervals since 1601-01-01 00:00 UTC, as Windows
// file times count. Whether it is universal or local time depends on where it came from.
struct FileTime {
  int64_t value = 0;
  friend bool operator==(FileTime, FileTime) = default;
};

// Calendar fields of a file time.
struct SystemTime {
  int year = 1601;
  int month = 1;      // 1 to 12
  int dayOfWeek = 1;  // 0 = Sunday
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// The file time of a POSIX time (seconds and nanoseconds since 1970, UTC).
FileTime FileTimeFromUnix(int64_t seconds, int64_t nanoseconds = 0);

// Universal to local time, with the offset in force at that moment in the host's time
// zone. Fails (false) only for times outside the range the host can convert.
bool FileTimeToLocalFileTime(FileTime universal, FileTime* local);
// Splits a file time into calendar fields. Fails for negative values.
bool FileTimeToSystemTime(FileTime time, SystemTime* fields);

// The locale whose formats and separators the dialog uses.
const QLocale& UserLocale();
// Pins the locale (tests). ResetUserLocale goes back to QLocale::system().
void SetUserLocale(const QLocale& locale);
void ResetUserLocale();

// The date in the user's short date format.
QString GetDateFormat(const SystemTime& time);
// The time in the user's long time format (with seconds, without the time zone); with
// `noSeconds` in the user's short time format, which holds hours and minutes only (should
// a locale's short format hold seconds, they are removed with their separator).
QString GetTimeFormat(const SystemTime& time, bool noSeconds);

// Short date, two blanks, time without seconds, of a universal file time converted to
// local time: the Modified text of a listing. Empty for a time that cannot be converted.
QString FileTimeText(FileTime universal);

// The short date and the long time (with seconds) of a local date and time.
QString ShortDateText(const QDate& date);
QString LongTimeText(const QTime& time);

// The local date and time of a universal file time (invalid when out of range).
QDateTime FileTimeToLocalDateTime(FileTime universal);

}  // namespace platform
