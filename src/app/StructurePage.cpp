#include "app/StructurePage.h"

#include <QHeaderView>
#include <QVBoxLayout>

#include "app/Main.h"
#include "widgets/StateImages.h"

namespace kx::gui {

TStructurePage::TStructurePage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("ClassesTabSheet"));
  for (int i = 1; i <= StateImageCount; ++i) stateImages_[static_cast<size_t>(i)] = StateImage(i);
  StructureSplitter = new QSplitter(Qt::Horizontal, this);
  DPLStructureTreeView = new QTreeWidget(StructureSplitter);
  DPLStructureTreeView->setObjectName(QStringLiteral("DPLStructureTreeView"));
  DPLStructureTreeView->setHeaderHidden(true);
  DPLStructureTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DPLStructureTreeView->setUniformRowHeights(true);
  DPLElementInfoListView = new TSortListView(StructureSplitter);
  DPLElementInfoListView->setObjectName(QStringLiteral("DPLElementInfoListView"));
  DPLElementInfoListView->setColumns({QStringLiteral("Field"), QStringLiteral("Data")});
  DPLElementInfoListView->setSortable(false);
  DPLElementInfoListView->setColumnWidth(0, 150);
  StructureSplitter->setStretchFactor(0, 1);
  StructureSplitter->setStretchFactor(1, 1);
  ClassStatusBar =
      new TStatusPanels({QStringLiteral("Units:"), QStringLiteral("Classes:")}, {160}, this);
  ClassStatusBar->setObjectName(QStringLiteral("ClassStatusBar"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->addWidget(StructureSplitter, 1);
  layout->addWidget(ClassStatusBar);
  connect(DPLStructureTreeView, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem*, QTreeWidgetItem*) {
            form_.Handle([this] { DPLStructureTreeViewChange(); });
          });
}

void TStructurePage::Reset() {
  pendingRoot_.reset();
  DPLStructureTreeView->clear();
  DPLElementInfoListView->clear();
  ClassStatusBar->setPanelText(0, QStringLiteral("Units:"));
  ClassStatusBar->setPanelText(1, QStringLiteral("Classes:"));
}

QTreeWidgetItem* TStructurePage::MakeItem(StructureNode& node) const {
  auto* item = new TStructureTreeItem;
  item->setText(0, FromCore(node.caption));
  if (node.stateIndex >= 1 && node.stateIndex <= StateImageCount)
    item->setIcon(0, stateImages_[static_cast<size_t>(node.stateIndex)]);
  item->Node.caption = std::move(node.caption);
  item->Node.stateIndex = node.stateIndex;
  item->Node.info = std::move(node.info);
  QList<QTreeWidgetItem*> children;
  children.reserve(static_cast<qsizetype>(node.children.size()));
  for (StructureNode& child : node.children) children.append(MakeItem(child));
  node.children.clear();
  item->addChildren(children);
  return item;
}

void TStructurePage::ShowStructure(StructureResult structure) {
  if (!structure.built) {
    Reset();
    return;
  }
  DPLStructureTreeView->clear();
  pendingRoot_ = std::move(structure.root);
  ClassStatusBar->setPanelText(0, FromCore(structure.statusPanels[0]));
  ClassStatusBar->setPanelText(1, FromCore(structure.statusPanels[1]));
  if (form_.ActivePage() == this) ShowPendingTree();
}

void TStructurePage::ShowPendingTree() {
  if (!pendingRoot_) return;
  // The whole tree is made detached and added at once: one update of the
  // view instead of one per node.
  QTreeWidgetItem* root = MakeItem(*pendingRoot_);
  pendingRoot_.reset();
  DPLStructureTreeView->addTopLevelItem(root);
  root->setExpanded(true);
}

void TStructurePage::DPLStructureTreeViewChange() {
  QTreeWidgetItem* current = DPLStructureTreeView->currentItem();
  if (current == nullptr || current->type() != TStructureTreeItem::ItemType) return;
  const auto rows = ElementInfoRows(static_cast<TStructureTreeItem*>(current)->Node);
  if (!rows) return;
  DPLElementInfoListView->clear();
  for (const auto& [field, data] : *rows)
    DPLElementInfoListView->listModel()->addRow({FromCore(field), FromCore(data)});
}

}  // namespace kx::gui
