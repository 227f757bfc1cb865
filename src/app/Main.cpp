#include "app/Main.h"

#include <QApplication>
#include <QDropEvent>
#include <QEvent>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QTabBar>
#include <QTimer>
#include <QUrl>
#include <exception>
#include <filesystem>

#include "app/DCPPage.h"
#include "app/DPKPage.h"
#include "app/Delphi3Page.h"
#include "app/DeployPage.h"
#include "app/ExportPage.h"
#include "app/FindPage.h"
#include "app/GenInfoPage.h"
#include "app/ImportPage.h"
#include "app/ResourcesPage.h"
#include "app/StructurePage.h"
#include "delphi3/D3_Reg.h"
#include "delphi3/SearchPath.h"
#include "delphi3/SysPackg.h"
#include "package/PackPages.h"
#include "platform/activity_log.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/formats.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx::gui {

const char* const kStartupCaption = "Kestrix v00.7.1 for Delphi3";
const char* const kLoadedCaptionPrefix = "Kestrix v00.7.1 - ";
const char* const kAboutText =
    "Kestrix v00.7.1 for Delphi3\r\n"
    "\r\n"
    "Inspects Delphi 3 package libraries and compiled packages, writes package sources, "
    "works out what an application needs at start-up and edits the IDE's package "
    "configuration.\r\n"
    "\r\n"
    "Runs on Linux through a Wine-style prefix. No code from the files it opens is ever run.";
const char* const kNoDelphi3Warning =
    "Kestrix didn't found Delphi3.\r\nSome features will be not available !";
const char* const kNotDelphi3PackageWarning =
    "This is not a Delphi3 package.\r\nSome powerful features will be not available!";

namespace {

// How long a command-line file waits for the window's first activation
// (and its About box) before it opens anyway.
constexpr int kStartFileWaitMs = 1500;

// The Windows path of the first file of a drag that the window opens.
std::optional<std::string> DroppedFile(const QMimeData& data) {
  for (const QUrl& url : data.urls()) {
    if (!url.isLocalFile()) continue;
    const std::filesystem::path host(url.toLocalFile().toStdString());
    const std::string ext = host.extension().string();
    bool known = false;
    for (const char* e : {".dpl", ".bpl", ".dll", ".exe", ".dcp", ".dpk"})
      known = known || SameText(ext, e);
    if (!known) continue;
    if (std::optional<std::string> windowsPath = Sys().ToWindows(host)) return windowsPath;
  }
  return std::nullopt;
}

}  // namespace

TPackageForm::TPackageForm(AppPrompts& prompts, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts) {
  setObjectName(QStringLiteral("PackageForm"));
  OpenDialog.title = "Open Package...";
  OpenDialog.filter =
      "Delphi v3 Package (*.DPL)|*.DPL|C++Builder v3 Package (*.BPL)|*.BPL|Dynamic Link "
      "Library (*.DLL)|*.DLL|Windows Executable (*.EXE)|*.EXE|All Files (*.*)|*.*";
  OpenDialog.hideReadOnly = true;
  BuildWindow();
  FormCreate();
  // Drops are seen before the widget under the cursor takes them (a text
  // box would insert the file's name).
  setAcceptDrops(true);
  if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

TPackageForm::~TPackageForm() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
  FormDestroy();
}

void TPackageForm::BuildWindow() {
  // A window with system menu, minimise, maximise, help and close buttons.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowContextHelpButtonHint | Qt::WindowCloseButtonHint);
  MainPageControl = new QTabWidget(this);
  MainPageControl->setObjectName(QStringLiteral("MainPageControl"));
  MainPageControl->setUsesScrollButtons(false);
  GenInfoTabSheet = new TGenInfoPage(*this);
  ClassesTabSheet = new TStructurePage(*this);
  ExportTabSheet = new TExportPage(*this);
  ImportTabSheet = new TImportPage(*this);
  ResourcesTabSheet = new TResourcesPage(*this);
  DPKTabSheet = new TDPKPage(*this);
  DCPDCUTabSheet = new TDCPPage(*this);
  DeployEXETabSheet = new TDeployPage(*this);
  FindTabSheet = new TFindPage(*this);
  SystemTabSheet = new TDelphi3Page(*this);
  MainPageControl->addTab(GenInfoTabSheet, QStringLiteral("General Info"));
  MainPageControl->addTab(ClassesTabSheet, QStringLiteral("Structure"));
  MainPageControl->addTab(ExportTabSheet, QStringLiteral("Export"));
  MainPageControl->addTab(ImportTabSheet, QStringLiteral("Import"));
  MainPageControl->addTab(ResourcesTabSheet, QStringLiteral("Resources"));
  MainPageControl->addTab(DPKTabSheet, QStringLiteral("DPK"));
  MainPageControl->addTab(DCPDCUTabSheet, QStringLiteral("DCP"));
  MainPageControl->addTab(DeployEXETabSheet, QStringLiteral("Deploy"));
  MainPageControl->addTab(FindTabSheet, QStringLiteral("SmartFind"));
  MainPageControl->addTab(SystemTabSheet, QStringLiteral("Delphi3"));
  MainPageControl->setCurrentIndex(0);
  // Qt has no caption-bar buttons: "About" sits at the right end of the
  // page tabs, just below the title bar.
  AboutBtn = new QToolButton(MainPageControl);
  AboutBtn->setObjectName(QStringLiteral("AboutBtn"));
  AboutBtn->setText(QStringLiteral("About"));
  AboutBtn->setToolTip(QStringLiteral("About Kestrix"));
  AboutBtn->setAutoRaise(true);
  MainPageControl->setCornerWidget(AboutBtn, Qt::TopRightCorner);
  setCentralWidget(MainPageControl);
  resize(800, 580);
  SetPageEnabled(SystemTabSheet, false);
  connect(AboutBtn, &QToolButton::clicked, this, [this] { Handle([this] { AboutBtnClick(); }); });
  connect(MainPageControl, &QTabWidget::currentChanged, this,
          &TPackageForm::MainPageControlCurrentChanged);
}

