// Navigation: the folder combo, double-click and Enter on an entry, the "Previous folder"
// button and Backspace, and "Show only directories".
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QDir>
#include <QTest>

#include <functional>

#include "dialog/form.h"
#include "pictures/registry.h"
#include "platform/clipboard.h"
#include "platform/paths.h"
#include "support/dialog_env.h"

using dialog_test::Captions;
using dialog_test::ClickEmpty;
using dialog_test::ClickEntry;
using dialog_test::DialogWorld;
using dialog_test::IndexOf;

namespace {

const QStringList kFileColumns = {"Name", "Size", "Type", "Modified"};
const QStringList kDriveColumns = {"Name", "Type", "Disksize", "Free Space"};

QStringList ColumnCaptions(const TForm1& form) {
  QStringList captions;
  for (const dialog::ListColumn& column : form.files->columns()) captions << column.caption;
  return captions;
}

QStringList ComboItems(const TForm1& form) {
  QStringList items;
  for (int i = 0; i < form.ComboBox1->count(); ++i) items << form.ComboBox1->itemText(i);
  return items;
}

// Chooses the combo item whose path is `path` (with or without the current-item mark).
void ChooseFolder(TForm1& form, const QString& path) {
  const QStringList items = ComboItems(form);
  for (int i = 0; i < items.size(); ++i) {
    if (items[i].mid(items[i].indexOf(QLatin1Char(':')) + 1) == path) {
      dialog_test::Choose(form.ComboBox1, i);
      return;
    }
  }
  FAIL() << "no combo item for " << path.toStdString() << " in " << items.join(' ').toStdString();
}

void DoubleClickEntry(TForm1& form, const QString& caption) {
  const int row = IndexOf(form, caption);
  ASSERT_GE(row, 0) << caption.toStdString();
  QAbstractItemView* view = form.files->currentview();
  const QRect rect = view->visualRect(view->model()->index(row, 0));
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, rect.topLeft() + QPoint(4, rect.height() / 2));
}

void PressKey(TForm1& form, Qt::Key key) {
  QTest::keyClick(form.files->currentview(), key);
}

// The folder list has the focus and its first entry is selected.
void ExpectFocusOnFirstEntry(const TForm1& form) {
  QWidget* focus = form.focusWidget();
  EXPECT_TRUE(focus == form.files || form.files->isAncestorOf(focus));
  if (form.files->count() > 0) {
    EXPECT_EQ(form.files->selectedindex(), 0);
  }
}

class Navigation : public ::testing::Test {
 protected:
  void SetUp() override {
    pictures::RegisterReaders();
    world.tree.MakeDir(QStringLiteral("c/A/B/C"));
    world.tree.WriteFile(QStringLiteral("c/A/B/picture.pcx"), "x");
    world.tree.WriteFile(QStringLiteral("c/A/B/plan.dxf"), "x");
  }

  TForm1* OpenIn(const QByteArray& folder) {
    world.WriteSettings("[Paths]\r\nImport=" + folder + "\r\n");
    return world.Open();
  }

  DialogWorld world;
};

// ---- Up one level ----

enum class UpRoute { Button, Backspace };

class UpOneLevel : public Navigation, public ::testing::WithParamInterface<UpRoute> {
 protected:
  void GoUp(TForm1& form) {
    if (GetParam() == UpRoute::Button) {
      QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    } else {
      PressKey(form, Qt::Key_Backspace);
    }
  }
};

