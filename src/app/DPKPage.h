#pragma once
// The "DPK" page: a package source file in a read-only colouring text view
// below the group "Package Source (DPK):" with "View", "Extract from DPL"
// and "Extract from DCP". The texts, dialogs and file names come from the
// package source writers of the core.
#include <QGroupBox>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "widgets/ColorTextView.h"

namespace kx::gui {

class TPackageForm;

class TDPKPage : public QWidget {
  Q_OBJECT

 public:
  explicit TDPKPage(TPackageForm& form, QWidget* parent = nullptr);
  // The load flow's reset: clears the source view. "View" and "Extract
  // from DPL" need a loaded module: they are disabled until the load that
  // follows succeeds (the load flow enables them again).
  void Reset();
  // "View": shows the package source of the loaded .dpl, looked for by its
  // base name in the current directory, or asks whether to locate it. The
  // load flow runs it after loading a .dpl. A file that cannot be read is
  // shown in the error box and leaves the view as it was.
  void DPKViewBtnClick();
  // "Extract from DPL": writes the package source of the loaded module.
  void DPKFromDPLBtnClick();
  // "Extract from DCP": writes the package source of a compiled package.
  void DPKFromDCPBtnClick();
  // Replaces the view's lines with those of the named file (EFOpenError).
  void LoadSourceFile(const std::string& windowsFileName);

  QGroupBox* DPKGroup;
  QPushButton* DPKViewBtn;
  QPushButton* DPKFromDPLBtn;
  QPushButton* DPKFromDCPBtn;
  TColorTextView* DPKSourceView;

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