void TPackageForm::FormCreate() {
  FirstActivation = true;
  OnPackCount = 0;
  OffPackCount = 0;
  LostPackCount = 0;
  Busy = false;
  OpenLog();
  if (!Sys().CodePageWarning().empty()) LogLine(Sys().CodePageWarning());
  LogLine("*** Initailizing Form...");
  LogLine("** Setting Main Page...");
  SetActivePage(GenInfoTabSheet);
  // The same start-up as every command of kestrix-cli; it logs its own lines.
  const TStartupPaths paths = StartupSearchPath();
  SystemDirectory = paths.State.SystemDirectory;
  Delphi3Installed = paths.Delphi3Installed;
  DelphiSearchPath = paths.State.DelphiSearchPath;
  OriginalPath = paths.State.OriginalPath;
  ExpandedPath = paths.State.ExpandedPath;
  pathExpanded_ = paths.PathExpanded;
  try {
    LogLine("** Reading System Packages Options...");
    SystemInfoPending = true;
    setWindowTitle(QString::fromLatin1(kStartupCaption));
    SetApplicationTitle(QString::fromLatin1(kStartupCaption));
    Module = std::make_unique<TPackageModuleInfo>();
    ExportsPending = true;
    ResourcesPending = true;
    Clear();
    if (Delphi3Installed) {
      SystemTabSheet->ReadOptions();
      ReadFromRegistry();
      SetPageEnabled(SystemTabSheet, true);
    } else {
      LogLine("*** Delphi3 is not installed!");
      prompts_.WarningOk(kNoDelphi3Warning);
    }
  } catch (const std::exception&) {
    LogLine("*** Initailizing ERROR: TPackageForm.FormCreate(Sender: TObject);");
  }
  // Whatever failed above, the window needs its module object.
  if (!Module) Module = std::make_unique<TPackageModuleInfo>();
  LogLine("*** Initailizing Form...OK");
}

void TPackageForm::FormActivate() {
  if (!FirstActivation) return;
  FirstActivation = false;
  {
    const QScopedValueRollback<bool> about(aboutAtActivation_, true);
    AboutBtnClick();
  }
  if (startFile_) QTimer::singleShot(0, this, [this] { OpenStartFile(); });
}

void TPackageForm::FormDestroy() {
  // Unloads the loaded module (its destructor never throws).
  Module.reset();
  Clear();
  try {
    LogLine("** Shrinking Path...");
    // Only an expansion that took place is undone: after a failed one
    // OriginalPath may be empty, and restoring it would wipe PATH.
    if (Delphi3Installed && pathExpanded_) {
      SearchPathState state;
      state.SystemDirectory = SystemDirectory;
      state.DelphiSearchPath = DelphiSearchPath;
      state.OriginalPath = OriginalPath;
      state.ExpandedPath = ExpandedPath;
      RestoreSearchPath(state);
    }
  } catch (const std::exception&) {
    LogLine("** Shrinking Path...ERROR!");
  }
  CloseLog();
}

void TPackageForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow())
    Handle([this] { FormActivate(); });
}

void TPackageForm::ProcessMessages() {
  if (processMessages_) {
    processMessages_();
    return;
  }
  QCoreApplication::processEvents();
}

void TPackageForm::Handle(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowException(e);
  }
}

void TPackageForm::ShowException(const std::exception& e) { prompts_.Error(e.what()); }

void TPackageForm::AboutBtnClick() { prompts_.Message(kAboutText); }

