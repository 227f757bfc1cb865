#include "app/FindPage.h"

#include <QVBoxLayout>

#include "app/Main.h"

namespace kx::gui {

TFindPage::TFindPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("FindTabSheet"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addStretch(1);
  // The folder tree, the filter and mask boxes, the result list and the
  // status bar come with the package file search.
}

void TFindPage::FindRequiredPackage(const QString& mask) {
  // Filled by the package file search (StartPackageSearch).
  (void)mask;
}

}  // namespace kx::gui
