// Side actions: Copy to Disk (to the root of drive A:) and Show Help.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>

#include "dialog/form.h"
#include "pictures/registry.h"
#include "platform/clipboard.h"
#include "platform/prompts.h"
#include "support/dialog_env.h"

using dialog_test::ClickEntry;
using dialog_test::DialogWorld;
using platform::MessageAnswer;
using platform::MessageKind;

namespace {

QByteArray Pattern(int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i) bytes[i] = char((i * 131 + 7) & 0xFF);
  return bytes;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Limits the size of the files this process may write, as a full disk does, for one
// scope: writes beyond the limit fail instead of raising SIGXFSZ.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    previoushandler_ = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = previous_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previoushandler_);
  }

 private:
  struct rlimit previous_ {};
  void (*previoushandler_)(int) = nullptr;
};

class CopyToDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    pictures::RegisterReaders();
    platform::SetApplicationTitle(QStringLiteral("Select File"));
  }

  // Opens the dialog on C:\pics\ holding one file, and selects that file.
  TForm1* OpenWith(DialogWorld& world, const QString& name, const QByteArray& bytes) {
    world.tree.MakeDir(QStringLiteral("c/pics"));
    world.tree.WriteFile(QStringLiteral("c/pics/") + name, bytes);
    world.WriteSettings("[Paths]\r\nImport=C:\\pics\\\r\n");
    TForm1* form = world.Open();
    ClickEntry(*form, name);
    EXPECT_TRUE(form->dcopyit->isEnabled());
    EXPECT_TRUE(platform::SetClipboardText(QStringLiteral("mark")));
    return form;
  }

  void ClickCopy(TForm1* form) { QTest::mouseClick(form->dcopyit, Qt::LeftButton); }

  // The dialog goes on as it was: open, clipboard and settings untouched.
  void ExpectDialogCarriesOn(DialogWorld& world, TForm1* form) {
    EXPECT_FALSE(form->terminated);
    EXPECT_EQ(platform::GetClipboardText(), QStringLiteral("mark"));
    EXPECT_EQ(ReadAll(world.tree.Path(QStringLiteral("sys/tolva.ini"))), QByteArray("[Paths]\r\nImport=C:\\pics\\\r\n"));
    EXPECT_EQ(form->labelfilename, QStringLiteral("C:\\PICS\\") + form->Label5->text());
  }

  QStringList FilesOnA(DialogWorld& world) {
    return QDir(world.tree.Path(QStringLiteral("a"))).entryList(QDir::Files | QDir::Hidden | QDir::System);
  }
};

TEST_F(CopyToDisk, CopiesUnderTheLongNameAfterAskingAndReplacesAnOlderCopy) {
  DialogWorld world;
  const QByteArray bytes = Pattern(70000);
  world.tree.WriteFile(QStringLiteral("a/Site plan.pcx"), "an older copy");
  TForm1* form = OpenWith(world, QStringLiteral("Site plan.pcx"), bytes);
  ClickCopy(form);
  ASSERT_EQ(world.prompts.messages.size(), 1u);
  EXPECT_EQ(world.prompts.messages[0].kind, MessageKind::Confirm);
  EXPECT_EQ(world.prompts.messages[0].caption, QStringLiteral("Confirm"));
  EXPECT_EQ(world.prompts.messages[0].text, QStringLiteral("Copy this file to Disk?"));
  EXPECT_EQ(world.prompts.messages[0].buttons, platform::MessageButtons::YesNo);
  EXPECT_EQ(FilesOnA(world), QStringList{"Site plan.pcx"});
  EXPECT_EQ(ReadAll(world.tree.Path(QStringLiteral("a/Site plan.pcx"))), bytes);
  ExpectDialogCarriesOn(world, form);
}

TEST_F(CopyToDisk, AnswerNoCopiesNothing) {
  DialogWorld world;
  TForm1* form = OpenWith(world, QStringLiteral("one.pcx"), Pattern(10));
  world.prompts.messageAnswers.push_back(MessageAnswer::No);
  ClickCopy(form);
  EXPECT_EQ(world.prompts.messages.size(), 1u);
  EXPECT_EQ(FilesOnA(world), QStringList());
  ExpectDialogCarriesOn(world, form);
}

