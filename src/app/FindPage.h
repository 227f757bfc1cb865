#pragma once
// The "SmartFind" page: searches a folder, the system folder, the extended
// search path or the drives for a file mask and lists every file found with
// its size, type, system and shared marks, dates and link count. The search
// runs on this thread; pending window messages run between folders and while
// rows are added, which is how "Stop!" reaches a running search.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "search/PackSearch.h"
#include "widgets/ShellTree.h"
#include "widgets/SortListView.h"
#include "widgets/StatusPanels.h"

namespace kx::gui {

class TPackageForm;

class TFindPage : public QWidget {
  Q_OBJECT

 public:
  explicit TFindPage(TPackageForm& form, QWidget* parent = nullptr);

  // Runs a search: busy cursor, "Stop!", the roots of the mode, the report
  // cleared unless keepReport, then the finder to its end. Called while a
  // search runs, it stops that search and starts once it has ended.
  void StartPackageSearch(const std::string& mask, const std::string& folder, bool stopAtFirst,
                          bool keepReport, SearchMode mode);

  // The "Find" button of a required package: filter "Delphi Package Library
  // (*.DPL)", "Check Delphi System Path" checked, the given mask, the page
  // made active and the search started as the start button starts it.
  void FindRequiredPackage(const QString& mask);
  // The "Find" buttons that look for one file on the drives: the file type
  // entry and the mask set, the page made active, a search of the drive
  // roots that stops after the first folder holding the file.
  void FindOnDrives(int fileType, const QString& mask);

  // Handlers.
  void FindPackStartStopBTNClick();
  void FindPackClearReportBtnClick();
  void PackSearchFilterComboChange();
  // "Check \SYSTEM Folder" and "Auto Clear" clicked.
  void FindPackSYSTEMOnlyCheckClick();
  void FindPackDelphiPathClick();
  void FindPackageListViewChange();
  // The button, a double click on the list and Enter in it.
  void FindPackLoadPackageBtnClick();

  // Events of the finder.
  void FindPackageFileBeforeExecute();
  void FindPackageFileNewPath(const std::string& folder);
  void FindPackageFileAddFile(const TFoundFile& file);
  void FindPackageFileEndSearch();

  // 1 while a search runs (the start/stop button's tag).
  int SearchTag() const { return searchTag_; }
  // The message pump runs at most this often while rows come in (0: after
  // every row and folder).
  void SetPumpInterval(int milliseconds);

  // The page's recursive file finder.
  TFileFinder FindPackageFile;

  TShellFolderTree* FindPackageShellTree;
  QLineEdit* PackSearchMaskEdit;
  QComboBox* PackSearchFilterCombo;
  QCheckBox* FindPackSYSTEMOnlyCheck;
  QCheckBox* FindPackDelphiPath;
  QCheckBox* AutoClearReportCheck;
  QPushButton* FindPackStartStopBTN;
  QPushButton* FindPackLoadPackageBtn;
  QPushButton* FindPackClearReportBtn;
  TSortListView* FindPackageListView;
  TStatusPanels* SmartFindStatusBar;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Request {
    std::string mask, folder;
    bool stopAtFirst = false, keepReport = false;
    SearchMode mode = smFolder;
  };
  void RunSearch(const Request& request);
  // The start/stop button's start: the mask box, the tree and the check boxes.
  void StartFromControls();
  void SelectFileType(int fileType);
  // The mask, file type and folder controls while a search runs.
  void SetSearchControlsInert(bool inert);
  // Moves the rows found so far into the list and lets messages run, at
  // most every pumpIntervalMs_ unless forced.
  void FlushRows(bool force);

  TPackageForm& form_;
  int searchTag_ = 0;
  std::optional<Request> pending_;
  std::vector<TListModel::Row> newRows_;
  std::shared_ptr<const TSharedPackages> sharedFiles_;  // of the running search
  QElapsedTimer sincePump_;
  int pumpIntervalMs_ = 20;
};

}  // namespace kx::gui
