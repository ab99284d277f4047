// The folder list `files`: the entries of one location shown in one of three styles
// (large icons, list, report with columns and grid lines).
//
// The entries live in one model that every style shows, so that a listing of many
// thousand entries is filled with one reset and a style change keeps the selection. The
// form handles the user's actions through the signals; the list itself never sorts.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QWidget>

#include <vector>

#include "dialog/texts.h"

class QAbstractItemView;
class QItemSelectionModel;
class QListView;
class QStackedLayout;
class QTableView;

namespace platform {
class SystemImageList;
}

namespace dialog {

enum class ViewStyle { Icon, List, Report };

struct ListColumn {
  QString caption;
  Qt::Alignment alignment = Qt::AlignLeft;
};

// The entries and the column set, as a table: column 0 is the caption (with the icon),
// column c > 0 sub-item c - 1.
class TFilesModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  const std::vector<ListEntry>& entries() const { return entries_; }
  void setentries(std::vector<ListEntry>&& entries);
  void setcolumns(const std::vector<ListColumn>& columns);
  const std::vector<ListColumn>& columns() const { return columns_; }
  void setimagelists(platform::SystemImageList* small, platform::SystemImageList* large);
  // Reorders the entries ascending by compareentries under key k, keeping the
  // selection and the current entry on the same entries.
  void sortentries(int k);

 private:
  QIcon icon(int imageindex) const;

  std::vector<ListEntry> entries_;
  std::vector<ListColumn> columns_;
  platform::SystemImageList* small_ = nullptr;
  platform::SystemImageList* large_ = nullptr;
  mutable std::vector<QIcon> icons_;
};

class TFileList : public QWidget {
  Q_OBJECT
 public:
  explicit TFileList(QWidget* parent);

  ViewStyle viewstyle() const { return style_; }
  void setviewstyle(ViewStyle style);

  int count() const { return int(model_->entries().size()); }
  const std::vector<ListEntry>& items() const { return model_->entries(); }
  // The selected entry, or nullptr / -1 when none is selected.
  const ListEntry* selected() const;
  int selectedindex() const;
  // Selects one entry (and makes it the current one); -1 clears the selection.
  void setselectedindex(int index);

  void clear();
  void setentries(std::vector<ListEntry>&& entries);
  void sortby(int k) { model_->sortentries(k); }
  // Installs a column set: the old columns and their widths go, every new column is as
  // wide as its caption and the last one reaches the right edge.
  void setcolumns(const std::vector<ListColumn>& columns);
  const std::vector<ListColumn>& columns() const { return model_->columns(); }
  void setimagelists(platform::SystemImageList* small, platform::SystemImageList* large);

  QAbstractItemView* currentview() const;
  QListView* listview() const { return listview_; }
  QTableView* reportview() const { return reportview_; }
  TFilesModel* model() const { return model_; }

  // Called by the views.
  void viewclicked() { emit click(); }
  void viewdoubleclicked() { emit dblclick(); }
  void viewkeydown(int key) { emit keydown(key); }
  void viewkeyup(int key) { emit keyup(key); }

 signals:
  // A left click anywhere in the list, after the selection has followed it.
  void click();
  void dblclick();
  // Key codes as virtualkey gives them; keydown comes before the list acts on the key.
  void keydown(int key);
  void keyup(int key);
  void columnclick(int column);
  void contextmenu(const QPoint& globalpos);

 private:
  void applystyle();
  void fitlistcolumns();

  TFilesModel* model_;
  QItemSelectionModel* selection_;
  QStackedLayout* stack_;
  QListView* listview_;
  QTableView* reportview_;
  ViewStyle style_ = ViewStyle::List;
};

// The order in which the entries stand after sorting them ascending under key k: the
// indexes of `entries`, sorted by compareentries, equal entries in their old order.
std::vector<int> sortorder(const std::vector<ListEntry>& entries, int k);

}  // namespace dialog
