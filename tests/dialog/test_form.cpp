// The dialog window: its controls, the start-up sequence with the command line and the
// host settings file, the ways out and the side strips.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QListView>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include "dialog/form.h"
#include "platform/clipboard.h"
#include "support/dialog_env.h"

using dialog_test::Captions;
using dialog_test::DialogWorld;

namespace {

template <class T = QWidget>
T* Child(TForm1* form, const char* name) {
  T* child = form->findChild<T*>(QLatin1String(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

QString TextOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* box = qobject_cast<QGroupBox*>(widget)) return box->title();
  return QString();
}

TEST(Form, ControlsStandWhereTheLayoutPutsThem) {
  DialogWorld world;
  TForm1* form = world.Open();
  const struct {
    const char* name;
    QRect place;  // an empty size: only the position is fixed
    const char* caption;
    const char* hint;
  } controls[] = {
      {"ComboBox1", QRect(16, 4, 225, 24), "", "Chose Folder"},
      {"Label3", QRect(24, 8, 0, 0), "Look In", ""},
      {"SpeedButton1", QRect(246, 4, 23, 23), "", "Previous folder"},
      {"dcopyit", QRect(272, 4, 23, 23), "", "Copy to Disk"},
      {"SpeedButton2", QRect(308, 4, 23, 23), "", "Large icons"},
      {"SpeedButton3", QRect(330, 4, 23, 23), "", "List"},
      {"SpeedButton4", QRect(353, 4, 23, 23), "", "Report"},
      {"daiload", QRect(385, 4, 53, 23), "EPS", "AI/EPS Import Module"},
      {"SpeedButton6", QRect(385, 28, 53, 23), "DXF", "AI/EPS Import Module"},
      {"SpeedButton8", QRect(440, 4, 71, 23), "Cancel", ""},
      {"dopen", QRect(512, 4, 73, 23), "Import", ""},
      {"files", QRect(16, 32, 361, 377), "", ""},
      {"Label2", QRect(520, 40, 0, 0), "Files of Type", ""},
      {"GroupBox1", QRect(384, 104, 201, 145), "File Information", ""},
      {"PaintBox3", QRect(392, 264, 160, 140), "", ""},
      {"dhelp", QRect(560, 376, 25, 27), "", "Show Help"},
      {"fstate", QRect(16, 412, 577, 19), "", ""},
      {"PaintBox1", QRect(-1, 0, 16, 433), "", ""},
      {"PaintBox2", QRect(592, 0, 17, 433), "", ""},
  };
  for (const auto& c : controls) {
    QWidget* widget = Child(form, c.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget(), form) << c.name;
    EXPECT_EQ(widget->pos(), c.place.topLeft()) << c.name;
    if (!c.place.size().isEmpty()) {
      EXPECT_EQ(widget->size(), c.place.size()) << c.name;
    }
    EXPECT_EQ(TextOf(widget), QString::fromUtf8(c.caption)) << c.name;
    EXPECT_EQ(widget->toolTip(), QString::fromUtf8(c.hint)) << c.name;
    EXPECT_TRUE(widget->isVisible()) << c.name;
  }
  QWidget* types = Child(form, "ComboBox2");
  EXPECT_EQ(types->pos(), QPoint(384, 56));
  EXPECT_EQ(types->width(), 201);

  EXPECT_EQ(form->size(), QSize(605, 435));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form->font().pixelSize(), 11);
  EXPECT_TRUE(form->dopen->font().bold());
  EXPECT_FALSE(form->dcopyit->isEnabled());
  EXPECT_TRUE(form->SpeedButton3->isChecked());
  EXPECT_FALSE(form->SpeedButton2->isChecked());
  EXPECT_EQ(form->ComboBox1->itemheight(), 18);
  EXPECT_EQ(form->ComboBox2->itemheight(), 20);
  EXPECT_EQ(form->ComboBox2->maxVisibleItems(), 17);
  EXPECT_EQ(form->fstate->panellabel(0)->width(), 150);
  EXPECT_EQ(form->fstate->panellabel(1)->width(), 80);
  EXPECT_LT(form->fstate->panellabel(0)->geometry().right(), form->fstate->panellabel(1)->x());
  EXPECT_LT(form->fstate->panellabel(1)->geometry().right(), form->fstate->panellabel(2)->x());
  EXPECT_EQ(form->fstate->panellabel(2)->geometry().right(), form->fstate->width() - 1);
  EXPECT_EQ(form->menuitem->text(), QStringLiteral("&Properties"));
  EXPECT_EQ(form->ThiscouldbeanExplorerlikemenu1->text(), QStringLiteral("This could be an Explorer-like menu"));
  EXPECT_FALSE(form->ThiscouldbeanExplorerlikemenu1->isEnabled());
  // The label lies beneath the folder combo.
  EXPECT_LT(form->children().indexOf(form->Label3), form->children().indexOf(form->ComboBox1));
}

TEST(Form, FolderComboNeverShowsItsHint) {
  DialogWorld world;
  TForm1* form = world.Open();
  QHelpEvent tip(QEvent::ToolTip, QPoint(5, 5), form->ComboBox1->mapToGlobal(QPoint(5, 5)));
  EXPECT_TRUE(QApplication::sendEvent(form->ComboBox1, &tip));
  EXPECT_FALSE(QToolTip::isVisible());
}

TEST(Form, CreationListsOnlyFoldersOfTheProgramFolder) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("c/PROG/plugins"));
  world.tree.WriteFile(QStringLiteral("c/PROG/logo.bmp"), "BM");
  TForm1 form({}, QStringLiteral("C:\\PROG\\importdlg"));
  EXPECT_EQ(form.currentpath, QStringLiteral("C:\\PROG\\"));
  EXPECT_EQ(Captions(form), QStringList{QStringLiteral("plugins")});
  EXPECT_EQ(form.fstate->panel(0), QStringLiteral("1 Object(s)"));
  EXPECT_EQ(form.fstate->panel(1), QStringLiteral("0 Byte(s)"));
  EXPECT_EQ(form.files->columns().size(), 4u);
  EXPECT_EQ(form.files->columns()[1].caption, QStringLiteral("Size"));
  form.show();
  EXPECT_EQ(Captions(form), (QStringList{QStringLiteral("plugins"), QStringLiteral("logo.bmp")}));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(Form, DebugCheckpointsOnlyForExactlyDebug) {
  const struct {
    QStringList params;
    bool debug;
  } cases[] = {
      {{QStringLiteral("DEBUG")}, true},
      {{QStringLiteral("debug")}, false},
      {{QStringLiteral("DEBUGX")}, false},
      {{}, false},
  };
  for (const auto& c : cases) {
    DialogWorld world;
    world.Open(c.params);
    const std::vector<QString> expected =
        c.debug ? std::vector<QString>{"Debug Mode", "02", "03", "04", "05", "06", "show", "10"} : std::vector<QString>{};
    EXPECT_EQ(world.prompts.MessageTexts(), expected) << c.params.join(' ').toStdString();
    for (const auto& asked : world.prompts.messages) EXPECT_EQ(asked.kind, platform::MessageKind::Plain);
    EXPECT_EQ(world.form()->debugmode, c.debug);
  }
}

