#include "app/ExportPage.h"

#include <QVBoxLayout>

#include "app/Main.h"
#include "platform/formats.h"

namespace kx::gui {

TExportPage::TExportPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("ExportTabSheet"));
  ExpFuncListView = new TSortListView(this);
  ExpFuncListView->setObjectName(QStringLiteral("ExpFuncListView"));
  ExpFuncListView->setColumns(
      {QStringLiteral("Address"), QStringLiteral("Ordinal"), QStringLiteral("Name")},
      {Qt::AlignLeft, Qt::AlignRight, Qt::AlignLeft});
  ExpFuncListView->setColumnWidth(0, 100);
  ExpFuncListView->setColumnWidth(1, 70);
  ExpFuncStatusBar =
      new TStatusPanels({QStringLiteral("Exported Functions:"), QStringLiteral("BaseAddress:"),
                         QStringLiteral("ImageBase:")},
                        {200, 200}, this);
  ExpFuncStatusBar->setObjectName(QStringLiteral("ExpFuncStatusBar"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->addWidget(ExpFuncListView, 1);
  layout->addWidget(ExpFuncStatusBar);
  // Rows come from ShowNamesBtnClick (the export name table of the loaded
  // image), on the first visit of Export, Import or Structure after a load.
}

void TExportPage::Reset() {
  ExpFuncListView->clear();
  ExpFuncStatusBar->setPanelText(0, QStringLiteral("Exported Functions: -"));
  ExpFuncStatusBar->setPanelText(1, QStringLiteral("BaseAddress :"));
  ExpFuncStatusBar->setPanelText(2, QStringLiteral("ImageBase :"));
}

void TExportPage::ShowExports(const ExportListResult& exports) {
  std::vector<TListModel::Row> rows;
  rows.reserve(exports.rows.size());
  for (const ExportRow& e : exports.rows) {
    TListModel::Row row;
    row.cells = {FromCore(HexAddress(e.address)), QString::number(e.ordinal), FromCore(e.name)};
    // Address and ordinal sort by their numbers; the name by its text.
    row.sortKeys = {QVariant(e.address), QVariant(e.ordinal), QVariant()};
    rows.push_back(std::move(row));
  }
  ExpFuncListView->clear();
  ExpFuncListView->listModel()->setRows(std::move(rows));
  for (int i = 0; i < static_cast<int>(exports.statusPanels.size()); ++i)
    ExpFuncStatusBar->setPanelText(i, FromCore(exports.statusPanels[static_cast<size_t>(i)]));
}

}  // namespace kx::gui
