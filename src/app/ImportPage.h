#pragma once
// The "Import" page: the modules the loaded module imports directly, with
// a button to open the selected one.
#include <QPushButton>
#include <QWidget>

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

  TSortListView* ImpModuleListView;
  QPushButton* LoadImportedModuleBtn;
  TStatusPanels* ImpFuncStatusBar;

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
