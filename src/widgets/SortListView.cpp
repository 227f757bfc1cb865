#include "widgets/SortListView.h"

#include <QHeaderView>
#include <QItemSelectionModel>

namespace kx::gui {

namespace {

// Sorts by a cell order of the owner's when one is set.
class TSortProxy : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  TSortListView::CellOrder order;

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override {
    if (!order) return QSortFilterProxyModel::lessThan(left, right);
    return order(left.data(sortRole()).toString(), right.data(sortRole()).toString()) < 0;
  }
};

}  // namespace

TListModel::TListModel(QObject* parent) : QAbstractTableModel(parent) {}

void TListModel::setColumns(const QStringList& headers,
                            const std::vector<Qt::Alignment>& alignments) {
  beginResetModel();
  headers_ = headers;
  alignments_ = alignments;
  rows_.clear();
  endResetModel();
}

int TListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

int TListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant TListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const Row& row = rows_[static_cast<size_t>(index.row())];
  const int col = index.column();
  switch (role) {
    case Qt::DisplayRole:
      return col < row.cells.size() ? row.cells[col] : QString();
    case SortRole:
      if (col < row.sortKeys.size() && row.sortKeys[col].isValid()) return row.sortKeys[col];
      return col < row.cells.size() ? row.cells[col] : QString();
    case RowDataRole:
      return row.rowData;
    case Qt::TextAlignmentRole:
      if (static_cast<size_t>(col) < alignments_.size())
        return QVariant::fromValue(alignments_[static_cast<size_t>(col)] | Qt::AlignVCenter);
      return {};
    default:
      return {};
  }
}

QVariant TListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= headers_.size()) return {};
  if (role == Qt::DisplayRole) return headers_[section];
  if (role == Qt::TextAlignmentRole && static_cast<size_t>(section) < alignments_.size())
    return QVariant::fromValue(alignments_[static_cast<size_t>(section)] | Qt::AlignVCenter);
  return {};
}

void TListModel::clear() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void TListModel::addRow(const QStringList& cells, const QVariantList& sortKeys,
                        const QVariant& rowData) {
  const int at = rowCount();
  beginInsertRows(QModelIndex(), at, at);
  rows_.push_back(Row{cells, sortKeys, rowData});
  endInsertRows();
}

void TListModel::appendRows(std::vector<Row> rows) {
  if (rows.empty()) return;
  const int at = rowCount();
  beginInsertRows(QModelIndex(), at, at + static_cast<int>(rows.size()) - 1);
  rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
               std::make_move_iterator(rows.end()));
  endInsertRows();
}

void TListModel::setRows(std::vector<Row> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

QString TListModel::cell(int row, int column) const {
  if (row < 0 || row >= rowCount()) return {};
  const Row& r = rows_[static_cast<size_t>(row)];
  return column >= 0 && column < r.cells.size() ? r.cells[column] : QString();
}

QVariant TListModel::rowData(int row) const {
  if (row < 0 || row >= rowCount()) return {};
  return rows_[static_cast<size_t>(row)].rowData;
}

TSortListView::TSortListView(QWidget* parent)
    : QTableView(parent), model_(new TListModel(this)), proxy_(new TSortProxy(this)) {
  proxy_->setSourceModel(model_);
  proxy_->setSortRole(TListModel::SortRole);
  proxy_->setSortCaseSensitivity(Qt::CaseInsensitive);
  proxy_->setDynamicSortFilter(false);
  setModel(proxy_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setAlternatingRowColors(false);
  verticalHeader()->setVisible(false);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(true);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setSortable(true);
  connect(horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
          [this](int column, Qt::SortOrder order) {
            // Setting the indicator again sorts the column ascending.
            if (ascendingOnly_ && column >= 0 && order != Qt::AscendingOrder)
              horizontalHeader()->setSortIndicator(column, Qt::AscendingOrder);
          });
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex&, const QModelIndex&) {
            emit selectionChangedTo(selectedModelRow());
          });
}

void TSortListView::setColumns(const QStringList& headers,
                               const std::vector<Qt::Alignment>& alignments) {
  model_->setColumns(headers, alignments);
}

void TSortListView::setSortable(bool sortable) {
  // Without clearing the indicator first, switching sorting on would sort
  // column 0 descending at once.
  horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  setSortingEnabled(sortable);
  horizontalHeader()->setSortIndicatorShown(sortable);
  horizontalHeader()->setSectionsClickable(sortable);
}

void TSortListView::setAscendingOnly(bool ascendingOnly) { ascendingOnly_ = ascendingOnly; }

void TSortListView::setCellOrder(CellOrder order) {
  static_cast<TSortProxy*>(proxy_)->order = std::move(order);
}

void TSortListView::clear() {
  model_->clear();
  // Forget the sort so that the next fill shows the rows in their own order.
  proxy_->sort(-1);
  if (isSortingEnabled()) horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
}

QString TSortListView::displayedCell(int row, int column) const {
  return proxy_->data(proxy_->index(row, column), Qt::DisplayRole).toString();
}

int TSortListView::selectedModelRow() const {
  const QModelIndex current = selectionModel()->currentIndex();
  if (!current.isValid() || !selectionModel()->isRowSelected(current.row(), QModelIndex()))
    return -1;
  return proxy_->mapToSource(current).row();
}

void TSortListView::selectDisplayedRow(int row) {
  if (row < 0 || row >= rowCount()) {
    clearSelection();
    return;
  }
  selectionModel()->setCurrentIndex(
      proxy_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

}  // namespace kx::gui
