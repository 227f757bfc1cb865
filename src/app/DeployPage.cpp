#include "app/DeployPage.h"

#include <QVBoxLayout>

#include "app/Main.h"

namespace kx::gui {

TDeployPage::TDeployPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("DeployEXETabSheet"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addStretch(1);
  // The application file box, the module list and the report come with the
  // deployment analysis, which also sets and clears the form's Busy flag
  // while it runs.
}

}  // namespace kx::gui
