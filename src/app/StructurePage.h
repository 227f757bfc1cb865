#pragma once
// The "Structure" page: the exports of a Delphi 3 package arranged as
// units, classes and members (DPLStructureTreeView), the selected routine's
// details (DPLElementInfoListView) and the unit and class counts.
#include <QSplitter>
#include <QTreeWidget>
#include <QWidget>

#include "widgets/SortListView.h"
#include "widgets/StatusPanels.h"

namespace kx::gui {

class TPackageForm;

class TStructurePage : public QWidget {
  Q_OBJECT

 public:
  explicit TStructurePage(TPackageForm& form, QWidget* parent = nullptr);
  // The load flow's reset: empties the tree and the element list.
  void Reset();

  QSplitter* StructureSplitter;
  QTreeWidget* DPLStructureTreeView;
  TSortListView* DPLElementInfoListView;
  TStatusPanels* ClassStatusBar;

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