TEST_P(UpOneLevel, ClimbsToTheDrivesAndStopsThere) {
  TForm1* form = OpenIn("C:\\A\\B\\");
  ASSERT_EQ(form->currentpath, QStringLiteral("C:\\A\\B\\"));
  GoUp(*form);
  EXPECT_EQ(form->currentpath, QStringLiteral("C:\\A\\"));
  EXPECT_EQ(Captions(*form), QStringList{"B"});
  ExpectFocusOnFirstEntry(*form);
  GoUp(*form);
  EXPECT_EQ(form->currentpath, QStringLiteral("C:\\"));
  EXPECT_EQ(Captions(*form), (QStringList{"A", "PROG"}));
  GoUp(*form);
  EXPECT_EQ(form->currentpath, QStringLiteral("Drives"));
  EXPECT_EQ(ColumnCaptions(*form), kDriveColumns);
  EXPECT_EQ(form->files->count(), 3);  // A:, C: and D:
  ExpectFocusOnFirstEntry(*form);
  EXPECT_FALSE(form->SpeedButton1->isEnabled());
  // At the top, up does nothing.
  GoUp(*form);
  form->SpeedButton1Click();
  EXPECT_EQ(form->currentpath, QStringLiteral("Drives"));
  EXPECT_EQ(form->files->count(), 3);
  EXPECT_TRUE(world.prompts.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Routes, UpOneLevel, ::testing::Values(UpRoute::Button, UpRoute::Backspace));

TEST_F(Navigation, UpFromALocationWithoutDriveLetterEndsInTheDrives) {
  // A folder outside every drive has a rooted path without a drive letter; the host
  // settings file may name one as the start folder.
  world.tree.MakeDir(QStringLiteral("outside/x/y"));
  const QString start = platform::WindowsPath(world.tree.Path(QStringLiteral("outside/x/y")));
  ASSERT_TRUE(start.startsWith(QLatin1Char('\\'))) << start.toStdString();
  TForm1* form = OpenIn(start.toUtf8() + "\\");
  ASSERT_EQ(form->currentpath, start.toUpper() + QLatin1Char('\\'));
  QStringList visited{form->currentpath};
  for (int step = 0; step < 64 && form->currentpath != QLatin1String("Drives"); ++step) {
    form->SpeedButton1Click();
    visited << form->currentpath;
  }
  ASSERT_EQ(visited.last(), QStringLiteral("Drives"));
  // Every step removed one component; the last folder before the drives is the root "\".
  EXPECT_EQ(visited[1], start.toUpper().left(start.lastIndexOf(QLatin1Char('\\')) + 1));
  EXPECT_EQ(visited[visited.size() - 2], QStringLiteral("\\"));
  EXPECT_EQ(visited.size(), start.count(QLatin1Char('\\')) + 2);
  EXPECT_EQ(ColumnCaptions(*form), kDriveColumns);
  EXPECT_TRUE(world.prompts.messages.empty());
}

// ---- The folder combo ----

TEST_F(Navigation, ComboChoiceOfADriveListsItLikeADoubleClick) {
  TForm1* form = OpenIn("C:\\A\\B\\");
  form->SpeedButton1Click();
  form->SpeedButton1Click();
  form->SpeedButton1Click();
  ASSERT_EQ(form->currentpath, QStringLiteral("Drives"));
  ChooseFolder(*form, QStringLiteral("C:\\"));
  EXPECT_EQ(form->currentpath, QStringLiteral("C:\\"));
  EXPECT_EQ(ColumnCaptions(*form), kFileColumns);
  EXPECT_EQ(Captions(*form), (QStringList{"A", "PROG"}));
  ExpectFocusOnFirstEntry(*form);
  const QStringList byCombo = Captions(*form);

  form->SpeedButton1Click();
  ASSERT_EQ(form->currentpath, QStringLiteral("Drives"));
  ASSERT_EQ(form->files->items()[1].subitems[4], QStringLiteral("C:\\"));
  DoubleClickEntry(*form, form->files->items()[1].caption);
  EXPECT_EQ(form->currentpath, QStringLiteral("C:\\"));
  EXPECT_EQ(ColumnCaptions(*form), kFileColumns);
  EXPECT_EQ(Captions(*form), byCombo);
}

TEST_F(Navigation, ComboChoiceOfAFolderLevelOrTheDrives) {
  TForm1* form = OpenIn("C:\\A\\B\\C\\");
  EXPECT_EQ(ComboItems(*form), (QStringList{"0:Drives", "1:A:\\", "1:C:\\", "2:C:\\A\\", "3:C:\\A\\B\\",
                                             "T4:C:\\A\\B\\C\\", "1:D:\\"}));
  ChooseFolder(*form, QStringLiteral("C:\\A\\"));
  EXPECT_EQ(form->currentpath, QStringLiteral("C:\\A\\"));
  EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("T2:C:\\A\\"));
  ExpectFocusOnFirstEntry(*form);
  ChooseFolder(*form, QStringLiteral("Drives"));
  EXPECT_EQ(form->currentpath, QStringLiteral("Drives"));
  EXPECT_EQ(ColumnCaptions(*form), kDriveColumns);
  EXPECT_TRUE(world.prompts.messages.empty());
}

