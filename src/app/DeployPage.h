#pragma once
// The "Deploy" page: the start-up module walk of an application, its
// deployment report and the list of the modules it needs. What the page
// shows is decided by the core (deploy/DeployReport.h).
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <string>
#include <vector>

#include "deploy/DeployReport.h"
#include "search/FileFinder.h"
#include "widgets/FileEdit.h"
#include "widgets/SortListView.h"

namespace kx::gui {

class TPackageForm;

class TDeployPage : public QWidget {
  Q_OBJECT

 public:
  explicit TDeployPage(TPackageForm& form, QWidget* parent = nullptr);

  // The ellipsis: asks for the application and analyses it at once; does
  // nothing while an analysis runs.
  void EXEFileNameEditButtonClick();
  // Analyze and Save Report are enabled when the box names an existing file
  // (left as they are while an analysis runs).
  void EXEFileNameEditChange();
  // The analysis run: Busy and the hourglass while it lasts; an error
  // reaches the caller after the report is closed and the buttons are back.
  void DeployAnalyzeBtnClick();
  void DeploySaveReportBtnClick();
  // Load, Find and Find Source follow the selected row (package libraries only).
  void NeedPackListviewChange(int modelRow);
  void NeedPackListviewKeyDown(int keyCode);
  void DeployLoadPackageBtnClick();
  void DeployFindDPLBtnClick();
  void DeployFindDPKBtnClick();

  // The rows of the last run, in the model's order.
  const std::vector<TDeployRow>& Rows() const { return rows_; }
  QStringList ReportLines() const;

  TFileNameEdit* EXEFileNameEdit;
  QPushButton* DeployAnalyzeBtn;
  QPushButton* DeploySaveReportBtn;
  QPushButton* DeployLoadPackageBtn;
  QPushButton* DeployFindDPLBtn;
  QPushButton* DeployFindDPKBtn;
  TSortListView* NeedPackListview;
  QListWidget* DeployReportMemo;
  // The module file search of the walk.
  TFileFinder DeployFindFile;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  const TDeployRow* SelectedRow() const;
  void SetRowButtons(bool enabled);
  // Fills the SmartFind page's file type and mask and makes it active.
  void ShowSmartFind(int filterIndex, const std::string& mask);
  // Starts the drive-wide search for mask on the SmartFind page.
  void StartSmartFind(const std::string& mask);
  TDeploySettings Settings();

  TPackageForm& form_;
  std::vector<TDeployRow> rows_;
  bool analyzing_ = false;  // an analysis runs (it lets window messages through)
};

}  // namespace kx::gui
