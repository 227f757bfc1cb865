#pragma once
// The "Delphi3" page: the IDE's known packages and options.
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "delphi3/KnownPacks.h"
#include "widgets/FileEdit.h"
#include "widgets/SortListView.h"

namespace kx::gui {

class TPackageForm;

class TDelphi3Page : public QWidget {
  Q_OBJECT

 public:
  explicit TDelphi3Page(TPackageForm& form, QWidget* parent = nullptr);
  ~TDelphi3Page() override;
  // Start-up with Delphi 3 installed: fills the option controls from the
  // registry. Each control that changes writes itself back.
  void ReadOptions();
  // First visit: builds the known packages view from the form's lists and
  // clears SystemInfoPending.
  void InitSystemInfo();

  // The list's logic (rows, selection, editing).
  TKnownPackList& List();

  void LoadKnownPackBtnClick();
  void AddKnownPackBtnClick();
  void RemoveKnownPackBtnClick();
  void MoveUPKnownPackBtnClick();
  void MoveDOWNKnownPackBtnClick();
  void FindKnownPackBtnClick();
  void TestKnownPackBtnClick();
  void DefPackFilenameEditButtonClick();

  TSortListView* KnownPackListView;
  QPushButton* LoadKnownPackBtn;
  QPushButton* AddKnownPackBtn;
  QPushButton* RemoveKnownPackBtn;
  QPushButton* MoveUPKnownPackBtn;
  QPushButton* MoveDOWNKnownPackBtn;
  QPushButton* FindKnownPackBtn;
  QPushButton* TestKnownPackBtn;

  TFileNameEdit* DefPackFilenameEdit;
  QCheckBox* POShowDetailsCheck;
  QCheckBox* POWarnOnRebuildCheck;
  QCheckBox* DODetailedExcpCheck;
  QCheckBox* DOWatchesOnTopCheck;
  QCheckBox* DOCPURegisterCheck;
  TFileNameEdit* PackDLLDiretoryEdit;
  TFileNameEdit* PackDCPDiretoryEdit;
  QLineEdit* LibPathEdit;

 signals:
  // Find asks the SmartFind page to search for a lost package's file.
  void lostPackageSearchRequested(const QString& fileName);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildOptions(QLayout* into);
  // Shows the list's rows and selection, and the buttons for it.
  void ShowRows();
  void KnownPackListViewChange(int row);
  void UpdateButtons();
  void MoveKnownPack(bool up);
  // The one call into the SmartFind page for Find: the first file type, the
  // bare name as mask, no folder, stop at the first folder that holds it,
  // report cleared, drive roots.
  void StartLostPackageSearch(const std::string& fileName);
  // The file name in the default package box (surrounding quotes dropped).
  QString DefPackFileText() const;
  std::string DefPackFileName() const;

  TPackageForm& form_;
  std::unique_ptr<TKnownPackList> list_;
  bool showing_ = false;
  bool filling_ = false;  // ReadOptions is setting the controls: nothing is written
};

}  // namespace kx::gui
