// Clipboard round trip, the prompts interface and program start.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wayland-server.h>

#include <atomic>
#include <chrono>

#include <optional>
#include <string_view>
#include <thread>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "platform/clipboard.h"
#include "platform/program_start.h"
#include "platform/prompts.h"
#include "support/platform_env.h"

using namespace platform;
using platform_test::ScopedDrives;
using platform_test::ScopedEnv;
using platform_test::TempTree;

namespace {

TEST(Clipboard, RoundTripAndEmpty) {
  ASSERT_TRUE(SetClipboardText("C:\\PICTURES\\SUNSET.BMP"));
  EXPECT_EQ(GetClipboardText(), "C:\\PICTURES\\SUNSET.BMP");
  ASSERT_TRUE(SetClipboardText(QString::fromUtf8("C:\\\xC3\xA9T\xC3\xA9\\A.BMP")));
  EXPECT_EQ(GetClipboardText(), QString::fromUtf8("C:\\\xC3\xA9T\xC3\xA9\\A.BMP"));
  ASSERT_TRUE(EmptyClipboard());
  EXPECT_EQ(GetClipboardText(), QString());
}

TEST(Clipboard, HandOffRefusesControlCharactersAndIsLocalOffscreen) {
  const struct {
    const char* text;
    HandOffOutcome outcome;
  } cases[] = {
      {"C:\\PICS\\SUNSET.BMP", HandOffOutcome::Local},
      {"C:\\\xC3\xA9T\xC3\xA9\\NO\xC2\xA0" "BREAK.BMP", HandOffOutcome::Local},
      {"C:\\LINE\nBREAK\\A.BMP", HandOffOutcome::Refused},
      {"C:\\TAB\tA.BMP", HandOffOutcome::Refused},
      {"C:\\DEL\x7F.BMP", HandOffOutcome::Refused},
      {"C:\\NEXT\xC2\x85LINE.BMP", HandOffOutcome::Refused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_TRUE(SetClipboardText("mark"));
    const QString text = QString::fromUtf8(c.text);
    EXPECT_EQ(HandOffClipboardText(text).outcome, c.outcome);
    EXPECT_EQ(GetClipboardText(), c.outcome == HandOffOutcome::Local ? text : QStringLiteral("mark"));
  }
}

// A compositor with a seat and nothing else (no data-control protocol), served on a
// thread of the test, on a socket in the runtime folder named by XDG_RUNTIME_DIR.
class BareCompositor {
 public:
  explicit BareCompositor(const char* socket) : display_(wl_display_create()) {
    wl_global_create(display_, &wl_seat_interface, 1, nullptr, [](wl_client* client, void*, uint32_t version, uint32_t id) {
      wl_resource_create(client, &wl_seat_interface, int(version), id);
    });
    if (wl_display_add_socket(display_, socket) != 0) ADD_FAILURE() << "no socket " << socket;
    thread_ = std::thread([this] { wl_display_run(display_); });
  }
  ~BareCompositor() {
    wl_display_terminate(display_);
    thread_.join();
    wl_display_destroy(display_);
  }

 private:
  wl_display* display_;
  std::thread thread_;
};

// The routes that keep the text after this program when no compositor takes it: our
// server (copied beside the test program) finds no Wayland compositor, or one without the
// data-control protocol, and no X display; wl-copy, here a script that keeps its input,
// is the last way. Without WAYLAND_DISPLAY, xcb takes the X11 way alone.
TEST(Clipboard, TextGoesToAProcessThatKeepsItOrIsReportedLost) {
  const QString noWayland = QStringLiteral("importdlg-clipboard: cannot connect to the Wayland display");
  const QString noDataControl = QStringLiteral("importdlg-clipboard: the compositor offers no data-control protocol");
  const QString noX = QStringLiteral("importdlg-clipboard: cannot open the X display");
  const QString noDisplay = QStringLiteral("no X display (DISPLAY) for importdlg-clipboard");
  const struct {
    const char* platform;
    const char* wayland;  // WAYLAND_DISPLAY: "bare" names a compositor without data-control; nullptr: not set
    const char* display;  // DISPLAY; nullptr: not set
    int wlcopyexit;       // -1: no wl-copy
    HandOffOutcome outcome;
    QString reason;
  } cases[] = {
      {"xcb", nullptr, ":999", 0, HandOffOutcome::Lost, noX},
      {"xcb", "none", ":999", 0, HandOffOutcome::Kept, ""},
      {"wayland", "none", nullptr, 0, HandOffOutcome::Kept, ""},
      {"wayland", "none", ":999", 0, HandOffOutcome::Kept, ""},
      {"wayland", "none", nullptr, 1, HandOffOutcome::Lost, noWayland + "; " + noDisplay + "; wl-copy failed"},
      {"wayland", "bare", nullptr, 1, HandOffOutcome::Lost, noDataControl + "; " + noDisplay + "; wl-copy failed"},
      {"xcb", "bare", ":999", -1, HandOffOutcome::Lost, noDataControl + "; " + noX + "; wl-copy is not installed"},
  };
  const QString text = QString::fromUtf8("C:\\\xC3\x89T\xC3\x89\\A.BMP");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.platform) + " " + (c.wayland ? c.wayland : "-") + " " + (c.display ? c.display : "-") +
                 " " + std::to_string(c.wlcopyexit));
    TempTree tree;
    tree.MakeDir("bin");
    const QString kept = tree.Path("kept.txt");
    if (c.wlcopyexit >= 0) {
      tree.WriteFile("bin/wl-copy", "#!/bin/sh\n/bin/cat > '" + QFile::encodeName(kept) + "'\nexit " +
                                        QByteArray::number(c.wlcopyexit) + "\n");
      QFile::setPermissions(tree.Path("bin/wl-copy"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    ScopedEnv path("PATH", tree.Path("bin"));
    ScopedEnv display("DISPLAY", c.display ? std::optional<QString>(c.display) : std::nullopt);
    ScopedEnv runtime("XDG_RUNTIME_DIR", tree.root());
    ScopedEnv wayland("WAYLAND_DISPLAY", c.wayland ? std::optional<QString>(c.wayland) : std::nullopt);
    std::optional<BareCompositor> compositor;
    if (c.wayland && std::string_view(c.wayland) == "bare") compositor.emplace("bare");
    const HandOffResult result = KeepOutsideThisProcess(c.platform, text);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.reason, c.reason);
    if (c.outcome == HandOffOutcome::Kept) {
      EXPECT_EQ(QString::fromUtf8(tree.ReadFile("kept.txt")), text);
    }
  }
}

// The server run by hand: a text that is not one line of UTF-8 is refused before any
// display is tried; an overlong spelling of a control character is not UTF-8.
TEST(Clipboard, ServerRefusesTextsThatAreNotOneLineOfUtf8) {
  const struct {
    const char* text;
    const char* reply;
  } cases[] = {
      {"C:\\\xC3\x89T\xC3\x89\\A.BMP", "error: cannot open the X display\n"},
      {"C:\\LINE\nBREAK.BMP", "error: the text holds a control character\n"},
      {"C:\\LINE\xC0\x8A" "BREAK.BMP", "error: the text is not UTF-8\n"},
      {"C:\\NEXT\xE0\x82\x85LINE.BMP", "error: the text is not UTF-8\n"},
      {"C:\\HALF\xED\xA0\x80.BMP", "error: the text is not UTF-8\n"},
  };
  TempTree tree;
  ScopedEnv display("DISPLAY", std::nullopt);
  const QByteArray server = QFile::encodeName(QCoreApplication::applicationDirPath() + "/importdlg-clipboard");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    tree.WriteFile("text", c.text);
    FILE* output = popen(("'" + server + "' < '" + QFile::encodeName(tree.Path("text")) + "'").constData(), "r");
    ASSERT_NE(output, nullptr);
    char line[256] = {};
    EXPECT_NE(fgets(line, sizeof line, output), nullptr);
    pclose(output);
    EXPECT_STREQ(line, c.reply);
  }
}

