#include "app/DeployPage.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/FindPage.h"
#include "app/GenInfoPage.h"
#include "app/Main.h"
#include "platform/files.h"
#include "platform/system.h"
#include "search/ModuleSearch.h"

namespace kx::gui {

TDeployPage::TDeployPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("DeployEXETabSheet"));
  auto* exeLabel = new QLabel(QStringLiteral("Select Application to analyze:"), this);
  EXEFileNameEdit = new TFileNameEdit(this);
  EXEFileNameEdit->setObjectName(QStringLiteral("EXEFileNameEdit"));
  EXEFileNameEdit->setTypingAllowed(true);
  exeLabel->setBuddy(EXEFileNameEdit->lineEdit());

  const auto button = [this](const char* caption, const char* name) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setObjectName(QString::fromLatin1(name));
    b->setEnabled(false);
    return b;
  };
  DeployAnalyzeBtn = button("Analyze", "DeployAnalyzeBtn");
  DeploySaveReportBtn = button("Save Report", "DeploySaveReportBtn");
  DeployLoadPackageBtn = button("Load", "DeployLoadPackageBtn");
  DeployFindDPLBtn = button("Find", "DeployFindDPLBtn");
  DeployFindDPKBtn = button("Find Source", "DeployFindDPKBtn");

  auto* listLabel = new QLabel(QStringLiteral("Startup Needed Modules:"), this);
  NeedPackListview = new TSortListView(this);
  NeedPackListview->setObjectName(QStringLiteral("NeedPackListview"));
  QStringList headers;
  std::vector<Qt::Alignment> alignments;
  for (size_t c = 0; c < kDeployColumns.size(); ++c) {
    headers << QString::fromLatin1(kDeployColumns[c]);
    alignments.push_back(static_cast<int>(c) == kDeploySizeColumn
                             ? Qt::AlignRight | Qt::AlignVCenter
                             : Qt::AlignLeft | Qt::AlignVCenter);
  }
  NeedPackListview->setColumns(headers, alignments);
  for (size_t c = 0; c < kDeployColumnWidths.size(); ++c)
    if (kDeployColumnWidths[c] > 0)
      NeedPackListview->setColumnWidth(static_cast<int>(c), kDeployColumnWidths[c]);
  NeedPackListview->setShowGrid(true);
  NeedPackListview->installEventFilter(this);
  listLabel->setBuddy(NeedPackListview);

  DeployReportMemo = new QListWidget(this);
  DeployReportMemo->setObjectName(QStringLiteral("DeployReportMemo"));

  DeployFindFile.ProcessMessages = [this] { form_.ProcessMessages(); };

  auto* fileRow = new QHBoxLayout();
  fileRow->addWidget(EXEFileNameEdit, 1);
  fileRow->addWidget(DeployAnalyzeBtn);
  fileRow->addWidget(DeploySaveReportBtn);
  auto* buttonRow = new QHBoxLayout();
  buttonRow->addWidget(listLabel);
  buttonRow->addStretch(1);
  buttonRow->addWidget(DeployLoadPackageBtn);
  buttonRow->addWidget(DeployFindDPLBtn);
  buttonRow->addWidget(DeployFindDPKBtn);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(exeLabel);
  layout->addLayout(fileRow);
  layout->addLayout(buttonRow);
  layout->addWidget(NeedPackListview, 3);
  layout->addWidget(DeployReportMemo, 2);

  const auto wire = [this](QPushButton* b, void (TDeployPage::*handler)()) {
    connect(b, &QPushButton::clicked, this,
            [this, handler] { form_.Handle([this, handler] { (this->*handler)(); }); });
  };
  wire(DeployAnalyzeBtn, &TDeployPage::DeployAnalyzeBtnClick);
  wire(DeploySaveReportBtn, &TDeployPage::DeploySaveReportBtnClick);
  wire(DeployLoadPackageBtn, &TDeployPage::DeployLoadPackageBtnClick);
  wire(DeployFindDPLBtn, &TDeployPage::DeployFindDPLBtnClick);
  wire(DeployFindDPKBtn, &TDeployPage::DeployFindDPKBtnClick);
  connect(EXEFileNameEdit, &TFileNameEdit::buttonClicked, this,
          [this] { form_.Handle([this] { EXEFileNameEditButtonClick(); }); });
  connect(EXEFileNameEdit, &TFileNameEdit::textChanged, this,
          [this] { form_.Handle([this] { EXEFileNameEditChange(); }); });
  connect(EXEFileNameEdit->lineEdit(), &QLineEdit::returnPressed, this, [this] {
    if (DeployAnalyzeBtn->isEnabled()) form_.Handle([this] { DeployAnalyzeBtnClick(); });
  });
  connect(NeedPackListview, &TSortListView::selectionChangedTo, this,
          [this](int row) { form_.Handle([this, row] { NeedPackListviewChange(row); }); });
}

QStringList TDeployPage::ReportLines() const {
  QStringList lines;
  for (int i = 0; i < DeployReportMemo->count(); ++i) lines << DeployReportMemo->item(i)->text();
  return lines;
}

void TDeployPage::EXEFileNameEditButtonClick() {
  // No run inside a run: the analysis lets window messages through.
  if (analyzing_) return;
  const std::optional<std::string> chosen = form_.Dialogs().OpenFile(EXEOpenDialogSpec());
  if (!chosen) return;
  EXEFileNameEdit->setText(FromCore(*chosen));
  DeployAnalyzeBtnClick();
}

