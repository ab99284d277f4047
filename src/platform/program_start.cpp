#include "platform/program_start.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include "platform/paths.h"

namespace platform {

namespace {

struct Word {
  QString text;
  bool quoted = false;
};

std::vector<Word> Words(const QString& commandLine) {
  std::vector<Word> words;
  Word current;
  bool inWord = false;
  bool inQuotes = false;
  for (QChar c : commandLine) {
    if (c == QLatin1Char('"')) {
      inQuotes = !inQuotes;
      inWord = true;
      current.quoted = true;
      continue;
    }
    if (!inQuotes && (c == QLatin1Char(' ') || c == QLatin1Char('\t'))) {
      if (inWord) words.push_back(current);
      current = Word();
      inWord = false;
      continue;
    }
    current.text += c;
    inWord = true;
  }
  if (inWord) words.push_back(current);
  return words;
}

bool IsExecutableFile(const QString& hostPath) {
  const QByteArray bytes = QFile::encodeName(hostPath);
  struct stat st;
  return stat(bytes.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
         access(bytes.constData(), X_OK) == 0;
}

// The host program a first word names: a path (Windows form) or a name on the search
// path; "x.exe" is also looked for as "x".
QString FindProgram(const QString& word) {
  QStringList candidates{word};
  if (word.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) candidates << word.chopped(4);
  for (const QString& candidate : candidates) {
    const bool isPath = candidate.contains(QLatin1Char('\\')) ||
                        candidate.contains(QLatin1Char('/')) ||
                        candidate.contains(QLatin1Char(':'));
    if (isPath) {
      QString host = HostPath(candidate);
      if (host.isEmpty() && candidate.startsWith(QLatin1Char('/'))) host = candidate;
      if (!host.isEmpty() && IsExecutableFile(host)) return host;
    } else {
      const QString found = QStandardPaths::findExecutable(candidate);
      if (!found.isEmpty()) return found;
    }
  }
  return QString();
}

// The desktop file of the default application for PDF files ("org.gnome.Evince.desktop"),
// or empty when the desktop does not say.
QString DefaultPdfApplication() {
  const QString xdgmime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (xdgmime.isEmpty()) return QString();
  QProcess query;
  query.start(xdgmime, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("application/pdf")});
  if (!query.waitForFinished(3000)) {
    query.kill();
    query.waitForFinished();
    return QString();
  }
  return QString::fromUtf8(query.readAllStandardOutput()).trimmed();
}

}  // namespace

bool OpenPdfDocument(const QString& hostPath, int page) {
  const QString application = DefaultPdfApplication().toLower();
  for (const QString& viewer : {QStringLiteral("evince"), QStringLiteral("okular")}) {
    if (!application.contains(viewer)) continue;
    const QString program = QStandardPaths::findExecutable(viewer);
    if (!program.isEmpty() &&
        QProcess::startDetached(program, {QStringLiteral("-p"), QString::number(page), hostPath})) {
      return true;
    }
  }
  const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  return !opener.isEmpty() && QProcess::startDetached(opener, {hostPath});
}

QStringList SplitCommandLine(const QString& commandLine) {
  QStringList out;
  for (const Word& word : Words(commandLine)) out << word.text;
  return out;
}

unsigned WinExec(const QString& commandLine, int /*showCommand*/) {
  const std::vector<Word> words = Words(commandLine);
  if (words.empty()) return 2;
  // An unquoted program path may hold blanks: try the first word, then the first two
  // joined by a blank, and so on, as Windows does.
  const size_t tries = words[0].quoted ? 1 : words.size();
  QString name;
  for (size_t count = 1; count <= tries; ++count) {
    if (count > 1) name += QLatin1Char(' ');
    name += words[count - 1].text;
    const QString program = FindProgram(name);
    if (program.isEmpty()) continue;
    QStringList arguments;
    for (size_t i = count; i < words.size(); ++i) arguments << words[i].text;
    return QProcess::startDetached(program, arguments) ? 33 : 11;
  }
  return 2;
}

}  // namespace platform
