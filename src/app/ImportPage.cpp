#include "app/ImportPage.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/Main.h"

namespace kx::gui {

TImportPage::TImportPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("ImportTabSheet"));
  ImpModuleListView = new TSortListView(this);
  ImpModuleListView->setObjectName(QStringLiteral("ImpModuleListView"));
  ImpModuleListView->setColumns(
      {QStringLiteral("Handle"), QStringLiteral("Type"), QStringLiteral("Name")});
  ImpModuleListView->setColumnWidth(0, 100);
  ImpModuleListView->setColumnWidth(1, 90);
  LoadImportedModuleBtn = new QPushButton(QStringLiteral("Load Selected"), this);
  LoadImportedModuleBtn->setObjectName(QStringLiteral("LoadImportedModuleBtn"));
  LoadImportedModuleBtn->setEnabled(false);
  ImpFuncStatusBar = new TStatusPanels(
      {QStringLiteral("Imported Modules:"), QStringLiteral("Imported Packages:")}, {200}, this);
  ImpFuncStatusBar->setObjectName(QStringLiteral("ImpFuncStatusBar"));
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  buttons->addWidget(LoadImportedModuleBtn);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->addWidget(ImpModuleListView, 1);
  layout->addLayout(buttons);
  layout->addWidget(ImpFuncStatusBar);
  // Rows come from ShowNamesBtnClick (the import directory of the loaded
  // image); the selection and "Load Selected" are wired with them.
}

void TImportPage::Reset() {
  LoadImportedModuleBtn->setEnabled(false);
  ImpModuleListView->clear();
  ImpFuncStatusBar->setPanelText(0, QStringLiteral("Imported Modules: -"));
  ImpFuncStatusBar->setPanelText(1, QStringLiteral("Imported Packages: -"));
}

}  // namespace kx::gui