void TDeployPage::EXEFileNameEditChange() {
  // The run decides the buttons when it ends.
  if (analyzing_) return;
  const bool exists = FileExists(ToCore(EXEFileNameEdit->text()));
  DeployAnalyzeBtn->setEnabled(exists);
  DeploySaveReportBtn->setEnabled(exists);
}

TDeploySettings TDeployPage::Settings() {
  TDeploySettings s;
  s.SystemDirectory = form_.SystemDirectory;
  s.OriginalPath = form_.OriginalPath;
  s.ExpandedPath = form_.ExpandedPath;
  s.SharedPackNames = form_.SharedPackNames;
  s.StdRunTimePackages = form_.StdRunTimePackages;
  s.StdDesignTimePackages = form_.StdDesignTimePackages;
  // One search for the whole run: each root is walked at most once.
  auto search = std::make_shared<TModuleSearch>(DeployFindFile);
  s.FindModuleFile = [search](const std::string& name, std::string& path) {
    return search->Find(name, path);
  };
  return s;
}

void TDeployPage::DeployAnalyzeBtnClick() {
  if (analyzing_) return;
  analyzing_ = true;
  // The file the run was asked for, whatever the box says by the time the
  // messages let through below are done.
  const std::string app = ToCore(EXEFileNameEdit->text());
  form_.Busy = true;
  form_.ProcessMessages();
  DeployAnalyzeBtn->setEnabled(false);
  DeploySaveReportBtn->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  DeployReportMemo->clear();
  NeedPackListview->clear();
  rows_.clear();
  TDeployResult result;
  const auto finish = [this, &result] {
    for (const std::string& line : result.Report) DeployReportMemo->addItem(FromCore(line));
    form_.Busy = false;
    analyzing_ = false;
    QApplication::restoreOverrideCursor();
    const bool named = !EXEFileNameEdit->text().isEmpty();
    DeployAnalyzeBtn->setEnabled(named);
    DeploySaveReportBtn->setEnabled(named);
  };
  try {
    RunDeployAnalysis(app, Settings(), result);
  } catch (...) {
    finish();
    throw;
  }
  rows_ = std::move(result.Rows);
  std::vector<TListModel::Row> rows;
  for (const TDeployRow& r : rows_) {
    TListModel::Row row;
    QVariantList keys;
    for (size_t c = 0; c < r.Cells.size(); ++c) {
      row.cells << FromCore(r.Cells[c]);
      keys << (static_cast<int>(c) == kDeploySizeColumn ? QVariant(qulonglong(r.Size))
                                                        : QVariant());
    }
    row.sortKeys = keys;
    rows.push_back(std::move(row));
  }
  NeedPackListview->listModel()->setRows(std::move(rows));
  finish();
}

void TDeployPage::DeploySaveReportBtnClick() {
  const std::string app = ToCore(EXEFileNameEdit->text());
  const std::optional<std::string> target = form_.Dialogs().SaveFile(TXTSaveDialogSpec(app));
  if (!target) return;
  std::vector<std::string> lines;
  for (const QString& line : ReportLines()) lines.push_back(ToCore(line));
  WriteAnsiTextFile(*target, DeployReportText(app, lines));
  form_.Dialogs().Message(kDeployReportSavedNotice);
}

const TDeployRow* TDeployPage::SelectedRow() const {
  const int row = NeedPackListview->selectedModelRow();
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return nullptr;
  return &rows_[static_cast<size_t>(row)];
}

void TDeployPage::SetRowButtons(bool enabled) {
  DeployLoadPackageBtn->setEnabled(enabled);
  DeployFindDPLBtn->setEnabled(enabled);
  DeployFindDPKBtn->setEnabled(enabled);
}

void TDeployPage::NeedPackListviewChange(int modelRow) {
  // Only a row becoming selected counts: clearing the list keeps the states.
  if (modelRow < 0) return;
  const TDeployRow* row = SelectedRow();
  SetRowButtons(row != nullptr && IsPackageLibraryRow(*row));
}

void TDeployPage::NeedPackListviewKeyDown(int keyCode) {
  if (keyCode == 13) DeployLoadPackageBtnClick();
}

void TDeployPage::DeployLoadPackageBtnClick() {
  const TDeployRow* row = SelectedRow();
  if (!row) return;
  const std::string fileName = RowModuleFileName(*row);
  if (!FileExists(fileName)) return;
  form_.SetActivePage(form_.GenInfoTabSheet);
  form_.LoadPackageModule(fileName);
}

void TDeployPage::ShowSmartFind(int filterIndex, const std::string& mask) {
  // The filter's own change handler must not rewrite the mask.
  if (auto* filter = form_.findChild<QComboBox*>(QStringLiteral("PackSearchFilterCombo"))) {
    const QSignalBlocker block(filter);
    filter->setCurrentIndex(filterIndex);
  }
  if (auto* maskEdit = form_.findChild<QLineEdit*>(QStringLiteral("PackSearchMaskEdit")))
    maskEdit->setText(FromCore(mask));
  form_.SetActivePage(form_.FindTabSheet);
  StartSmartFind(mask);
}

void TDeployPage::StartSmartFind(const std::string& mask) {
  form_.StartPackageSearch(mask, "", true, false, smDriveRoots);
}

void TDeployPage::DeployFindDPLBtnClick() {
  if (const TDeployRow* row = SelectedRow()) ShowSmartFind(0, row->Cells[0]);
}

void TDeployPage::DeployFindDPKBtnClick() {
  if (const TDeployRow* row = SelectedRow()) ShowSmartFind(1, RowSourceMask(*row));
}

bool TDeployPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == NeedPackListview && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      form_.Handle([this] { NeedPackListviewKeyDown(13); });
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kx::gui
