#include "dialog/texts.h"

#include <QLocale>

#include <algorithm>

#include <cstring>

#include "platform/date_time.h"

namespace dialog {

int countchar(QChar c, const QString& text) {
  return int(text.count(c));
}

int nthcharpos(QChar c, const QString& text, int n) {
  int seen = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == c && ++seen == n) return int(i) + 1;
  }
  return INT_MAX;
}

QString asciiupper(const QString& text) {
  QString result = text;
  for (QChar& ch : result) {
    if (ch >= QLatin1Char('a') && ch <= QLatin1Char('z')) ch = QChar(ch.unicode() - 32);
  }
  return result;
}

static qsizetype lastseparator(const QString& path) {
  for (qsizetype i = path.size() - 1; i >= 0; --i) {
    if (path[i] == QLatin1Char('\\') || path[i] == QLatin1Char(':')) return i;
  }
  return -1;
}

QString extensionof(const QString& name) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot < 0 || dot < lastseparator(name)) return QString();
  return name.mid(dot);
}

QString filenamepart(const QString& path) {
  return path.mid(lastseparator(path) + 1);
}

namespace {

using u128 = unsigned __int128;

u128 pow10(int e) {
  u128 p = 1;
  while (e-- > 0) p *= 10;
  return p;
}

int decimaldigits(quint64 v) {
  int d = 1;
  while (v >= 10) {
    v /= 10;
    ++d;
  }
  return d;
}

// Rounds num / den to the nearest whole number, halves away from zero.
u128 roundhalfup(u128 num, u128 den) {
  return (2 * num + den) / (2 * den);
}

QString groupdigits(const QString& digits, const QString& separator) {
  QString out;
  const qsizetype n = digits.size();
  for (qsizetype i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}

}  // namespace

QString generalformat3(quint64 numerator, quint64 denominator) {
  constexpr int kPrecision = 3;
  // The counts shown are never below the unit they are divided by, so the quotient is
  // at least 1 and its power of ten follows from the whole part.
  const quint64 whole = numerator / denominator;
  int exponent = whole == 0 ? 0 : decimaldigits(whole) - 1;
  u128 significant;
  if (exponent < kPrecision - 1) {
    significant = roundhalfup(u128(numerator) * pow10(kPrecision - 1 - exponent), denominator);
  } else {
    significant = roundhalfup(numerator, u128(denominator) * pow10(exponent - (kPrecision - 1)));
  }
  if (significant >= pow10(kPrecision)) {
    significant /= 10;
    ++exponent;
  }
  QString digits = QString::number(quint64(significant));
  const QString point = platform::UserLocale().decimalPoint();
  if (exponent < kPrecision) {
    QString intpart = digits.left(exponent + 1);
    QString fraction = digits.mid(exponent + 1);
    while (fraction.endsWith(QLatin1Char('0'))) fraction.chop(1);
    return fraction.isEmpty() ? intpart : intpart + point + fraction;
  }
  QString fraction = digits.mid(1);
  while (fraction.endsWith(QLatin1Char('0'))) fraction.chop(1);
  QString mantissa = fraction.isEmpty() ? digits.left(1) : digits.left(1) + point + fraction;
  return mantissa + QLatin1Char('E') + QString::number(exponent);
}

QString sizetext(qint64 count) {
  if (count < 0) return QString();
  if (count < 1024) return QString::number(count) + QStringLiteral(" Byte(s)");
  if (count < 1048576) return generalformat3(quint64(count), 1024) + QStringLiteral(" KByte");
  return generalformat3(quint64(count), 1048576) + QStringLiteral(" MByte");
}

QString kbtext(qint64 size, bool isdirectory) {
  if (isdirectory) return QString();
  if (size > 0 && size < 1024) size = 1024;
  return QString::number(size / 1024) + QStringLiteral(" KB");
}

QString datetimetext(platform::FileTime lastwrite) {
  return platform::FileTimeText(lastwrite);
}

QString kbdetailtext(qint64 size) {
  // Exactly one decimal, but no more than eight significant digits: from 100,000,000 Kb
  // up the digits past the eighth become zeros, and the decimal with them.
  const QLocale& locale = platform::UserLocale();
  const quint64 bytes = size < 0 ? 0 : quint64(size);
  const int wholedigits = decimaldigits(bytes / 1024);
  quint64 tenths;
  if (wholedigits <= 7) {
    tenths = quint64(roundhalfup(u128(bytes) * 10, 1024));
  } else {
    const u128 unit = u128(1024) * pow10(wholedigits - 8);
    tenths = quint64(roundhalfup(bytes, unit) * pow10(wholedigits - 8) * 10);
  }
  const QString whole = groupdigits(QString::number(tenths / 10), locale.groupSeparator());
  return whole + locale.decimalPoint() + QString::number(tenths % 10) + QStringLiteral(" Kb");
}

QString detaildatetext(const QDateTime& stamp) {
  QString text = platform::ShortDateText(stamp.date());
  if (stamp.time() != QTime(0, 0)) text += QLatin1Char(' ') + platform::LongTimeText(stamp.time());
  return text;
}

QByteArray sortkey(const ListEntry& entry, int k) {
  const QString& kind = entry.subitems[kKindItem];
  QString key = (k >= 0 && k < int(entry.subitems.size())) ? entry.subitems[size_t(k)] : QString();
  if (k == 0) {
    if (key.size() < 10) key = QString(10 - key.size(), QLatin1Char('0')) + key;
    key = kind + key;
  } else if (k == 1 || k == 2 || k == 4) {
    key = kind + key;
  }
  return key.toUtf8();
}

QByteArray sortcaption(const ListEntry& entry) {
  return platform::UserLocale().toUpper(entry.caption).toUtf8();
}

static int comparebytes(const QByteArray& a, const QByteArray& b) {
  const qsizetype n = std::min(a.size(), b.size());
  const int c = n == 0 ? 0 : std::memcmp(a.constData(), b.constData(), size_t(n));
  if (c != 0) return c < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int compareentries(const ListEntry& a, const ListEntry& b, int k) {
  const int bykey = comparebytes(sortkey(a, k), sortkey(b, k));
  if (bykey != 0) return bykey;
  return comparebytes(sortcaption(a), sortcaption(b));
}

ComboItemLook comboitemlook(const QString& itemtext, bool infield) {
  ComboItemLook look;
  QString text = itemtext;
  look.open = text.startsWith(QLatin1Char('T'));
  if (look.open) text.remove(0, 1);
  const qsizetype colon = text.indexOf(QLatin1Char(':'));
  look.drives = text == QLatin1String("0:Drives");
  look.path = look.drives ? QStringLiteral("Drives") : text.mid(colon + 1);
  look.level = text.left(std::max<qsizetype>(colon, 0)).toInt();
  look.indent = infield ? 0 : 8 * look.level;
  return look;
}

}  // namespace dialog
