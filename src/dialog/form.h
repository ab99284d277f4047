// The import dialog: one fixed window, its controls, the state that every handler shares,
// and the handlers themselves.
//
// The handlers are spread over several files by concern: form_layout.cpp (the window,
// start-up and the ways out), listing.cpp (folder listing and the folder combo),
// filter.cpp (the file-type list), details.cpp (selection details and preview),
// navigation.cpp, import.cpp and side_actions.cpp.
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QToolButton>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "dialog/controls.h"
#include "dialog/file_list.h"
#include "pictures/registry.h"
#include "platform/prompts.h"
#include "platform/shell_info.h"

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  // `params` are the command-line arguments after the program name. `programfile` is the
  // Windows path of the program's own file; empty means the running program's.
  explicit TForm1(const QStringList& params = {}, const QString& programfile = QString(),
                  QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- Visible controls, named as the form names them ----
  dialog::TOwnerDrawComboBox* ComboBox1;
  QLabel* Label3;
  QToolButton* SpeedButton1;
  QToolButton* dcopyit;
  QToolButton* SpeedButton2;
  QToolButton* SpeedButton3;
  QToolButton* SpeedButton4;
  QToolButton* daiload;
  QToolButton* SpeedButton6;
  QPushButton* SpeedButton8;
  QPushButton* dopen;
  dialog::TFileList* files;
  QLabel* Label2;
  dialog::TOwnerDrawComboBox* ComboBox2;
  QGroupBox* GroupBox1;
  QLabel* Label4;  // "Filename:"
  QLabel* Label5;  // the file name
  QLabel* Label6;  // "Date:"
  QLabel* Label9;  // the date
  QLabel* Label8;  // "File Size:"
  QLabel* Label7;  // the size
  dialog::TPaintBox* PaintBox3;
  QToolButton* dhelp;
  dialog::TStatusBar* fstate;
  dialog::TPaintBox* PaintBox1;
  dialog::TPaintBox* PaintBox2;
  QMenu* menu;
  QAction* menuitem;
  QAction* ThiscouldbeanExplorerlikemenu1;

  // ---- Dialog state; the hidden controls of the form are plain fields here ----
  QString currentpath;
  uint32_t drivemask = 0;
  bool debugmode = false;
  platform::SystemImageList* largeicons = nullptr;
  platform::SystemImageList* smallicons = nullptr;
  static const std::array<QString, 7> drivetypes;
  bool csave = false;  // save mode; change it with setcsave
  bool ch = false;     // "Show only directories"; change it with setch
  bool check_AI = false;
  bool check_EPS = false;
  bool check_crv = false;
  bool check_WMF = false;
  bool check_bmp = false;
  bool check_jpg = false;
  bool check_tif = false;
  bool check_gif = false;
  bool check_dxf = false;
  bool check_allpics = false;
  bool check_custom = false;
  QStringList ListBox1;   // the custom extension list, ".PCX" and so on
  QString labelfilename;  // the entry path of the selected file, or empty
  // Holds the picture that an import converts (see import.cpp).
  pictures::Picture Image1;
  platform::SaveFileRequest SaveDialog1;

  // The command-line arguments and the program's file, as given at creation.
  QStringList params;
  QString programfile;
  // Set when the dialog has told the application to end.
  bool terminated = false;

  // ---- Start-up and dialog shell (form_layout.cpp) ----
  void FormCreate();
  void FormShow();
  void FormDestroy();
  void SpeedButton10Click();  // the initialization
  void SpeedButton8Click();   // Cancel
  void FormKeyDown(int key);
  void PaintBox1Paint(QPainter& painter);
  void PaintBox2Paint(QPainter& painter);
  QString systemfolder() const;
  // The folder of the program's file, with its trailing backslash.
  QString programfolder() const;
  // The n-th command-line argument (1-based), empty when missing.
  QString paramstr(int n) const;
  void setcsave(bool on);
  void setch(bool on);
  // Application.Terminate: ends the event loop; the window then closes.
  void applicationterminate();
  // Shows a start-up checkpoint message in debug mode.
  void checkpoint(const QString& text);
  // The busy cursor for the whole application, on or off.
  void setbusycursor(bool busy);

  // ---- Folder listing (listing.cpp) ----
  void setfiles();
  void setdrives();
  void setcolumnforfiles();
  void setcolumnfordrives();
  platform::ShellFileInfo getinfo(const QString& path) const;
  void ComboBox1update();
  void ComboBox1DrawItem(QPainter& painter, int index, const QRect& rect, bool selected, bool infield);
  void filesColumnClick(int column);
  void SpeedButton2Click();
  void SpeedButton3Click();
  void SpeedButton4Click();

  // ---- File-type filter (filter.cpp) ----
  static const std::array<QString, 60> filetypes;
  static const std::array<QString, 28> pictureextensions;
  // Entries after "DXF Autocad" (37 on) each list the extensions of one of today's
  // picture formats.
  static const std::array<QStringList, 23> modernextensions;
  // What the two collective entries list beyond the 28: today's formats and the longer
  // spellings of the classic ones, which the picture readers read as well.
  static const QStringList morepictureextensions;
  void ComboBox2Click();
  void ComboBox2DrawItem(QPainter& painter, int index, const QRect& rect, bool selected);
  // The file-type test on a file name.
  bool filetypetest(const QString& name) const;
  // The same on an extension as bytes, dot included (the listing's fast form).
  bool extensionaccepted(std::string_view extension) const;

  // ---- Selection details and preview (details.cpp) ----
  void filesClick();
  void SpeedButton5Click();
  void clearitClick();
  void menuPopup();
  void menuitemClick();
  void showinfo(const QString& path, const QString& kind);
  void PaintBox3Paint(QPainter& painter);
  void csaveClick();

  // ---- Navigation (navigation.cpp) ----
  void ComboBox1Change();
  void filesDblClick();
  void SpeedButton1Click();
  void filesKeyDown(int key);
  void filesKeyUp(int key);
  void chClick();

  // ---- Import hand-off (import.cpp) ----
  void dopenClick();
  // Asks for the bitmap file that a picture is converted into, until the user chooses a
  // place the host can reach or cancels (nothing).
  std::optional<QString> choosebitmapfile(const QString& source);
  void dailoadClick();
  void SpeedButton6Click();

  // ---- Side actions (side_actions.cpp) ----
  void dcopyitClick();
  void dhelpClick();

 signals:
  // Emitted when the dialog tells the application to end.
  void terminaterequested();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createcontrols();
  void connecthandlers();
  // Connects a signal to a handler run under the default error display.
  template <class Sender, class Signal>
  void onsignal(Sender* sender, Signal signal, void (TForm1::*handler)());

  // Presses the focused button for Enter; false when the focused control is no button.
  bool pressbuttonwithenter(QWidget* focused, bool autorepeat);

  bool shown_ = false;
  bool busycursor_ = false;
};
