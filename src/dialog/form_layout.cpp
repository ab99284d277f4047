// The window and its controls, the start-up sequence, the initialization and the ways out
// that import nothing.
#include "dialog/form.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

#include "dialog/error_display.h"
#include "dialog/form_pictures.h"
#include "dialog/texts.h"
#include "platform/clipboard.h"
#include "platform/drives.h"
#include "platform/host_names.h"
#include "platform/ini_file.h"
#include "platform/paths.h"

using dialog::art::Glyph;

namespace {

QLabel* makelabel(QWidget* parent, const char* name, const QString& caption, int left, int top) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QLatin1String(name));
  label->move(left, top);
  label->adjustSize();
  return label;
}

QToolButton* makeglyphbutton(QWidget* parent, const char* name, Glyph glyph, const QRect& place,
                             const QString& hint, const QString& caption = QString()) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setGeometry(place);
  button->setIcon(QIcon(dialog::art::glyph(glyph)));
  button->setIconSize(QSize(16, 16));
  button->setToolTip(hint);
  // Reached with Tab (as a keyboard user needs) but never focused by a click, so that a
  // click leaves the focus where it was.
  button->setFocusPolicy(Qt::TabFocus);
  if (!caption.isEmpty()) {
    button->setText(caption);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  }
  return button;
}

}  // namespace

TForm1::TForm1(const QStringList& arguments, const QString& programfilepath, QWidget* parent)
    : QWidget(parent), params(arguments), programfile(programfilepath) {
  if (programfile.isEmpty()) programfile = platform::ProgramFilePath();
  SaveDialog1.title = QStringLiteral("Save Picture as Bitmap");
  SaveDialog1.filter = QStringLiteral("Windows Bitmap|*.bmp");
  SaveDialog1.defaultExtension = QStringLiteral("bmp");
  SaveDialog1.overwritePrompt = false;
  createcontrols();
  connecthandlers();
  platform::SetPromptParent(this);
  qApp->installEventFilter(this);
  dialog::runhandler([this] { FormCreate(); });
}

TForm1::~TForm1() {
  qApp->removeEventFilter(this);
  FormDestroy();
  setbusycursor(false);
  platform::SetPromptParent(nullptr);
}

