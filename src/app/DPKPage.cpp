#include "app/DPKPage.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/GenInfoPage.h"
#include "app/Main.h"
#include "dcp/DCPPage.h"
#include "platform/files.h"
#include "source/DPKSource.h"
#include "source/Version.h"

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
  // Both need a loaded module; the load flow enables them. "Extract from
  // DCP" needs none.
  DPKViewBtn->setEnabled(false);
  DPKFromDPLBtn->setEnabled(false);
  auto* buttons = new QHBoxLayout(DPKGroup);
  buttons->addWidget(DPKViewBtn);
  buttons->addWidget(DPKFromDPLBtn);
  buttons->addWidget(DPKFromDCPBtn);
  buttons->addStretch(1);
  DPKSourceView = new TColorTextView(this);
  DPKSourceView->setObjectName(QStringLiteral("DPKSourceView"));
  DPKSourceView->setRules(DPKColorRules());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(DPKGroup);
  layout->addWidget(DPKSourceView, 1);
  connect(DPKViewBtn, &QPushButton::clicked, this,
          [this] { form_.Handle([this] { DPKViewBtnClick(); }); });
  connect(DPKFromDPLBtn, &QPushButton::clicked, this,
          [this] { form_.Handle([this] { DPKFromDPLBtnClick(); }); });
  connect(DPKFromDCPBtn, &QPushButton::clicked, this,
          [this] { form_.Handle([this] { DPKFromDCPBtnClick(); }); });
}

void TDPKPage::Reset() {
  DPKSourceView->clear();
  DPKViewBtn->setEnabled(false);
  DPKFromDPLBtn->setEnabled(false);
}

void TDPKPage::LoadSourceFile(const std::string& windowsFileName) {
  const std::vector<std::string> lines = LoadSourceLines(windowsFileName);
  QStringList shown;
  shown.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string& line : lines) shown << FromCore(line);
  DPKSourceView->setLines(shown);
}

void TDPKPage::DPKViewBtnClick() {
  if (!form_.Module) return;
  // Only a .dpl has a package source; the name has no folder, so it is
  // looked for in the current directory.
  const std::string expected = ExpectedDPKFileName(form_.Module->FileName);
  if (expected.empty()) return;
  std::string fileName = expected;
  if (!FileExists(expected)) {
    if (form_.Dialogs().WarningOkCancel(LocateFileQuestion(expected)) != PromptResult::Ok) return;
    const std::optional<std::string> chosen = form_.Dialogs().OpenFile(DPKOpenDialog());
    if (!chosen) return;
    fileName = *chosen;
  }
  // The load flow goes on after an unreadable source: the error is shown
  // here instead of ending the load halfway.
  try {
    LoadSourceFile(fileName);
  } catch (const std::exception& e) {
    form_.ShowException(e);
  }
}

void TDPKPage::DPKFromDPLBtnClick() {
  // Refused while a load runs: the module's tables are not read yet.
  if (!form_.ModuleReady()) return;
  const std::optional<std::string> target =
      form_.Dialogs().SaveFile(DPKSaveDialog(FileBaseName(form_.Module->FileName) + ".DPK"));
  if (!target) return;
  if (form_.ExportsPending && form_.Module->Loaded()) form_.ShowNamesBtnClick();
  TDPKModuleData data = DPKModuleDataFrom(*form_.Module);
  // The writer takes what the General Info page shows.
  const TGenInfoPage* info = form_.GenInfoTabSheet;
  data.Description = ToCore(info->DescriptionEdit->text());
  TGeneralInfoChoices choices;
  choices.Usage = info->PackUsageCombo->currentIndex();
  choices.Build = info->PackBuildCombo->currentIndex();
  std::string text;
  BuildDPKFromDPL(data, choices, text);
  WriteAnsiTextFile(*target, text);
  LoadSourceFile(*target);
}

void TDPKPage::DPKFromDCPBtnClick() {
  const std::string moduleName =
      form_.Module && form_.Module->Loaded() ? form_.Module->FileName : std::string();
  const std::optional<std::string> source =
      form_.Dialogs().OpenFile(DCPOpenDialog(FileBaseName(moduleName) + ".DCP"));
  if (!source) return;
  const std::optional<std::string> target =
      form_.Dialogs().SaveFile(DPKSaveDialog(FileBaseName(*source) + ".DPK"));
  if (!target) return;
  // Built whole before anything is written: a damaged file leaves no
  // target behind and the view as it was.
  std::string text;
  BuildDPKFromDCP(*source, *target, text);
  WriteAnsiTextFile(*target, text);
  LoadSourceFile(*target);
}

}  // namespace kx::gui
