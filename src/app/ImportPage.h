#pragma once
// The "Import" page: the modules the loaded module imports directly, with
// a button to open the selected one.
#include <QPushButton>
#include <QWidget>

#include "package/PackPages.h"
#include "widgets/SortListView.h"
#include "widgets/StatusPanels.h"

namespace kx::gui {

class TPackageForm;

class TImportPage : public QWidget {
  Q_OBJECT

 public:
  explicit TImportPage(TPackageForm& form, QWidget* parent = nullptr);
  // The load flow's reset: "Load Selected" disabled, list emptied, status
  // "Imported Modules: -" and "Imported Packages: -".
  void Reset();
  // Shows the rows and status texts of the import list (ShowNamesBtnClick).
  void ShowImports(const ImportListResult& imports);

  // The selected row changed: "Load Selected" is enabled exactly when that
  // row is of type "Package". A change to no selection leaves it as it is.
  void ImpModuleListViewChange(int modelRow);
  // Opens the selected module (also a double click on a row and Enter in
  // the list). A failed load is written to the activity log and otherwise
  // silent; the package pages then stay reset.
  void LoadImportedModuleBtnClick();

  TSortListView* ImpModuleListView;
  QPushButton* LoadImportedModuleBtn;
  TStatusPanels* ImpFuncStatusBar;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
