#pragma once
// The "Delphi3" page: the IDE's known packages and options.
#include <QWidget>

namespace kx::gui {

class TPackageForm;

class TDelphi3Page : public QWidget {
  Q_OBJECT

 public:
  explicit TDelphi3Page(TPackageForm& form, QWidget* parent = nullptr);
  // Start-up with Delphi 3 installed: fills the option controls from the
  // registry. Filled by the options page.
  void ReadOptions();
  // First visit: builds the known packages view from the form's lists and
  // clears SystemInfoPending. Filled by the known packages list.
  void InitSystemInfo();

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
