#include "app/DCPPage.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "app/FindPage.h"
#include "app/Main.h"
#include "platform/files.h"
#include "source/Version.h"

namespace kx::gui {

TDCPPage::TDCPPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("DCPDCUTabSheet"));
  auto* fileLabel = new QLabel(QStringLiteral("DCP File Name:"), this);
  DCPFileNameEdit = new TFileNameEdit(this);
  DCPFileNameEdit->setObjectName(QStringLiteral("DCPFileNameEdit"));
  DCPFileNameEdit->setTypingAllowed(false);
  fileLabel->setBuddy(DCPFileNameEdit);

  DCPSplitter = new QSplitter(Qt::Horizontal, this);
  DCPSplitter->setObjectName(QStringLiteral("DCPSplitter"));
  DCPTreeInfo = new QTreeWidget(DCPSplitter);
  DCPTreeInfo->setObjectName(QStringLiteral("DCPTreeInfo"));
  DCPTreeInfo->setHeaderHidden(true);
  DCPTreeInfo->setColumnCount(1);
  DCPTreeInfo->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DCPTreeInfo->setSelectionMode(QAbstractItemView::SingleSelection);
  DCPTreeInfo->setContextMenuPolicy(Qt::CustomContextMenu);
  DCPTreeInfo->installEventFilter(this);

  DCUInfoListView = new QTableWidget(static_cast<int>(kDCUInfoFields.size()), 2, DCPSplitter);
  DCUInfoListView->setObjectName(QStringLiteral("DCUInfoListView"));
  DCUInfoListView->setHorizontalHeaderLabels({QStringLiteral("Field"), QStringLiteral("Data")});
  DCUInfoListView->verticalHeader()->hide();
  DCUInfoListView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  DCUInfoListView->horizontalHeader()->setSectionsClickable(false);
  DCUInfoListView->horizontalHeader()->setStretchLastSection(true);
  DCUInfoListView->setColumnWidth(0, 100);
  DCUInfoListView->setShowGrid(true);
  DCUInfoListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  DCUInfoListView->setSelectionMode(QAbstractItemView::SingleSelection);
  DCUInfoListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DCUInfoListView->setWordWrap(false);
  for (int row = 0; row < static_cast<int>(kDCUInfoFields.size()); ++row) {
    DCUInfoListView->setItem(
        row, 0, new QTableWidgetItem(QString::fromLatin1(kDCUInfoFields[size_t(row)])));
    DCUInfoListView->setItem(row, 1, new QTableWidgetItem());
  }
  DCUInfoListView->resizeColumnToContents(0);
  DCPSplitter->setStretchFactor(0, 3);
  DCPSplitter->setStretchFactor(1, 2);

  ExtractDCUBtn = new QPushButton(QStringLiteral("Extract DCU"), this);
  ExtractDCUBtn->setObjectName(QStringLiteral("ExtractDCUBtn"));
  SaveDCUInfoBtn = new QPushButton(QStringLiteral("Save Info"), this);
  SaveDCUInfoBtn->setObjectName(QStringLiteral("SaveDCUInfoBtn"));
  // "Find PAS" searches the drives for the unit's source on the SmartFind page.
  FindDCUSourceBtn = new QPushButton(QStringLiteral("Find PAS"), this);
  FindDCUSourceBtn->setObjectName(QStringLiteral("FindDCUSourceBtn"));
  SetButtonsEnabled(false);

  DCPStatusBar = new TStatusPanels(
      {QString::fromLatin1(kDCPStatusCaptions[0]), QString::fromLatin1(kDCPStatusCaptions[1]),
       QString::fromLatin1(kDCPStatusCaptions[2])},
      {kDCPStatusWidths.begin(), kDCPStatusWidths.end()}, this);
  DCPStatusBar->setObjectName(QStringLiteral("DCPStatusBar"));

  DCPInfoPopupMenu = new QMenu(this);
  DCPInfoPopupMenu->setObjectName(QStringLiteral("DCPInfoPopupMenu"));
  ExtractDCUItem = DCPInfoPopupMenu->addAction(QStringLiteral("Extract DCU"));
  ExtractDCUItem->setObjectName(QStringLiteral("ExtractDCUItem"));
  ReloadDCPItem = DCPInfoPopupMenu->addAction(QStringLiteral("Reload DCP"));
  ReloadDCPItem->setObjectName(QStringLiteral("ReloadDCPItem"));
  DCPInfoPopupMenu->addSeparator();
  CopyDCUInfoStringItem = DCPInfoPopupMenu->addAction(QStringLiteral("Copy Info String"));
  CopyDCUInfoStringItem->setObjectName(QStringLiteral("CopyDCUInfoStringItem"));

  auto* fileRow = new QHBoxLayout();
  fileRow->addWidget(fileLabel);
  fileRow->addWidget(DCPFileNameEdit, 1);
  auto* buttonRow = new QHBoxLayout();
  buttonRow->addWidget(ExtractDCUBtn);
  buttonRow->addWidget(SaveDCUInfoBtn);
  buttonRow->addWidget(FindDCUSourceBtn);
  buttonRow->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->addLayout(fileRow);
  layout->addWidget(DCPSplitter, 1);
  layout->addLayout(buttonRow);
  layout->addWidget(DCPStatusBar);

  connect(DCPFileNameEdit, &TFileNameEdit::buttonClicked, this,
          [this] { form_.Handle([this] { DCPFileNameEditButtonClick(); }); });
  connect(DCPTreeInfo, &QTreeWidget::itemSelectionChanged, this,
          [this] { form_.Handle([this] { DCPTreeInfoChange(); }); });
  connect(ExtractDCUBtn, &QPushButton::clicked, this,
          [this] { form_.Handle([this] { ExtractDCUBtnClick(); }); });
  connect(SaveDCUInfoBtn, &QPushButton::clicked, this,
          [this] { form_.Handle([this] { SaveDCUInfoBtnClick(); }); });
  connect(FindDCUSourceBtn, &QPushButton::clicked, this,
          [this] { form_.Handle([this] { FindDCUSourceBtnClick(); }); });
  connect(ExtractDCUItem, &QAction::triggered, this,
          [this] { form_.Handle([this] { ExtractDCUBtnClick(); }); });
  connect(ReloadDCPItem, &QAction::triggered, this,
          [this] { form_.Handle([this] { ReloadDCPItemClick(); }); });
  connect(CopyDCUInfoStringItem, &QAction::triggered, this,
          [this] { form_.Handle([this] { CopyDCUInfoStringItemClick(); }); });
  connect(DCPTreeInfo, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    form_.Handle([this] { DCPInfoPopupMenuPopup(); });
    DCPInfoPopupMenu->popup(DCPTreeInfo->viewport()->mapToGlobal(pos));
  });
}

