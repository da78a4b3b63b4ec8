// The ledger list's model, header and view; see ledgerlist.h.
#include "ledgerlist.h"

#include <QBrush>
#include <QCollator>
#include <QDate>
#include <QImage>
#include <QItemSelectionModel>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

const QString kCaptions[LedgerColumn::Visible] = {
    QStringLiteral("日期"),  QStringLiteral("收支分类"), QStringLiteral("说明"),
    QStringLiteral("收入"),  QStringLiteral("支出"),     QStringLiteral("余额"),
    QStringLiteral("记账人")};
constexpr int kWidths[LedgerColumn::Visible - 1] = {80, 80, 150, 80, 80, 80};

// The full number in a cell; an empty or unreadable cell counts as 0.
double CellValue(const QString& text) {
  bool ok = false;
  const double value = text.toDouble(&ok);
  return ok && !std::isnan(value) ? value : 0;
}

// The day of a date cell ("yyyy-mm-dd"); unreadable dates come first.
qint64 CellDay(const QString& text) {
  const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
  return day.isValid() ? day.toJulianDay() : std::numeric_limits<qint64>::min();
}

// Stable order of 0..n-1 by the keys, ascending or descending.
template <class TKey, class TLess>
std::vector<int> Order(const std::vector<TKey>& keys, bool ascending, TLess less) {
  std::vector<int> order(keys.size());
  std::iota(order.begin(), order.end(), 0);
  if (ascending)
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return less(keys[a], keys[b]); });
  else
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return less(keys[b], keys[a]); });
  return order;
}

}  // namespace

// ---- model ----

int TLedgerModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TLedgerModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : LedgerColumn::Count;
}

QVariant TLedgerModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const TLedgerRow& row = rows_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return row[index.column()];
    case Qt::BackgroundRole:
      if (!row[LedgerColumn::Expense].isEmpty()) return QBrush(ExpenseBackground());
      return {};
    default:
      return {};
  }
}

QVariant TLedgerModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= LedgerColumn::Count) return {};
  if (role == Qt::DisplayRole)
    return section < LedgerColumn::Visible ? kCaptions[section] : QString();
  if (role == kArrowRole && section == arrowColumn_) return arrow_;
  return {};
}

