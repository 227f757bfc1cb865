#include "app/ResourcesPage.h"

#include <QVBoxLayout>

#include "app/Main.h"

namespace kx::gui {

namespace {

QTreeWidgetItem* MakeResourceItem(const ResourceNode& node) {
  auto* item = new QTreeWidgetItem(QStringList{FromCore(node.caption)});
  QList<QTreeWidgetItem*> children;
  children.reserve(static_cast<qsizetype>(node.children.size()));
  for (const ResourceNode& child : node.children) children.append(MakeResourceItem(child));
  item->addChildren(children);
  return item;
}

}  // namespace

TResourcesPage::TResourcesPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("ResourcesTabSheet"));
  ResTreeView = new QTreeWidget(this);
  ResTreeView->setObjectName(QStringLiteral("ResTreeView"));
  ResTreeView->setHeaderHidden(true);
  ResTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ResTreeView->setUniformRowHeights(true);
  ResStatusBar = new TStatusPanels({QStringLiteral("Resource Directories:")}, {}, this);
  ResStatusBar->setObjectName(QStringLiteral("ResStatusBar"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->addWidget(ResTreeView, 1);
  layout->addWidget(ResStatusBar);
  // The tree is filled by ShowResources on the first visit after a load.
}

void TResourcesPage::Reset() {
  ResTreeView->clear();
  ResStatusBar->setPanelText(0, QStringLiteral("Resource Directories: -"));
}

void TResourcesPage::ShowResourceTree(const ResourceTree& tree) {
  ResTreeView->clear();
  QList<QTreeWidgetItem*> top;
  top.reserve(static_cast<qsizetype>(tree.topLevel.size()));
  for (const ResourceNode& node : tree.topLevel) top.append(MakeResourceItem(node));
  ResTreeView->addTopLevelItems(top);
  ResStatusBar->setPanelText(0, FromCore(tree.status));
}

}  // namespace kx::gui
