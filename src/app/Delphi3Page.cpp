#include "app/Delphi3Page.h"

#include <QVBoxLayout>

#include "app/Main.h"

namespace kx::gui {

TDelphi3Page::TDelphi3Page(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("SystemTabSheet"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addStretch(1);
  // KnownPackListView, its buttons and the option controls come with the
  // known packages list and the options page.
}

void TDelphi3Page::ReadOptions() {
  // Filled by the options page (default package, compiling and debugging
  // flags, output folders, library path).
}

void TDelphi3Page::InitSystemInfo() {
  // Filled by the known packages list; it clears form_.SystemInfoPending
  // once the view has been built.
}

}  // namespace kx::gui