TEST(Form, SecondArgumentChoosesTheFileTypeThirdTheSaveMode) {
  const struct {
    QStringList params;
    int type;
    bool save;
  } cases[] = {
      {{}, 0, false},
      {{"", "3"}, 3, false},
      {{"", "1"}, 1, false},
      {{"", "7"}, 0, false},
      {{"", "x"}, 0, false},
      {{"", "2x"}, 2, false},
      {{"", "", "S"}, 0, true},
      {{"", "", "Save"}, 0, true},
      {{"", "", "s"}, 0, false},
      {{"DEBUG", "3", "S"}, 3, true},
  };
  for (const auto& c : cases) {
    DialogWorld world;
    world.tree.WriteFile(QStringLiteral("c/PROG/trace.crv"));
    world.tree.WriteFile(QStringLiteral("c/PROG/logo.ai"));
    world.tree.MakeDir(QStringLiteral("c/PROG/sub"));
    TForm1* form = world.Open(c.params);
    const std::string label = c.params.join('|').toStdString();
    EXPECT_EQ(form->ComboBox2->currentIndex(), c.type) << label;
    EXPECT_EQ(form->csave, c.save) << label;
    EXPECT_TRUE(form->dopen->isVisibleTo(form)) << label;
    EXPECT_TRUE(form->windowTitle().startsWith(c.save ? QStringLiteral("Enter FileName to Save..  [")
                                                      : QStringLiteral("Select File to Import.. [")))
        << label;
    if (c.type == 3) {
      EXPECT_EQ(Captions(*form), (QStringList{QStringLiteral("sub"), QStringLiteral("trace.crv")})) << label;
    }
  }
}

