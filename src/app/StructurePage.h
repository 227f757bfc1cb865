#pragma once
// The "Structure" page: the exports of a Delphi 3 package arranged as
// units, classes and members (DPLStructureTreeView), the selected routine's
// details (DPLElementInfoListView) and the unit and class counts.
#include <QIcon>
#include <QSplitter>
#include <QTreeWidget>
#include <QWidget>
#include <array>
#include <optional>

#include "package/PackPages.h"
#include "widgets/SortListView.h"
#include "widgets/StatusPanels.h"

namespace kx::gui {

class TPackageForm;

// One node of the structure tree. A leaf owns its TPackageMethodInfo
// (Node.info); emptying the tree releases them with the items. Node holds
// the caption, the state index (0 for root, unit, group and class nodes;
// 1-3 for leaves, shown as the node's state image) and the info, but no
// children: those are the item's own child items.
class TStructureTreeItem : public QTreeWidgetItem {
 public:
  static constexpr int ItemType = QTreeWidgetItem::UserType + 1;
  TStructureTreeItem() : QTreeWidgetItem(ItemType) {}
  StructureNode Node;
};

class TStructurePage : public QWidget {
  Q_OBJECT

 public:
  explicit TStructurePage(TPackageForm& form, QWidget* parent = nullptr);
  // The load flow's reset: empties the tree and the element list.
  void Reset();
  // Shows the unit and class counts of a structure that was built (a .dpl
  // module) and keeps its tree for the page's next visit (ShowPendingTree):
  // a package of many thousand exports makes as many tree items, work the
  // Export and Import pages should not wait for. A structure that was not
  // built empties the page. The leaves take over their TPackageMethodInfo.
  void ShowStructure(StructureResult structure);
  // Makes the tree items of the structure kept by ShowStructure, if any.
  void ShowPendingTree();
  // The current node changed: a node with a TPackageMethodInfo shows its
  // details in the element list; any other node leaves the list as it is.
  void DPLStructureTreeViewChange();

  QSplitter* StructureSplitter;
  QTreeWidget* DPLStructureTreeView;
  TSortListView* DPLElementInfoListView;
  TStatusPanels* ClassStatusBar;

 private:
  QTreeWidgetItem* MakeItem(StructureNode& node) const;

  TPackageForm& form_;
  std::optional<StructureNode> pendingRoot_;
  std::array<QIcon, 4> stateImages_;  // by state index; [0] is no image
};

}  // namespace kx::gui
