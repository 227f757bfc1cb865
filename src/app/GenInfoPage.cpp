#include "app/GenInfoPage.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "app/FindPage.h"
#include "app/Main.h"
#include "app/QtPrompts.h"
#include "package/GeneralInfo.h"
#include "platform/activity_log.h"
#include "platform/strutil.h"

namespace kx::gui {

namespace {

QComboBox* MakeFlagCombo(const char* name, const QStringList& items, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(name));
  combo->addItems(items);
  combo->setCurrentIndex(0);
  // Display only.
  combo->setEnabled(false);
  return combo;
}

template <size_t N>
QStringList Items(const char* const (&items)[N]) {
  QStringList list;
  for (const char* item : items) list << QString::fromLatin1(item);
  return list;
}

QCheckBox* MakeFlagCheck(const char* name, const char* caption, QWidget* parent) {
  auto* check = new QCheckBox(QString::fromLatin1(caption), parent);
  check->setObjectName(QString::fromLatin1(name));
  return check;
}

}  // namespace

TGenInfoPage::TGenInfoPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("GenInfoTabSheet"));

  FileNameEdit = new TFileNameEdit(this);
  FileNameEdit->setObjectName(QStringLiteral("FileNameEdit"));
  FileNameEdit->setTypingAllowed(false);
  DescriptionEdit = new QLineEdit(this);
  DescriptionEdit->setObjectName(QStringLiteral("DescriptionEdit"));
  DescriptionEdit->setReadOnly(true);

  PackUsageCombo = MakeFlagCombo("PackUsageCombo", Items(kUsageItems), this);
  PackBuildCombo = MakeFlagCombo("PackBuildCombo", Items(kBuildItems), this);
  PEModuleTypeCombo = MakeFlagCombo("PEModuleTypeCombo", Items(kModuleTypeItems), this);

  ContainGroup = new QGroupBox(QStringLiteral("Contained Units:"), this);
  ContainListBox = new QListWidget(ContainGroup);
  ContainListBox->setObjectName(QStringLiteral("ContainListBox"));
  ContainListBox->setSortingEnabled(false);
  UnitFlagsGroup = new QGroupBox(QStringLiteral("Unit Flags:"), ContainGroup);
  UnitFlagsGroup->setObjectName(QStringLiteral("UnitFlagsGroup"));
  MainUnitCheck = MakeFlagCheck("MainUnitCheck", "Main Unit", UnitFlagsGroup);
  PackageUnitCheck = MakeFlagCheck("PackageUnitCheck", "Package Unit (DPK)", UnitFlagsGroup);
  WeakUnitCheck = MakeFlagCheck("WeakUnitCheck", "Weak Unit", UnitFlagsGroup);
  OrgWeakUnitCheck = MakeFlagCheck("OrgWeakUnitCheck", "OrgWeak Unit", UnitFlagsGroup);
  ImplicitUnitCheck = MakeFlagCheck("ImplicitUnitCheck", "Implicit Unit", UnitFlagsGroup);
  WeakPackageUnitCheck = MakeFlagCheck("WeakPackageUnitCheck", "WeakPackage Unit", UnitFlagsGroup);
  // The boxes only display the selected unit's flags.
  UnitFlagsGroup->setEnabled(false);
  auto* flagsLayout = new QVBoxLayout(UnitFlagsGroup);
  for (QCheckBox* check : UnitFlagChecks()) flagsLayout->addWidget(check);
  flagsLayout->addStretch(1);
  auto* containLayout = new QHBoxLayout(ContainGroup);
  containLayout->addWidget(ContainListBox, 1);
  containLayout->addWidget(UnitFlagsGroup);

  RequireGroup = new QGroupBox(QStringLiteral("Required Packages:"), this);
  RequireListBox = new QListWidget(RequireGroup);
  RequireListBox->setObjectName(QStringLiteral("RequireListBox"));
  FindReqDPLBtn = new QPushButton(QStringLiteral("Find"), RequireGroup);
  FindReqDPLBtn->setObjectName(QStringLiteral("FindReqDPLBtn"));
  LoadReqDPLBtn = new QPushButton(QStringLiteral("Load"), RequireGroup);
  LoadReqDPLBtn->setObjectName(QStringLiteral("LoadReqDPLBtn"));
  FindReqDPLBtn->setEnabled(false);
  LoadReqDPLBtn->setEnabled(false);
  auto* reqButtons = new QHBoxLayout();
  reqButtons->addStretch(1);
  reqButtons->addWidget(FindReqDPLBtn);
  reqButtons->addWidget(LoadReqDPLBtn);
  auto* requireLayout = new QVBoxLayout(RequireGroup);
  requireLayout->addWidget(RequireListBox, 1);
  requireLayout->addLayout(reqButtons);

  GenInfoStatusBar = new TStatusPanels(
      {QStringLiteral("File Size:"), QStringLiteral("File Date:"), QStringLiteral("File Time:")},
      {220, 200}, this);
  GenInfoStatusBar->setObjectName(QStringLiteral("GenInfoStatusBar"));

  auto* top = new QGridLayout();
  top->addWidget(new QLabel(QStringLiteral("Package File Name:"), this), 0, 0);
  top->addWidget(FileNameEdit, 0, 1, 1, 5);
  top->addWidget(new QLabel(QStringLiteral("Package Description:"), this), 1, 0);
  top->addWidget(DescriptionEdit, 1, 1, 1, 5);
  top->addWidget(new QLabel(QStringLiteral("Usage Options:"), this), 2, 0);
  top->addWidget(PackUsageCombo, 2, 1);
  top->addWidget(new QLabel(QStringLiteral("Build Options:"), this), 2, 2);
  top->addWidget(PackBuildCombo, 2, 3);
  top->addWidget(new QLabel(QStringLiteral("Pe Module Type:"), this), 2, 4);
  top->addWidget(PEModuleTypeCombo, 2, 5);
  top->setColumnStretch(1, 1);
  top->setColumnStretch(3, 1);
  top->setColumnStretch(5, 1);

  auto* lists = new QHBoxLayout();
  lists->addWidget(ContainGroup, 3);
  lists->addWidget(RequireGroup, 2);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 0);
  layout->addLayout(top);
  layout->addLayout(lists, 1);
  layout->addWidget(GenInfoStatusBar);

  connect(FileNameEdit, &TFileNameEdit::buttonClicked, this,
          [this] { form_.Handle([this] { form_.LoadBtnClick(); }); });
  connect(ContainListBox, &QListWidget::itemSelectionChanged, this,
          [this] { form_.Handle([this] { ContainListBoxClick(); }); });
  connect(RequireListBox, &QListWidget::itemSelectionChanged, this,
          [this] { form_.Handle([this] { RequireListBoxClick(); }); });
  connect(RequireListBox, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem*) { form_.Handle([this] { LoadReqDPLBtnClick(); }); });
  connect(LoadReqDPLBtn, &QPushButton::clicked, this,
          [this] { form_.Handle([this] { LoadReqDPLBtnClick(); }); });
  connect(FindReqDPLBtn, &QPushButton::clicked, this,
          [this] { form_.Handle([this] { FindReqDPLBtnClick(); }); });
}