TEST_F(Navigation, ComboChoiceThatCannotBeReachedIsReported) {
  DialogWorld missing(QStringLiteral("C=%1/c;E=%1/nothing-here"));
  missing.tree.MakeDir(QStringLiteral("c/A/B"));
  missing.tree.WriteFile(QStringLiteral("c/A/B/one.pcx"), "x");
  missing.WriteSettings("[Paths]\r\nImport=C:\\A\\B\\\r\n");
  TForm1* form = missing.Open();
  ClickEntry(*form, QStringLiteral("one.pcx"));
  ASSERT_TRUE(form->dopen->isEnabled());

  // A drive without its folder, and a folder removed since it was listed.
  ChooseFolder(*form, QStringLiteral("E:\\"));
  ASSERT_TRUE(QDir(missing.tree.Path(QStringLiteral("c/A/B"))).removeRecursively());
  ChooseFolder(*form, QStringLiteral("C:\\A\\B\\"));
  EXPECT_EQ(missing.prompts.MessageTexts(),
            (std::vector<QString>{"No Access to E:\\ .", "No Access to C:\\A\\B\\ ."}));
  EXPECT_EQ(missing.prompts.messages[0].kind, platform::MessageKind::Plain);
  // The listing stays, the combo shows the current location again, the details are gone.
  EXPECT_EQ(form->currentpath, QStringLiteral("C:\\A\\B\\"));
  EXPECT_EQ(Captions(*form), QStringList{"one.pcx"});
  EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("T3:C:\\A\\B\\"));
  EXPECT_FALSE(form->dopen->isEnabled());
  QWidget* focus = form->focusWidget();
  EXPECT_TRUE(focus == form->files || form->files->isAncestorOf(focus));
}

TEST_F(Navigation, ComboActsOnlyWhenItsListIsClosed) {
  TForm1* form = OpenIn("C:\\A\\B\\");
  form->ComboBox1->showPopup();
  ASSERT_TRUE(form->ComboBox1->droppeddown());
  // Moving through the open list changes the combo's selection but not the location.
  form->ComboBox1->setCurrentIndex(0);
  form->ComboBox1Change();
  EXPECT_EQ(form->currentpath, QStringLiteral("C:\\A\\B\\"));
  form->ComboBox1->hidePopup();
  ASSERT_FALSE(form->ComboBox1->droppeddown());
  form->ComboBox1Change();
  EXPECT_EQ(form->currentpath, QStringLiteral("Drives"));
}

// ---- Double-click and Enter ----

enum class OpenRoute { DoubleClick, Enter };

class OpenEntry : public Navigation, public ::testing::WithParamInterface<OpenRoute> {
 protected:
  void Open(TForm1& form, const QString& caption) {
    if (GetParam() == OpenRoute::DoubleClick) {
      DoubleClickEntry(form, caption);
    } else {
      ClickEntry(form, caption);
      PressKey(form, Qt::Key_Return);
    }
  }
};

TEST_P(OpenEntry, FolderOpens) {
  TForm1* form = OpenIn("C:\\A\\");
  Open(*form, QStringLiteral("B"));
  EXPECT_EQ(form->currentpath, QStringLiteral("C:\\A\\B\\"));
  EXPECT_EQ(Captions(*form), (QStringList{"C", "picture.pcx", "plan.dxf"}));
  // The selection is not moved to the new listing.
  EXPECT_EQ(form->files->selectedindex(), -1);
}

TEST_P(OpenEntry, FileIsImported) {
  TForm1* form = OpenIn("C:\\A\\B\\");
  Open(*form, QStringLiteral("plan.dxf"));
  EXPECT_TRUE(form->terminated);
  EXPECT_EQ(platform::GetClipboardText(), QStringLiteral("C:\\A\\B\\PLAN.DXF"));

  form = OpenIn("C:\\A\\B\\");
  world.prompts.saveAnswers.push_back(std::nullopt);
  Open(*form, QStringLiteral("picture.pcx"));
  ASSERT_EQ(world.prompts.saveRequests.size(), 1u);
  EXPECT_EQ(world.prompts.saveRequests[0].fileName, QStringLiteral("C:\\A\\B\\picture.bmp"));
  EXPECT_FALSE(form->terminated);
}

