#include "app/StructurePage.h"

#include <QHeaderView>
#include <QVBoxLayout>

#include "app/Main.h"

namespace kx::gui {

TStructurePage::TStructurePage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("ClassesTabSheet"));
  StructureSplitter = new QSplitter(Qt::Horizontal, this);
  DPLStructureTreeView = new QTreeWidget(StructureSplitter);
  DPLStructureTreeView->setObjectName(QStringLiteral("DPLStructureTreeView"));
  DPLStructureTreeView->setHeaderHidden(true);
  DPLStructureTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DPLElementInfoListView = new TSortListView(StructureSplitter);
  DPLElementInfoListView->setObjectName(QStringLiteral("DPLElementInfoListView"));
  DPLElementInfoListView->setColumns({QStringLiteral("Field"), QStringLiteral("Data")});
  DPLElementInfoListView->setSortable(false);
  DPLElementInfoListView->setColumnWidth(0, 110);
  StructureSplitter->setStretchFactor(0, 1);
  StructureSplitter->setStretchFactor(1, 1);
  ClassStatusBar =
      new TStatusPanels({QStringLiteral("Units:"), QStringLiteral("Classes:")}, {160}, this);
  ClassStatusBar->setObjectName(QStringLiteral("ClassStatusBar"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->addWidget(StructureSplitter, 1);
  layout->addWidget(ClassStatusBar);
  // The tree is filled by ShowNamesBtnClick (export names split into units,
  // classes and members), which also wires the element list to the
  // selected leaf.
}

void TStructurePage::Reset() {
  DPLStructureTreeView->clear();
  DPLElementInfoListView->clear();
}

}  // namespace kx::gui
