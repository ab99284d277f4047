#include "platform/clipboard.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QClipboard>
#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QThread>

extern char** environ;

namespace platform {

namespace {

QClipboard* Clipboard() {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
  return QGuiApplication::clipboard();
}

// Runs `program` in its own session with `text` on its standard input and waits for the
// first process to end: the helpers read all input, take the clipboard and then leave a
// background process that serves it.
bool RunHelper(const QString& program, const QStringList& arguments, const QByteArray& text) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  short spawnFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
  spawnFlags |= POSIX_SPAWN_SETSID;
#endif
  posix_spawnattr_setflags(&attributes, spawnFlags);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);

  const QByteArray path = QFile::encodeName(program);
  std::vector<QByteArray> argBytes{path};
  for (const QString& a : arguments) argBytes.push_back(a.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& a : argBytes) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(),
                                  environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(fds[0]);
  if (spawned != 0) {
    close(fds[1]);
    return false;
  }
  // A helper that dies early must not kill this process with SIGPIPE.
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  qsizetype written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fds[1], text.constData() + written, size_t(text.size() - written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += n;
  }
  close(fds[1]);
  sigaction(SIGPIPE, &previous, nullptr);

  // The first process forks the server and ends; give it a moment.
  int status = 0;
  QDeadlineTimer deadline(3000);
  while (true) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 || deadline.hasExpired()) return written == text.size();
    QThread::msleep(10);
  }
  return written == text.size() && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool EmptyClipboard() {
  QClipboard* clipboard = Clipboard();
  if (!clipboard) return false;
  clipboard->clear();
  return true;
}

bool SetClipboardText(const QString& text) {
  QClipboard* clipboard = Clipboard();
  if (!clipboard) return false;
  clipboard->setText(text);
  return true;
}

QString GetClipboardText() {
  QClipboard* clipboard = Clipboard();
  return clipboard ? clipboard->text() : QString();
}

bool KeepClipboardAfterExit() {
  QClipboard* clipboard = Clipboard();
  if (!clipboard || !clipboard->ownsClipboard()) return false;
  const QString text = clipboard->text();
  if (text.isEmpty()) return false;
  const QString platformName = QGuiApplication::platformName();
  QString program;
  QStringList arguments;
  if (platformName == QLatin1String("xcb")) {
    program = QStandardPaths::findExecutable(QStringLiteral("xclip"));
    arguments = {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                 QStringLiteral("-loops"), QStringLiteral("0")};
  } else if (platformName.startsWith(QLatin1String("wayland"))) {
    program = QStandardPaths::findExecutable(QStringLiteral("wl-copy"));
  }
  if (program.isEmpty()) return false;
  if (!RunHelper(program, arguments, text.toUtf8())) return false;
  // The helper owns the clipboard once it serves; wait for Qt to notice, so that the
  // text is not lost in between.
  QDeadlineTimer deadline(2000);
  while (clipboard->ownsClipboard() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

}  // namespace platform
