#include "platform/ini_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "platform/paths.h"

namespace platform {

namespace {

// One line of the text: where it starts, where its content ends (before "\r\n" or
// "\n") and where the next line starts.
struct Line {
  qsizetype start;
  qsizetype contentEnd;
  qsizetype next;
};

std::vector<Line> SplitLines(const QByteArray& text) {
  std::vector<Line> lines;
  qsizetype start = 0;
  // A byte order mark belongs to no line's content.
  if (text.startsWith("\xEF\xBB\xBF")) start = 3;
  while (start < text.size()) {
    qsizetype end = text.indexOf('\n', start);
    const qsizetype next = end < 0 ? text.size() : end + 1;
    if (end < 0) end = text.size();
    qsizetype contentEnd = end;
    if (contentEnd > start && text.at(contentEnd - 1) == '\r') --contentEnd;
    lines.push_back({start, contentEnd, next});
    start = next;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

QByteArrayView Trimmed(QByteArrayView text) {
  qsizetype a = 0, b = text.size();
  while (a < b && IsBlank(text[a])) ++a;
  while (b > a && IsBlank(text[b - 1])) --b;
  return text.sliced(a, b - a);
}

bool SameName(QByteArrayView bytes, const QString& name) {
  return QString::compare(QString::fromUtf8(bytes), name.trimmed(), Qt::CaseInsensitive) == 0;
}

// The section name of a line "[Name]" (blanks around it allowed), or nothing.
std::optional<QByteArrayView> SectionName(QByteArrayView content) {
  const QByteArrayView line = Trimmed(content);
  if (line.isEmpty() || line[0] != '[') return std::nullopt;
  qsizetype close = line.indexOf(']');
  if (close < 0) close = line.size();
  return Trimmed(line.sliced(1, close - 1));
}

// The position of "=" in a key line, or -1 for comments and lines without one.
qsizetype KeySeparator(QByteArrayView content) {
  const QByteArrayView line = Trimmed(content);
  if (line.isEmpty() || line[0] == ';') return -1;
  return content.indexOf('=');
}

struct Location {
  qsizetype sectionLine = -1;  // index of the section's header line
  qsizetype keyLine = -1;      // index of the key's line
  qsizetype lastContent = -1;  // last non-blank line of the section
};

Location Find(const QByteArray& text, const std::vector<Line>& lines, const QString& section,
              const QString& key) {
  Location where;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const QByteArrayView content(text.constData() + lines[i].start,
                                 lines[i].contentEnd - lines[i].start);
    if (const auto name = SectionName(content)) {
      if (inSection) break;  // the section ended; only its first occurrence counts
      if (SameName(*name, section)) {
        inSection = true;
        where.sectionLine = qsizetype(i);
        where.lastContent = qsizetype(i);
      }
      continue;
    }
    if (!inSection) continue;
    if (!Trimmed(content).isEmpty()) where.lastContent = qsizetype(i);
    const qsizetype eq = KeySeparator(content);
    if (eq >= 0 && where.keyLine < 0 && SameName(Trimmed(content.first(eq)), key))
      where.keyLine = qsizetype(i);
  }
  return where;
}

QByteArray LineEnding(const QByteArray& text) {
  const qsizetype lf = text.indexOf('\n');
  if (lf < 0 || (lf > 0 && text.at(lf - 1) == '\r')) return "\r\n";
  return "\n";
}

QByteArray OneLine(const QString& value) {
  QByteArray bytes = value.toUtf8();
  bytes.replace('\r', ' ');
  bytes.replace('\n', ' ');
  return bytes;
}

}  // namespace

QString ProfileStringFromText(const QByteArray& text, const QString& section,
                              const QString& key, const QString& defaultValue) {
  const std::vector<Line> lines = SplitLines(text);
  const Location where = Find(text, lines, section, key);
  if (where.keyLine < 0) return defaultValue;
  const Line& line = lines[size_t(where.keyLine)];
  const QByteArrayView content(text.constData() + line.start, line.contentEnd - line.start);
  QByteArrayView value = Trimmed(content.sliced(KeySeparator(content) + 1));
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
      value[value.size() - 1] == value[0])
    value = value.sliced(1, value.size() - 2);
  return QString::fromUtf8(value);
}

QByteArray ProfileTextWithValue(const QByteArray& text, const QString& section,
                                const QString& key, const QString& value) {
  const std::vector<Line> lines = SplitLines(text);
  const Location where = Find(text, lines, section, key);
  const QByteArray eol = LineEnding(text);
  QByteArray out;
  if (where.keyLine >= 0) {
    // Keep the key as written, with everything up to and including "=".
    const Line& line = lines[size_t(where.keyLine)];
    const QByteArrayView content(text.constData() + line.start, line.contentEnd - line.start);
    const qsizetype valueStart = line.start + KeySeparator(content) + 1;
    out = text.left(valueStart) + OneLine(value) + text.mid(line.contentEnd);
    return out;
  }
  const QByteArray newLine = OneLine(key.trimmed()) + '=' + OneLine(value) + eol;
  if (where.sectionLine >= 0) {
    const Line& last = lines[size_t(where.lastContent)];
    // The last line of the section may lack its line ending at the end of the file.
    if (last.next == last.contentEnd)
      return text.left(last.next) + eol + newLine + text.mid(last.next);
    return text.left(last.next) + newLine + text.mid(last.next);
  }
  out = text;
  if (!out.isEmpty() && !out.endsWith('\n')) out += eol;
  out += '[' + OneLine(section.trimmed()) + ']' + eol + newLine;
  return out;
}

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, const QString& fileName) {
  QFile file(HostPath(fileName));
  if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly)) return defaultValue;
  return ProfileStringFromText(file.readAll(), section, key, defaultValue);
}

bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& fileName) {
  // Names that the file could not hold back are refused rather than written wrongly.
  if (section.trimmed().isEmpty() || key.trimmed().isEmpty() ||
      section.contains(QLatin1Char(']')) || key.contains(QLatin1Char('=')) ||
      key.trimmed().startsWith(QLatin1Char(';')) || key.trimmed().startsWith(QLatin1Char('[')) ||
      section.contains(QLatin1Char('\n')) || key.contains(QLatin1Char('\n')))
    return false;
  const QString host = HostPath(fileName);
  if (host.isEmpty()) return false;
  QByteArray text;
  QFile existing(host);
  if (existing.exists()) {
    if (!existing.open(QIODevice::ReadOnly)) return false;
    text = existing.readAll();
    if (existing.error() != QFileDevice::NoError) return false;
    existing.close();
  }
  const QByteArray updated = ProfileTextWithValue(text, section, key, value);
  if (updated == text && existing.exists()) return true;
  QSaveFile out(host);
  // A folder that allows writing the file but not adding a new one is written in place.
  out.setDirectWriteFallback(true);
  if (!out.open(QIODevice::WriteOnly)) return false;
  if (out.write(updated) != updated.size()) {
    out.cancelWriting();
    return false;
  }
  return out.commit();
}

}  // namespace platform