TEST(Form, StartFolderFromTheHostSettingsFile) {
  const struct {
    const char* settings;  // nullptr: no settings file
    const char* programfile;
    const char* start;
    const char* caption;
  } cases[] = {
      {"[Paths]\r\nImport=d:\\pics\r\n", "C:\\PROG\\importdlg", "D:\\PICS\\", "Select File to Import.. [D:\\PICS]"},
      {"[paths]\nimport = c:\\A\\b\\\n", "C:\\PROG\\importdlg", "C:\\A\\B\\", "Select File to Import.. [C:\\A\\B\\]"},
      {"[Paths]\r\nImport=a:\\pics\r\n", "C:\\PROG\\importdlg", "C:\\PROG\\", "Select File to Import.. [C:\\PROG\\]"},
      {"[Paths]\r\nImport=b:\\\r\n", "C:\\PROG\\importdlg", "C:\\PROG\\", "Select File to Import.. [C:\\PROG\\]"},
      {"[Paths]\r\nImport=1pics\r\n", "C:\\PROG\\importdlg", "C:\\PROG\\", "Select File to Import.. [C:\\PROG\\]"},
      {"[Paths]\r\nImport=\r\n", "C:\\prog\\importdlg", "C:\\PROG\\", "Select File to Import.. [C:\\PROG\\]"},
      {nullptr, "C:\\prog\\importdlg", "C:\\PROG\\", "Select File to Import.. [C:\\PROG\\]"},
      {"[Other]\r\nImport=d:\\pics\r\n", "C:\\prog\\importdlg", "C:\\PROG\\", "Select File to Import.. [C:\\PROG\\]"},
      // A program folder on drive A: is not upper-cased: the upper-cased text starts below C.
      {nullptr, "A:\\tools\\importdlg", "A:\\tools\\", "Select File to Import.. [A:\\tools\\]"},
      // A folder without a drive letter begins with "\", which lies above C.
      {"[Paths]\r\nImport=\\nowhere\\\r\n", "C:\\PROG\\importdlg", "\\NOWHERE\\", "Select File to Import.. [\\NOWHERE\\]"},
      // A folder beside its case twin is kept in its own spelling.
      {"[Paths]\r\nImport=d:\\Twin\\\r\n", "C:\\PROG\\importdlg", "D:\\Twin\\", "Select File to Import.. [D:\\Twin\\]"},
  };
  for (const auto& c : cases) {
    DialogWorld world;
    world.tree.MakeDir(QStringLiteral("d/pics"));
    world.tree.MakeDir(QStringLiteral("c/A/b"));
    world.tree.MakeDir(QStringLiteral("a/tools"));
    world.tree.MakeDir(QStringLiteral("d/Twin"));
    world.tree.MakeDir(QStringLiteral("d/TWIN"));
    if (c.settings) world.WriteSettings(c.settings);
    TForm1* form = world.Open({}, QString::fromUtf8(c.programfile));
    const std::string label = c.settings ? c.settings : "(none)";
    EXPECT_EQ(form->currentpath, QString::fromUtf8(c.start)) << label;
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(c.caption)) << label;
    EXPECT_TRUE(world.prompts.messages.empty()) << label;
  }
}

TEST(Form, MissingStartFolderListsEmpty) {
  DialogWorld world;
  world.WriteSettings("[Paths]\r\nImport=D:\\GONE\\\r\n");
  TForm1* form = world.Open();
  EXPECT_EQ(form->currentpath, QStringLiteral("D:\\GONE\\"));
  EXPECT_EQ(form->files->count(), 0);
  EXPECT_EQ(form->fstate->panel(0), QStringLiteral("0 Object(s)"));
  EXPECT_EQ(form->fstate->panel(1), QStringLiteral("0 Byte(s)"));
  EXPECT_TRUE(world.prompts.messages.empty());
}

TEST(Form, StartEmptiesTheClipboard) {
  DialogWorld world;
  ASSERT_TRUE(platform::SetClipboardText(QStringLiteral("C:\\OLD\\PICTURE.BMP")));
  world.Open();
  EXPECT_EQ(platform::GetClipboardText(), QString());
}

TEST(Form, EscapeFromAnyControlEndsWithoutHandOff) {
  const char* focused[] = {"files", "ComboBox1", "ComboBox2", "dopen", "SpeedButton8"};
  for (const char* name : focused) {
    DialogWorld world;
    TForm1* form = world.Open();
    QWidget* target = name == std::string("files") ? form->files->currentview() : Child(form, name);
    QTest::keyClick(target, Qt::Key_Escape);
    EXPECT_TRUE(form->terminated) << name;
    EXPECT_EQ(platform::GetClipboardText(), QString()) << name;
    EXPECT_FALSE(QFile::exists(world.tree.Path(QStringLiteral("sys/tolva.ini")))) << name;
  }
}

