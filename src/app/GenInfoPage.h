#pragma once
// The "General Info" page: the loaded module's file name, description,
// package flags, contained units with their unit flags and required
// packages, with buttons to open or search for a required package.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <cstdint>

#include "package/PackMan.h"
#include "widgets/FileEdit.h"
#include "widgets/StatusPanels.h"

namespace kx::gui {

class TPackageForm;

// Item data role carrying a contained unit's UnitFlagSet. Each list item
// keeps its own copy, so the value lives exactly as long as the item.
inline constexpr int UnitFlagsRole = Qt::UserRole + 1;

class TGenInfoPage : public QWidget {
  Q_OBJECT

 public:
  explicit TGenInfoPage(TPackageForm& form, QWidget* parent = nullptr);

  // The load flow's reset of this page.
  void Reset();
  // Copies the lists of the loaded module and sets the combo boxes.
  void CheckContentBtnClick();
  void ContainListBoxClick();
  void RequireListBoxClick();
  // Loads the selected required package (double-click too). A failure is
  // written to the activity log and otherwise not shown.
  void LoadReqDPLBtnClick();
  // Searches for the selected required package on the SmartFind page.
  void FindReqDPLBtnClick();

  // The file name of the selected required package with the loaded
  // module's default extension; empty when nothing usable is selected.
  QString SelectedRequiredFileName() const;

  TFileNameEdit* FileNameEdit;
  QLineEdit* DescriptionEdit;
  QComboBox* PackUsageCombo;
  QComboBox* PackBuildCombo;
  QComboBox* PEModuleTypeCombo;
  QGroupBox* ContainGroup;
  QListWidget* ContainListBox;
  QGroupBox* UnitFlagsGroup;
  QCheckBox* MainUnitCheck;
  QCheckBox* PackageUnitCheck;
  QCheckBox* WeakUnitCheck;
  QCheckBox* OrgWeakUnitCheck;
  QCheckBox* ImplicitUnitCheck;
  QCheckBox* WeakPackageUnitCheck;
  QGroupBox* RequireGroup;
  QListWidget* RequireListBox;
  QPushButton* FindReqDPLBtn;
  QPushButton* LoadReqDPLBtn;
  TStatusPanels* GenInfoStatusBar;

 private:
  std::array<QCheckBox*, 6> UnitFlagChecks() const;
  TPackageForm& form_;
};

}  // namespace kx::gui
