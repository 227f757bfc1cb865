#pragma once
// A report-style list (rows of text cells under column headers) that sorts
// on a header click. The rows live in a plain table model; sorting happens
// behind a QSortFilterProxyModel, so lists of many thousands of rows stay
// fast and the model keeps the order in which rows were added.
#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QTableView>
#include <QVariant>
#include <functional>
#include <vector>

namespace kx::gui {

class TListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Role that answers a cell's sort key (its own key when one was given,
  // otherwise its text).
  static constexpr int SortRole = Qt::UserRole + 1;
  // Role of the value attached to a row (any column answers it).
  static constexpr int RowDataRole = Qt::UserRole + 2;

  explicit TListModel(QObject* parent = nullptr);

  void setColumns(const QStringList& headers, const std::vector<Qt::Alignment>& alignments = {});
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void clear();
  // Appends one row. sortKeys, when given, holds one key per column (an
  // invalid QVariant: sort that cell by its text).
  void addRow(const QStringList& cells, const QVariantList& sortKeys = {},
              const QVariant& rowData = {});
  // Adds many rows at once (one model reset instead of one insert per row).
  struct Row {
    QStringList cells;
    QVariantList sortKeys;
    QVariant rowData;
  };
  void setRows(std::vector<Row> rows);
  // Appends many rows with one insert (lists that grow while work runs).
  void appendRows(std::vector<Row> rows);

  QString cell(int row, int column) const;
  QVariant rowData(int row) const;

 private:
  QStringList headers_;
  std::vector<Qt::Alignment> alignments_;
  std::vector<Row> rows_;
};

class TSortListView : public QTableView {
  Q_OBJECT

 public:
  explicit TSortListView(QWidget* parent = nullptr);

  TListModel* listModel() const { return model_; }
  QSortFilterProxyModel* proxy() const { return proxy_; }
  void setColumns(const QStringList& headers, const std::vector<Qt::Alignment>& alignments = {});
  // Header clicks sort (on by default). Switching on never sorts by itself:
  // the rows stay in insertion order until the user clicks a header.
  void setSortable(bool sortable);
  // Every header click sorts ascending (a second click does not reverse).
  void setAscendingOnly(bool ascendingOnly);
  // The order of two cells' sort keys as text (<0, 0, >0); without one the
  // keys compare as QVariants.
  using CellOrder = std::function<int(const QString&, const QString&)>;
  void setCellOrder(CellOrder order);
  // Empties the list and forgets the sort order.
  void clear();
  int rowCount() const { return proxy_->rowCount(); }
  // Text of a cell by its row as displayed (after sorting).
  QString displayedCell(int row, int column) const;
  // Model row of the current (selected) row, -1 when none.
  int selectedModelRow() const;
  // Selects the displayed row.
  void selectDisplayedRow(int row);

 signals:
  // The selected row changed (-1 when none).
  void selectionChangedTo(int modelRow);

 private:
  TListModel* model_;
  QSortFilterProxyModel* proxy_;
  bool ascendingOnly_ = false;
};

}  // namespace kx::gui
