#include "app/DCPPage.h"

#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/Main.h"

namespace kx::gui {

TDCPPage::TDCPPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("DCPDCUTabSheet"));
  DCPFileNameEdit = new TFileNameEdit(this);
  DCPFileNameEdit->setObjectName(QStringLiteral("DCPFileNameEdit"));
  auto* fields = new QFormLayout();
  fields->addRow(QStringLiteral("DCP File Name:"), DCPFileNameEdit);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addLayout(fields);
  layout->addStretch(1);
  // The unit tree, its buttons and the status bar come with the compiled
  // package page.
}

void TDCPPage::LoadDCPForModule() {
  // Filled by the compiled package page: the candidate is the module's
  // folder + base name + ".dcp"; an existing file goes into
  // DCPFileNameEdit and is analysed, a missing one prompts
  // "File <candidate> not found. Would you like to locate it?".
}

}  // namespace kx::gui