void TForm1::createcontrols() {
  setObjectName(QStringLiteral("Form1"));
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(605, 435);
  setWindowTitle(QStringLiteral("Select File to Import..."));
  setWindowIcon(dialog::art::windowicon());
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  setFont(font);

  // The label lies beneath the folder combo, so it is created first.
  Label3 = makelabel(this, "Label3", QStringLiteral("Look In"), 24, 8);
  ComboBox1 = new dialog::TOwnerDrawComboBox(18, this);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->setGeometry(16, 4, 225, 24);
  ComboBox1->setToolTip(QStringLiteral("Chose Folder"));
  ComboBox1->setshowhint(false);
  ComboBox1->OnDrawItem = [this](QPainter& painter, int index, const QRect& rect, bool selected, bool infield) {
    ComboBox1DrawItem(painter, index, rect, selected, infield);
  };

  SpeedButton1 = makeglyphbutton(this, "SpeedButton1", Glyph::up, QRect(246, 4, 23, 23), QStringLiteral("Previous folder"));
  dcopyit = makeglyphbutton(this, "dcopyit", Glyph::copy, QRect(272, 4, 23, 23), QStringLiteral("Copy to Disk"));
  dcopyit->setEnabled(false);
  SpeedButton2 = makeglyphbutton(this, "SpeedButton2", Glyph::largeicons, QRect(308, 4, 23, 23), QStringLiteral("Large icons"));
  SpeedButton3 = makeglyphbutton(this, "SpeedButton3", Glyph::list, QRect(330, 4, 23, 23), QStringLiteral("List"));
  SpeedButton4 = makeglyphbutton(this, "SpeedButton4", Glyph::report, QRect(353, 4, 23, 23), QStringLiteral("Report"));
  auto* group1 = new QButtonGroup(this);
  group1->setExclusive(true);
  for (QToolButton* button : {SpeedButton2, SpeedButton3, SpeedButton4}) {
    button->setCheckable(true);
    group1->addButton(button);
  }
  SpeedButton3->setChecked(true);
  daiload = makeglyphbutton(this, "daiload", Glyph::eps, QRect(385, 4, 53, 23), QStringLiteral("AI/EPS Import Module"),
                            QStringLiteral("EPS"));
  SpeedButton6 = makeglyphbutton(this, "SpeedButton6", Glyph::dxf, QRect(385, 28, 53, 23),
                                 QStringLiteral("AI/EPS Import Module"), QStringLiteral("DXF"));

  SpeedButton8 = new QPushButton(QStringLiteral("Cancel"), this);
  SpeedButton8->setObjectName(QStringLiteral("SpeedButton8"));
  SpeedButton8->setGeometry(440, 4, 71, 23);
  dopen = new QPushButton(QStringLiteral("Import"), this);
  dopen->setObjectName(QStringLiteral("dopen"));
  dopen->setGeometry(512, 4, 73, 23);
  QFont bold = dopen->font();
  bold.setBold(true);
  dopen->setFont(bold);

  files = new dialog::TFileList(this);
  files->setObjectName(QStringLiteral("files"));
  files->setGeometry(16, 32, 361, 377);

  Label2 = makelabel(this, "Label2", QStringLiteral("Files of Type"), 520, 40);
  ComboBox2 = new dialog::TOwnerDrawComboBox(20, this);
  ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
  ComboBox2->setGeometry(384, 56, 201, 26);
  ComboBox2->setMaxVisibleItems(17);
  for (const QString& entry : filetypes) ComboBox2->addItem(entry);
  ComboBox2->setCurrentIndex(-1);
  ComboBox2->OnDrawItem = [this](QPainter& painter, int index, const QRect& rect, bool selected, bool) {
    ComboBox2DrawItem(painter, index, rect, selected);
  };

  GroupBox1 = new QGroupBox(QStringLiteral("File Information"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(384, 104, 201, 145);
  QPalette grey = GroupBox1->palette();
  grey.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
  Label4 = makelabel(GroupBox1, "Label4", QStringLiteral("Filename:"), 8, 18);
  Label5 = new QLabel(GroupBox1);
  Label5->setObjectName(QStringLiteral("Label5"));
  Label5->setGeometry(8, 32, 185, 25);
  Label5->setWordWrap(true);
  Label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label6 = makelabel(GroupBox1, "Label6", QStringLiteral("Date:"), 8, 62);
  Label9 = new QLabel(GroupBox1);
  Label9->setObjectName(QStringLiteral("Label9"));
  Label9->setGeometry(8, 76, 185, 14);
  Label8 = makelabel(GroupBox1, "Label8", QStringLiteral("File Size:"), 8, 98);
  Label7 = new QLabel(GroupBox1);
  Label7->setObjectName(QStringLiteral("Label7"));
  Label7->setGeometry(8, 112, 185, 14);
  for (QLabel* caption : {Label4, Label6, Label8}) caption->setPalette(grey);
  for (QLabel* value : {Label5, Label9, Label7}) value->setTextFormat(Qt::PlainText);

  PaintBox3 = new dialog::TPaintBox(this);
  PaintBox3->setObjectName(QStringLiteral("PaintBox3"));
  PaintBox3->setGeometry(392, 264, 160, 140);
  PaintBox3->OnPaint = [this](QPainter& painter) { PaintBox3Paint(painter); };

  dhelp = makeglyphbutton(this, "dhelp", Glyph::help, QRect(560, 376, 25, 27), QStringLiteral("Show Help"));
  dhelp->setAutoRaise(true);
  dhelp->setCursor(Qt::PointingHandCursor);

  fstate = new dialog::TStatusBar({150, 80}, this);
  fstate->setObjectName(QStringLiteral("fstate"));
  fstate->setGeometry(16, 412, 577, 19);
  fstate->setpanel(0, QStringLiteral("Files"));
  fstate->setpanel(1, QStringLiteral("Bytes"));
  fstate->setpanel(2, QStringLiteral("Click a file to see its details"));

  PaintBox1 = new dialog::TPaintBox(this);
  PaintBox1->setObjectName(QStringLiteral("PaintBox1"));
  PaintBox1->setGeometry(-1, 0, 16, 433);
  PaintBox1->OnPaint = [this](QPainter& painter) { PaintBox1Paint(painter); };
  PaintBox2 = new dialog::TPaintBox(this);
  PaintBox2->setObjectName(QStringLiteral("PaintBox2"));
  PaintBox2->setGeometry(592, 0, 17, 433);
  PaintBox2->OnPaint = [this](QPainter& painter) { PaintBox2Paint(painter); };

  menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("menu"));
  menuitem = menu->addAction(QStringLiteral("&Properties"));
  menuitem->setObjectName(QStringLiteral("menuitem"));
  ThiscouldbeanExplorerlikemenu1 = menu->addAction(QStringLiteral("This could be an Explorer-like menu"));
  ThiscouldbeanExplorerlikemenu1->setObjectName(QStringLiteral("ThiscouldbeanExplorerlikemenu1"));
  ThiscouldbeanExplorerlikemenu1->setEnabled(false);
}

template <class Sender, class Signal>
void TForm1::onsignal(Sender* sender, Signal signal, void (TForm1::*handler)()) {
  connect(sender, signal, this, [this, handler] { dialog::runhandler([this, handler] { (this->*handler)(); }); });
}

void TForm1::connecthandlers() {
  onsignal(ComboBox1, &QComboBox::activated, &TForm1::ComboBox1Change);
  onsignal(ComboBox2, &QComboBox::activated, &TForm1::ComboBox2Click);
  onsignal(SpeedButton1, &QToolButton::clicked, &TForm1::SpeedButton1Click);
  onsignal(dcopyit, &QToolButton::clicked, &TForm1::dcopyitClick);
  onsignal(SpeedButton2, &QToolButton::clicked, &TForm1::SpeedButton2Click);
  onsignal(SpeedButton3, &QToolButton::clicked, &TForm1::SpeedButton3Click);
  onsignal(SpeedButton4, &QToolButton::clicked, &TForm1::SpeedButton4Click);
  onsignal(daiload, &QToolButton::clicked, &TForm1::dailoadClick);
  onsignal(SpeedButton6, &QToolButton::clicked, &TForm1::SpeedButton6Click);
  onsignal(SpeedButton8, &QPushButton::clicked, &TForm1::SpeedButton8Click);
  onsignal(dopen, &QPushButton::clicked, &TForm1::dopenClick);
  onsignal(dhelp, &QToolButton::clicked, &TForm1::dhelpClick);
  onsignal(files, &dialog::TFileList::click, &TForm1::filesClick);
  onsignal(files, &dialog::TFileList::dblclick, &TForm1::filesDblClick);
  onsignal(menu, &QMenu::aboutToShow, &TForm1::menuPopup);
  onsignal(menuitem, &QAction::triggered, &TForm1::menuitemClick);
  connect(files, &dialog::TFileList::keydown, this, [this](int key) { dialog::runhandler([this, key] { filesKeyDown(key); }); });
  connect(files, &dialog::TFileList::keyup, this, [this](int key) { dialog::runhandler([this, key] { filesKeyUp(key); }); });
  connect(files, &dialog::TFileList::columnclick, this,
          [this](int column) { dialog::runhandler([this, column] { filesColumnClick(column); }); });
  connect(files, &dialog::TFileList::contextmenu, this, [this](const QPoint& where) { menu->popup(where); });
}

// ---- Start-up ----

void TForm1::checkpoint(const QString& text) {
  if (debugmode) platform::CurrentPrompts().Message(platform::MessageKind::Plain, text);
}

void TForm1::FormCreate() {
  if (paramstr(1) == QLatin1String("DEBUG")) {
    debugmode = true;
    checkpoint(QStringLiteral("Debug Mode"));
  }
  setbusycursor(true);
  drivemask = platform::GetLogicalDrives();
  checkpoint(QStringLiteral("02"));
  largeicons = platform::GetSystemImageList(true);
  smallicons = platform::GetSystemImageList(false);
  files->setimagelists(smallicons, largeicons);
  checkpoint(QStringLiteral("03"));
  currentpath = programfolder();
  checkpoint(QStringLiteral("04"));
  setfiles();
  checkpoint(QStringLiteral("05"));
  setcolumnforfiles();
  checkpoint(QStringLiteral("06"));
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_ || event->spontaneous()) return;
  shown_ = true;
  if (QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
  }
  dialog::runhandler([this] { FormShow(); });
}