TEST_F(CopyToDisk, FileGoneSinceItWasSelectedIsPassedOverSilently) {
  DialogWorld world;
  TForm1* form = OpenWith(world, QStringLiteral("gone.pcx"), Pattern(10));
  ASSERT_TRUE(QFile::remove(world.tree.Path(QStringLiteral("c/pics/gone.pcx"))));
  ClickCopy(form);
  EXPECT_TRUE(world.prompts.messages.empty());
  EXPECT_EQ(FilesOnA(world), QStringList());
}

TEST_F(CopyToDisk, DriveWithoutDiskIsReported) {
  // Drive A: not mapped at all, and mapped to a folder that is not there.
  for (const char* drives : {"C=%1/c", "A=%1/no-disk;C=%1/c"}) {
    SCOPED_TRACE(drives);
    DialogWorld world(QString::fromUtf8(drives));
    TForm1* form = OpenWith(world, QStringLiteral("Site plan.pcx"), Pattern(100));
    ClickCopy(form);
    ASSERT_EQ(world.prompts.messages.size(), 2u);
    EXPECT_EQ(world.prompts.messages[1].kind, MessageKind::ApplicationError);
    EXPECT_EQ(world.prompts.messages[1].caption, QStringLiteral("Select File"));
    EXPECT_EQ(world.prompts.messages[1].text, QStringLiteral("Cannot create file a:\\Site plan.pcx."));
    ExpectDialogCarriesOn(world, form);
  }
}

TEST_F(CopyToDisk, FolderInTheWayOfTheCopyIsReported) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("a/photo.tga"));
  TForm1* form = OpenWith(world, QStringLiteral("photo.tga"), Pattern(100));
  ClickCopy(form);
  EXPECT_EQ(world.prompts.MessageTexts().back(), QStringLiteral("Cannot create file a:\\photo.tga."));
  EXPECT_TRUE(QFileInfo(world.tree.Path(QStringLiteral("a/photo.tga"))).isDir());
}

TEST_F(CopyToDisk, CopyThatFailsPartWayLeavesNoPartialFile) {
  DialogWorld world;
  const QByteArray bytes = Pattern(256 * 1024);
  TForm1* form = OpenWith(world, QStringLiteral("big.pcx"), bytes);
  // Once with no file of that name on the disk, once with an older copy that must stay.
  for (bool older : {false, true}) {
    SCOPED_TRACE(older ? "older copy" : "no older copy");
    world.prompts.messages.clear();
    if (older) world.tree.WriteFile(QStringLiteral("a/big.pcx"), "the older copy");
    {
      ScopedFileSizeLimit full(64 * 1024);
      ClickCopy(form);
    }
    ASSERT_EQ(world.prompts.messages.size(), 2u);
    EXPECT_EQ(world.prompts.messages[1].kind, MessageKind::ApplicationError);
    EXPECT_EQ(world.prompts.messages[1].text, QStringLiteral("Stream write error."));
    if (older) {
      EXPECT_EQ(FilesOnA(world), QStringList{"big.pcx"});
      EXPECT_EQ(ReadAll(world.tree.Path(QStringLiteral("a/big.pcx"))), QByteArray("the older copy"));
    } else {
      EXPECT_EQ(FilesOnA(world), QStringList());
    }
    ExpectDialogCarriesOn(world, form);
  }
  // With room on the disk again, the copy works.
  ClickCopy(form);
  EXPECT_EQ(ReadAll(world.tree.Path(QStringLiteral("a/big.pcx"))), bytes);
}

TEST_F(CopyToDisk, SourceThatCannotBeOpenedIsReported) {
  if (geteuid() == 0) GTEST_SKIP() << "file permissions do not bind the super-user";
  DialogWorld world;
  TForm1* form = OpenWith(world, QStringLiteral("locked.pcx"), Pattern(100));
  ASSERT_TRUE(QFile::setPermissions(world.tree.Path(QStringLiteral("c/pics/locked.pcx")), QFileDevice::Permissions()));
  ClickCopy(form);
  EXPECT_EQ(world.prompts.MessageTexts().back(), QStringLiteral("Cannot open file C:\\PICS\\locked.pcx."));
  EXPECT_EQ(FilesOnA(world), QStringList());
}

// ---- Show Help ----

// Waits until a file exists, up to a few seconds.
bool WaitForFile(const QString& path) {
  QDeadlineTimer deadline(10000);
  while (!QFile::exists(path)) {
    if (deadline.hasExpired()) return false;
    QTest::qWait(20);
  }
  return true;
}

