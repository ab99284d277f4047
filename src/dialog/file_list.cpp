#include "dialog/file_list.h"

#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QTableView>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <functional>
#include <string>

#include "dialog/controls.h"
#include "platform/shell_info.h"

namespace dialog {

std::vector<int> sortorder(const std::vector<ListEntry>& entries, int k) {
  // The keys are built once per entry instead of once per comparison (a folder of
  // 100,000 files needs about two million comparisons). Each entry's key and upper-cased
  // caption are joined into one byte string with a zero byte between them, which no text
  // holds: one comparison of the joined strings then orders by key first and by caption
  // second, since a key that is a proper prefix of another meets the zero byte against a
  // larger one. The strings lie one after another in one buffer.
  struct Item {
    size_t offset;
    uint32_t length;
    int index;
  };
  std::string joined;
  joined.reserve(entries.size() * 40);
  std::vector<Item> items(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const QByteArray key = sortkey(entries[i], k);
    const QByteArray caption = sortcaption(entries[i]);
    items[i] = {joined.size(), uint32_t(key.size() + 1 + caption.size()), int(i)};
    joined.append(key.constData(), size_t(key.size()));
    joined.push_back('\0');
    joined.append(caption.constData(), size_t(caption.size()));
  }
  const char* base = joined.data();
  // Equal entries keep their order through the index, so the sort need not be stable.
  std::sort(items.begin(), items.end(), [base](const Item& a, const Item& b) {
    const int c = std::memcmp(base + a.offset, base + b.offset, std::min(a.length, b.length));
    if (c != 0) return c < 0;
    if (a.length != b.length) return a.length < b.length;
    return a.index < b.index;
  });
  std::vector<int> order(items.size());
  for (size_t i = 0; i < items.size(); ++i) order[i] = items[i].index;
  return order;
}

int TFilesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(entries_.size());
}

int TFilesModel::columnCount(const QModelIndex& parent) const {
  // Without a column set the entries still show their captions.
  return parent.isValid() ? 0 : std::max(1, int(columns_.size()));
}

QVariant TFilesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(entries_.size())) return QVariant();
  const ListEntry& entry = entries_[size_t(index.row())];
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
      if (column == 0) return entry.caption;
      if (column - 1 < int(entry.subitems.size())) return entry.subitems[size_t(column - 1)];
      return QVariant();
    case Qt::DecorationRole:
      if (column == 0) return icon(entry.imageindex);
      return QVariant();
    case Qt::TextAlignmentRole:
      if (column < int(columns_.size())) return int(columns_[size_t(column)].alignment | Qt::AlignVCenter);
      return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
      return QVariant();
  }
}

QVariant TFilesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= int(columns_.size())) return QVariant();
  if (role == Qt::DisplayRole) return columns_[size_t(section)].caption;
  if (role == Qt::TextAlignmentRole) return int(columns_[size_t(section)].alignment | Qt::AlignVCenter);
  return QVariant();
}

void TFilesModel::setentries(std::vector<ListEntry>&& entries) {
  beginResetModel();
  entries_ = std::move(entries);
  endResetModel();
}

void TFilesModel::setcolumns(const std::vector<ListColumn>& columns) {
  // Columns are replaced without a reset, so that the entries and the selection stay.
  const int before = columnCount();
  const int after = std::max(1, int(columns.size()));
  if (after < before) {
    beginRemoveColumns(QModelIndex(), after, before - 1);
    columns_ = columns;
    endRemoveColumns();
  } else if (after > before) {
    beginInsertColumns(QModelIndex(), before, after - 1);
    columns_ = columns;
    endInsertColumns();
  } else {
    columns_ = columns;
  }
  emit headerDataChanged(Qt::Horizontal, 0, after - 1);
  if (!entries_.empty()) emit dataChanged(index(0, 0), index(int(entries_.size()) - 1, after - 1));
}

void TFilesModel::setimagelists(platform::SystemImageList* small, platform::SystemImageList* large) {
  small_ = small;
  large_ = large;
  icons_.clear();
  if (!entries_.empty()) emit dataChanged(index(0, 0), index(int(entries_.size()) - 1, 0));
}

QIcon TFilesModel::icon(int imageindex) const {
  if (imageindex < 0 || (!small_ && !large_)) return QIcon();
  if (size_t(imageindex) >= icons_.size()) icons_.resize(size_t(imageindex) + 1);
  QIcon& cached = icons_[size_t(imageindex)];
  if (cached.isNull()) {
    for (platform::SystemImageList* list : {small_, large_}) {
      if (!list) continue;
      const QPixmap pixmap = list->Pixmap(imageindex);
      if (!pixmap.isNull()) cached.addPixmap(pixmap);
    }
  }
  return cached;
}

