#pragma once
// A folder tree of the Windows path space: a computer node listing the
// drives of the drive map, under each drive its folders (no files). A
// folder's subfolders are listed when its node first opens. The tree is
// read-only: nothing is renamed, moved or deleted through it.
#include <QString>
#include <QTreeWidget>
#include <optional>
#include <string>

namespace kx::gui {

class TShellFolderTree : public QTreeWidget {
  Q_OBJECT

 public:
  // Item data role of a node's Windows path (empty for the computer node).
  static constexpr int PathRole = Qt::UserRole + 1;

  explicit TShellFolderTree(QWidget* parent = nullptr);

  // Rebuilds the tree from the current drive map (collapsed, nothing selected).
  void Refresh();
  QTreeWidgetItem* ComputerNode() const { return topLevelItem(0); }
  // The selected node's folder ("C:\", "C:\Projects"); nullopt when nothing
  // is selected or the computer node is (it has no file-system path).
  std::optional<std::string> SelectedPath() const;
  // Opens the nodes down to the folder and selects it; false when a part of
  // the path is not in the tree.
  bool SelectPath(const std::string& windowsPath);

 private:
  void FillChildren(QTreeWidgetItem* item);
  QTreeWidgetItem* AddFolder(QTreeWidgetItem* parent, const QString& text,
                             const std::string& windowsPath, bool drive);
};

}  // namespace kx::gui
