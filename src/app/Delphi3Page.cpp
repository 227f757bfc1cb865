#include "app/Delphi3Page.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QSplitter>
#include <QUrl>
#include <QVBoxLayout>

#include "app/FindPage.h"
#include "app/GenInfoPage.h"
#include "app/Main.h"
#include "delphi3/D3_Reg.h"
#include "platform/activity_log.h"
#include "platform/system.h"

namespace kx::gui {
namespace {

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const char* hint) {
  auto* b = new QPushButton(QString::fromLatin1(caption), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setToolTip(QString::fromLatin1(hint));
  return b;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* caption) {
  auto* c = new QCheckBox(QString::fromLatin1(caption), parent);
  c->setObjectName(QString::fromLatin1(name));
  return c;
}

const IdeOption& Option(const char* valueName) {
  for (const IdeOption& o : kIdeOptions)
    if (std::string(o.valueName) == valueName) return o;
  return kIdeOptions[0];
}

}  // namespace

TDelphi3Page::TDelphi3Page(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("SystemTabSheet"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);

  KnownPackListView = new TSortListView(this);
  KnownPackListView->setObjectName(QStringLiteral("KnownPackListView"));
  QStringList headers;
  std::vector<Qt::Alignment> alignments;
  for (const KnownPackColumn& c : kKnownPackColumns) {
    headers << QString::fromLatin1(c.title);
    alignments.push_back(c.rightAligned ? (Qt::AlignRight | Qt::AlignVCenter)
                                        : (Qt::AlignLeft | Qt::AlignVCenter));
  }
  KnownPackListView->setColumns(headers, alignments);
  KnownPackListView->setSortable(false);  // the row order is the load order
  KnownPackListView->setShowGrid(true);
  KnownPackListView->setSelectionMode(QAbstractItemView::SingleSelection);
  KnownPackListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  KnownPackListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int i = 0; i < kKnownPackColumnCount; ++i)
    if (kKnownPackColumns[i].width > 0)
      KnownPackListView->setColumnWidth(i, kKnownPackColumns[i].width);
  KnownPackListView->installEventFilter(this);

  LoadKnownPackBtn = MakeButton(this, "LoadKnownPackBtn", "Load", "Load Selected Package");
  AddKnownPackBtn = MakeButton(this, "AddKnownPackBtn", "Add", "Add Package");
  RemoveKnownPackBtn = MakeButton(this, "RemoveKnownPackBtn", "Remove", "Remove Selected Package");
  MoveUPKnownPackBtn = MakeButton(this, "MoveUPKnownPackBtn", "Up", "Change Load Order");
  MoveDOWNKnownPackBtn = MakeButton(this, "MoveDOWNKnownPackBtn", "Down", "Change Load Order");
  FindKnownPackBtn = MakeButton(this, "FindKnownPackBtn", "Find", "Find Lost Package");
  TestKnownPackBtn = MakeButton(this, "TestKnownPackBtn", "Test", "Check Load Order Dependencies");
  auto* buttons = new QHBoxLayout();
  for (QPushButton* b : {LoadKnownPackBtn, AddKnownPackBtn, RemoveKnownPackBtn, MoveUPKnownPackBtn,
                         MoveDOWNKnownPackBtn, FindKnownPackBtn, TestKnownPackBtn})
    buttons->addWidget(b);
  buttons->addStretch(1);
  for (QPushButton* b : {LoadKnownPackBtn, RemoveKnownPackBtn, MoveUPKnownPackBtn,
                         MoveDOWNKnownPackBtn, FindKnownPackBtn})
    b->setEnabled(false);

  layout->addLayout(buttons);
  layout->addWidget(KnownPackListView, 1);
  BuildOptions(layout);

  auto handle = [this](void (TDelphi3Page::*fn)()) {
    return [this, fn] { form_.Handle([this, fn] { (this->*fn)(); }); };
  };
  connect(LoadKnownPackBtn, &QPushButton::clicked, this,
          handle(&TDelphi3Page::LoadKnownPackBtnClick));
  connect(KnownPackListView, &QAbstractItemView::doubleClicked, this,
          handle(&TDelphi3Page::LoadKnownPackBtnClick));
  connect(AddKnownPackBtn, &QPushButton::clicked, this,
          handle(&TDelphi3Page::AddKnownPackBtnClick));
  connect(RemoveKnownPackBtn, &QPushButton::clicked, this,
          handle(&TDelphi3Page::RemoveKnownPackBtnClick));
  connect(MoveUPKnownPackBtn, &QPushButton::clicked, this,
          handle(&TDelphi3Page::MoveUPKnownPackBtnClick));
  connect(MoveDOWNKnownPackBtn, &QPushButton::clicked, this,
          handle(&TDelphi3Page::MoveDOWNKnownPackBtnClick));
  connect(FindKnownPackBtn, &QPushButton::clicked, this,
          handle(&TDelphi3Page::FindKnownPackBtnClick));
  connect(TestKnownPackBtn, &QPushButton::clicked, this,
          handle(&TDelphi3Page::TestKnownPackBtnClick));
  connect(KnownPackListView, &TSortListView::selectionChangedTo, this,
          [this](int row) { KnownPackListViewChange(row); });
}