void TPackageForm::LoadBtnClick() {
  const std::optional<std::string> chosen = prompts_.OpenFile(OpenDialog);
  if (chosen) LoadPackageModule(*chosen);
}

void TPackageForm::OpenFile(const std::string& fileName) {
  // As a confirmed open dialog: the current directory becomes the file's
  // folder, where the package source of a package is looked for.
  if (FileExists(fileName)) MoveToChosenFolder(fileName);
  const std::string ext = ExtractFileExt(fileName);
  if (SameText(ext, ".dcp")) {
    SetActivePage(DCPDCUTabSheet);
    DCPDCUTabSheet->DCPFileNameEdit->setText(FromCore(fileName));
    DCPDCUTabSheet->AnalyzeDCPBtnClick();
  } else if (SameText(ext, ".dpk")) {
    SetActivePage(DPKTabSheet);
    DPKTabSheet->LoadSourceFile(fileName);
  } else {
    SetActivePage(GenInfoTabSheet);
    LoadPackageModule(fileName);
  }
}

void TPackageForm::OpenAtStart(const std::string& argument) {
  startFile_ = argument;
  // The first activation shows the About box and then opens the file; a
  // window that is never activated opens it after a short wait.
  QTimer::singleShot(FirstActivation ? kStartFileWaitMs : 0, this, [this] {
    if (!aboutAtActivation_) OpenStartFile();
  });
}

void TPackageForm::OpenStartFile() {
  if (!startFile_) return;
  const std::string argument = std::move(*startFile_);
  startFile_.reset();
  Handle([this, &argument] {
    const std::string fileName = Sys().UserPathToWindows(argument);
    if (fileName.empty())
      throw Exception("No drive of the Windows environment holds " + argument);
    OpenFile(fileName);
  });
}

bool TPackageForm::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
    return QMainWindow::eventFilter(watched, event);
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != this) return false;
  const QWidget* ownDrop = SystemTabSheet->DefPackFilenameEdit;
  if (widget == ownDrop || ownDrop->isAncestorOf(widget)) return false;
  auto* drop = static_cast<QDropEvent*>(event);
  const std::optional<std::string> fileName = DroppedFile(*drop->mimeData());
  if (!fileName) return false;
  // Never a move: the file stays where it is. Refused while a deployment
  // analysis runs, as every page change is.
  if (Busy || !(drop->possibleActions() & Qt::CopyAction)) {
    drop->ignore();
    return true;
  }
  drop->setDropAction(Qt::CopyAction);
  drop->accept();
  // Opened after the drop has ended: the load may ask questions.
  if (type == QEvent::Drop)
    QTimer::singleShot(0, this, [this, file = *fileName] { Handle([&] { OpenFile(file); }); });
  return true;
}

void TPackageForm::ResetPackagePages() {
  // Releasing the old module can fail ("Invalid package handle" for a
  // package without "Finalize"); it is released all the same, so its rows
  // go too and the error is raised once the pages are reset.
  std::exception_ptr failure;
  try {
    Module->Clear();
  } catch (...) {
    failure = std::current_exception();
  }
  ExportsPending = true;
  ResourcesPending = true;
  GenInfoTabSheet->Reset();
  ClassesTabSheet->Reset();
  ResourcesTabSheet->Reset();
  ExportTabSheet->Reset();
  DPKTabSheet->Reset();
  ImportTabSheet->Reset();
  if (failure) std::rethrow_exception(failure);
}

void TPackageForm::LoadPackageModule(const std::string& fileName) {
  if (loading_) {
    // A load requested while this one lets messages run (another "load"
    // button) waits for it to end, then runs as its own handler.
    queuedLoad_ = fileName;
    return;
  }
  loading_ = true;
  tablesRead_ = false;
  pageChosenInLoad_ = false;
  struct LoadEnd {
    TPackageForm& form;
    ~LoadEnd() { form.EndLoad(); }
  } end{*this};
  ProcessMessages();
  if (Module->Loaded()) ResetPackagePages();
  Module->Load(fileName);
  DPKTabSheet->DPKViewBtn->setEnabled(true);
  DPKTabSheet->DPKFromDPLBtn->setEnabled(true);
  if (GenInfoTabSheet->FileNameEdit->text() != FromCore(fileName))
    GenInfoTabSheet->FileNameEdit->setText(FromCore(Module->FileName));
  GenInfoTabSheet->DescriptionEdit->setText(FromCore(Module->GetDescription()));
  GenInfoTabSheet->DescriptionEdit->setCursorPosition(0);
  setWindowTitle(FromCore(kLoadedCaptionPrefix + ("\"" + Module->FileName + "\"")));
  ProcessMessages();
  GenInfoTabSheet->CheckContentBtnClick();
  TStatusPanels* status = GenInfoTabSheet->GenInfoStatusBar;
  status->setPanelText(0, FromCore("File Size: " + FormatByteCount(Module->FileSize) + " bytes"));
  status->setPanelText(1, FromCore("File Date: " + FormatShortDate(Module->FileDate)));
  status->setPanelText(2, FromCore("File Time: " + FormatLongTime(Module->FileDate)));
  if (Module->Kind != mkDPL) {
    SetPageEnabled(ClassesTabSheet, false);
    SetPageEnabled(DPKTabSheet, false);
    prompts_.WarningOk(kNotDelphi3PackageWarning);
  } else {
    SetPageEnabled(ClassesTabSheet, true);
    SetPageEnabled(DPKTabSheet, true);
    DCPDCUTabSheet->LoadDCPForModule();
    DPKTabSheet->DPKViewBtnClick();
  }
  Module->ReadExportTables();
  tablesRead_ = true;
  loading_ = false;
  // A package page chosen while the load ran is filled now that its
  // tables are read (a page shown before the load waits for a visit).
  if (pageChosenInLoad_) MainPageControlChange();
}

