#include "dialog/controls.h"

#include <QAbstractItemDelegate>
#include <QAbstractItemView>
#include <QEvent>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>

namespace dialog {

int virtualkey(int qtkey) {
  switch (qtkey) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab: return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Delete: return 46;
    default: break;
  }
  if ((qtkey >= Qt::Key_0 && qtkey <= Qt::Key_9) || (qtkey >= Qt::Key_A && qtkey <= Qt::Key_Z)) return qtkey;
  return 0;
}

namespace {

// Hands the painting of the open list's items to the combo's OnDrawItem.
class OwnerDrawDelegate : public QAbstractItemDelegate {
 public:
  explicit OwnerDrawDelegate(TOwnerDrawComboBox* combo) : QAbstractItemDelegate(combo), combo_(combo) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (!combo_->OnDrawItem) return;
    painter->save();
    painter->setFont(option.font);
    combo_->OnDrawItem(*painter, index.row(), option.rect, option.state & QStyle::State_Selected, false);
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
    return QSize(option.rect.width(), combo_->itemheight());
  }

 private:
  TOwnerDrawComboBox* combo_;
};

}  // namespace

TOwnerDrawComboBox::TOwnerDrawComboBox(int itemheight, QWidget* parent)
    : QComboBox(parent), itemheight_(itemheight) {
  setItemDelegate(new OwnerDrawDelegate(this));
  // The styles that show the open list as a menu over the field would ignore the number
  // of visible items; the plain list keeps it.
  setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
}

bool TOwnerDrawComboBox::droppeddown() const {
  return view() && view()->isVisible();
}

bool TOwnerDrawComboBox::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && !showhint_) return true;
  return QComboBox::event(event);
}

void TOwnerDrawComboBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  option.currentText.clear();
  option.currentIcon = QIcon();
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  if (currentIndex() < 0 || !OnDrawItem) return;
  const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
  painter.save();
  painter.setClipRect(field);
  OnDrawItem(painter, currentIndex(), field, hasFocus(), true);
  painter.restore();
}

TStatusBar::TStatusBar(const std::array<int, 2>& fixedwidths, QWidget* parent)
    : QWidget(parent), widths_(fixedwidths) {
  for (size_t i = 0; i < panels_.size(); ++i) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("panel%1").arg(i));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    label->setIndent(2);
    panels_[i] = label;
  }
  placepanels();
}

void TStatusBar::resizeEvent(QResizeEvent*) {
  placepanels();
}

void TStatusBar::placepanels() {
  // The panels stand side by side with two pixels between them; the last takes the rest.
  constexpr int kTop = 2;
  constexpr int kGap = 2;
  const int h = std::max(0, height() - kTop);
  int x = 0;
  for (size_t i = 0; i < panels_.size(); ++i) {
    const int w = i < widths_.size() ? widths_[i] : std::max(0, width() - x);
    panels_[i]->setGeometry(x, kTop, w, h);
    x += w + kGap;
  }
}

QString TStatusBar::panel(int index) const {
  return panels_[size_t(index)]->text();
}

void TStatusBar::setpanel(int index, const QString& text) {
  panels_[size_t(index)]->setText(text);
}

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {}

void TPaintBox::drawonce(const QImage& picture) {
  once_ = picture;
  repaint();
}

void TPaintBox::paintagain() {
  once_ = QImage();
  update();
}

void TPaintBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!once_.isNull()) {
    painter.drawImage(0, 0, once_);
    once_ = QImage();
    return;
  }
  if (OnPaint) OnPaint(painter);
}

}  // namespace dialog
