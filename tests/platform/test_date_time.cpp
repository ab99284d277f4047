// File time conversion and the user's date and time formats.
#include <gtest/gtest.h>

#include <time.h>

#include "platform/date_time.h"
#include "support/platform_env.h"

using namespace platform;
using platform_test::ScopedEnv;

namespace {

TEST(FileTimes, UnixEpochAndCalendarFields) {
  EXPECT_EQ(FileTimeFromUnix(0).value, 116444736000000000);
  EXPECT_EQ(FileTimeFromUnix(-1).value, 116444735990000000);
  const struct {
    int64_t seconds;
    int64_t nanos;
    SystemTime fields;
  } cases[] = {
      {0, 0, {1970, 1, 4, 1, 0, 0, 0, 0}},                        // a Thursday
      {951827696, 789000000, {2000, 2, 2, 29, 12, 34, 56, 789}},  // leap day, Tuesday
      {-11644473600, 0, {1601, 1, 1, 1, 0, 0, 0, 0}},             // the first file time
      {4102444799, 0, {2099, 12, 4, 31, 23, 59, 59, 0}},
      {-86400, 0, {1969, 12, 3, 31, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SystemTime t;
    ASSERT_TRUE(FileTimeToSystemTime(FileTimeFromUnix(c.seconds, c.nanos), &t)) << c.seconds;
    EXPECT_EQ(t.year, c.fields.year) << c.seconds;
    EXPECT_EQ(t.month, c.fields.month) << c.seconds;
    EXPECT_EQ(t.dayOfWeek, c.fields.dayOfWeek) << c.seconds;
    EXPECT_EQ(t.day, c.fields.day) << c.seconds;
    EXPECT_EQ(t.hour, c.fields.hour) << c.seconds;
    EXPECT_EQ(t.minute, c.fields.minute) << c.seconds;
    EXPECT_EQ(t.second, c.fields.second) << c.seconds;
    EXPECT_EQ(t.milliseconds, c.fields.milliseconds) << c.seconds;
  }
  SystemTime t;
  EXPECT_FALSE(FileTimeToSystemTime(FileTime{-1}, &t));
}

TEST(FileTimes, UniversalToLocalUsesTheOffsetOfThatMoment) {
  ScopedEnv tz("TZ", QString("Europe/Berlin"));
  tzset();
  FileTime local;
  // Winter: UTC+1; summer: UTC+2.
  ASSERT_TRUE(FileTimeToLocalFileTime(FileTimeFromUnix(1700000000), &local));
  EXPECT_EQ(local.value, FileTimeFromUnix(1700000000 + 3600).value);
  ASSERT_TRUE(FileTimeToLocalFileTime(FileTimeFromUnix(1690000000), &local));
  EXPECT_EQ(local.value, FileTimeFromUnix(1690000000 + 7200).value);
  EXPECT_FALSE(FileTimeToLocalFileTime(FileTime{-5}, &local));
  unsetenv("TZ");
}

TEST(DateFormats, KnownLocales) {
  ScopedEnv tz("TZ", QString("UTC"));
  tzset();
  SystemTime t;
  ASSERT_TRUE(FileTimeToSystemTime(FileTimeFromUnix(951827696), &t));  // 2000-02-29 12:34:56
  SystemTime morning = t;
  morning.hour = 0;
  morning.minute = 5;
  const struct {
    const char* locale;
    const char* date;
    const char* time;
    const char* timeNoSeconds;
    const char* midnightNoSeconds;
  } cases[] = {
      {"en_US", "2/29/00", "12:34:56 PM", "12:34 PM", "12:05 AM"},
      {"de_DE", "29.02.00", "12:34:56", "12:34", "00:05"},
      {"fr_FR", "29/02/2000", "12:34:56", "12:34", "00:05"},
      {"C", "29 Feb 2000", "12:34:56", "12:34", "00:05"},
  };
  for (const auto& c : cases) {
    SetUserLocale(QLocale(QString::fromLatin1(c.locale)));
    EXPECT_EQ(GetDateFormat(t), c.date) << c.locale;
    EXPECT_EQ(GetTimeFormat(t, false), c.time) << c.locale;
    EXPECT_EQ(GetTimeFormat(t, true), c.timeNoSeconds) << c.locale;
    EXPECT_EQ(GetTimeFormat(morning, true), c.midnightNoSeconds) << c.locale;
    // The Modified text: short date, two blanks, time without seconds.
    EXPECT_EQ(FileTimeText(FileTimeFromUnix(951827696)),
              QString::fromLatin1(c.date) + "  " + c.timeNoSeconds)
        << c.locale;
  }
  ResetUserLocale();
  unsetenv("TZ");
}

// The precompiled formats write what Qt itself writes for the same format, on every
// locale Qt knows: other digits, names, orders, quoted text and 12-hour clocks.
TEST(DateFormats, AgreeWithQtOnEveryLocale) {
  const QDate dates[] = {QDate(2000, 2, 29), QDate(1999, 12, 31), QDate(2024, 7, 4),
                         QDate(1601, 1, 1), QDate(2038, 1, 19)};
  const QTime times[] = {QTime(0, 0, 0), QTime(12, 0, 1), QTime(23, 59, 59), QTime(7, 5, 9)};
  const QList<QLocale> locales =
      QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
  ASSERT_GT(locales.size(), 100);
  int quoted = 0;
  for (const QLocale& locale : locales) {
    const std::string name = locale.name().toStdString();
    SetUserLocale(locale);
    const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
    if (shortDate.contains('\'')) ++quoted;
    for (const QDate& date : dates)
      EXPECT_EQ(ShortDateText(date), locale.toString(date, shortDate))
          << name << " " << date.toString(Qt::ISODate).toStdString();
    QString longTime = locale.timeFormat(QLocale::LongFormat);
    if (longTime.contains('\'')) ++quoted;
    longTime.replace(" (t)", "").replace(" t", "").replace("t ", "").replace("t", "");
    // A short format with seconds (the C locale's) loses them with their separator.
    QString noSeconds = locale.timeFormat(QLocale::ShortFormat);
    noSeconds.replace(":ss", "");
    for (const QTime& time : times) {
      EXPECT_EQ(LongTimeText(time), locale.toString(time, longTime))
          << name << " " << time.toString().toStdString();
      SystemTime fields;
      fields.hour = time.hour();
      fields.minute = time.minute();
      fields.second = time.second();
      EXPECT_EQ(GetTimeFormat(fields, true), locale.toString(time, noSeconds))
          << name << " " << time.toString().toStdString();
    }
  }
  EXPECT_GT(quoted, 0);  // the quoting rules were exercised
  ResetUserLocale();
}

TEST(DateFormats, PinnedLocaleAndReset) {
  SetUserLocale(QLocale("de_DE"));
  EXPECT_EQ(UserLocale().name(), "de_DE");
  EXPECT_EQ(ShortDateText(QDate(2000, 1, 2)), "02.01.00");
  SetUserLocale(QLocale("en_US"));
  EXPECT_EQ(ShortDateText(QDate(2000, 1, 2)), "1/2/00");  // no stale cached format
  ResetUserLocale();
  EXPECT_EQ(UserLocale().name(), QLocale::system().name());
}

}  // namespace