TEST(Form, CancelEndsOtherKeysDoNot) {
  DialogWorld world;
  TForm1* form = world.Open();
  QSignalSpy ended(form, &TForm1::terminaterequested);
  QTest::keyClick(form->files->currentview(), Qt::Key_A);
  EXPECT_FALSE(form->terminated);
  QTest::mouseClick(form->SpeedButton8, Qt::LeftButton);
  EXPECT_TRUE(form->terminated);
  EXPECT_EQ(ended.count(), 1);
  EXPECT_EQ(platform::GetClipboardText(), QString());
}

TEST(Form, TabReachesEveryEnabledButton) {
  DialogWorld world;
  world.tree.WriteFile(QStringLiteral("c/PROG/plan.dxf"), "x");
  TForm1* form = world.Open();
  dialog_test::ClickEntry(*form, QStringLiteral("plan.dxf"));
  form->activateWindow();
  form->ComboBox1->setFocus();
  QStringList reached;
  for (int i = 0; i < 20; ++i) {
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    if (qobject_cast<QAbstractButton*>(focused)) reached << focused->objectName();
    QTest::keyClick(focused, Qt::Key_Tab);
  }
  for (const char* name : {"SpeedButton1", "dcopyit", "daiload", "SpeedButton6", "SpeedButton8", "dopen", "dhelp"})
    EXPECT_TRUE(reached.contains(QLatin1String(name))) << name << " not in " << reached.join(' ').toStdString();
}

TEST(Form, EnterPressesTheFocusedButtonOnce) {
  const struct {
    const char* button;
    QString clipboard;
    bool terminated;
    std::vector<QString> messages;
    QString currentpath;
  } cases[] = {
      {"dopen", "C:\\PROG\\PLAN.DXF", true, {}, "C:\\PROG\\"},
      {"SpeedButton8", "", true, {}, "C:\\PROG\\"},
      {"daiload", "AIEPS", true, {}, "C:\\PROG\\"},
      {"SpeedButton6", "DXF", true, {}, "C:\\PROG\\"},
      {"dcopyit", "", false, {"Copy this file to Disk?"}, "C:\\PROG\\"},
      {"dhelp", "", false, {"The help document C:\\PROG\\tolhlp.pdf is missing."}, "C:\\PROG\\"},
      {"SpeedButton1", "", false, {}, "C:\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    DialogWorld world;
    world.tree.WriteFile(QStringLiteral("c/PROG/plan.dxf"), "x");
    world.prompts.messageAnswers = {platform::MessageAnswer::No};
    TForm1* form = world.Open();
    dialog_test::ClickEntry(*form, QStringLiteral("plan.dxf"));
    auto* button = Child<QAbstractButton>(form, c.button);
    button->setFocus();
    QTest::keyPress(button, Qt::Key_Return);
    // The release reaches the folder list, where the focus may have gone; there Enter
    // would open the selected entry, and it must not act a second time.
    QTest::keyRelease(form->files->currentview(), Qt::Key_Return);
    EXPECT_EQ(platform::GetClipboardText(), c.clipboard);
    EXPECT_EQ(form->terminated, c.terminated);
    EXPECT_EQ(world.prompts.MessageTexts(), c.messages);
    EXPECT_EQ(form->currentpath, c.currentpath);
  }
}

TEST(Form, SideStripsAreGreyRampsDarkOutside) {
  DialogWorld world;
  TForm1* form = world.Open();
  const QRgb ramp[16] = {0x606060, 0x606860, 0x6F706F, 0x707770, 0x7F807F, 0x808780, 0x8F8F8F, 0x909790,
                         0x9F9F9F, 0xA0A7A0, 0xAFAFAF, 0xB0B7B0, 0xBFBFBF, 0xBFBFBF, 0xBFBFBF, 0xBFBFBF};
  const QImage left = form->PaintBox1->grab().toImage();
  const QImage right = form->PaintBox2->grab().toImage();
  ASSERT_EQ(left.size(), QSize(16, 433));
  ASSERT_EQ(right.size(), QSize(17, 433));
  for (int y : {0, 200, 432}) {
    for (int x = 0; x < 16; ++x) EXPECT_EQ(left.pixel(x, y) & 0xFFFFFF, ramp[x]) << x << "," << y;
    EXPECT_EQ(right.pixel(0, y) & 0xFFFFFF, 0xBFBFBFu);
    EXPECT_EQ(right.pixel(16, y) & 0xFFFFFF, 0x606060u);
  }
}

}  // namespace