std::array<QCheckBox*, 6> TGenInfoPage::UnitFlagChecks() const {
  // In the order of the UnitFlagSet elements.
  return {MainUnitCheck,    PackageUnitCheck,  WeakUnitCheck,
          OrgWeakUnitCheck, ImplicitUnitCheck, WeakPackageUnitCheck};
}

void TGenInfoPage::Reset() {
  GenInfoStatusBar->setPanelText(0, QStringLiteral("File Size :"));
  GenInfoStatusBar->setPanelText(1, QStringLiteral("File Date :"));
  GenInfoStatusBar->setPanelText(2, QStringLiteral("File Time :"));
  ContainListBox->clear();
  RequireListBox->clear();
  FindReqDPLBtn->setEnabled(false);
  LoadReqDPLBtn->setEnabled(false);
  PackUsageCombo->setCurrentIndex(0);
  PackBuildCombo->setCurrentIndex(0);
  PEModuleTypeCombo->setCurrentIndex(0);
  for (QCheckBox* check : UnitFlagChecks()) check->setChecked(false);
}

void TGenInfoPage::CheckContentBtnClick() {
  const TPackageModuleInfo& module = *form_.Module;
  {
    const QSignalBlocker block(ContainListBox);
    ContainListBox->clear();
    for (const ContainedUnit& unit : module.Contains) {
      auto* item = new QListWidgetItem(FromCore(unit.name));
      item->setData(UnitFlagsRole, static_cast<int>(unit.flags));
      ContainListBox->addItem(item);
    }
  }
  {
    // The list keeps its items sorted alphabetically, ignoring case as a
    // sorted Windows list box does.
    const std::vector<std::string> names = SortedRequires(module.Requires);
    const QSignalBlocker block(RequireListBox);
    RequireListBox->clear();
    for (const std::string& name : names) RequireListBox->addItem(FromCore(name));
  }
  const TFlagChoices choices = ChoicesFromFlags(module.Flags);
  PackBuildCombo->setCurrentIndex(choices.build);
  PackUsageCombo->setCurrentIndex(choices.usage);
  PEModuleTypeCombo->setCurrentIndex(choices.moduleType);
}

void TGenInfoPage::ContainListBoxClick() {
  if (ContainListBox->count() == 0) return;
  QListWidgetItem* item = ContainListBox->currentItem();
  if (item == nullptr || !item->isSelected()) return;
  const auto flags = static_cast<UnitFlagSet>(item->data(UnitFlagsRole).toInt());
  const std::array<QCheckBox*, 6> checks = UnitFlagChecks();
  for (size_t i = 0; i < checks.size(); ++i)
    checks[i]->setChecked(InSet(flags, static_cast<UnitFlag>(i)));
}

void TGenInfoPage::RequireListBoxClick() {
  if (RequireListBox->count() == 0) return;
  QListWidgetItem* item = RequireListBox->currentItem();
  if (item == nullptr || !item->isSelected()) return;
  FindReqDPLBtn->setEnabled(true);
  LoadReqDPLBtn->setEnabled(true);
}

QString TGenInfoPage::SelectedRequiredFileName() const {
  QListWidgetItem* item = RequireListBox->currentItem();
  if (item == nullptr || !item->isSelected() || item->text().isEmpty()) return {};
  return item->text() + QString::fromLatin1(form_.Module->DefaultExtension());
}

void TGenInfoPage::LoadReqDPLBtnClick() {
  const QString fileName = SelectedRequiredFileName();
  if (fileName.isEmpty()) return;
  const std::string name = ToCore(fileName);
  try {
    // A bare name: the loader finds it along the process search path.
    form_.LoadPackageModule(name);
  } catch (const std::exception&) {
    LogLine("! Adding \"" + name + "\"...ERROR: ");
  }
}

void TGenInfoPage::FindReqDPLBtnClick() {
  const QString mask = SelectedRequiredFileName();
  if (mask.isEmpty()) return;
  form_.FindTabSheet->FindRequiredPackage(mask);
}

}  // namespace kx::gui
