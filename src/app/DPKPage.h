#pragma once
// The "DPK" page: a package source file in a read-only text view below the
// group "Package Source (DPK):" with "View", "Extract from DPL" and
// "Extract from DCP".
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

namespace kx::gui {

class TPackageForm;

class TDPKPage : public QWidget {
  Q_OBJECT

 public:
  explicit TDPKPage(TPackageForm& form, QWidget* parent = nullptr);
  // The load flow's reset: clears the source view.
  void Reset();
  // Shows the package source that belongs to the loaded package library.
  // The load flow runs it after loading a .dpl. Filled by the package
  // source viewer (finding the .dpk beside the package or asking for it).
  void DPKViewBtnClick();

  QGroupBox* DPKGroup;
  QPushButton* DPKViewBtn;
  QPushButton* DPKFromDPLBtn;
  QPushButton* DPKFromDCPBtn;
  QPlainTextEdit* DPKSourceView;

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