void TFilesModel::sortentries(int k) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const std::vector<int> order = sortorder(entries_, k);
  std::vector<int> newrow(order.size());
  std::vector<ListEntry> sorted;
  sorted.reserve(entries_.size());
  for (size_t i = 0; i < order.size(); ++i) {
    newrow[size_t(order[i])] = int(i);
    sorted.push_back(std::move(entries_[size_t(order[i])]));
  }
  entries_ = std::move(sorted);
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& old : from) to.append(index(newrow[size_t(old.row())], old.column()));
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

namespace {

// A view of the list that reports the user's mouse and key actions to the list. As in
// the platform's own list control, a click on the empty part of the list clears the
// selection.
template <class Base>
class ForwardingView : public Base {
 public:
  explicit ForwardingView(TFileList* owner) : Base(owner), owner_(owner) {}

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (!this->indexAt(event->position().toPoint()).isValid() && this->selectionModel()) {
      this->selectionModel()->clearSelection();
    }
    Base::mousePressEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    Base::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) owner_->viewclicked();
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    Base::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) owner_->viewdoubleclicked();
  }
  void keyPressEvent(QKeyEvent* event) override {
    const int key = virtualkey(event->key());
    if (key == kEnter) enterpressedhere_ = true;
    owner_->viewkeydown(key);
    Base::keyPressEvent(event);
  }
  void keyReleaseEvent(QKeyEvent* event) override {
    Base::keyReleaseEvent(event);
    if (event->isAutoRepeat()) return;
    const int key = virtualkey(event->key());
    // The list acts on the release of Enter, so the release of an Enter pressed somewhere
    // else (in a message box or the save dialog that the press closed, on a button) must
    // not reach it: it would open the entry again, and with it the same box, round and
    // round.
    if (key == kEnter) {
      if (!enterpressedhere_) return;
      enterpressedhere_ = false;
    }
    owner_->viewkeyup(key);
  }
  void focusOutEvent(QFocusEvent* event) override {
    enterpressedhere_ = false;
    Base::focusOutEvent(event);
  }

 private:
  static constexpr int kEnter = 13;
  TFileList* owner_;
  bool enterpressedhere_ = false;  // until the release of that Enter
};

// In the icon style every entry takes the cell of the layout grid, so that its caption
// can wrap over two lines below the icon; the other styles size their items as usual.
class FileItemDelegate : public QStyledItemDelegate {
 public:
  explicit FileItemDelegate(QListView* view) : QStyledItemDelegate(view), view_(view) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (view_->viewMode() == QListView::IconMode && view_->gridSize().isValid()) {
      return view_->gridSize() - QSize(4, 4);
    }
    return QStyledItemDelegate::sizeHint(option, index);
  }

 private:
  QListView* view_;
};

constexpr int kRowHeight = 17;

}  // namespace

TFileList::TFileList(QWidget* parent) : QWidget(parent) {
  model_ = new TFilesModel(this);
  selection_ = new QItemSelectionModel(model_, this);
  stack_ = new QStackedLayout(this);
  stack_->setContentsMargins(0, 0, 0, 0);

  listview_ = new ForwardingView<QListView>(this);
  listview_->setObjectName(QStringLiteral("filesListView"));
  listview_->setUniformItemSizes(true);
  listview_->setLayoutMode(QListView::Batched);
  listview_->setBatchSize(2000);
  listview_->setItemDelegate(new FileItemDelegate(listview_));

  reportview_ = new ForwardingView<QTableView>(this);
  reportview_->setObjectName(QStringLiteral("filesReportView"));
  reportview_->setShowGrid(true);
  reportview_->setWordWrap(false);
  reportview_->setCornerButtonEnabled(false);
  reportview_->setTabKeyNavigation(false);
  reportview_->setIconSize(QSize(16, 16));
  reportview_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  QHeaderView* rows = reportview_->verticalHeader();
  rows->hide();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(kRowHeight);
  rows->setDefaultSectionSize(kRowHeight);
  QHeaderView* header = reportview_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setSortIndicatorShown(false);
  header->setStretchLastSection(true);
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  connect(header, &QHeaderView::sectionClicked, this, &TFileList::columnclick);

  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(listview_), static_cast<QAbstractItemView*>(reportview_)}) {
    view->setModel(model_);
    QItemSelectionModel* own = view->selectionModel();
    view->setSelectionModel(selection_);
    delete own;
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& pos) { emit contextmenu(view->viewport()->mapToGlobal(pos)); });
    stack_->addWidget(view);
  }
  applystyle();
}

void TFileList::setviewstyle(ViewStyle style) {
  if (style == style_) return;
  const bool hadfocus = currentview()->hasFocus();
  style_ = style;
  applystyle();
  if (hadfocus) currentview()->setFocus();
}

