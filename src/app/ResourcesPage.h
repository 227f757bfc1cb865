#pragma once
// The "Resources" page: the resource directory of the loaded module as a
// tree of types, names, languages and data entries.
#include <QTreeWidget>
#include <QWidget>

#include "package/PackPages.h"
#include "widgets/StatusPanels.h"

namespace kx::gui {

class TPackageForm;

class TResourcesPage : public QWidget {
  Q_OBJECT

 public:
  explicit TResourcesPage(TPackageForm& form, QWidget* parent = nullptr);
  // The load flow's reset: empties the tree, status "Resource Directories: -".
  void Reset();
  // Shows the resource tree built from the lines and their depths and the
  // "Resource Directories: N" status (ShowResources).
  void ShowResourceTree(const ResourceTree& tree);

  QTreeWidget* ResTreeView;
  TStatusPanels* ResStatusBar;

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
