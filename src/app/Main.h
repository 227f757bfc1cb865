#pragma once
// The main window: ten tabbed pages, the one package module object, the
// search-path adjustment and the Delphi 3 package lists for the whole run,
// and the load flow that every "load" button of the tool funnels into.
#include <QMainWindow>
#include <QTabWidget>
#include <QToolButton>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/QtPrompts.h"
#include "delphi3/KnownPacks.h"
#include "package/PackMan.h"
#include "platform/ui.h"
#include "search/PackSearch.h"

namespace kx::gui {

class TGenInfoPage;
class TStructurePage;
class TExportPage;
class TImportPage;
class TResourcesPage;
class TDPKPage;
class TDCPPage;
class TDeployPage;
class TFindPage;
class TDelphi3Page;

// "Kestrix v00.7.1 for Delphi3": the start-up caption and application title.
extern const char* const kStartupCaption;
// Followed by the quoted file name of the loaded module.
extern const char* const kLoadedCaptionPrefix;
// The About text; its first line is the start-up caption.
extern const char* const kAboutText;
extern const char* const kNoDelphi3Warning;
extern const char* const kNotDelphi3PackageWarning;

// The window holds the known-package lists itself (KnownPackStore); the
// Delphi3 page works on them.
class TPackageForm : public QMainWindow, public KnownPackStore {
  Q_OBJECT

 public:
  // Runs the start-up sequence (FormCreate); questions and notices go
  // through prompts, which must outlive the window.
  explicit TPackageForm(AppPrompts& prompts, QWidget* parent = nullptr);
  // Runs the shut-down sequence (FormDestroy).
  ~TPackageForm() override;

  // The progress window is created after the main window and handed in.
  void SetMeter(ProgressMeter* meter) { meter_ = meter; }
  ProgressMeter& Meter() { return meter_ != nullptr ? *meter_ : nullMeter_; }
  AppPrompts& Dialogs() { return prompts_; }
  // "Let pending window messages run" (QCoreApplication::processEvents
  // unless replaced).
  void ProcessMessages();
  void SetProcessMessages(ProcessMessagesFn fn) { processMessages_ = std::move(fn); }
  ProcessMessagesFn MessagePump() {
    return [this] { ProcessMessages(); };
  }

  // The load flow: resets the package pages, loads fileName and fills the
  // General Info page. A failed load raises the loader's exception; the
  // pages stay reset, caption and file name edit keep their values.
  void LoadPackageModule(const std::string& fileName);
  // The ellipsis of FileNameEdit: asks for a file and loads it.
  void LoadBtnClick();
  // Opens a file as if it had been chosen in its page's open dialog (the
  // current directory moves to its folder): a .dcp goes into the DCP page's
  // file box and is analysed, a .dpk is shown on the DPK page, anything
  // else goes through the load flow. Raises what that page would raise.
  void OpenFile(const std::string& fileName);
  // The file named on the command line (host or Windows path, as given):
  // opened after start-up's boxes, the About text of the first activation
  // included. A file dropped on the window opens at once.
  void OpenAtStart(const std::string& argument);
  // A module is loaded and the load that brought it has read its tables:
  // the package pages may be filled from it.
  bool ModuleReady() const { return Module && Module->Loaded() && tablesRead_ && !loading_; }
  // Fills Export, Import and Structure together (first visit after a load).
  void ShowNamesBtnClick();
  // Fills the resource tree (first visit of Resources after a load).
  void ShowResources();
  // The package file search of the SmartFind page (every "Find" button).
  void StartPackageSearch(const std::string& mask, const std::string& folder, bool stopAtFirst,
                          bool keepReport, SearchMode mode);
  // Builds the known packages view (first visit of Delphi3).
  void InitSystemInfo();
  void AboutBtnClick();

  // Page changes are allowed exactly when Busy is clear.
  bool MainPageControlChanging() const { return !Busy; }
  // Lazy filling after a page change.
  void MainPageControlChange();
  // Makes the page active (refused while Busy, like every page change).
  void SetActivePage(QWidget* page);
  QWidget* ActivePage() const;
  // A disabled page can still be selected; its controls do not respond.
  void SetPageEnabled(QWidget* page, bool enabled);
  bool PageEnabled(QWidget* page) const;

  // Runs an event handler; an exception that leaves it is shown in the
  // application's error box.
  void Handle(const std::function<void()>& handler);
  void ShowException(const std::exception& e);

  // The open dialog of the ellipsis button.
  FileDialogSpec OpenDialog;

  std::unique_ptr<TPackageModuleInfo> Module;
  bool FirstActivation = true;
  bool Busy = false;
  bool ExportsPending = false;
  bool ResourcesPending = false;
  bool SystemInfoPending = false;
  bool Delphi3Installed = false;
  std::string DelphiSearchPath;
  std::string SystemDirectory;
  std::string OriginalPath;
  std::string ExpandedPath;

  QTabWidget* MainPageControl;
  QToolButton* AboutBtn;
  TGenInfoPage* GenInfoTabSheet;
  TStructurePage* ClassesTabSheet;
  TExportPage* ExportTabSheet;
  TImportPage* ImportTabSheet;
  TResourcesPage* ResourcesTabSheet;
  TDPKPage* DPKTabSheet;
  TDCPPage* DCPDCUTabSheet;
  TDeployPage* DeployEXETabSheet;
  TFindPage* FindTabSheet;
  TDelphi3Page* SystemTabSheet;

 protected:
  void changeEvent(QEvent* event) override;
  // Files dragged onto any page open with OpenFile, except on the Delphi3
  // page's default package box, which takes the name itself.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildWindow();
  void FormCreate();
  void FormActivate();
  void FormDestroy();
  void ResetPackagePages();
  void EndLoad();
  void MainPageControlCurrentChanged(int index);
  void OpenStartFile();

  AppPrompts& prompts_;
  ProgressMeter* meter_ = nullptr;
  NullMeter nullMeter_;
  ProcessMessagesFn processMessages_;
  int shownPage_ = 0;
  bool revertingPage_ = false;
  bool pathExpanded_ = false;
  bool loading_ = false;           // LoadPackageModule runs
  bool tablesRead_ = false;        // the loaded module's export tables are read
  bool pageChosenInLoad_ = false;  // the page changed while a load ran
  std::optional<std::string> queuedLoad_;
  std::optional<std::string> startFile_;  // the command line's file, not opened yet
  bool aboutAtActivation_ = false;        // the first activation's About box is up
};

}  // namespace kx::gui
