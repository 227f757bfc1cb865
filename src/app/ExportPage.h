#pragma once
// The "Export" page: every named export with its RVA and ordinal.
#include <QWidget>

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

  TSortListView* ExpFuncListView;
  TStatusPanels* ExpFuncStatusBar;

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