void TLedgerModel::SetRows(std::vector<TLedgerRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void TLedgerModel::AppendRow(const TLedgerRow& row) {
  const int at = rowCount();
  beginInsertRows(QModelIndex(), at, at);
  rows_.push_back(row);
  endInsertRows();
}

void TLedgerModel::SetRow(int row, const TLedgerRow& texts) {
  rows_.at(static_cast<std::size_t>(row)) = texts;
  Q_EMIT dataChanged(index(row, 0), index(row, LedgerColumn::Count - 1));
}

void TLedgerModel::RemoveRow(int row) {
  beginRemoveRows(QModelIndex(), row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

void TLedgerModel::Sort(int column, bool ascending) {
  const std::size_t n = rows_.size();
  std::vector<int> order;
  if (column == LedgerColumn::Date) {
    std::vector<qint64> keys(n);
    for (std::size_t i = 0; i < n; ++i)
      keys[i] = CellDay(rows_[i][column]);
    order = Order(keys, ascending, std::less<>());
  } else if (column == LedgerColumn::Income || column == LedgerColumn::Expense ||
             column == LedgerColumn::Balance) {
    std::vector<double> keys(n);
    for (std::size_t i = 0; i < n; ++i)
      keys[i] = CellValue(rows_[i][column]);
    order = Order(keys, ascending, std::less<>());
  } else {
    // The user's locale; letters are folded first, as not every collator backend ignores
    // case in its sort keys.
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
      keys.push_back(collator.sortKey(rows_[i][column].toCaseFolded()));
    order = Order(keys, ascending, [](const QCollatorSortKey& a, const QCollatorSortKey& b) {
      return a.compare(b) < 0;
    });
  }

  Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<TLedgerRow> sorted;
  sorted.reserve(n);
  std::vector<int> newRow(n);
  for (std::size_t i = 0; i < n; ++i) {
    sorted.push_back(std::move(rows_[static_cast<std::size_t>(order[i])]));
    newRow[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
  }
  rows_.swap(sorted);
  // The selection and the current row follow their rows.
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& i : from)
    to << index(newRow[static_cast<std::size_t>(i.row())], i.column());
  changePersistentIndexList(from, to);
  Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TLedgerModel::SetArrow(int column, const QPixmap& arrow) {
  const int previous = arrowColumn_;
  arrowColumn_ = column;
  arrow_ = arrow;
  if (previous >= 0) Q_EMIT headerDataChanged(Qt::Horizontal, previous, previous);
  Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
}

// ---- header ----

TLedgerHeader::TLedgerHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setSectionsClickable(true);
  setHighlightSections(false);
}

void TLedgerHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  painter->save();
  QHeaderView::paintSection(painter, rect, logicalIndex);
  painter->restore();
  const QPixmap arrow =
      model()->headerData(logicalIndex, orientation(), TLedgerModel::kArrowRole).value<QPixmap>();
  if (arrow.isNull()) return;
  const QString caption = model()->headerData(logicalIndex, orientation()).toString();
  const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this);
  const int x = std::min(rect.left() + margin + fontMetrics().horizontalAdvance(caption) + 6,
                         rect.right() - margin - arrow.width());
  painter->drawPixmap(x, rect.top() + (rect.height() - arrow.height()) / 2, arrow);
}

// ---- view ----

const QString TLedgerList::kArrowUp = QStringLiteral("ARROWUP");
const QString TLedgerList::kArrowDown = QStringLiteral("ARROWDOWN");

QPixmap TLedgerList::ArrowImage(bool up) {
  QImage image(7, 4, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  const QRgb ink = qRgb(0x40, 0x40, 0x40);
  for (int line = 0; line < 4; ++line) {
    const int y = up ? 3 - line : line;  // the wide line at the top when pointing down
    for (int x = line; x <= 6 - line; ++x)
      image.setPixel(x, y, ink);
  }
  return QPixmap::fromImage(image);
}

TLedgerList::TLedgerList(QWidget* parent) : QTableView(parent) {
  setObjectName("ListView1");
  setHorizontalHeader(new TLedgerHeader(this));
  setModel(&model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->hide();
  // Fixed, equal row heights keep a long list cheap to lay out.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  QHeaderView* header = horizontalHeader();
  for (int c = 0; c < LedgerColumn::Visible - 1; ++c)
    header->resizeSection(c, kWidths[c]);
  header->setStretchLastSection(true);
  for (int c = LedgerColumn::Visible; c < LedgerColumn::Count; ++c)
    setColumnHidden(c, true);
  connect(header, &QHeaderView::sectionClicked, this, &TLedgerList::ColumnClick);

  // The selection stays visible when the list loses the focus.
  QPalette p = palette();
  p.setColor(QPalette::Inactive, QPalette::Highlight,
             p.color(QPalette::Active, QPalette::Highlight));
  p.setColor(QPalette::Inactive, QPalette::HighlightedText,
             p.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(p);
}

int TLedgerList::SelectedRow() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void TLedgerList::SelectRow(int row) {
  if (row < 0 || row >= RowCount()) {
    selectionModel()->clear();
    return;
  }
  const QModelIndex at = model_.index(row, 0);
  selectionModel()->setCurrentIndex(
      at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(at);
}

void TLedgerList::ColumnClick(int column) {
  if (column == sortColumn_)
    ascending_ = !ascending_;
  else
    sortColumn_ = column;
  model_.Sort(column, ascending_);
  model_.SetArrow(column, ArrowImage(!ascending_));
  imageShown_ = true;
}

QString TLedgerList::HeaderImage(int column) const {
  if (!imageShown_ || column != sortColumn_) return QString();
  return ascending_ ? kArrowDown : kArrowUp;
}