// What the hand-off leaves behind in this process: SIGPIPE's disposition is never changed
// (other threads run), even while a slow reader holds up the write; a program that has not
// answered in time is stopped with what it forked, so that it cannot take the clipboard
// later, and no child is left (no zombie).
TEST(Clipboard, HandOffLeavesNoProcessAndNoSignalChangeBehind) {
  const struct {
    const char* script;  // wl-copy
    int textBytes;
    int deadlineMs;
    HandOffOutcome outcome;
  } cases[] = {
      {"sleep 0.3; cat > kept", 200000, 5000, HandOffOutcome::Kept},
      {"cat > /dev/null; (sleep 1.5; echo late > kept) & sleep 5", 10, 500, HandOffOutcome::Lost},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    TempTree tree;
    tree.MakeDir("bin");
    tree.WriteFile("bin/wl-copy", "#!/bin/sh\nPATH=/usr/bin:/bin\ncd '" + QFile::encodeName(tree.root()) + "'\n" +
                                      c.script + "\n");
    QFile::setPermissions(tree.Path("bin/wl-copy"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    ScopedEnv path("PATH", tree.Path("bin"));
    ScopedEnv display("DISPLAY", std::nullopt);
    ScopedEnv runtime("XDG_RUNTIME_DIR", tree.root());
    ScopedEnv wayland("WAYLAND_DISPLAY", QStringLiteral("none"));
    SetHandOffDeadline(c.deadlineMs);
    struct sigaction before {};
    sigaction(SIGPIPE, nullptr, &before);
    std::atomic<bool> running{true}, changed{false};
    std::thread watcher([&] {
      for (; running; std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        struct sigaction now {};
        sigaction(SIGPIPE, nullptr, &now);
        if (now.sa_handler != before.sa_handler) changed = true;
      }
    });
    const QString text(c.textBytes, QLatin1Char('x'));
    const HandOffResult result = KeepOutsideThisProcess("wayland", text);
    running = false;
    watcher.join();
    SetHandOffDeadline(5000);
    EXPECT_EQ(result.outcome, c.outcome) << result.reason.toStdString();
    EXPECT_FALSE(changed);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child, running or ended
    if (c.outcome == HandOffOutcome::Kept) {
      EXPECT_EQ(tree.ReadFile("kept").size(), c.textBytes);
    } else {
      QThread::msleep(2000);
      EXPECT_FALSE(QFile::exists(tree.Path("kept")));
    }
  }
}

// A sway compositor of the test's own: headless, without XWayland or input devices, in a
// runtime folder of its own. Sway refuses to start as root (it could take root back after
// dropping it), so under root it runs as nobody, in folders that nobody can reach.
class HeadlessSway {
 public:
  explicit HeadlessSway(const TempTree& tree) : runtime_(tree.Path("runtime")) {
    tree.MakeDir("runtime");
    tree.WriteFile("sway.config", "xwayland disable\n");
    QFile::setPermissions(runtime_, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QStringList arguments{QStandardPaths::findExecutable("sway"), "-c", tree.Path("sway.config")};
    if (geteuid() == 0) {
      constexpr uid_t kNobody = 65534;
      QFile::setPermissions(tree.root(), QFile::permissions(tree.root()) | QFileDevice::ExeOther);
      if (chown(QFile::encodeName(runtime_).constData(), kNobody, kNobody) != 0) return;
      arguments = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + arguments;
      arguments.prepend(QStandardPaths::findExecutable("setpriv"));
    }
    QProcessEnvironment environment;
    environment.insert("PATH", "/usr/bin:/bin");
    environment.insert("HOME", tree.root());
    environment.insert("XDG_RUNTIME_DIR", runtime_);
    environment.insert("WLR_BACKENDS", "headless");
    environment.insert("WLR_LIBINPUT_NO_DEVICES", "1");
    environment.insert("WLR_RENDERER", "pixman");
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(arguments.takeFirst(), arguments);
    // The compositor is ready once its socket is there.
    (void)QTest::qWaitFor(
        [&] {
          const QStringList sockets = QDir(runtime_).entryList({"wayland-*"}, QDir::System).filter(QRegularExpression("^wayland-\\d+$"));
          if (!sockets.isEmpty()) socket_ = sockets.first();
          return !socket_.isEmpty() || process_.state() == QProcess::NotRunning;
        },
        10000);
  }

  ~HeadlessSway() {
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
    process_.waitForFinished(5000);
  }

  QString Runtime() const { return runtime_; }
  QString Socket() const { return socket_; }

 private:
  QString runtime_;
  QString socket_;
  QProcess process_;
};

// Our servers on the test's compositor: processes of the server program whose environment
// names the compositor's runtime folder.
int OwnServersOn(const QString& runtime) {
  const QString server = QFileInfo(QCoreApplication::applicationDirPath() + "/importdlg-clipboard").canonicalFilePath();
  const QByteArray variable = "XDG_RUNTIME_DIR=" + QFile::encodeName(runtime);
  int count = 0;
  for (const QString& pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (QFileInfo("/proc/" + pid + "/exe").symLinkTarget() != server) continue;
    QFile environment("/proc/" + pid + "/environ");
    if (environment.open(QIODevice::ReadOnly) && environment.readAll().split('\0').contains(variable)) ++count;
  }
  return count;
}

// The outside clipboard tools run with the system's search path (wl-paste needs cat).
QByteArray OutputOf(const QString& program, const QStringList& arguments) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("PATH", "/usr/bin:/bin");
  process.setProcessEnvironment(environment);
  process.start(program, arguments);
  process.waitForFinished(10000);
  return process.readAllStandardOutput();
}

// The hand-off on a compositor that offers the data-control protocol, with no clipboard
// tool on the search path and no X display: once the hand-off has returned, our server
// serves the text in every form to another program, ends when the next hand-off or
// another program takes the selection.
TEST(Clipboard, DataControlServerKeepsTheTextOnWayland) {
  const QString wlPaste = QStandardPaths::findExecutable("wl-paste");
  const QString wlCopy = QStandardPaths::findExecutable("wl-copy");
  for (const char* tool : {"sway", "wl-paste", "wl-copy"}) {
    if (!QStandardPaths::findExecutable(tool).isEmpty()) continue;
    // Under CI a missing tool is a failure: the test must not pass by not running.
    if (qEnvironmentVariable("CI") == "true") FAIL() << tool << " is not installed (scripts/install-deps.sh installs it)";
    GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
  }
  TempTree tree;
  tree.MakeDir("bin");
  HeadlessSway sway(tree);
  ASSERT_FALSE(sway.Socket().isEmpty()) << "sway did not start";
  ScopedEnv path("PATH", tree.Path("bin"));
  ScopedEnv display("DISPLAY", std::nullopt);
  ScopedEnv runtime("XDG_RUNTIME_DIR", sway.Runtime());
  ScopedEnv wayland("WAYLAND_DISPLAY", sway.Socket());

  const QStringList utf8Types{"TEXT", "UTF8_STRING", "text/plain", "text/plain;charset=utf-8"};
  const struct {
    const char* text;
    const char* latin1;  // the STRING form; nullptr: none offered
  } cases[] = {
      {"C:\\PICS\\SUNSET.BMP", "C:\\PICS\\SUNSET.BMP"},
      {"C:\\\xC3\x89T\xC3\x89\\A.BMP", "C:\\\xC9T\xC9\\A.BMP"},
      {"C:\\\xD0\x96\xD0\xA3\xD0\xA0\\A.BMP", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const HandOffResult result = KeepOutsideThisProcess("wayland", QString::fromUtf8(c.text));
    ASSERT_EQ(result.outcome, HandOffOutcome::Kept) << result.reason.toStdString();
    // The server of the previous row ended when this one took the selection.
    EXPECT_TRUE(QTest::qWaitFor([&] { return OwnServersOn(sway.Runtime()) == 1; }, 5000));
    QStringList offered = QString::fromUtf8(OutputOf(wlPaste, {"--list-types"})).split('\n', Qt::SkipEmptyParts);
    offered.sort();
    EXPECT_EQ(offered, c.latin1 ? QStringList{"STRING"} + utf8Types : utf8Types);
    for (const QString& type : utf8Types) EXPECT_EQ(OutputOf(wlPaste, {"--no-newline", "--type", type}), c.text) << type.toStdString();
    if (c.latin1) {
      EXPECT_EQ(OutputOf(wlPaste, {"--no-newline", "--type", "STRING"}), c.latin1);
    }
  }
  OutputOf(wlCopy, {"taken"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return OwnServersOn(sway.Runtime()) == 0; }, 5000))
      << "our server did not end when another program took the selection";
  EXPECT_EQ(OutputOf(wlPaste, {"--no-newline"}), "taken");
}

TEST(Prompts, FakeAnswersFromItsQueueAndRecordsEveryQuestion) {
  FakePrompts fake;
  ScopedPrompts scope(&fake);
  SetApplicationTitle("Select File");
  fake.messageAnswers = {MessageAnswer::No};
  fake.saveAnswers = {std::nullopt, QString("D:\\OUT\\X.BMP")};

  EXPECT_EQ(CurrentPrompts().Message(MessageKind::Confirm, "Copy this file to Disk?",
                                     MessageButtons::YesNo),
            MessageAnswer::No);
  EXPECT_EQ(CurrentPrompts().Message(MessageKind::Confirm, "again", MessageButtons::YesNo),
            MessageAnswer::Yes);  // queue empty: the default button
  EXPECT_EQ(CurrentPrompts().Message(MessageKind::Error, "Unable to save x"), MessageAnswer::Ok);
  CurrentPrompts().Message(MessageKind::Information, "Converting");
  CurrentPrompts().Message(MessageKind::Plain, "02");
  CurrentPrompts().Message(MessageKind::ApplicationError, "Cannot open clipboard.");

  ASSERT_EQ(fake.messages.size(), 6u);
  const char* captions[] = {"Confirm", "Confirm", "Error", "Information", "Select File",
                            "Select File"};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(fake.messages[i].caption, captions[i]) << i;
  EXPECT_EQ(fake.MessageTexts()[2], "Unable to save x");
  EXPECT_EQ(fake.messages[0].buttons, MessageButtons::YesNo);

  SaveFileRequest request{"Save Picture as Bitmap", "Windows Bitmap|*.bmp", "bmp",
                          "C:\\pics\\SUNSET.bmp"};
  EXPECT_EQ(CurrentPrompts().SaveFile(request), std::nullopt);
  EXPECT_EQ(CurrentPrompts().SaveFile(request), QString("D:\\OUT\\X.BMP"));
  EXPECT_EQ(CurrentPrompts().SaveFile(request), QString("C:\\pics\\SUNSET.bmp"));
  ASSERT_EQ(fake.saveRequests.size(), 3u);
  EXPECT_EQ(fake.saveRequests[0].title, "Save Picture as Bitmap");
}

TEST(Prompts, ScopedPromptsRestoreTheDefault) {
  Prompts* before = &CurrentPrompts();
  {
    FakePrompts fake;
    ScopedPrompts scope(&fake);
    EXPECT_EQ(&CurrentPrompts(), &fake);
  }
  EXPECT_EQ(&CurrentPrompts(), before);
  EXPECT_NE(dynamic_cast<QtPrompts*>(before), nullptr);
}

// Answers the next modal message box with a key, once it is shown.
void PressInNextMessageBox(int key) {
  QTimer::singleShot(0, [key] {
    QWidget* box = nullptr;
    (void)QTest::qWaitFor([&] {
      box = QApplication::activeModalWidget();
      return box != nullptr;
    });
    if (box) QTest::keyClick(box, Qt::Key(key));
  });
}

TEST(QtPromptsBoxes, CaptionsIconsAndTheEscapeAnswer) {
  SetApplicationTitle("Select File");
  QtPrompts prompts;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer::singleShot(0, [&] {
    (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; });
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    caption = box->windowTitle();
    icon = box->icon();
    QTest::keyClick(box, Qt::Key_Escape);
  });
  EXPECT_EQ(prompts.Message(MessageKind::Confirm, "Copy this file to Disk?",
                            MessageButtons::YesNo),
            MessageAnswer::No);
  EXPECT_EQ(caption, "Confirm");
  EXPECT_EQ(icon, QMessageBox::Question);

  PressInNextMessageBox(Qt::Key_Return);  // the default button is Yes
  EXPECT_EQ(prompts.Message(MessageKind::Confirm, "Copy?", MessageButtons::YesNo),
            MessageAnswer::Yes);

  QTimer::singleShot(0, [&] {
    (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; });
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    caption = box->windowTitle();
    icon = box->icon();
    QTest::keyClick(box, Qt::Key_Escape);
  });
  EXPECT_EQ(prompts.Message(MessageKind::ApplicationError, "Unable to write to x."),
            MessageAnswer::Ok);
  EXPECT_EQ(caption, "Select File");
  EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST(QtPromptsSave, ShowsHostPathsAndAnswersWithAWindowsPath) {
  TempTree tree;
  tree.MakeDir("pics");
  ScopedDrives drives(QStringLiteral("C=%1").arg(tree.root()));
  QtPrompts prompts;
  QString shownDirectory, shownTitle;
  QTimer::singleShot(0, [&] {
    (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; });
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    shownDirectory = dialog->directory().absolutePath();
    shownTitle = dialog->windowTitle();
    auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
    if (edit) edit->setText("chosen");  // without extension: "bmp" is added
    QTest::keyClick(dialog, Qt::Key_Return);
  });
  const auto chosen = prompts.SaveFile(
      {"Save Picture as Bitmap", "Windows Bitmap|*.bmp", "bmp", "C:\\PICS\\SUNSET.bmp"});
  EXPECT_EQ(shownTitle, "Save Picture as Bitmap");
  EXPECT_EQ(shownDirectory, tree.Path("pics"));
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, "C:\\pics\\chosen.bmp");

  QTimer::singleShot(0, [&] {
    (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; });
    if (QWidget* dialog = QApplication::activeModalWidget())
      QTest::keyClick(dialog, Qt::Key_Escape);
  });
  EXPECT_EQ(prompts.SaveFile({"t", "Windows Bitmap|*.bmp", "bmp", "C:\\pics\\a.bmp"}),
            std::nullopt);
}

