#include "platform/date_time.h"

#include <time.h>

#include <memory>
#include <optional>
#include <vector>

namespace platform {

namespace {

constexpr int64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11'644'473'600;

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const int64_t era = FloorDiv(days, 146097);
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = int(doy - (153 * mp + 2) / 5 + 1);
  *month = int(mp < 10 ? mp + 3 : mp - 9);
  *year = int(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

// A QLocale date or time format, split once into fields and literal text, so that many
// dates can be written without parsing the format again.
class CompiledFormat {
 public:
  enum class Field {
    Literal, Day, Day2, DayShortName, DayLongName, Month, Month2, MonthShortName,
    MonthLongName, Year2, Year4, Hour12, Hour12_2, Hour24, Hour24_2, Minute, Minute2,
    Second, Second2, Millis, Millis3, AmPmUpper, AmPmLower
  };
  struct Token {
    Field field;
    QString literal;
  };

  CompiledFormat(const QLocale& locale, const QString& format) : locale_(locale) {
    Compile(format);
  }

  // Drops the time zone and, with `noSeconds`, the seconds with the separator before them.
  void Strip(bool noSeconds) {
    std::vector<Token> kept;
    for (const Token& token : tokens_) {
      const bool seconds = token.field == Field::Second || token.field == Field::Second2 ||
                           token.field == Field::Millis || token.field == Field::Millis3;
      if (token.field == Field::Literal && token.literal == QLatin1String("\x01")) {
        // The zone goes with the blanks before it; other text before it stays.
        if (!kept.empty() && kept.back().field == Field::Literal) {
          QString& text = kept.back().literal;
          while (!text.isEmpty() && text.back().isSpace()) text.chop(1);
          if (text.isEmpty()) kept.pop_back();
        }
        continue;
      }
      if (noSeconds && seconds) {
        DropTrailingLiteral(kept);
        continue;
      }
      kept.push_back(token);
    }
    // Blanks left at either end by a removed field go as well.
    if (!kept.empty() && kept.front().field == Field::Literal) {
      QString& text = kept.front().literal;
      while (!text.isEmpty() && text.front().isSpace()) text.remove(0, 1);
      if (text.isEmpty()) kept.erase(kept.begin());
    }
    if (!kept.empty() && kept.back().field == Field::Literal) {
      QString& text = kept.back().literal;
      while (!text.isEmpty() && text.back().isSpace()) text.chop(1);
      if (text.isEmpty()) kept.pop_back();
    }
    tokens_ = std::move(kept);
  }

  QString Write(const SystemTime& t) const {
    QString out;
    out.reserve(24);
    for (const Token& token : tokens_) {
      switch (token.field) {
        case Field::Literal: out += token.literal; break;
        case Field::Day: Number(out, t.day, 1); break;
        case Field::Day2: Number(out, t.day, 2); break;
        case Field::DayShortName:
          out += locale_.dayName(t.dayOfWeek == 0 ? 7 : t.dayOfWeek, QLocale::ShortFormat);
          break;
        case Field::DayLongName:
          out += locale_.dayName(t.dayOfWeek == 0 ? 7 : t.dayOfWeek, QLocale::LongFormat);
          break;
        case Field::Month: Number(out, t.month, 1); break;
        case Field::Month2: Number(out, t.month, 2); break;
        case Field::MonthShortName: out += locale_.monthName(t.month, QLocale::ShortFormat); break;
        case Field::MonthLongName: out += locale_.monthName(t.month, QLocale::LongFormat); break;
        case Field::Year2: Number(out, ((t.year % 100) + 100) % 100, 2); break;
        case Field::Year4: Number(out, t.year, 4); break;
        case Field::Hour12: Number(out, Hour12(t.hour), 1); break;
        case Field::Hour12_2: Number(out, Hour12(t.hour), 2); break;
        case Field::Hour24: Number(out, t.hour, 1); break;
        case Field::Hour24_2: Number(out, t.hour, 2); break;
        case Field::Minute: Number(out, t.minute, 1); break;
        case Field::Minute2: Number(out, t.minute, 2); break;
        case Field::Second: Number(out, t.second, 1); break;
        case Field::Second2: Number(out, t.second, 2); break;
        case Field::Millis: Number(out, t.milliseconds, 1); break;
        case Field::Millis3: Number(out, t.milliseconds, 3); break;
        case Field::AmPmUpper:
          out += (t.hour < 12 ? locale_.amText() : locale_.pmText()).toUpper();
          break;
        case Field::AmPmLower:
          out += (t.hour < 12 ? locale_.amText() : locale_.pmText()).toLower();
          break;
      }
    }
    return out;
  }

 private:
  static int Hour12(int hour) {
    const int h = hour % 12;
    return h == 0 ? 12 : h;
  }

  void Number(QString& out, int value, int width) const {
    char32_t digits[12];
    int n = 0;
    unsigned v = value < 0 ? 0u : unsigned(value);
    do {
      digits[n++] = zero_ + v % 10;
      v /= 10;
    } while (v != 0 && n < 12);
    while (n < width && n < 12) digits[n++] = zero_;
    for (int i = n - 1; i >= 0; --i) {
      if (QChar::requiresSurrogates(digits[i])) {
        out += QChar(QChar::highSurrogate(digits[i]));
        out += QChar(QChar::lowSurrogate(digits[i]));
      } else {
        out += QChar(char16_t(digits[i]));
      }
    }
  }

  static void DropTrailingLiteral(std::vector<Token>& tokens) {
    if (!tokens.empty() && tokens.back().field == Field::Literal) tokens.pop_back();
  }

  void AddLiteral(const QString& text) {
    if (!tokens_.empty() && tokens_.back().field == Field::Literal &&
        tokens_.back().literal != QLatin1String("\x01"))
      tokens_.back().literal += text;
    else
      tokens_.push_back({Field::Literal, text});
  }

  void Compile(const QString& format) {
    // Some scripts have digits outside the basic plane.
    const QList<uint> zero = locale_.zeroDigit().toUcs4();
    zero_ = zero.size() == 1 ? char32_t(zero.first()) : U'0';
    bool twelveHour = format.contains(QLatin1Char('a'), Qt::CaseInsensitive);
    qsizetype i = 0;
    while (i < format.size()) {
      const QChar c = format.at(i);
      if (c == QLatin1Char('\'')) {
        // Quoted text; two quotes stand for one.
        qsizetype j = i + 1;
        QString text;
        if (j < format.size() && format.at(j) == QLatin1Char('\'')) {
          AddLiteral(QStringLiteral("'"));
          i += 2;
          continue;
        }
        while (j < format.size()) {
          if (format.at(j) == QLatin1Char('\'')) {
            if (j + 1 < format.size() && format.at(j + 1) == QLatin1Char('\'')) {
              text += QLatin1Char('\'');
              j += 2;
              continue;
            }
            break;
          }
          text += format.at(j++);
        }
        AddLiteral(text);
        i = j + 1;
        continue;
      }
      qsizetype run = 1;
      while (i + run < format.size() && format.at(i + run) == c) ++run;
      const char16_t u = c.unicode();
      std::optional<Field> field;
      qsizetype used = run;
      switch (u) {
        case u'd':
          used = std::min<qsizetype>(run, 4);
          field = used == 1 ? Field::Day : used == 2 ? Field::Day2
                  : used == 3 ? Field::DayShortName : Field::DayLongName;
          break;
        case u'M':
          used = std::min<qsizetype>(run, 4);
          field = used == 1 ? Field::Month : used == 2 ? Field::Month2
                  : used == 3 ? Field::MonthShortName : Field::MonthLongName;
          break;
        case u'y':
          if (run >= 4) { used = 4; field = Field::Year4; }
          else if (run >= 2) { used = 2; field = Field::Year2; }
          break;
        case u'h':
          used = std::min<qsizetype>(run, 2);
          field = twelveHour ? (used == 1 ? Field::Hour12 : Field::Hour12_2)
                             : (used == 1 ? Field::Hour24 : Field::Hour24_2);
          break;
        case u'H':
          used = std::min<qsizetype>(run, 2);
          field = used == 1 ? Field::Hour24 : Field::Hour24_2;
          break;
        case u'm':
          used = std::min<qsizetype>(run, 2);
          field = used == 1 ? Field::Minute : Field::Minute2;
          break;
        case u's':
          used = std::min<qsizetype>(run, 2);
          field = used == 1 ? Field::Second : Field::Second2;
          break;
        case u'z':
          used = run >= 3 ? 3 : 1;
          field = used == 3 ? Field::Millis3 : Field::Millis;
          break;
        case u'A':
        case u'a': {
          // "AP", "ap", "A" or "a".
          const bool pair = i + 1 < format.size() &&
                            format.at(i + 1).toLower() == QLatin1Char('p');
          used = pair ? 2 : 1;
          field = c.isUpper() ? Field::AmPmUpper : Field::AmPmLower;
          break;
        }
        case u't':
          // The time zone: marked, and dropped by Strip.
          used = run;
          tokens_.push_back({Field::Literal, QStringLiteral("\x01")});
          i += used;
          continue;
        default: break;
      }
      if (field) {
        tokens_.push_back({*field, QString()});
        i += used;
      } else {
        AddLiteral(QString(c));
        ++i;
      }
    }
  }

  QLocale locale_;
  char32_t zero_ = U'0';
  std::vector<Token> tokens_;
};

// Removes a bracketed zone "(t)" with the blank before it; a bare "t" is left to
// CompiledFormat::Strip.
QString WithoutZone(QString format) {
  format.replace(QStringLiteral(" (t)"), QString());
  format.replace(QStringLiteral("(t)"), QString());
  return format;
}

struct Formats {
  QLocale locale;
  CompiledFormat shortDate;
  CompiledFormat time;           // long time without time zone
  CompiledFormat timeNoSeconds;  // the same without seconds

  // The long time format names the time zone, which a file time does not show; the
  // short time format is the locale's own way of writing a time without seconds.
  explicit Formats(const QLocale& l)
      : locale(l),
        shortDate(l, l.dateFormat(QLocale::ShortFormat)),
        time(l, WithoutZone(l.timeFormat(QLocale::LongFormat))),
        timeNoSeconds(l, l.timeFormat(QLocale::ShortFormat)) {
    shortDate.Strip(false);
    time.Strip(false);
    timeNoSeconds.Strip(true);
  }
};

std::optional<QLocale>& PinnedLocale() {
  static std::optional<QLocale> pinned;
  return pinned;
}

std::unique_ptr<Formats>& FormatStore() {
  static std::unique_ptr<Formats> formats;
  return formats;
}

const Formats& CurrentFormats() {
  std::unique_ptr<Formats>& store = FormatStore();
  if (!store) store = std::make_unique<Formats>(UserLocale());
  return *store;
}

// Remembers the last day written, since the files of one folder often share dates.
struct DayCache {
  int64_t day = INT64_MIN;
  QString text;
  int generation = -1;
};

// Counts the changes of the pinned locale, so that cached texts of an older one are not
// used.
int formatGeneration = 0;

SystemTime FieldsOfDate(const QDate& date) {
  SystemTime t;
  t.year = date.year();
  t.month = date.month();
  t.day = date.day();
  t.dayOfWeek = date.dayOfWeek() % 7;
  return t;
}

SystemTime FieldsOfTime(const QTime& time) {
  SystemTime t;
  t.hour = time.hour();
  t.minute = time.minute();
  t.second = time.second();
  t.milliseconds = time.msec();
  return t;
}

}  // namespace

FileTime FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  return FileTime{(seconds + kEpochDifference) * kTicksPerSecond + nanoseconds / 100};
}

bool FileTimeToLocalFileTime(FileTime universal, FileTime* local) {
  if (universal.value < 0) return false;
  const time_t seconds = time_t(universal.value / kTicksPerSecond - kEpochDifference);
  struct tm fields;
  if (!localtime_r(&seconds, &fields)) return false;
  local->value = universal.value + int64_t(fields.tm_gmtoff) * kTicksPerSecond;
  return true;
}

bool FileTimeToSystemTime(FileTime time, SystemTime* fields) {
  if (time.value < 0) return false;
  const int64_t seconds = time.value / kTicksPerSecond - kEpochDifference;
  const int64_t days = FloorDiv(seconds, 86400);
  const int64_t secondOfDay = seconds - days * 86400;
  CivilFromDays(days, &fields->year, &fields->month, &fields->day);
  fields->dayOfWeek = int(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  fields->hour = int(secondOfDay / 3600);
  fields->minute = int(secondOfDay / 60 % 60);
  fields->second = int(secondOfDay % 60);
  fields->milliseconds = int(time.value % kTicksPerSecond / 10000);
  return true;
}

const QLocale& UserLocale() {
  static QLocale system;
  if (PinnedLocale()) return *PinnedLocale();
  system = QLocale::system();
  return system;
}

void SetUserLocale(const QLocale& locale) {
  PinnedLocale() = locale;
  FormatStore().reset();
  ++formatGeneration;
}

void ResetUserLocale() {
  PinnedLocale().reset();
  FormatStore().reset();
  ++formatGeneration;
}

QString GetDateFormat(const SystemTime& time) { return CurrentFormats().shortDate.Write(time); }

QString GetTimeFormat(const SystemTime& time, bool noSeconds) {
  const Formats& formats = CurrentFormats();
  return noSeconds ? formats.timeNoSeconds.Write(time) : formats.time.Write(time);
}

QString FileTimeText(FileTime universal) {
  FileTime local;
  SystemTime fields;
  if (!FileTimeToLocalFileTime(universal, &local) || !FileTimeToSystemTime(local, &fields))
    return QString();
  const Formats& formats = CurrentFormats();
  static DayCache cache;
  const int64_t day = local.value / kTicksPerSecond / 86400;
  if (cache.day != day || cache.generation != formatGeneration) {
    cache.day = day;
    cache.generation = formatGeneration;
    cache.text = formats.shortDate.Write(fields) + QStringLiteral("  ");
  }
  return cache.text + formats.timeNoSeconds.Write(fields);
}

QString ShortDateText(const QDate& date) {
  return CurrentFormats().shortDate.Write(FieldsOfDate(date));
}

QString LongTimeText(const QTime& time) { return CurrentFormats().time.Write(FieldsOfTime(time)); }

QDateTime FileTimeToLocalDateTime(FileTime universal) {
  if (universal.value < 0) return QDateTime();
  const int64_t ms = universal.value / 10000 - kEpochDifference * 1000;
  return QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
}

}  // namespace platform
