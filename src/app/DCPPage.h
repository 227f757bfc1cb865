#pragma once
// The "DCP" page: the compiled units, required packages and resources of a
// compiled package file as a tree, the offsets and sizes of a selected unit,
// and the extraction of one unit or a short report on it. What the page
// shows and asks is decided by the core (dcp/DCPPage.h).
#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>
#include <QWidget>
#include <string>

#include "dcp/DCPPage.h"
#include "widgets/ColorTextView.h"
#include "widgets/FileEdit.h"
#include "widgets/StatusPanels.h"

namespace kx::gui {

class TPackageForm;

// Item data role of a tree node's kind (the node's "image index").
inline constexpr int DCPNodeKindRole = Qt::UserRole + 1;

class TDCPPage : public QWidget {
  Q_OBJECT

 public:
  explicit TDCPPage(TPackageForm& form, QWidget* parent = nullptr);

  // After a .dpl load: analyses the matching .dcp beside the module, or
  // asks whether to locate it. A file that cannot be read is shown in the
  // error box; the load goes on.
  void LoadDCPForModule();
  // The ellipsis of the file box: asks for a compiled package and analyses it.
  void DCPFileNameEditButtonClick();
  // Analyses the file named in the file box, a compiled package or a
  // compiled unit (EFOpenError / EDCPDamaged; the tree stays cleared and the
  // buttons disabled then).
  void AnalyzeDCPBtnClick();
  // The selection changed: buttons and the Data column.
  void DCPTreeInfoChange();
  void ExtractDCUBtnClick();
  void SaveDCUInfoBtnClick();
  // Searches the drives for the selected unit's source on the SmartFind page.
  void FindDCUSourceBtnClick();
  // Writes the interface pane's text as a Pascal source (CR LF).
  void SaveInterfaceBtnClick();
  // The context menu is about to open: enables its items.
  void DCPInfoPopupMenuPopup();
  void ReloadDCPItemClick();
  void CopyDCUInfoStringItemClick();
  // Enter on a unit node that carries an entry extracts it.
  void DCPTreeInfoKeyDown(int keyCode);

  // The node behind a tree item (nullptr for none).
  const TDCPTreeNode* NodeOf(const QTreeWidgetItem* item) const;
  const TDCPTreeNode* SelectedNode() const;

  TFileNameEdit* DCPFileNameEdit;
  QSplitter* DCPSplitter;
  QTreeWidget* DCPTreeInfo;
  QSplitter* DCUInfoSplitter;
  QTableWidget* DCUInfoListView;
  // The selected unit's interface, decoded when the unit is selected.
  TColorTextView* DCUInterfaceView;
  QPushButton* SaveInterfaceBtn;
  QPushButton* ExtractDCUBtn;
  QPushButton* SaveDCUInfoBtn;
  QPushButton* FindDCUSourceBtn;
  TStatusPanels* DCPStatusBar;
  QMenu* DCPInfoPopupMenu;
  QAction* ExtractDCUItem;
  QAction* ReloadDCPItem;
  QAction* CopyDCUInfoStringItem;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ClearTree();
  void SetButtonsEnabled(bool enabled);
  void ShowContent(TDCPPageContent content);

  TPackageForm& form_;
  // The nodes the tree shows (with their unit entries); cleared with it.
  TDCPPageContent content_;
  // The file box names a standalone compiled unit, not a package.
  bool standaloneUnit_ = false;
};

}  // namespace kx::gui
