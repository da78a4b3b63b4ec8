// The ledger list: a table view over TLedgerModel, the rows of the ledger list window in the
// row layout of ledgerrow.h. Only the first seven columns are shown; the others carry what the
// entry dialog and the export need. Rows are kept in display order: sorting reorders them,
// rows written by the entry dialog go to the bottom whatever the order.
//
// Sorting (a header click, ColumnClick): a click on the sort column flips the direction, a
// click on another column makes it the sort column and keeps the direction. "日期" compares
// the days, "收入", "支出" and "余额" the full numbers (an empty or unreadable cell as 0), the
// text columns compare case-insensitively under the user's locale. Equal rows keep their
// order. The sort column's header shows a small arrow right of its caption: pointing down
// while ascending, up while descending.
//
// Rows with an expense amount are drawn on a light blue background.
#pragma once

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QPixmap>
#include <QTableView>

#include <vector>

#include "ledger/ledgerrow.h"

class TLedgerModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // Header data role of the arrow image drawn right of a caption (a QPixmap, null for none).
  static constexpr int kArrowRole = Qt::UserRole + 1;
  // Background of the rows holding an expense.
  static QColor ExpenseBackground() { return QColor(219, 245, 251); }

  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  const TLedgerRow& Row(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
  // Replaces every row.
  void SetRows(std::vector<TLedgerRow> rows);
  void AppendRow(const TLedgerRow& row);
  void SetRow(int row, const TLedgerRow& texts);
  void RemoveRow(int row);
  // Orders the rows by that column (see ledgerlist.h); stable.
  void Sort(int column, bool ascending);
  // The arrow shown in the header of one column (others show none).
  void SetArrow(int column, const QPixmap& arrow);

 private:
  std::vector<TLedgerRow> rows_;
  int arrowColumn_ = -1;
  QPixmap arrow_;
};

// The header: captions as usual, the arrow image drawn right after the caption's text.
class TLedgerHeader : public QHeaderView {
  Q_OBJECT
 public:
  explicit TLedgerHeader(QWidget* parent = nullptr);

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
};

class TLedgerList : public QTableView {
  Q_OBJECT
 public:
  // Names of the header images.
  static const QString kArrowUp;
  static const QString kArrowDown;
  // A 7 by 4 pixel triangle pointing down or up.
  static QPixmap ArrowImage(bool up);

  explicit TLedgerList(QWidget* parent = nullptr);

  TLedgerModel& Model() { return model_; }
  const TLedgerModel& Model() const { return model_; }
  int RowCount() const { return model_.rowCount(); }
  const TLedgerRow& Row(int row) const { return model_.Row(row); }
  QString Text(int row, int column) const { return model_.Row(row)[column]; }

  // The selected row, or -1.
  int SelectedRow() const;
  // Makes the row the selected and current one (-1 clears the selection).
  void SelectRow(int row);

  // A header click on that column.
  void ColumnClick(int column);
  int SortColumn() const { return sortColumn_; }
  bool Ascending() const { return ascending_; }
  // The image the column's header shows: kArrowDown, kArrowUp or empty.
  QString HeaderImage(int column) const;

 private:
  TLedgerModel model_;
  int sortColumn_ = 0;
  bool ascending_ = false;
  bool imageShown_ = false;  // no arrow before the first click
};