TDelphi3Page::~TDelphi3Page() = default;

void TDelphi3Page::BuildOptions(QLayout* into) {
  auto* box = new QWidget(this);
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(0, 0, 0, 0);

  DefPackFilenameEdit = new TFileNameEdit(box);
  DefPackFilenameEdit->setObjectName(QStringLiteral("DefPackFilenameEdit"));
  DefPackFilenameEdit->setTypingAllowed(true);
  DefPackFilenameEdit->lineEdit()->setAcceptDrops(true);
  DefPackFilenameEdit->lineEdit()->installEventFilter(this);
  grid->addWidget(new QLabel(QStringLiteral("Default Package:"), box), 0, 0);
  grid->addWidget(DefPackFilenameEdit, 0, 1, 1, 2);

  auto* packOpt = new QGroupBox(QStringLiteral("Package Opt.:"), box);
  POShowDetailsCheck = MakeCheck(packOpt, "POShowDetailsCheck", "Show Details");
  POWarnOnRebuildCheck = MakeCheck(packOpt, "POWarnOnRebuildCheck", "Warn On Rebuild");
  auto* packLayout = new QVBoxLayout(packOpt);
  packLayout->addWidget(POShowDetailsCheck);
  packLayout->addWidget(POWarnOnRebuildCheck);
  packLayout->addStretch(1);

  auto* debugOpt = new QGroupBox(QStringLiteral("Debugging Options:"), box);
  DODetailedExcpCheck = MakeCheck(debugOpt, "DODetailedExcpCheck", "Detailed Exception");
  DOWatchesOnTopCheck = MakeCheck(debugOpt, "DOWatchesOnTopCheck", "Fly Over Watches");
  DOCPURegisterCheck = MakeCheck(debugOpt, "DOCPURegisterCheck", "CPU Registers");
  auto* debugLayout = new QVBoxLayout(debugOpt);
  debugLayout->addWidget(DODetailedExcpCheck);
  debugLayout->addWidget(DOWatchesOnTopCheck);
  debugLayout->addWidget(DOCPURegisterCheck);

  auto* paths = new QGroupBox(QStringLiteral("Compiler Paths:"), box);
  PackDLLDiretoryEdit = new TFileNameEdit(paths);
  PackDLLDiretoryEdit->setObjectName(QStringLiteral("PackDLLDiretoryEdit"));
  PackDLLDiretoryEdit->setTypingAllowed(true);
  PackDCPDiretoryEdit = new TFileNameEdit(paths);
  PackDCPDiretoryEdit->setObjectName(QStringLiteral("PackDCPDiretoryEdit"));
  PackDCPDiretoryEdit->setTypingAllowed(true);
  LibPathEdit = new QLineEdit(paths);
  LibPathEdit->setObjectName(QStringLiteral("LibPathEdit"));
  auto* pathLayout = new QGridLayout(paths);
  pathLayout->addWidget(new QLabel(QStringLiteral("Pack. DLL Out:"), paths), 0, 0);
  pathLayout->addWidget(PackDLLDiretoryEdit, 0, 1);
  pathLayout->addWidget(new QLabel(QStringLiteral("Pack. DCP Out:"), paths), 1, 0);
  pathLayout->addWidget(PackDCPDiretoryEdit, 1, 1);
  pathLayout->addWidget(new QLabel(QStringLiteral("Delphi Library Path:"), paths), 2, 0);
  pathLayout->addWidget(LibPathEdit, 2, 1);

  grid->addWidget(packOpt, 1, 0);
  grid->addWidget(debugOpt, 1, 1);
  grid->addWidget(paths, 1, 2);
  grid->setColumnStretch(2, 1);
  into->addWidget(box);

  // Every change the user makes is written at once: each keystroke, each
  // click, with the text exactly as typed. The fill sets the controls
  // without writing (filling_).
  auto write = [this](const char* valueName, std::function<std::u16string()> value) {
    return [this, valueName, value] {
      if (filling_) return;
      form_.Handle([&] { WriteIdeOption(Option(valueName), value()); });
    };
  };
  auto flag = [](QCheckBox* c) {
    return [c] { return std::u16string(c->isChecked() ? u"1" : u"0"); };
  };
  auto text = [](auto* e) { return [e] { return e->text().toStdU16String(); }; };
  connect(DefPackFilenameEdit, &TFileNameEdit::textChanged, this,
          write(kAddToPackageNameValue, [this] { return DefPackFileText().toStdU16String(); }));
  connect(PackDLLDiretoryEdit, &TFileNameEdit::textChanged, this,
          write(kPackageDLLOutputDirValue, text(PackDLLDiretoryEdit)));
  connect(PackDCPDiretoryEdit, &TFileNameEdit::textChanged, this,
          write(kPackageDCPOutputDirValue, text(PackDCPDiretoryEdit)));
  connect(LibPathEdit, &QLineEdit::textChanged, this, write(kSearchPathValue, text(LibPathEdit)));
  for (auto [check, valueName] : {std::pair{POShowDetailsCheck, kShowPackageDetailsValue},
                                  std::pair{POWarnOnRebuildCheck, kWarnOnPackageRebuildValue},
                                  std::pair{DODetailedExcpCheck, kDetailedExceptionsValue},
                                  std::pair{DOWatchesOnTopCheck, kFlyOverWatchesValue},
                                  std::pair{DOCPURegisterCheck, kEnableCPUValue}})
    connect(check, &QCheckBox::toggled, this, write(valueName, flag(check)));

  connect(DefPackFilenameEdit, &TFileNameEdit::buttonClicked, this,
          [this] { form_.Handle([this] { DefPackFilenameEditButtonClick(); }); });
  for (TFileNameEdit* folder : {PackDLLDiretoryEdit, PackDCPDiretoryEdit}) {
    connect(folder, &TFileNameEdit::buttonClicked, this, [this, folder] {
      form_.Handle([this, folder] {
        if (auto dir = form_.Dialogs().SelectFolder("Select Folder", ToCore(folder->text())))
          folder->setText(FromCore(*dir));
      });
    });
  }
}

