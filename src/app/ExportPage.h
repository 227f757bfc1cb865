#pragma once
// The "Export" page: every named export with its RVA and ordinal.
#include <QWidget>

#include "package/PackPages.h"
#include "widgets/SortListView.h"
#include "widgets/StatusPanels.h"

namespace kx::gui {

class TPackageForm;

class TExportPage : public QWidget {
  Q_OBJECT

 public:
  explicit TExportPage(TPackageForm& form, QWidget* parent = nullptr);
  // The load flow's reset: empties the list, status "Exported Functions: -".
  void Reset();
  // Shows the rows and status texts of the export list (ShowNamesBtnClick).
  // All rows go into the model at once, so tens of thousands fill quickly;
  // the list shows them in table order until a header is clicked.
  void ShowExports(const ExportListResult& exports);

  TSortListView* ExpFuncListView;
  TStatusPanels* ExpFuncStatusBar;

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