TEST(ShowHelp, StartsTheReaderBesideTheProgramWithTheHelpDocument) {
  DialogWorld world;
  // A program folder with a blank in its name, which the command line does not quote.
  world.tree.MakeDir(QStringLiteral("c/Tools dir"));
  const QString record = world.tree.Path(QStringLiteral("help-started.txt"));
  world.tree.WriteFile(QStringLiteral("c/Tools dir/PDFread"),
                       "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + QFile::encodeName(record) + ".part\"\n"
                       "mv \"" + QFile::encodeName(record) + ".part\" \"" + QFile::encodeName(record) + "\"\n");
  ASSERT_TRUE(QFile::setPermissions(world.tree.Path(QStringLiteral("c/Tools dir/PDFread")),
                                    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
  TForm1* form = world.Open({}, QStringLiteral("C:\\Tools dir\\importdlg"));
  QTest::mouseClick(form->dhelp, Qt::LeftButton);
  ASSERT_TRUE(WaitForFile(record));
  EXPECT_EQ(ReadAll(record), QByteArray("tolhlp.pdf\n45\n"));
  EXPECT_TRUE(world.prompts.messages.empty());
  EXPECT_FALSE(form->terminated);
}

TEST(ShowHelp, WithoutTheReaderTheDocumentOpensInTheDesktopViewerAtItsPage) {
  const QString document = QStringLiteral("C:\\PROG\\tolhlp.pdf");
  const struct {
    const char* name;
    const char* defaultapplication;  // what xdg-mime answers; nullptr: no xdg-mime
    QStringList tools;               // the programs on the search path
    bool hasdocument;
    QStringList started;  // the program started and its arguments (DOC: the document)
    QString message;
  } cases[] = {
      {"evince", "org.gnome.Evince.desktop", {"evince", "okular", "xdg-open"}, true, {"evince", "-p", "45", "DOC"}, {}},
      {"okular", "okularApplication_pdf.desktop", {"okular", "xdg-open"}, true, {"okular", "-p", "45", "DOC"}, {}},
      {"other viewer", "org.example.Viewer.desktop", {"evince", "xdg-open"}, true, {"xdg-open", "DOC"}, {}},
      {"default not installed", "org.gnome.Evince.desktop", {"xdg-open"}, true, {"xdg-open", "DOC"}, {}},
      {"no viewer", nullptr, {}, true, {},
       "No program to show " + document + " was found (a PDF viewer, or xdg-open)."},
      {"no document", "org.gnome.Evince.desktop", {"evince"}, false, {}, "The help document " + document + " is missing."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DialogWorld world;
    const QString record = world.tree.Path(QStringLiteral("started.txt"));
    const QByteArray recordbytes = QFile::encodeName(record);
    world.tree.MakeDir(QStringLiteral("bin"));
    QStringList tools = c.tools;
    if (c.defaultapplication) tools << QStringLiteral("xdg-mime");
    for (const QString& tool : tools) {
      const QByteArray body = tool == QLatin1String("xdg-mime")
                                  ? QByteArray("echo ") + c.defaultapplication + "\n"
                                  : "printf '%s\\n' " + tool.toUtf8() + " \"$@\" > \"" + recordbytes + ".part\"\n" +
                                        "/bin/mv \"" + recordbytes + ".part\" \"" + recordbytes + "\"\n";
      world.tree.WriteFile(QStringLiteral("bin/") + tool, "#!/bin/sh\n" + body);
      ASSERT_TRUE(QFile::setPermissions(world.tree.Path(QStringLiteral("bin/") + tool),
                                        QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
    dialog_test::ScopedEnv path("PATH", world.tree.Path(QStringLiteral("bin")));
    if (c.hasdocument) world.tree.WriteFile(QStringLiteral("c/PROG/tolhlp.pdf"), "%PDF-1.4\n");
    TForm1* form = world.Open();
    QTest::mouseClick(form->dhelp, Qt::LeftButton);
    if (c.started.isEmpty()) {
      EXPECT_EQ(world.prompts.MessageTexts(), std::vector<QString>{c.message});
    } else {
      ASSERT_TRUE(WaitForFile(record));
      const QString shown = world.tree.Path(QStringLiteral("c/PROG/tolhlp.pdf"));
      EXPECT_EQ(QString::fromUtf8(ReadAll(record)),
                QStringList(c.started).replaceInStrings(QStringLiteral("DOC"), shown).join('\n') + '\n');
      EXPECT_TRUE(world.prompts.messages.empty());
    }
    EXPECT_FALSE(form->terminated);
  }
}

}  // namespace
