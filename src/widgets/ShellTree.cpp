#include "widgets/ShellTree.h"

#include <QHeaderView>
#include <QStyle>

#include "platform/codepage.h"
#include "platform/strutil.h"
#include "platform/system.h"
#include "search/PackSearch.h"

namespace kx::gui {

namespace {

// Set on a node once its subfolders have been listed.
constexpr int kListedRole = Qt::UserRole + 2;

QString FromCore(const std::string& text) { return QString::fromStdString(text); }
std::string ToCore(const QString& text) { return text.toStdString(); }

}  // namespace

TShellFolderTree::TShellFolderTree(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setDragDropMode(QAbstractItemView::NoDragDrop);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformRowHeights(true);
  header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  connect(this, &QTreeWidget::itemExpanded, this,
          [this](QTreeWidgetItem* item) { FillChildren(item); });
  Refresh();
}

void TShellFolderTree::Refresh() {
  clear();
  auto* computer = new QTreeWidgetItem(this, QStringList(QStringLiteral("My Computer")));
  computer->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
  computer->setData(0, PathRole, QString());
  computer->setData(0, kListedRole, true);
  for (const char letter : Sys().Drives().Letters()) {
    const std::string root = std::string{letter, ':', '\\'};
    AddFolder(computer, FromCore(std::string{letter, ':'}), root, true);
  }
  computer->setExpanded(true);
  setCurrentItem(nullptr);
  clearSelection();
}

QTreeWidgetItem* TShellFolderTree::AddFolder(QTreeWidgetItem* parent, const QString& text,
                                             const std::string& windowsPath, bool drive) {
  auto* item = new QTreeWidgetItem(parent, QStringList(text));
  item->setIcon(0, style()->standardIcon(drive ? QStyle::SP_DriveHDIcon : QStyle::SP_DirIcon));
  item->setData(0, PathRole, FromCore(windowsPath));
  // Until the node opens it is not known whether it has subfolders.
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  return item;
}

void TShellFolderTree::FillChildren(QTreeWidgetItem* item) {
  if (item == nullptr || item->data(0, kListedRole).toBool()) return;
  item->setData(0, kListedRole, true);
  const std::string folder = ToCore(item->data(0, PathRole).toString());
  for (const std::string& name : ListSubfolders(folder))
    AddFolder(item, FromCore(name), IncludeTrailingBackslash(folder) + name, false);
  item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

std::optional<std::string> TShellFolderTree::SelectedPath() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  if (selected.isEmpty()) return std::nullopt;
  const QString path = selected.front()->data(0, PathRole).toString();
  if (path.isEmpty()) return std::nullopt;
  return ToCore(path);
}

bool TShellFolderTree::SelectPath(const std::string& windowsPath) {
  QTreeWidgetItem* node = ComputerNode();
  const std::vector<std::string> parts = SplitString(windowsPath, '\\');
  std::string path;
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    path = path.empty() ? part + "\\" : IncludeTrailingBackslash(path) + part;
    FillChildren(node);
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < node->childCount() && next == nullptr; ++i) {
      const std::string childPath = ToCore(node->child(i)->data(0, PathRole).toString());
      if (SameFileName(childPath, path)) next = node->child(i);
    }
    if (next == nullptr) return false;
    node->setExpanded(true);
    node = next;
  }
  if (node == ComputerNode()) return false;
  setCurrentItem(node);
  return true;
}

}  // namespace kx::gui
