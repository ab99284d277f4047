// Small controls of the form that Qt does not offer as such: a combo box whose items the
// form draws, a status bar of fixed panels, and a paint area whose painting the form does.
#pragma once

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QWidget>

#include <array>
#include <functional>

class QPainter;

namespace dialog {

// The key code of a Qt key as the form's key handlers see it (Backspace 8, Enter 13,
// Esc 27, letters and digits as their upper-case character); 0 for keys without one.
int virtualkey(int qtkey);

// A drop-down list without edit field whose items are drawn by OnDrawItem, in the open
// list as well as in the closed combo's own field.
class TOwnerDrawComboBox : public QComboBox {
  Q_OBJECT
 public:
  // Draws item `index` into `rect`. `selected` asks for the selection colours; `infield`
  // is true when the item is drawn in the closed combo's own field.
  using DrawItem = std::function<void(QPainter& painter, int index, const QRect& rect,
                                      bool selected, bool infield)>;

  TOwnerDrawComboBox(int itemheight, QWidget* parent);

  DrawItem OnDrawItem;
  int itemheight() const { return itemheight_; }
  // Whether the drop-down list is open.
  bool droppeddown() const;
  // A combo whose hint must never be shown keeps its tool tip text but swallows the
  // tool tip event.
  void setshowhint(bool show) { showhint_ = show; }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  int itemheight_;
  bool showhint_ = true;
};

// A status bar of three panels: two of fixed width and one taking the rest.
class TStatusBar : public QWidget {
  Q_OBJECT
 public:
  TStatusBar(const std::array<int, 2>& fixedwidths, QWidget* parent);
  QString panel(int index) const;
  void setpanel(int index, const QString& text);
  QLabel* panellabel(int index) const { return panels_[size_t(index)]; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void placepanels();

  std::array<int, 2> widths_;
  std::array<QLabel*, 3> panels_{};
};

// A paint area. OnPaint draws it whenever it needs painting; drawonce shows a picture
// instead until the area is next painted again (the picture is then gone).
class TPaintBox : public QWidget {
  Q_OBJECT
 public:
  explicit TPaintBox(QWidget* parent);
  std::function<void(QPainter&)> OnPaint;
  void drawonce(const QImage& picture);
  // Paints the area anew with OnPaint, whether or not a picture drawn once is still shown.
  void paintagain();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage once_;
};

}  // namespace dialog
