#include "app/FindPage.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QSignalBlocker>
#include <QSplitter>
#include <QVBoxLayout>

#include "app/GenInfoPage.h"
#include "app/Main.h"
#include "platform/files.h"

namespace kx::gui {

TFindPage::TFindPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("FindTabSheet"));

  auto* pathLabel = new QLabel(QStringLiteral("Select Path:"), this);
  FindPackageShellTree = new TShellFolderTree(this);
  FindPackageShellTree->setObjectName(QStringLiteral("FindPackageShellTree"));
  pathLabel->setBuddy(FindPackageShellTree);

  PackSearchMaskEdit = new QLineEdit(QString::fromLatin1(kFindInitialMask), this);
  PackSearchMaskEdit->setObjectName(QStringLiteral("PackSearchMaskEdit"));
  auto* maskLabel = new QLabel(QStringLiteral("File Mask:"), this);
  maskLabel->setBuddy(PackSearchMaskEdit);
  PackSearchFilterCombo = new QComboBox(this);
  PackSearchFilterCombo->setObjectName(QStringLiteral("PackSearchFilterCombo"));
  for (const TPackSearchFileType& type : kPackSearchFileTypes)
    PackSearchFilterCombo->addItem(QString::fromLatin1(type.Description),
                                   QString::fromLatin1(type.Pattern));
  PackSearchFilterCombo->setCurrentIndex(0);
  auto* typeLabel = new QLabel(QStringLiteral("File Type:"), this);
  typeLabel->setBuddy(PackSearchFilterCombo);

  FindPackSYSTEMOnlyCheck = new QCheckBox(QStringLiteral("Check \\SYSTEM Folder"), this);
  FindPackSYSTEMOnlyCheck->setObjectName(QStringLiteral("FindPackSYSTEMOnlyCheck"));
  FindPackDelphiPath = new QCheckBox(QStringLiteral("Check Delphi System Path"), this);
  FindPackDelphiPath->setObjectName(QStringLiteral("FindPackDelphiPath"));
  AutoClearReportCheck = new QCheckBox(QStringLiteral("Auto Clear"), this);
  AutoClearReportCheck->setObjectName(QStringLiteral("AutoClearReportCheck"));
  AutoClearReportCheck->setChecked(true);

  FindPackStartStopBTN = new QPushButton(QString::fromLatin1(kFindStartCaption), this);
  FindPackStartStopBTN->setObjectName(QStringLiteral("FindPackStartStopBTN"));
  FindPackLoadPackageBtn = new QPushButton(QStringLiteral("Load Package"), this);
  FindPackLoadPackageBtn->setObjectName(QStringLiteral("FindPackLoadPackageBtn"));
  FindPackLoadPackageBtn->setEnabled(false);
  FindPackClearReportBtn = new QPushButton(QStringLiteral("Clear Report"), this);
  FindPackClearReportBtn->setObjectName(QStringLiteral("FindPackClearReportBtn"));

  FindPackageListView = new TSortListView(this);
  FindPackageListView->setObjectName(QStringLiteral("FindPackageListView"));
  QStringList titles;
  std::vector<Qt::Alignment> alignments;
  for (int c = 0; c < kFindColumnCount; ++c) {
    titles << QString::fromLatin1(kFindColumnTitles[size_t(c)]);
    alignments.push_back(c == kFindSizeColumn ? Qt::AlignRight : Qt::AlignLeft);
  }
  FindPackageListView->setColumns(titles, alignments);
  for (int c = 0; c < kFindColumnCount; ++c)
    if (kFindColumnWidths[size_t(c)] > 0)
      FindPackageListView->setColumnWidth(c, kFindColumnWidths[size_t(c)]);
  FindPackageListView->setAscendingOnly(true);
  FindPackageListView->setCellOrder(
      [](const QString& a, const QString& b) { return CompareFindCells(ToCore(a), ToCore(b)); });
  FindPackageListView->installEventFilter(this);

  SmartFindStatusBar = new TStatusPanels(
      {QString::fromLatin1(kFindStatusInitial[0]), QString::fromLatin1(kFindStatusInitial[1]),
       QString::fromLatin1(kFindStatusInitial[2])},
      {kFindStatusWidths.begin(), kFindStatusWidths.end()}, this);
  SmartFindStatusBar->setObjectName(QStringLiteral("SmartFindStatusBar"));

  // The folder tree on the left, the search options on the right, the
  // result list below.
  auto* top = new QWidget(this);
  auto* treeBox = new QVBoxLayout();
  treeBox->addWidget(pathLabel);
  treeBox->addWidget(FindPackageShellTree, 1);
  auto* options = new QGridLayout();
  options->addWidget(maskLabel, 0, 0);
  options->addWidget(PackSearchMaskEdit, 0, 1);
  options->addWidget(typeLabel, 1, 0);
  options->addWidget(PackSearchFilterCombo, 1, 1);
  options->addWidget(FindPackSYSTEMOnlyCheck, 2, 1);
  options->addWidget(FindPackDelphiPath, 3, 1);
  options->addWidget(AutoClearReportCheck, 4, 1);
  auto* buttons = new QHBoxLayout();
  buttons->addWidget(FindPackStartStopBTN);
  buttons->addWidget(FindPackLoadPackageBtn);
  buttons->addWidget(FindPackClearReportBtn);
  buttons->addStretch(1);
  options->addLayout(buttons, 5, 0, 1, 2);
  options->setRowStretch(6, 1);
  auto* topLayout = new QHBoxLayout(top);
  topLayout->setContentsMargins(0, 0, 0, 0);
  topLayout->addLayout(treeBox, 1);
  topLayout->addLayout(options, 1);
  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->addWidget(top);
  splitter->addWidget(FindPackageListView);
  splitter->setStretchFactor(0, 2);
  splitter->setStretchFactor(1, 3);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->addWidget(splitter, 1);
  layout->addWidget(SmartFindStatusBar);

  const auto on = [this](auto handler) {
    return [this, handler] { form_.Handle([this, handler] { (this->*handler)(); }); };
  };
  connect(FindPackStartStopBTN, &QPushButton::clicked, this,
          on(&TFindPage::FindPackStartStopBTNClick));
  connect(PackSearchMaskEdit, &QLineEdit::returnPressed, this,
          on(&TFindPage::FindPackStartStopBTNClick));
  connect(FindPackClearReportBtn, &QPushButton::clicked, this,
          on(&TFindPage::FindPackClearReportBtnClick));
  // A choice of the user's only: the Find buttons set the entry without it.
  connect(PackSearchFilterCombo, &QComboBox::activated, this,
          on(&TFindPage::PackSearchFilterComboChange));
  connect(FindPackSYSTEMOnlyCheck, &QCheckBox::clicked, this,
          on(&TFindPage::FindPackSYSTEMOnlyCheckClick));
  connect(AutoClearReportCheck, &QCheckBox::clicked, this,
          on(&TFindPage::FindPackSYSTEMOnlyCheckClick));
  connect(FindPackDelphiPath, &QCheckBox::clicked, this, on(&TFindPage::FindPackDelphiPathClick));
  connect(FindPackageListView, &TSortListView::selectionChangedTo, this,
          on(&TFindPage::FindPackageListViewChange));
  connect(FindPackLoadPackageBtn, &QPushButton::clicked, this,
          on(&TFindPage::FindPackLoadPackageBtnClick));
  connect(FindPackageListView, &QTableView::doubleClicked, this,
          on(&TFindPage::FindPackLoadPackageBtnClick));
  FindPackageFile.OnBeforeExecute = [this] { FindPackageFileBeforeExecute(); };
  FindPackageFile.OnNewPath = [this](const std::string& folder, bool&) {
    FindPackageFileNewPath(folder);
  };
  FindPackageFile.OnAddFile = [this](const TFoundFile& file, bool&) {
    FindPackageFileAddFile(file);
  };
  FindPackageFile.OnEndSearch = [this] { FindPackageFileEndSearch(); };
  FindPackageFile.ProcessMessages = [this] { FlushRows(false); };
  // Closing the window ends a running search: the search runs inside the
  // window's own handlers and must not outlive it.
  form_.installEventFilter(this);
  sincePump_.start();
}

