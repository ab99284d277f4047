#include "platform/ini_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include "platform/code_page.h"
#include "platform/paths.h"
#include "platform/wine_prefix.h"

namespace platform {

namespace {

// A settings file as the profile functions see it: a byte order mark, then text in one
// 8-bit code page. A UTF-16 file is held as UTF-8 and turned back into UTF-16 on writing.
struct ProfileBytes {
  QByteArray mark;
  QByteArray body;
  unsigned codePage = CodePageUtf8;
  std::optional<QStringConverter::Encoding> utf16;
  bool rewritable = true;  // false for a UTF-16 file that does not decode cleanly
};

ProfileBytes Unpack(const QByteArray& file, unsigned ansiCodePage) {
  ProfileBytes bytes;
  if (file.startsWith("\xEF\xBB\xBF")) {
    bytes.mark = file.first(3);
    bytes.body = file.mid(3);
    return bytes;
  }
  if (file.startsWith("\xFF\xFE") || file.startsWith("\xFE\xFF")) {
    bytes.utf16 = file.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE
                                              : QStringConverter::Utf16BE;
    bytes.mark = file.first(2);
    QStringDecoder decode(*bytes.utf16, QStringConverter::Flag::Stateless);
    const QString text = decode(QByteArrayView(file).sliced(2));
    bytes.rewritable = !decode.hasError() && text.isValidUtf16() && file.size() % 2 == 0;
    bytes.body = text.toUtf8();
    return bytes;
  }
  bytes.codePage = ansiCodePage;
  bytes.body = file;
  return bytes;
}

QByteArray Pack(const ProfileBytes& bytes, const QByteArray& body) {
  if (!bytes.utf16) return bytes.mark + body;
  QStringEncoder encode(*bytes.utf16, QStringConverter::Flag::Stateless);
  return bytes.mark + QByteArray(encode(QString::fromUtf8(body)));
}

// One line of the body: where it starts, where its content ends and where the next line
// starts. Lines end at CR LF, CR CR LF, CR or LF, as Windows reads them.
struct Line {
  qsizetype start;
  qsizetype contentEnd;
  qsizetype next;
};

std::vector<Line> SplitLines(const QByteArray& text) {
  std::vector<Line> lines;
  qsizetype start = 0;
  while (start < text.size()) {
    qsizetype end = start;
    while (end < text.size() && text.at(end) != '\r' && text.at(end) != '\n') ++end;
    const QByteArrayView rest = QByteArrayView(text).sliced(end);
    const qsizetype ending = rest.startsWith("\r\r\n") ? 3 : rest.startsWith("\r\n") ? 2
                             : rest.isEmpty()          ? 0
                                                       : 1;
    lines.push_back({start, end, end + ending});
    start = end + ending;
  }
  return lines;
}

// The characters that the profile functions trim around lines, names and values. They
// are ASCII, and no byte below 0x40 is part of a double-byte character in the code pages
// used, so trimming and the search for "=" can work on the bytes.
bool IsProfileSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' ||
         c == '\x1A';
}

QByteArrayView Trimmed(QByteArrayView text) {
  qsizetype a = 0, b = text.size();
  while (a < b && IsProfileSpace(text[a])) ++a;
  while (b > a && IsProfileSpace(text[b - 1])) --b;
  return text.sliced(a, b - a);
}

QString TrimmedName(const QString& name) {
  qsizetype a = 0, b = name.size();
  while (a < b && name.at(a).unicode() < 0x80 && IsProfileSpace(char(name.at(a).unicode()))) ++a;
  while (b > a && name.at(b - 1).unicode() < 0x80 && IsProfileSpace(char(name.at(b - 1).unicode())))
    --b;
  return name.mid(a, b - a);
}

// What a line means to the profile functions.
struct LineMeaning {
  enum Kind { Blank, Section, Key, Comment } kind = Blank;
  QString name;             // section or key name
  qsizetype equals = -1;    // offset of "=" in the line's content; -1 for a bare key
};

LineMeaning Interpret(QByteArrayView content, unsigned codePage) {
  LineMeaning meaning;
  const QByteArrayView line = Trimmed(content);
  if (line.isEmpty()) return meaning;
  if (line[0] == '[') {
    // The name runs to the last "]" of the line, blanks included; a line without "]" is
    // no section header but a key.
    const qsizetype close = line.lastIndexOf(']');
    if (close > 0) {
      meaning.kind = LineMeaning::Section;
      meaning.name = DecodeFromCodePage(line.sliced(1, close - 1), codePage);
      return meaning;
    }
  }
  if (line[0] == ';') {
    meaning.kind = LineMeaning::Comment;
    return meaning;
  }
  meaning.kind = LineMeaning::Key;
  meaning.equals = content.indexOf('=');
  const QByteArrayView name = meaning.equals < 0 ? line : Trimmed(content.first(meaning.equals));
  meaning.name = DecodeFromCodePage(name, codePage);
  return meaning;
}

bool SameName(const QString& found, const QString& wanted) {
  return QString::compare(found, TrimmedName(wanted), Qt::CaseInsensitive) == 0;
}

struct Location {
  qsizetype sectionLine = -1;  // index of the section's header line
  qsizetype keyLine = -1;      // index of the key's line
  qsizetype keyEquals = -1;    // offset of "=" in the key's line, -1 for a bare key
  qsizetype lastContent = -1;  // last non-blank line of the section
};

Location Find(const QByteArray& text, const std::vector<Line>& lines, unsigned codePage,
              const QString& section, const QString& key) {
  Location where;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const QByteArrayView content(text.constData() + lines[i].start,
                                 lines[i].contentEnd - lines[i].start);
    const LineMeaning meaning = Interpret(content, codePage);
    if (meaning.kind == LineMeaning::Section) {
      if (inSection) break;  // the section ended; only its first occurrence counts
      if (SameName(meaning.name, section)) {
        inSection = true;
        where.sectionLine = qsizetype(i);
        where.lastContent = qsizetype(i);
      }
      continue;
    }
    if (!inSection || meaning.kind == LineMeaning::Blank) continue;
    where.lastContent = qsizetype(i);
    if (meaning.kind == LineMeaning::Key && where.keyLine < 0 && SameName(meaning.name, key)) {
      where.keyLine = qsizetype(i);
      where.keyEquals = meaning.equals;
    }
  }
  return where;
}

