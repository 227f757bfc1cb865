// Screenshot mode of the GUI test program: the window on the current
// Windows personality, the given package loaded, one PNG per page.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <cstdio>
#include <string>

#include "app/DCPPage.h"
#include "app/FindPage.h"
#include "app/GenInfoPage.h"
#include "app/Main.h"
#include "app/MeterDlg.h"
#include "gui_test_support.h"
#include "platform/system.h"

int RunScreenshots(const std::string& outDir, const std::string& package) {
  using namespace kx;
  QDir().mkpath(QString::fromStdString(outDir));
  // Prompts never block here: questions are answered Cancel / No and every
  // box is listed on stderr instead.
  test::ScriptedPrompts prompts;
  int saved = 0;
  {
    gui::TPackageForm form(prompts);
    gui::TMeterForm meter;
    form.SetMeter(&meter);
    form.resize(820, 600);
    form.show();
    QApplication::processEvents();
    test::OpenPackageAsUser(form, prompts, Sys().UserPathToWindows(package));
    gui::TGenInfoPage* info = form.GenInfoTabSheet;
    if (info->ContainListBox->count() > 0) info->ContainListBox->setCurrentRow(0);
    if (info->RequireListBox->count() > 0) info->RequireListBox->setCurrentRow(0);
    // DCP with a unit's interface in its pane.
    QTreeWidget* dcpTree = form.DCPDCUTabSheet->DCPTreeInfo;
    if (dcpTree->topLevelItemCount() > 0 && dcpTree->topLevelItem(0)->childCount() > 1) {
      dcpTree->topLevelItem(0)->setExpanded(true);
      dcpTree->setCurrentItem(dcpTree->topLevelItem(0)->child(1));
    }
    // SmartFind after a search of drive C: for package libraries.
    gui::TFindPage* find = form.FindTabSheet;
    if (find->FindPackageShellTree->SelectPath("C:\\")) {
      find->PackSearchMaskEdit->setText(QStringLiteral("*.dpl"));
      find->FindPackStartStopBTN->click();
      find->FindPackageListView->selectDisplayedRow(0);
    }
    for (int i = 0; i < form.MainPageControl->count(); ++i) {
      form.MainPageControl->setCurrentIndex(i);
      for (int k = 0; k < 3; ++k) QApplication::processEvents();
      QWidget* page = form.MainPageControl->widget(i);
      const QString file =
          QString::fromStdString(outDir) +
          QStringLiteral("/%1-%2.png").arg(i + 1, 2, 10, QLatin1Char('0')).arg(page->objectName());
      if (form.grab().save(file)) ++saved;
    }
    QMessageBox about(
        QMessageBox::NoIcon, gui::ApplicationTitle(),
        gui::FromCore(gui::kAboutText).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
        QMessageBox::Ok);
    about.show();
    QApplication::processEvents();
    if (about.grab().save(QString::fromStdString(outDir) + QStringLiteral("/about.png"))) ++saved;
    meter.SetLabel("Retrieving Export Data...");
    meter.SetTotal(8);
    meter.SetCompleted(5);
    meter.Show();
    QApplication::processEvents();
    if (meter.grab().save(QString::fromStdString(outDir) + QStringLiteral("/meter.png"))) ++saved;
    meter.Hide();
    form.SetMeter(nullptr);
  }
  for (const test::ScriptedPrompts::Asked& a : prompts.asked)
    std::fprintf(stderr, "[%s] %s\n", a.kind.c_str(), a.text.c_str());
  std::fprintf(stderr, "%d images saved in %s\n", saved, outDir.c_str());
  return saved > 0 ? 0 : 1;
}