void TForm1::FormShow() {
  checkpoint(QStringLiteral("show"));
  SpeedButton10Click();
  checkpoint(QStringLiteral("10"));
  setbusycursor(false);
}

void TForm1::FormDestroy() {
  // The image lists belong to the platform layer and are shared; only the form's handles
  // to them go.
  files->setimagelists(nullptr, nullptr);
  largeicons = nullptr;
  smallicons = nullptr;
}

void TForm1::SpeedButton10Click() {
  // A clipboard that another program holds is reported, and the start-up goes on: the
  // dialog is still usable and the hand-off empties the clipboard again anyway.
  if (!platform::EmptyClipboard()) dialog::ShowApplicationError(QStringLiteral("Cannot open clipboard"));
  // Each argument is judged by its first character; a missing one counts as a blank. The
  // first argument ("DEBUG") was already read by FormCreate.
  const QString second = paramstr(2) + QLatin1Char(' ');
  const QString third = paramstr(3) + QLatin1Char(' ');
  setcsave(third[0] == QLatin1Char('S'));
  int type = 0;
  if (second[0] >= QLatin1Char('0') && second[0] <= QLatin1Char('3')) type = second[0].unicode() - '0';
  ComboBox2->setCurrentIndex(type);

  QString start = platform::GetPrivateProfileString(QStringLiteral("Paths"), QStringLiteral("Import"), currentpath,
                                                    systemfolder() + QStringLiteral("\\tolva.ini"));
  if (start.isEmpty()) start = programfolder();
  // The start folder is upper-cased as the host spells paths, unless a name on it has a
  // case twin, where the upper-cased folder could be the other one: then only its drive
  // letter is.
  const QString upper = dialog::asciiupper(start);
  if (!upper.isEmpty() && upper[0] >= QLatin1Char('C'))
    currentpath = platform::HasCaseTwin(start) ? upper.left(1) + start.mid(1) : upper;
  ComboBox2Click();
}