void TFileList::applystyle() {
  switch (style_) {
    case ViewStyle::Icon:
      listview_->setViewMode(QListView::IconMode);
      listview_->setMovement(QListView::Static);
      listview_->setFlow(QListView::LeftToRight);
      listview_->setWrapping(true);
      listview_->setResizeMode(QListView::Adjust);
      listview_->setIconSize(QSize(32, 32));
      listview_->setWordWrap(true);
      listview_->setGridSize(QSize(76, 66));
      break;
    case ViewStyle::List:
      listview_->setViewMode(QListView::ListMode);
      listview_->setMovement(QListView::Static);
      listview_->setFlow(QListView::TopToBottom);
      listview_->setWrapping(true);
      listview_->setResizeMode(QListView::Adjust);
      listview_->setIconSize(QSize(16, 16));
      listview_->setWordWrap(false);
      fitlistcolumns();
      break;
    case ViewStyle::Report:
      break;
  }
  QAbstractItemView* view = currentview();
  stack_->setCurrentWidget(view);
  setFocusProxy(view);
  if (selection_->currentIndex().isValid()) view->scrollTo(selection_->currentIndex());
}

QAbstractItemView* TFileList::currentview() const {
  if (style_ == ViewStyle::Report) return reportview_;
  return listview_;
}

namespace {

// The width of a text summed from its characters' advances, each looked up once. Kerning
// and ligatures aside (a pixel or two), this is the width the text is drawn in, at a
// fraction of the cost of laying it out.
class TextWidthEstimate {
 public:
  explicit TextWidthEstimate(const QFont& font) : metrics_(font) { latin1_.fill(-1); }

  qreal operator()(const QString& text) {
    qreal width = 0;
    for (const QChar c : text) width += advance(c);
    return width;
  }

 private:
  qreal advance(QChar c) {
    const char16_t code = c.unicode();
    if (code < latin1_.size()) {
      if (latin1_[code] < 0) latin1_[code] = metrics_.horizontalAdvance(c);
      return latin1_[code];
    }
    auto found = others_.constFind(code);
    if (found == others_.constEnd()) found = others_.insert(code, metrics_.horizontalAdvance(c));
    return found.value();
  }

  QFontMetricsF metrics_;
  std::array<qreal, 256> latin1_;
  QHash<char16_t, qreal> others_;
};

}  // namespace

void TFileList::fitlistcolumns() {
  if (style_ != ViewStyle::List) return;
  // The list style shows the entries in columns of one width: as wide as the widest entry
  // needs (icon, caption and the style's margins), so that no name is cut where the list
  // has room for it, and at most as wide as the list. Laying out every caption of a large
  // folder would take long, so the captions' widths are estimated and only the entries of
  // the widest estimates are measured as the list draws them; two pixels more cover what
  // the estimate misses of an entry not measured.
  constexpr size_t kMeasured = 32;
  constexpr int kEstimateSlack = 2;
  const std::vector<ListEntry>& entries = model_->entries();
  TextWidthEstimate estimate(listview_->font());
  std::vector<std::pair<qreal, int>> widest(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) widest[i] = {estimate(entries[i].caption), int(i)};
  const size_t measured = std::min(widest.size(), kMeasured);
  std::partial_sort(widest.begin(), widest.begin() + ptrdiff_t(measured), widest.end(), std::greater<>());
  int needed = 0;
  for (size_t i = 0; i < measured; ++i) {
    needed = std::max(needed, listview_->sizeHintForIndex(model_->index(widest[i].second, 0)).width());
  }
  const int listwidth = width() - 2 * listview_->frameWidth();
  const int columnwidth = std::clamp(needed + kEstimateSlack, 80, std::max(80, listwidth));
  listview_->setGridSize(QSize(columnwidth, kRowHeight));
}

const ListEntry* TFileList::selected() const {
  const int index = selectedindex();
  return index < 0 ? nullptr : &model_->entries()[size_t(index)];
}

int TFileList::selectedindex() const {
  const QItemSelection selection = selection_->selection();
  int first = INT_MAX;
  for (const QItemSelectionRange& range : selection) first = std::min(first, range.top());
  return first == INT_MAX || first >= count() ? -1 : first;
}

void TFileList::setselectedindex(int index) {
  if (index < 0 || index >= count()) {
    selection_->clear();
    return;
  }
  const QModelIndex target = model_->index(index, 0);
  selection_->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  currentview()->scrollTo(target);
}

void TFileList::clear() {
  model_->setentries({});
}

void TFileList::setentries(std::vector<ListEntry>&& entries) {
  model_->setentries(std::move(entries));
  fitlistcolumns();
}

void TFileList::setcolumns(const std::vector<ListColumn>& columns) {
  model_->setcolumns(columns);
  QHeaderView* header = reportview_->horizontalHeader();
  const QFontMetrics metrics(header->font());
  for (size_t i = 0; i < columns.size(); ++i) {
    header->resizeSection(int(i), metrics.horizontalAdvance(columns[i].caption) + 16);
  }
}

void TFileList::setimagelists(platform::SystemImageList* small, platform::SystemImageList* large) {
  model_->setimagelists(small, large);
}

}  // namespace dialog
