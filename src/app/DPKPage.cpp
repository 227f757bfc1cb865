#include "app/DPKPage.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/Main.h"

namespace kx::gui {

TDPKPage::TDPKPage(TPackageForm& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName(QStringLiteral("DPKTabSheet"));
  DPKGroup = new QGroupBox(QStringLiteral("Package Source (DPK):"), this);
  DPKViewBtn = new QPushButton(QStringLiteral("View"), DPKGroup);
  DPKViewBtn->setObjectName(QStringLiteral("DPKViewBtn"));
  DPKFromDPLBtn = new QPushButton(QStringLiteral("Extract from DPL"), DPKGroup);
  DPKFromDPLBtn->setObjectName(QStringLiteral("DPKFromDPLBtn"));
  DPKFromDCPBtn = new QPushButton(QStringLiteral("Extract from DCP"), DPKGroup);
  DPKFromDCPBtn->setObjectName(QStringLiteral("DPKFromDCPBtn"));
  // Both need a loaded module; the load flow enables them.
  DPKViewBtn->setEnabled(false);
  DPKFromDPLBtn->setEnabled(false);
  auto* buttons = new QHBoxLayout(DPKGroup);
  buttons->addWidget(DPKViewBtn);
  buttons->addWidget(DPKFromDPLBtn);
  buttons->addWidget(DPKFromDCPBtn);
  buttons->addStretch(1);
  DPKSourceView = new QPlainTextEdit(this);
  DPKSourceView->setObjectName(QStringLiteral("DPKSourceView"));
  DPKSourceView->setReadOnly(true);
  DPKSourceView->setLineWrapMode(QPlainTextEdit::NoWrap);
  DPKSourceView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  DPKSourceView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  DPKSourceView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(DPKGroup);
  layout->addWidget(DPKSourceView, 1);
  // The three buttons are wired by the package source writers and viewer.
}

void TDPKPage::Reset() { DPKSourceView->clear(); }

void TDPKPage::DPKViewBtnClick() {
  // Filled by the package source viewer: finds the .dpk beside the loaded
  // package (or asks for it) and loads it into DPKSourceView.
}

}  // namespace kx::gui