QString TForm1::paramstr(int n) const {
  return n >= 1 && n <= params.size() ? params[n - 1] : QString();
}

QString TForm1::programfolder() const {
  const qsizetype cut = std::max(programfile.lastIndexOf(QLatin1Char('\\')), programfile.lastIndexOf(QLatin1Char(':')));
  return programfile.left(cut + 1);
}

QString TForm1::systemfolder() const {
  QString folder = platform::GetSystemDirectory();
  while (folder.endsWith(QLatin1Char('\\'))) folder.chop(1);
  return folder;
}

void TForm1::setcsave(bool on) {
  if (csave == on) return;
  csave = on;
  csaveClick();
}

void TForm1::setch(bool on) {
  if (ch == on) return;
  ch = on;
  chClick();
}

void TForm1::setbusycursor(bool busy) {
  if (busy == busycursor_) return;
  busycursor_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

// ---- Ways out ----

void TForm1::applicationterminate() {
  terminated = true;
  emit terminaterequested();
  QCoreApplication::quit();
}

void TForm1::SpeedButton8Click() {
  applicationterminate();
}

void TForm1::FormKeyDown(int key) {
  if (key == 27) applicationterminate();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  // The window sees every key before the focused control does.
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() == this) {
      auto* keyevent = static_cast<QKeyEvent*>(event);
      const int key = dialog::virtualkey(keyevent->key());
      dialog::runhandler([this, key] { FormKeyDown(key); });
      if (key == 27) return true;
      if (key == 13 && pressbuttonwithenter(widget, keyevent->isAutoRepeat())) return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool TForm1::pressbuttonwithenter(QWidget* focused, bool autorepeat) {
  // As on the hosts' platform, Enter presses the focused button; other controls keep
  // their own meaning of Enter.
  auto* button = qobject_cast<QAbstractButton*>(focused);
  if (!button) return false;
  // Holding Enter down presses the button once. The release of that Enter reaches the
  // control that has the focus afterwards; the folder list, the one control acting on a
  // release, passes over a release whose press it did not see.
  if (!autorepeat && button->isEnabled()) button->click();
  return true;
}

// ---- Side strips ----

void TForm1::PaintBox1Paint(QPainter& painter) {
  painter.drawImage(PaintBox1->rect(), dialog::art::im_left());
}

void TForm1::PaintBox2Paint(QPainter& painter) {
  painter.drawImage(PaintBox2->rect(), dialog::art::im_right());
}