// The line ending of new lines: the file's first one, CR LF for a file without any.
QByteArray LineEnding(const QByteArray& text, const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (line.next == line.contentEnd) break;
    const QByteArray ending = text.mid(line.contentEnd, line.next - line.contentEnd);
    return ending == "\r\r\n" ? QByteArray("\r\n") : ending;
  }
  return "\r\n";
}

std::optional<QByteArray> OneLine(const QString& text, unsigned codePage) {
  QString line = text;
  line.replace(QLatin1Char('\r'), QLatin1Char(' '));
  line.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return EncodeInCodePage(line, codePage);
}

std::optional<QByteArray> BodyWithValue(const QByteArray& text, unsigned codePage,
                                        const QString& section, const QString& key,
                                        const QString& value) {
  const std::vector<Line> lines = SplitLines(text);
  const Location where = Find(text, lines, codePage, section, key);
  const auto valueBytes = OneLine(value, codePage);
  if (!valueBytes) return std::nullopt;
  if (where.keyLine >= 0) {
    const Line& line = lines[size_t(where.keyLine)];
    // A bare key is the key to the host: it gets its "=" and the value.
    if (where.keyEquals < 0) return text.left(line.contentEnd) + '=' + *valueBytes + text.mid(line.contentEnd);
    // Keep the key as written, with everything up to and including "=".
    return text.left(line.start + where.keyEquals + 1) + *valueBytes + text.mid(line.contentEnd);
  }
  const QByteArray eol = LineEnding(text, lines);
  const auto keyBytes = OneLine(TrimmedName(key), codePage);
  if (!keyBytes) return std::nullopt;
  const QByteArray newLine = *keyBytes + '=' + *valueBytes + eol;
  if (where.sectionLine >= 0) {
    const Line& last = lines[size_t(where.lastContent)];
    // The last line of the section may lack its line ending at the end of the file.
    if (last.next == last.contentEnd)
      return text.left(last.next) + eol + newLine + text.mid(last.next);
    return text.left(last.next) + newLine + text.mid(last.next);
  }
  const auto sectionBytes = OneLine(TrimmedName(section), codePage);
  if (!sectionBytes) return std::nullopt;
  QByteArray out = text;
  if (!out.isEmpty() && !out.endsWith('\n') && !out.endsWith('\r')) out += eol;
  out += '[' + *sectionBytes + ']' + eol + newLine;
  return out;
}

}  // namespace

QString ProfileStringFromText(const QByteArray& text, const QString& section,
                              const QString& key, const QString& defaultValue,
                              unsigned codePage) {
  const ProfileBytes bytes = Unpack(text, codePage);
  const std::vector<Line> lines = SplitLines(bytes.body);
  const Location where = Find(bytes.body, lines, bytes.codePage, section, key);
  // A bare key has no value: the host gets the default for it.
  if (where.keyLine < 0 || where.keyEquals < 0) return defaultValue;
  const Line& line = lines[size_t(where.keyLine)];
  QByteArrayView value =
      Trimmed(QByteArrayView(bytes.body).sliced(line.start + where.keyEquals + 1,
                                                line.contentEnd - line.start - where.keyEquals - 1));
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
      value[value.size() - 1] == value[0])
    value = value.sliced(1, value.size() - 2);
  return DecodeFromCodePage(value, bytes.codePage);
}

std::optional<QByteArray> ProfileTextWithValue(const QByteArray& text, const QString& section,
                                               const QString& key, const QString& value,
                                               unsigned codePage) {
  const ProfileBytes bytes = Unpack(text, codePage);
  if (!bytes.rewritable) return std::nullopt;
  const auto body = BodyWithValue(bytes.body, bytes.codePage, section, key, value);
  if (!body) return std::nullopt;
  return Pack(bytes, *body);
}

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, const QString& fileName) {
  QFile file(HostPath(fileName));
  if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly)) return defaultValue;
  return ProfileStringFromText(file.readAll(), section, key, defaultValue, SettingsCodePage());
}

bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& fileName) {
  // Names that the file could not hold back are refused rather than written wrongly.
  const QString sectionName = TrimmedName(section);
  const QString keyName = TrimmedName(key);
  if (sectionName.isEmpty() || keyName.isEmpty() || section.contains(QLatin1Char(']')) ||
      key.contains(QLatin1Char('=')) || keyName.startsWith(QLatin1Char(';')) ||
      keyName.startsWith(QLatin1Char('[')) || section.contains(QLatin1Char('\n')) ||
      key.contains(QLatin1Char('\n')) || section.contains(QLatin1Char('\r')) ||
      key.contains(QLatin1Char('\r')))
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
  const auto updated = ProfileTextWithValue(text, section, key, value, SettingsCodePage());
  if (!updated) return false;
  if (*updated == text && existing.exists()) return true;
  QSaveFile out(host);
  // A folder that allows writing the file but not adding a new one is written in place.
  out.setDirectWriteFallback(true);
  if (!out.open(QIODevice::WriteOnly)) return false;
  if (out.write(*updated) != updated->size()) {
    out.cancelWriting();
    return false;
  }
  return out.commit();
}

}  // namespace platform
