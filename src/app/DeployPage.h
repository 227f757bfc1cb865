#pragma once
// The "Deploy" page: the start-up module walk of an application and its
// deployment report.
#include <QWidget>

namespace kx::gui {

class TPackageForm;

class TDeployPage : public QWidget {
  Q_OBJECT

 public:
  explicit TDeployPage(TPackageForm& form, QWidget* parent = nullptr);

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
