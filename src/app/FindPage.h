#pragma once
// The "SmartFind" page: the package file search.
#include <QString>
#include <QWidget>

namespace kx::gui {

class TPackageForm;

class TFindPage : public QWidget {
  Q_OBJECT

 public:
  explicit TFindPage(TPackageForm& form, QWidget* parent = nullptr);
  // The "Find" button of a required package: filter "Delphi Package Library
  // (*.DPL)", "Check Delphi System Path" checked, the given mask, the page
  // made active and the search started. Filled by the package file search.
  void FindRequiredPackage(const QString& mask);

 private:
  TPackageForm& form_;
};

}  // namespace kx::gui
