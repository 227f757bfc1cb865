#include "app/ImportPage.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "app/GenInfoPage.h"
#include "app/Main.h"
#include "platform/activity_log.h"

namespace kx::gui {

namespace {
constexpr int kTypeColumn = 1;
constexpr int kNameColumn = 2;
}  // namespace

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

  connect(ImpModuleListView, &TSortListView::selectionChangedTo, this,
          [this](int modelRow) { ImpModuleListViewChange(modelRow); });
  connect(LoadImportedModuleBtn, &QPushButton::clicked, this,
          [this] { form_.Handle([this] { LoadImportedModuleBtnClick(); }); });
  // A double click on a row opens it. Not "activated": with some styles
  // that fires on a single click.
  connect(ImpModuleListView, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex&) { form_.Handle([this] { LoadImportedModuleBtnClick(); }); });
  ImpModuleListView->installEventFilter(this);
}

void TImportPage::Reset() {
  LoadImportedModuleBtn->setEnabled(false);
  ImpModuleListView->clear();
  ImpFuncStatusBar->setPanelText(0, QStringLiteral("Imported Modules: -"));
  ImpFuncStatusBar->setPanelText(1, QStringLiteral("Imported Packages: -"));
}

void TImportPage::ShowImports(const ImportListResult& imports) {
  std::vector<TListModel::Row> rows;
  rows.reserve(imports.rows.size());
  for (const ImportRow& r : imports.rows) {
    TListModel::Row row;
    row.cells = {FromCore(r.handleText), FromCore(r.type), FromCore(r.name)};
    rows.push_back(std::move(row));
  }
  ImpModuleListView->clear();
  ImpModuleListView->listModel()->setRows(std::move(rows));
  for (int i = 0; i < static_cast<int>(imports.statusPanels.size()); ++i)
    ImpFuncStatusBar->setPanelText(i, FromCore(imports.statusPanels[static_cast<size_t>(i)]));
}

void TImportPage::ImpModuleListViewChange(int modelRow) {
  if (modelRow < 0) return;
  const QString type = ImpModuleListView->listModel()->cell(modelRow, kTypeColumn);
  LoadImportedModuleBtn->setEnabled(type.compare(QLatin1String("Package"), Qt::CaseInsensitive) ==
                                    0);
}

void TImportPage::LoadImportedModuleBtnClick() {
  const int row = ImpModuleListView->selectedModelRow();
  if (row < 0) return;
  const QString name = ImpModuleListView->listModel()->cell(row, kNameColumn);
  if (name.isEmpty()) return;
  const std::string fileName = ToCore(name);
  form_.SetActivePage(form_.GenInfoTabSheet);
  try {
    // The bare name as written in the import descriptor: the loader finds
    // it along the process search path. Loading replaces the module, so
    // this page is reset and shows the new module's imports on its next
    // visit.
    form_.LoadPackageModule(fileName);
  } catch (const std::exception&) {
    LogLine("! Adding \"" + fileName + "\"...ERROR: ");
  }
}

bool TImportPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ImpModuleListView && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
        (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      form_.Handle([this] { LoadImportedModuleBtnClick(); });
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kx::gui