void TDCPPage::SetButtonsEnabled(bool enabled) {
  ExtractDCUBtn->setEnabled(enabled);
  SaveDCUInfoBtn->setEnabled(enabled);
  FindDCUSourceBtn->setEnabled(enabled);
}

void TDCPPage::ClearTree() {
  // The items go first: their selection change reads the nodes.
  DCPTreeInfo->clear();
  content_ = TDCPPageContent();
}

const TDCPTreeNode* TDCPPage::NodeOf(const QTreeWidgetItem* item) const {
  if (item == nullptr) return nullptr;
  const QTreeWidgetItem* parent = item->parent();
  if (parent == nullptr) {
    const int index = DCPTreeInfo->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item));
    if (index < 0 || static_cast<size_t>(index) >= content_.Roots.size()) return nullptr;
    return &content_.Roots[static_cast<size_t>(index)];
  }
  const int rootIndex = DCPTreeInfo->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(parent));
  if (rootIndex < 0 || static_cast<size_t>(rootIndex) >= content_.Roots.size()) return nullptr;
  const TDCPTreeNode& root = content_.Roots[static_cast<size_t>(rootIndex)];
  const int index = parent->indexOfChild(const_cast<QTreeWidgetItem*>(item));
  if (index < 0 || static_cast<size_t>(index) >= root.Children.size()) return nullptr;
  return &root.Children[static_cast<size_t>(index)];
}

const TDCPTreeNode* TDCPPage::SelectedNode() const {
  const QList<QTreeWidgetItem*> selected = DCPTreeInfo->selectedItems();
  return selected.isEmpty() ? nullptr : NodeOf(selected.first());
}

void TDCPPage::ShowContent(TDCPPageContent content) {
  content_ = std::move(content);
  for (const TDCPTreeNode& root : content_.Roots) {
    auto* rootItem = new QTreeWidgetItem(QStringList(FromCore(root.Text)));
    rootItem->setData(0, DCPNodeKindRole, root.Kind);
    for (const TDCPTreeNode& node : root.Children) {
      auto* item = new QTreeWidgetItem(rootItem, QStringList(FromCore(node.Text)));
      item->setData(0, DCPNodeKindRole, node.Kind);
    }
    // Added at the top level in order, not expanded.
    DCPTreeInfo->addTopLevelItem(rootItem);
  }
  for (int i = 0; i < 3; ++i)
    DCPStatusBar->setPanelText(i, FromCore(content_.StatusTexts[static_cast<size_t>(i)]));
}

void TDCPPage::AnalyzeDCPBtnClick() {
  ClearTree();
  SetButtonsEnabled(false);
  TDCPPageContent content;
  try {
    content = AnalyzeDCP(ToCore(DCPFileNameEdit->text()));
  } catch (...) {
    // Counts of a file that could not be read would describe an empty tree.
    for (int i = 0; i < 3; ++i)
      DCPStatusBar->setPanelText(i, QString::fromLatin1(kDCPStatusCaptions[size_t(i)]));
    throw;
  }
  ShowContent(std::move(content));
}