QString TDelphi3Page::DefPackFileText() const {
  QString name = DefPackFilenameEdit->text();
  if (name.size() >= 2 && name.front() == QLatin1Char('"') && name.back() == QLatin1Char('"'))
    name = name.mid(1, name.size() - 2);
  return name;
}

std::string TDelphi3Page::DefPackFileName() const { return ToCore(DefPackFileText()); }

void TDelphi3Page::ReadOptions() {
  // The controls show the stored texts with every character kept, and the
  // fill writes nothing back but the one normalisation it owes: a box
  // checked by a stored flag other than "1" (say "2") stores "1". A
  // configuration that needs no normalisation leaves the hive untouched.
  struct Filling {
    bool& flag;
    explicit Filling(bool& f) : flag(f) { flag = true; }
    ~Filling() { flag = false; }
  } filling(filling_);
  auto show = [](const char* valueName, const std::string& delphiSearchPath) {
    return QString::fromStdU16String(ReadIdeOptionText(Option(valueName), delphiSearchPath));
  };
  LibPathEdit->setText(show(kSearchPathValue, form_.DelphiSearchPath));
  LibPathEdit->setCursorPosition(0);
  DefPackFilenameEdit->setText(show(kAddToPackageNameValue, ""));
  PackDLLDiretoryEdit->setText(show(kPackageDLLOutputDirValue, ""));
  PackDCPDiretoryEdit->setText(show(kPackageDCPOutputDirValue, ""));
  for (auto [check, valueName] : {std::pair{POWarnOnRebuildCheck, kWarnOnPackageRebuildValue},
                                  std::pair{POShowDetailsCheck, kShowPackageDetailsValue},
                                  std::pair{DODetailedExcpCheck, kDetailedExceptionsValue},
                                  std::pair{DOWatchesOnTopCheck, kFlyOverWatchesValue},
                                  std::pair{DOCPURegisterCheck, kEnableCPUValue}}) {
    const IdeOption& option = Option(valueName);
    const int set = std::string(option.subkey) == kCompilingKey ? ReadCompilingOption(valueName)
                                                                : ReadDebuggingOption(valueName);
    check->setChecked(set != 0);
    if (set != 0) NormaliseIdeFlag(option);
  }
}

void TDelphi3Page::DefPackFilenameEditButtonClick() {
  FileDialogSpec spec;
  spec.title = "Select Default Package";
  spec.filter = "Package Source (*.DPK)|*.DPK";
  spec.fileName = DefPackFileName();
  if (auto chosen = form_.Dialogs().OpenFile(spec)) DefPackFilenameEdit->setText(FromCore(*chosen));
}

