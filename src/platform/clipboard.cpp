#include "platform/clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

#include <QClipboard>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QStandardPaths>
#include <QThread>

#include "program/helper_programs.h"

extern char** environ;

namespace platform {

namespace {

// How long a server may take to read the text and take the clipboard.
int serverStartMs = 5000;

QClipboard* Clipboard() {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
  return QGuiApplication::clipboard();
}

struct Started {
  pid_t pid = -1;
  int input = -1;   // the program's standard input
  int output = -1;  // its standard output, or -1 when that goes to /dev/null
};

// Starts `program` in a session of its own with default signal handling, so that it can
// outlive this process; its standard input (and, with `reply`, its standard output) is a
// pipe to this process, its standard error /dev/null.
std::optional<Started> StartDetached(const QString& program, const QStringList& arguments, bool reply) {
  int input[2];
  int output[2] = {-1, -1};
  if (pipe2(input, O_CLOEXEC) != 0) return std::nullopt;
  if (reply && pipe2(output, O_CLOEXEC) != 0) {
    close(input[0]);
    close(input[1]);
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  if (reply) {
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  short spawnFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  // A session (or at least a process group) of its own: the program and whatever it forks
  // can be stopped together when it does not answer in time.
#ifdef POSIX_SPAWN_SETSID
  spawnFlags |= POSIX_SPAWN_SETSID;
#else
  spawnFlags |= POSIX_SPAWN_SETPGROUP;
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

  Started started;
  const int spawned = posix_spawn(&started.pid, path.constData(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(input[0]);
  if (reply) close(output[1]);
  if (spawned != 0) {
    close(input[1]);
    if (reply) close(output[0]);
    return std::nullopt;
  }
  started.input = input[1];
  started.output = reply ? output[0] : -1;
  return started;
}

// Writes the text and closes the pipe; a program that ends early must not kill this
// process with SIGPIPE. The signal's disposition belongs to the whole process, whose other
// threads run on, so it is left alone: the signal is blocked in this thread only, and a
// SIGPIPE that the write raised is taken back before it is unblocked.
bool WriteAndClose(int fd, const QByteArray& text) {
  sigset_t pipeSignal, previousMask, pending;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previousMask);
  sigpending(&pending);
  const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
  qsizetype written = 0;
  bool broken = false;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.constData() + written, size_t(text.size() - written));
    if (n < 0 && errno == EINTR) continue;
    broken = n < 0 && errno == EPIPE;
    if (n <= 0) break;
    written += n;
  }
  close(fd);
  if (broken && !pendingBefore) {
    const timespec now{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  return written == text.size();
}

// Everything the program writes until it closes its output or the time is up.
QByteArray ReadAndClose(int fd, const QDeadlineTimer& deadline) {
  QByteArray bytes;
  pollfd watched{fd, POLLIN, 0};
  while (!deadline.hasExpired()) {
    const int ready = poll(&watched, 1, int(std::max<qint64>(deadline.remainingTime(), 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buffer, n);
  }
  close(fd);
  return bytes;
}

// Stops a started program and whatever it forked into its process group, and reaps it.
// The group is signalled before the program is reaped, while its number cannot yet have
// been given to another process.
void Stop(pid_t pid) {
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Waits for the first process to end (the programs fork their server and return): its
// exit status. A program that has not ended in time is stopped with its server, so that
// it cannot take the clipboard after the dialog has gone on without it (a second holder
// beside the one that took its place), and leaves no zombie behind.
std::optional<int> WaitForExit(pid_t pid, const QDeadlineTimer& deadline) {
  int status = 0;
  while (true) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    if (done < 0) return std::nullopt;
    if (deadline.hasExpired()) {
      Stop(pid);
      return std::nullopt;
    }
    QThread::msleep(5);
  }
}

// Our own server, beside this program or in the installation's helper folder: nothing but
// this project's code. Without arguments it serves the X display named by DISPLAY; with
// "--wayland", the Wayland compositor through its data-control protocol.
QString OwnServer() {
  return QString::fromStdString(program::HelperProgram("importdlg-clipboard"));
}

bool OwnServerMissing() { return !QFileInfo(OwnServer()).isExecutable(); }

HandOffResult KeepWithOwnServer(const QByteArray& utf8, const QStringList& arguments = {}) {
  if (OwnServerMissing()) {
    return {HandOffOutcome::Lost, OwnServer() + QStringLiteral(" is missing")};
  }
  const std::optional<Started> started = StartDetached(OwnServer(), arguments, true);
  if (!started) return {HandOffOutcome::Lost, QStringLiteral("importdlg-clipboard could not be started")};
  const QDeadlineTimer deadline(serverStartMs);
  WriteAndClose(started->input, utf8);
  const QByteArray reply = ReadAndClose(started->output, deadline).trimmed();
  // A server that has not answered is stopped at once, whether or not its first process
  // has ended: it must not take the clipboard later.
  if (reply.isEmpty()) Stop(started->pid);
  else WaitForExit(started->pid, deadline);
  if (reply == "ready") return {HandOffOutcome::Kept, QString()};
  if (reply.startsWith("error: ")) {
    return {HandOffOutcome::Lost, QStringLiteral("importdlg-clipboard: ") + QString::fromUtf8(reply.mid(7))};
  }
  return {HandOffOutcome::Lost, QStringLiteral("importdlg-clipboard did not answer")};
}

// Empties the compositor's selection through our server, which ends a server of an
// earlier hand-off that still holds it. Where that cannot be done (no data-control
// protocol) the earlier hand-off was kept through XWayland, which Qt empties, or wl-copy.
void EmptyWithOwnServer() {
  if (OwnServerMissing()) return;
  const std::optional<Started> started = StartDetached(OwnServer(), {"--wayland", "--empty"}, true);
  if (!started) return;
  const QDeadlineTimer deadline(serverStartMs);
  close(started->input);
  ReadAndClose(started->output, deadline);
  WaitForExit(started->pid, deadline);
}

// A Wayland session also when Qt draws through XWayland: the compositor's own selection
// is the one that every program reads, and XWayland may not pass on the X clipboard of
// a server that has no focused window.
bool IsWaylandSession(const QString& platformName) {
  if (platformName.startsWith(QLatin1String("wayland"))) return true;
  return platformName == QLatin1String("xcb") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// wl-copy forks a server that keeps the text and ends its first process with status 0.
HandOffResult KeepWithWlCopy(const QByteArray& utf8) {
  const QString program = QStandardPaths::findExecutable(QStringLiteral("wl-copy"));
  if (program.isEmpty()) return {HandOffOutcome::Lost, QStringLiteral("wl-copy is not installed")};
  const std::optional<Started> started = StartDetached(program, {}, false);
  if (!started) return {HandOffOutcome::Lost, QStringLiteral("wl-copy could not be started")};
  const bool written = WriteAndClose(started->input, utf8);
  const std::optional<int> status = WaitForExit(started->pid, QDeadlineTimer(serverStartMs));
  if (written && status == 0) return {HandOffOutcome::Kept, QString()};
  return {HandOffOutcome::Lost, QStringLiteral("wl-copy failed")};
}

}  // namespace

void SetHandOffDeadline(int milliseconds) { serverStartMs = milliseconds; }

HandOffResult KeepOutsideThisProcess(const QString& platformName, const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  if (!IsWaylandSession(platformName)) return KeepWithOwnServer(utf8);
  // Wayland: our server through the compositor's data-control protocol where it has one;
  // else our server through XWayland where there is one (the compositor passes the X
  // clipboard on to Wayland programs); else wl-copy.
  QStringList reasons;
  const HandOffResult dataControl = KeepWithOwnServer(utf8, {QStringLiteral("--wayland")});
  if (dataControl.outcome == HandOffOutcome::Kept) return dataControl;
  reasons << dataControl.reason;
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    reasons << QStringLiteral("no X display (DISPLAY) for importdlg-clipboard");
  } else if (!OwnServerMissing()) {
    const HandOffResult own = KeepWithOwnServer(utf8);
    if (own.outcome == HandOffOutcome::Kept) return own;
    reasons << own.reason;
  }
  const HandOffResult wlcopy = KeepWithWlCopy(utf8);
  if (wlcopy.outcome == HandOffOutcome::Kept) return wlcopy;
  reasons << wlcopy.reason;
  return {HandOffOutcome::Lost, reasons.join(QStringLiteral("; "))};
}

bool EmptyClipboard() {
  QClipboard* clipboard = Clipboard();
  if (!clipboard) return false;
  // Qt clears only a clipboard that it owns: owning it first (with nothing in it) makes
  // the clear take it from another program, such as the server of an earlier hand-off.
  clipboard->setMimeData(new QMimeData);
  clipboard->clear();
  if (IsWaylandSession(QGuiApplication::platformName())) EmptyWithOwnServer();
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

bool HasControlCharacter(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) {
    const char16_t code = c.unicode();
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
  });
}

HandOffResult HandOffClipboardText(const QString& text) {
  if (HasControlCharacter(text)) return {HandOffOutcome::Refused, QString()};
  QClipboard* clipboard = Clipboard();
  if (!clipboard) return {HandOffOutcome::NotOpened, QString()};
  const QString platformName = QGuiApplication::platformName();
  const bool displayServer =
      platformName == QLatin1String("xcb") || platformName.startsWith(QLatin1String("wayland"));
  if (!displayServer) {
    clipboard->setText(text);
    return {HandOffOutcome::Local, QString()};
  }
  HandOffResult result = KeepOutsideThisProcess(platformName, text);
  // Where nothing outside could take the text, it is at least there while the dialog
  // tells the user so.
  if (result.outcome != HandOffOutcome::Kept) clipboard->setText(text);
  return result;
}

}  // namespace platform