void TDCPPage::DCPFileNameEditButtonClick() {
  const std::optional<std::string> chosen = form_.Dialogs().OpenFile(DCPOpenDialog());
  if (!chosen) return;
  DCPFileNameEdit->setText(FromCore(*chosen));
  AnalyzeDCPBtnClick();
}

void TDCPPage::LoadDCPForModule() {
  if (!form_.Module) return;
  const std::optional<std::string> expected = ExpectedDCPFileName(form_.Module->FileName);
  if (!expected) return;
  std::string fileName = *expected;
  if (!FileExists(*expected)) {
    if (form_.Dialogs().WarningOkCancel(LocateFileQuestion(*expected)) != PromptResult::Ok) return;
    const std::optional<std::string> chosen = form_.Dialogs().OpenFile(DCPOpenDialog());
    if (!chosen) return;
    fileName = *chosen;
  }
  DCPFileNameEdit->setText(FromCore(fileName));
  // A compiled package that cannot be read must not end the load of the
  // package library halfway: the error is shown and the load goes on.
  try {
    AnalyzeDCPBtnClick();
  } catch (const std::exception& e) {
    form_.ShowException(e);
  }
}

void TDCPPage::DCPTreeInfoChange() {
  SetButtonsEnabled(false);
  const QList<QTreeWidgetItem*> selected = DCPTreeInfo->selectedItems();
  if (selected.isEmpty()) return;
  const TDCPTreeNode* node = NodeOf(selected.first());
  const bool unit = DCPButtonsEnabled(node);
  SetButtonsEnabled(unit);
  const std::array<std::string, 6> data = DCUInfoData(unit ? &*node->Entry : nullptr);
  for (int row = 0; row < static_cast<int>(data.size()); ++row)
    DCUInfoListView->item(row, 1)->setText(FromCore(data[static_cast<size_t>(row)]));
}

void TDCPPage::FindDCUSourceBtnClick() {
  const TDCPTreeNode* node = SelectedNode();
  if (!DCPButtonsEnabled(node)) return;
  form_.FindTabSheet->FindOnDrives(kFileTypeUnitSource, FromCore(node->Entry->Name + ".PAS"));
}

void TDCPPage::ExtractDCUBtnClick() {
  const TDCPTreeNode* node = SelectedNode();
  if (!DCPButtonsEnabled(node)) return;
  if (form_.Dialogs().WarningYesNo(std::string(kExtractDCUQuestion)) != PromptResult::Yes) return;
  // A copy: the dialogs below let events run, which may rebuild the tree.
  const TMyDCUInfo entry = *node->Entry;
  const std::optional<std::string> target = form_.Dialogs().SaveFile(DCUSaveDialog(entry.Name));
  if (!target) return;
  ExtractDCU(ToCore(DCPFileNameEdit->text()), entry, *target);
  form_.Dialogs().Message(std::string(kDCUExtractedNotice));
}

void TDCPPage::SaveDCUInfoBtnClick() {
  const TDCPTreeNode* node = SelectedNode();
  if (!DCPButtonsEnabled(node)) return;
  const TMyDCUInfo entry = *node->Entry;
  const std::optional<std::string> target = form_.Dialogs().SaveFile(ReportSaveDialog(entry.Name));
  if (!target) return;
  if (form_.ExportsPending && form_.Module && form_.Module->Loaded()) form_.ShowNamesBtnClick();
  // The compiled package named in the header is the one paired with the
  // loaded module, not the file in the box.
  const std::string moduleName =
      form_.Module && form_.Module->Loaded() ? form_.Module->FileName : std::string();
  const std::string text =
      BuildDCUReport(entry, MakeSourceHeader(DCUReportSourceName(entry.Name, moduleName)));
  WriteAnsiTextFile(*target, text);
  form_.Dialogs().Message(std::string(kReportSavedNotice));
}

void TDCPPage::DCPInfoPopupMenuPopup() {
  const TDCPMenuState state = DCPMenuState(SelectedNode());
  ExtractDCUItem->setEnabled(state.ExtractDCU);
  CopyDCUInfoStringItem->setEnabled(state.CopyInfoString);
}

void TDCPPage::ReloadDCPItemClick() { AnalyzeDCPBtnClick(); }

void TDCPPage::CopyDCUInfoStringItemClick() {
  const TDCPTreeNode* node = SelectedNode();
  if (!DCPMenuState(node).CopyInfoString) return;
  QApplication::clipboard()->setText(FromCore(CopyInfoString(*node)));
}

void TDCPPage::DCPTreeInfoKeyDown(int keyCode) {
  if (EnterRunsExtract(SelectedNode(), keyCode)) ExtractDCUBtnClick();
}

bool TDCPPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == DCPTreeInfo && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      form_.Handle([this] { DCPTreeInfoKeyDown(13); });
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kx::gui