TKnownPackList& TDelphi3Page::List() {
  if (!list_) {
    list_ = std::make_unique<TKnownPackList>(
        form_.Lists(), form_.Dialogs(),
        [this](const std::string& t) { form_.Dialogs().WarningOk(t); }, form_.Meter(),
        form_.MessagePump());
    list_->OriginalPath = form_.OriginalPath;
  }
  return *list_;
}

void TDelphi3Page::InitSystemInfo() {
  List().InitSystemInfo();
  form_.SystemInfoPending = false;
  ShowRows();
}

void TDelphi3Page::ShowRows() {
  TKnownPackList& list = List();
  std::vector<TListModel::Row> rows;
  for (int i = 0; i < static_cast<int>(list.Rows.size()); ++i) {
    TListModel::Row r;
    for (int c = 0; c < static_cast<int>(list.Rows[i].size()); ++c)
      r.cells << QString::fromStdU16String(list.CellText(i, c));
    rows.push_back(std::move(r));
  }
  showing_ = true;
  KnownPackListView->listModel()->setRows(std::move(rows));
  KnownPackListView->selectDisplayedRow(list.Selected);
  showing_ = false;
  UpdateButtons();
}

void TDelphi3Page::KnownPackListViewChange(int row) {
  if (showing_) return;
  List().Selected = row;
  UpdateButtons();
}

void TDelphi3Page::UpdateButtons() {
  const KnownPackButtons b = List().Buttons();
  LoadKnownPackBtn->setEnabled(b.load);
  RemoveKnownPackBtn->setEnabled(b.remove);
  FindKnownPackBtn->setEnabled(b.find);
  MoveUPKnownPackBtn->setEnabled(b.up);
  MoveDOWNKnownPackBtn->setEnabled(b.down);
  AddKnownPackBtn->setEnabled(b.add);
  TestKnownPackBtn->setEnabled(b.test);
}

void TDelphi3Page::LoadKnownPackBtnClick() {
  const std::optional<std::string> path = List().LoadTarget();
  if (!path) return;
  try {
    form_.SetActivePage(form_.GenInfoTabSheet);
    form_.LoadPackageModule(*path);
  } catch (const std::exception&) {
    LogLine("! Adding \"" + *path + "\"...ERROR: ");
  }
}

void TDelphi3Page::AddKnownPackBtnClick() {
  List().AddKnownPackBtnClick();
  ShowRows();
}

void TDelphi3Page::RemoveKnownPackBtnClick() {
  if (List().RemoveKnownPackBtnClick()) ShowRows();
}

void TDelphi3Page::MoveKnownPack(bool up) {
  if (!List().MoveKnownPackage(up)) return;
  ShowRows();
  KnownPackListView->setFocus();
}

void TDelphi3Page::MoveUPKnownPackBtnClick() { MoveKnownPack(true); }
void TDelphi3Page::MoveDOWNKnownPackBtnClick() { MoveKnownPack(false); }

void TDelphi3Page::FindKnownPackBtnClick() {
  const std::optional<std::string> name = List().FindTarget();
  if (!name) return;
  form_.SetActivePage(form_.FindTabSheet);
  StartLostPackageSearch(*name);
}

void TDelphi3Page::StartLostPackageSearch(const std::string& fileName) {
  emit lostPackageSearchRequested(FromCore(fileName));
  // The first file type, the bare name as the mask, then the drive search
  // that stops after the first folder holding the file.
  form_.FindTabSheet->FindOnDrives(kFileTypePackageLibrary, FromCore(fileName));
}

void TDelphi3Page::TestKnownPackBtnClick() { List().TestKnownPackBtnClick(); }

bool TDelphi3Page::eventFilter(QObject* watched, QEvent* event) {
  if (watched == KnownPackListView && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      form_.Handle([this] { LoadKnownPackBtnClick(); });
      return true;
    }
  }
  if (watched == DefPackFilenameEdit->lineEdit() &&
      (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)) {
    auto* drag = static_cast<QDragMoveEvent*>(event);
    if (drag->mimeData()->hasUrls()) {
      drag->acceptProposedAction();
      return true;
    }
  }
  if (watched == DefPackFilenameEdit->lineEdit() && event->type() == QEvent::Drop) {
    auto* drop = static_cast<QDropEvent*>(event);
    for (const QUrl& url : drop->mimeData()->urls()) {
      if (!url.isLocalFile()) continue;
      if (auto path = Sys().ToWindows(url.toLocalFile().toStdString())) {
        DefPackFilenameEdit->setText(FromCore(*path));
        drop->acceptProposedAction();
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kx::gui