bool TFindPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &form_ && event->type() == QEvent::Close) {
    pending_.reset();
    if (searchTag_ == 1) FindPackageFile.Abort();
  }
  if (watched == FindPackageListView && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      form_.Handle([this] { FindPackLoadPackageBtnClick(); });
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TFindPage::StartPackageSearch(const std::string& mask, const std::string& folder,
                                   bool stopAtFirst, bool keepReport, SearchMode mode) {
  Request request{mask, folder, stopAtFirst, keepReport, mode};
  if (searchTag_ == 1) {
    // The running search ends after its current folder; this one follows.
    pending_ = std::move(request);
    FindPackageFile.Abort();
    return;
  }
  std::optional<Request> next = std::move(request);
  while (next) {
    pending_.reset();
    RunSearch(*next);
    next = std::move(pending_);
  }
}

void TFindPage::RunSearch(const Request& request) {
  QApplication::setOverrideCursor(Qt::BusyCursor);
  FindPackStartStopBTN->setText(QString::fromLatin1(kFindRunningCaption));
  searchTag_ = 1;
  SetSearchControlsInert(true);
  sharedFiles_.reset();  // the shared files are looked up afresh for each search
  try {
    const TPackSearchRoots roots =
        PackSearchRoots(request.mode, request.mask, request.folder, request.stopAtFirst,
                        form_.SystemDirectory, form_.ExpandedPath);
    if (!request.keepReport) FindPackClearReportBtnClick();
    ConfigurePackSearch(FindPackageFile, roots, request.mask, request.stopAtFirst);
    form_.ProcessMessages();
    FindPackageFile.Execute();
  } catch (...) {
    // The finder did not reach its end: leave the running state all the same.
    if (searchTag_ == 1) {
      FlushRows(true);
      searchTag_ = 0;
      SetSearchControlsInert(false);
      FindPackStartStopBTN->setText(QString::fromLatin1(kFindIdleCaption));
      QApplication::restoreOverrideCursor();
    }
    throw;
  }
}

void TFindPage::StartFromControls() {
  const std::optional<std::string> folder = FindPackageShellTree->SelectedPath();
  const SearchMode mode = PickSearchMode(FindPackDelphiPath->isChecked(),
                                         FindPackSYSTEMOnlyCheck->isChecked(), folder.has_value());
  StartPackageSearch(ToCore(PackSearchMaskEdit->text()), folder.value_or(std::string()), false,
                     !AutoClearReportCheck->isChecked(), mode);
}

void TFindPage::SetSearchControlsInert(bool inert) {
  // What the search reads stays as it was started; "Stop!" and the Find
  // buttons of the other pages keep working. Afterwards the tree and the
  // check boxes take the states their click handlers give them.
  PackSearchMaskEdit->setEnabled(!inert);
  PackSearchFilterCombo->setEnabled(!inert);
  FindPackDelphiPath->setEnabled(!inert);
  FindPackSYSTEMOnlyCheck->setEnabled(!inert && !FindPackDelphiPath->isChecked());
  FindPackageShellTree->setEnabled(!inert && !FindPackSYSTEMOnlyCheck->isChecked());
}

void TFindPage::FindPackStartStopBTNClick() {
  if (searchTag_ == 1) {
    FindPackageFile.Abort();
    return;
  }
  StartFromControls();
}

void TFindPage::SelectFileType(int fileType) {
  const QSignalBlocker block(PackSearchFilterCombo);
  PackSearchFilterCombo->setCurrentIndex(fileType);
}

void TFindPage::FindRequiredPackage(const QString& mask) {
  SelectFileType(kFileTypePackageLibrary);
  FindPackDelphiPath->setChecked(true);
  PackSearchMaskEdit->setText(mask);
  form_.SetActivePage(this);
  FindPackDelphiPathClick();
  StartFromControls();
}

void TFindPage::FindOnDrives(int fileType, const QString& mask) {
  SelectFileType(fileType);
  PackSearchMaskEdit->setText(mask);
  form_.SetActivePage(this);
  StartPackageSearch(ToCore(mask), std::string(), true, false, smDriveRoots);
}

void TFindPage::FindPackClearReportBtnClick() {
  newRows_.clear();
  FindPackageListView->clear();
  FindPackLoadPackageBtn->setEnabled(false);
  for (int i = 0; i < 3; ++i)
    SmartFindStatusBar->setPanelText(i, QString::fromLatin1(kFindStatusCleared[size_t(i)]));
}

void TFindPage::PackSearchFilterComboChange() {
  const int index = PackSearchFilterCombo->currentIndex();
  if (index < 0) return;
  PackSearchMaskEdit->setText(
      FromCore(MaskForFileType(ToCore(PackSearchMaskEdit->text()), size_t(index))));
}

void TFindPage::FindPackSYSTEMOnlyCheckClick() {
  FindPackageShellTree->setEnabled(!FindPackSYSTEMOnlyCheck->isChecked());
  FindPackStartStopBTN->setEnabled(true);
}

void TFindPage::FindPackDelphiPathClick() {
  const bool checked = FindPackDelphiPath->isChecked();
  FindPackageShellTree->setEnabled(!checked);
  FindPackSYSTEMOnlyCheck->setChecked(checked);
  FindPackSYSTEMOnlyCheckClick();
  FindPackSYSTEMOnlyCheck->setEnabled(!checked);
  FindPackStartStopBTN->setEnabled(true);
}

void TFindPage::FindPackageListViewChange() {
  const int row = FindPackageListView->selectedModelRow();
  FindPackLoadPackageBtn->setEnabled(
      FindPackageListView->rowCount() > 0 && row >= 0 &&
      IsLoadableFoundFile(ToCore(FindPackageListView->listModel()->cell(row, 0))));
}

void TFindPage::FindPackLoadPackageBtnClick() {
  const int row = FindPackageListView->selectedModelRow();
  FindPackLoadPackageBtn->setEnabled(row >= 0);
  if (FindPackageListView->rowCount() == 0 || row < 0) return;
  const TListModel* model = FindPackageListView->listModel();
  const std::string name = ToCore(model->cell(row, 0));
  if (name.empty()) return;
  const std::string fileName = ToCore(model->cell(row, 1)) + name;
  if (!FileExists(fileName)) return;
  form_.SetActivePage(form_.GenInfoTabSheet);
  form_.LoadPackageModule(fileName);
}

void TFindPage::FindPackageFileBeforeExecute() {
  SmartFindStatusBar->setPanelText(0, QString::fromLatin1(kFindSearchingText));
}

void TFindPage::FindPackageFileNewPath(const std::string& folder) {
  SmartFindStatusBar->setPanelText(2, FromCore(folder));
}

void TFindPage::FindPackageFileAddFile(const TFoundFile& file) {
  TFindRowContext context;
  context.StdRunTimePackages = &form_.StdRunTimePackages;
  context.StdDesignTimePackages = &form_.StdDesignTimePackages;
  context.SharedPackNames = &form_.SharedPackNames;
  if (!sharedFiles_) sharedFiles_ = std::make_shared<TSharedPackages>(form_.SharedPackNames);
  context.SharedFiles = sharedFiles_;
  const TFindRow cells = MakeFindRow(file.fileName, context, &file.hostPath);
  TListModel::Row row;
  for (const std::string& cell : cells) row.cells << FromCore(cell);
  newRows_.push_back(std::move(row));
  FlushRows(false);
}

void TFindPage::FlushRows(bool force) {
  if (!force && pumpIntervalMs_ > 0 && sincePump_.elapsed() < pumpIntervalMs_) return;
  if (!newRows_.empty()) {
    FindPackageListView->listModel()->appendRows(std::move(newRows_));
    newRows_.clear();
  }
  SmartFindStatusBar->setPanelText(
      1, FromCore(FindFilesPanelText(size_t(FindPackageListView->listModel()->rowCount()))));
  form_.ProcessMessages();
  sincePump_.restart();
}

void TFindPage::SetPumpInterval(int milliseconds) {
  pumpIntervalMs_ = milliseconds;
  FindPackageFile.PumpInterval = std::chrono::milliseconds(milliseconds);
}

void TFindPage::FindPackageFileEndSearch() {
  FlushRows(true);
  QApplication::restoreOverrideCursor();
  FindPackStartStopBTN->setText(QString::fromLatin1(kFindIdleCaption));
  searchTag_ = 0;
  SetSearchControlsInert(false);
  SmartFindStatusBar->setPanelText(0, FromCore(FindEndStatusText(FindPackageFile.FilesFound())));
  SmartFindStatusBar->setPanelText(2, FromCore(FindTotalSizeText(FindPackageFile.TotalSize())));
}

}  // namespace kx::gui