TEST_P(OpenEntry, DriveOpensUnderTheFileColumnsOrIsReportedWhenMissing) {
  DialogWorld drives(QStringLiteral("C=%1/c;E=%1/nothing-here"));
  drives.tree.MakeDir(QStringLiteral("c/top"));
  drives.WriteSettings("[Paths]\r\nImport=C:\\\r\n");
  TForm1* form = drives.Open();
  form->SpeedButton1Click();
  ASSERT_EQ(form->currentpath, QStringLiteral("Drives"));
  const QString missing = form->files->items()[1].caption;
  ASSERT_EQ(form->files->items()[1].subitems[4], QStringLiteral("E:\\"));
  Open(*form, missing);
  EXPECT_EQ(drives.prompts.MessageTexts(), std::vector<QString>{QStringLiteral("No Access to ") + missing + " ."});
  EXPECT_EQ(form->currentpath, QStringLiteral("Drives"));
  EXPECT_EQ(ColumnCaptions(*form), kDriveColumns);

  Open(*form, form->files->items()[0].caption);
  EXPECT_EQ(form->currentpath, QStringLiteral("C:\\"));
  EXPECT_EQ(ColumnCaptions(*form), kFileColumns);
  EXPECT_EQ(Captions(*form), (QStringList{"PROG", "top"}));
}

INSTANTIATE_TEST_SUITE_P(Routes, OpenEntry, ::testing::Values(OpenRoute::DoubleClick, OpenRoute::Enter));

// A box closed with Enter leaves the release of that Enter to the folder list, which has
// the focus again; the list acts on releases, but not on one whose press it did not see.
TEST(EnterRelease, AfterABoxOrTheSaveDialogClosedDoesNothingMore) {
  const struct {
    const char* box;
    std::function<void(TForm1&, platform::FakePrompts&)> open;
  } cases[] = {
      {"Unable to load picture!", [](TForm1& form, platform::FakePrompts&) {
         ClickEntry(form, QStringLiteral("empty.pcx"));
         PressKey(form, Qt::Key_Return);
       }},
      {"save dialog, cancelled", [](TForm1& form, platform::FakePrompts& prompts) {
         prompts.saveAnswers.push_back(std::nullopt);
         ClickEntry(form, QStringLiteral("empty.pcx"));
         PressKey(form, Qt::Key_Return);
       }},
      {"No Access to", [](TForm1& form, platform::FakePrompts&) {
         form.SpeedButton1Click();
         form.files->setselectedindex(2);  // E:, whose folder is missing
         PressKey(form, Qt::Key_Return);
       }},
      {"Copy this file to Disk?", [](TForm1& form, platform::FakePrompts&) {
         ClickEntry(form, QStringLiteral("plan.dxf"));
         QTest::mouseClick(form.dcopyit, Qt::LeftButton);
       }},
      {"Properties", [](TForm1& form, platform::FakePrompts&) {
         ClickEntry(form, QStringLiteral("plan.dxf"));
         form.menuitem->trigger();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    DialogWorld world(QStringLiteral("A=%1/a;C=%1/c;E=%1/nothing-here"));
    world.tree.WriteFile(QStringLiteral("c/empty.pcx"));
    world.tree.WriteFile(QStringLiteral("c/plan.dxf"), "x");
    world.WriteSettings("[Paths]\r\nImport=C:\\\r\n");
    TForm1* form = world.Open();
    c.open(*form, world.prompts);
    const size_t asked = world.prompts.messages.size() + world.prompts.saveRequests.size();
    ASSERT_GT(asked, 0u);
    QTest::keyRelease(form->files->currentview(), Qt::Key_Return);
    EXPECT_EQ(world.prompts.messages.size() + world.prompts.saveRequests.size(), asked);
    EXPECT_FALSE(form->terminated);
  }
}

TEST_F(Navigation, DoubleClickWithNothingSelectedDoesNothing) {
  TForm1* form = OpenIn("C:\\A\\B\\");
  ClickEmpty(*form);
  ASSERT_EQ(form->files->selectedindex(), -1);
  form->filesDblClick();
  EXPECT_EQ(form->currentpath, QStringLiteral("C:\\A\\B\\"));
  EXPECT_TRUE(world.prompts.messages.empty());
  EXPECT_TRUE(world.prompts.saveRequests.empty());
}

// ---- Show only directories ----

TEST_F(Navigation, ShowOnlyDirectoriesListsAgain) {
  TForm1* form = OpenIn("C:\\A\\B\\");
  ASSERT_EQ(Captions(*form), (QStringList{"C", "picture.pcx", "plan.dxf"}));
  form->setch(true);
  EXPECT_EQ(Captions(*form), QStringList{"C"});
  QWidget* focus = form->focusWidget();
  EXPECT_TRUE(focus == form->files || form->files->isAncestorOf(focus));
  form->setch(false);
  EXPECT_EQ(Captions(*form), (QStringList{"C", "picture.pcx", "plan.dxf"}));
}

}  // namespace
