#include "app/ResourcesPage.h"

#include <QVBoxLayout>

#include "app/Main.h"

namespace kx::gui {

TResourcesPage::TResourcesPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("ResourcesTabSheet"));
  ResTreeView = new QTreeWidget(this);
  ResTreeView->setObjectName(QStringLiteral("ResTreeView"));
  ResTreeView->setHeaderHidden(true);
  ResTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
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

}  // namespace kx::gui