void TPackageForm::EndLoad() {
  loading_ = false;
  if (!queuedLoad_) return;
  const std::string next = std::move(*queuedLoad_);
  queuedLoad_.reset();
  QTimer::singleShot(0, this, [this, next] { Handle([this, &next] { LoadPackageModule(next); }); });
}

void TPackageForm::ShowNamesBtnClick() {
  if (!Module || !ModuleReady()) return;
  ExportsPending = false;
  ClassesTabSheet->DPLStructureTreeView->clear();
  // The core reads the three lists with the progress window shown; the
  // pages only display what it decided.
  PackageNames names = ShowNames(*Module, Meter(), MessagePump());
  ExportTabSheet->ShowExports(names.exports);
  ImportTabSheet->ShowImports(names.imports);
  ClassesTabSheet->ShowStructure(std::move(names.structure));
}

void TPackageForm::ShowResources() {
  if (!Module || !ModuleReady()) return;
  ResourcesPending = false;
  // ReadResources appends: start from an empty list so that a second call
  // for the same module does not show every line twice.
  Module->ResourceLines.clear();
  Module->ReadResources();
  ResourcesTabSheet->ShowResourceTree(kx::ShowResourceTree(Module->ResourceLines));
}

void TPackageForm::StartPackageSearch(const std::string& mask, const std::string& folder,
                                      bool stopAtFirst, bool keepReport, SearchMode mode) {
  FindTabSheet->StartPackageSearch(mask, folder, stopAtFirst, keepReport, mode);
}

void TPackageForm::InitSystemInfo() { SystemTabSheet->InitSystemInfo(); }

void TPackageForm::MainPageControlChange() {
  if (loading_) pageChosenInLoad_ = true;
  if (!Module) return;
  const QWidget* page = ActivePage();
  if (page == nullptr) return;
  const QString name = page->objectName();
  if ((name == QLatin1String("ExportTabSheet") || name == QLatin1String("ImportTabSheet") ||
       name == QLatin1String("ClassesTabSheet")) &&
      ExportsPending && ModuleReady())
    ShowNamesBtnClick();
  if (name == QLatin1String("ClassesTabSheet")) ClassesTabSheet->ShowPendingTree();
  if (name == QLatin1String("SystemTabSheet") && SystemInfoPending) InitSystemInfo();
  if (name == QLatin1String("ResourcesTabSheet") && ResourcesPending && ModuleReady()) {
    ResourcesPending = false;
    ShowResources();
  }
}

void TPackageForm::MainPageControlCurrentChanged(int index) {
  if (revertingPage_) return;
  if (!MainPageControlChanging()) {
    // The tab bar has already moved (mouse, keyboard or code); put it and
    // the page back. Signals stay connected so bar and page never drift.
    revertingPage_ = true;
    MainPageControl->setCurrentIndex(shownPage_);
    revertingPage_ = false;
    return;
  }
  shownPage_ = index;
  Handle([this] { MainPageControlChange(); });
}

void TPackageForm::SetActivePage(QWidget* page) { MainPageControl->setCurrentWidget(page); }

QWidget* TPackageForm::ActivePage() const { return MainPageControl->currentWidget(); }

void TPackageForm::SetPageEnabled(QWidget* page, bool enabled) {
  page->setEnabled(enabled);
  const int index = MainPageControl->indexOf(page);
  if (index < 0) return;
  MainPageControl->tabBar()->setTabTextColor(
      index, enabled ? QColor() : palette().color(QPalette::Disabled, QPalette::WindowText));
}

bool TPackageForm::PageEnabled(QWidget* page) const { return page->isEnabled(); }

}  // namespace kx::gui
