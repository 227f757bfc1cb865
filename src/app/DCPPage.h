#pragma once
// The "DCP" page: the compiled units of a compiled package file.
#include <QWidget>

#include "widgets/FileEdit.h"

namespace kx::gui {

class TPackageForm;

class TDCPPage : public QWidget {
  Q_OBJECT

 public:
  explicit TDCPPage(TPackageForm& form, QWidget* parent = nullptr);
  // After a .dpl load: analyses the matching .dcp beside the module, or
  // asks whether to locate it. Filled by the compiled package page.
  void LoadDCPForModule();

  TFileNameEdit* DCPFileNameEdit;

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