TEST(CommandLines, AreSplitIntoWords) {
  EXPECT_EQ(SplitCommandLine("PDFread.exe tolhlp.pdf 45"),
            (QStringList{"PDFread.exe", "tolhlp.pdf", "45"}));
  EXPECT_EQ(SplitCommandLine("  \"C:\\My Tools\\x.exe\"  a\tb \"c d\" \"\" "),
            (QStringList{"C:\\My Tools\\x.exe", "a", "b", "c d", ""}));
  EXPECT_EQ(SplitCommandLine(""), QStringList());
}

// A started program writes its arguments where the test can see them.
class ProgramStart : public ::testing::Test {
 protected:
  ProgramStart() : drives_(QStringLiteral("C=%1").arg(tree_.root())) {
    tree_.MakeDir("My Tools");
    const QByteArray script = "#!/bin/sh\necho \"$@\" > \"" +
                              QFile::encodeName(tree_.Path("out.txt")) + ".tmp\"\nmv \"" +
                              QFile::encodeName(tree_.Path("out.txt")) + ".tmp\" \"" +
                              QFile::encodeName(tree_.Path("out.txt")) + "\"\n";
    tree_.WriteFile("My Tools/PDFread", script);
    QFile::setPermissions(tree_.Path("My Tools/PDFread"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  QByteArray WaitForOutput() {
    (void)QTest::qWaitFor([this] { return QFile::exists(tree_.Path("out.txt")); }, 5000);
    return tree_.ReadFile("out.txt");
  }
  TempTree tree_;
  ScopedDrives drives_;
};

TEST_F(ProgramStart, UnquotedFolderWithBlanksAndExeSuffix) {
  // The program folder is put in front without quotes, as the help button does.
  EXPECT_GT(WinExec("C:\\My Tools\\PDFread.exe tolhlp.pdf 45", SwShowNormal), 31u);
  EXPECT_EQ(WaitForOutput(), "tolhlp.pdf 45\n");
}

TEST_F(ProgramStart, MissingProgramsFailQuietly) {
  EXPECT_EQ(WinExec("C:\\Nowhere\\PDFread.exe tolhlp.pdf 45"), 2u);
  EXPECT_EQ(WinExec(""), 2u);
  EXPECT_EQ(WinExec("\"C:\\My\" Tools\\PDFread.exe"), 2u);  // quoted: no longer runs tried
}

}  // namespace
