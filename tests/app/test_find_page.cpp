// The SmartFind page driven through its controls: the search modes picked by
// the tree and the check boxes, the panels while and after a search, Stop,
// Auto Clear, sorting, Load Package, and the Find buttons of the other pages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <algorithm>
#include <functional>
#include <memory>

#include "app/DCPPage.h"
#include "app/Delphi3Page.h"
#include "app/DeployPage.h"
#include "app/FindPage.h"
#include "app/GenInfoPage.h"
#include "app/Main.h"
#include "gui_test_support.h"
#include "package/PackMan.h"
#include "support/dcp_builder.h"
#include "support/demo_prefix.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

using Strings = std::vector<std::string>;

class FindPageTest : public ::testing::Test {
 protected:
  FindPageTest() {
    for (const char* f : {"C:\\Pk\\a.dpl", "C:\\Pk\\Sub\\b.dpl", "C:\\Pk\\Sub\\c.pas",
                          "C:\\Lib\\vcl30.dpl", "C:\\Lib\\Deep\\vcl30.dpl"})
      prefix.WriteText(f, "x");
    prefix.WriteText("C:\\windows\\system32\\sys1.dpl", std::string(1000, 'x'));
    prefix.WriteText("C:\\windows\\system32\\Sub\\sys2.dpl", "x");
    form = std::make_unique<gui::TPackageForm>(prompts);
    form->SetProcessMessages([this] {
      if (pump) pump();
    });
    Page().SetPumpInterval(0);
    prompts.Forget();
  }
  ~FindPageTest() override { form.reset(); }

  gui::TFindPage& Page() { return *form->FindTabSheet; }
  Strings Column(int column) {
    Strings cells;
    for (int r = 0; r < Page().FindPackageListView->rowCount(); ++r)
      cells.push_back(gui::ToCore(Page().FindPackageListView->displayedCell(r, column)));
    return cells;
  }
  std::string Panel(int i) { return gui::ToCore(Page().SmartFindStatusBar->panelText(i)); }
  std::string Caption() { return gui::ToCore(Page().FindPackStartStopBTN->text()); }
  void Search(const char* mask, const char* folder = nullptr) {
    Page().PackSearchMaskEdit->setText(QString::fromLatin1(mask));
    if (folder) {
      ASSERT_TRUE(Page().FindPackageShellTree->SelectPath(folder));
    }
    Page().FindPackStartStopBTN->click();
  }

  test::TempPrefix prefix;
  test::ScriptedPrompts prompts;
  std::unique_ptr<gui::TPackageForm> form;
  std::function<void()> pump;
};

TEST_F(FindPageTest, ControlsStartAsTheyShould) {
  gui::TFindPage& p = Page();
  EXPECT_EQ(p.PackSearchMaskEdit->text(), QStringLiteral("*.dpl"));
  ASSERT_EQ(p.PackSearchFilterCombo->count(), 16);
  EXPECT_EQ(p.PackSearchFilterCombo->currentIndex(), 0);
  EXPECT_EQ(p.PackSearchFilterCombo->itemText(0), QStringLiteral("Delphi Package Library (*.DPL)"));
  EXPECT_EQ(p.PackSearchFilterCombo->itemText(15), QStringLiteral("CPB3 Static Library (*.LIB)"));
  EXPECT_FALSE(p.FindPackSYSTEMOnlyCheck->isChecked());
  EXPECT_FALSE(p.FindPackDelphiPath->isChecked());
  EXPECT_TRUE(p.AutoClearReportCheck->isChecked());
  EXPECT_EQ(Caption(), "Search!");
  EXPECT_TRUE(p.FindPackStartStopBTN->isEnabled());
  EXPECT_FALSE(p.FindPackLoadPackageBtn->isEnabled());
  EXPECT_TRUE(p.FindPackClearReportBtn->isEnabled());
  EXPECT_EQ((Strings{Panel(0), Panel(1), Panel(2)}), (Strings{"Done.", "Files: 0", "No Path"}));
  EXPECT_EQ(p.FindPackageListView->model()->headerData(9, Qt::Horizontal).toString(),
            QStringLiteral("TotLinks"));
  // The tree: a computer node listing the drives, nothing selected.
  QTreeWidgetItem* computer = p.FindPackageShellTree->ComputerNode();
  ASSERT_EQ(computer->childCount(), 2);
  EXPECT_EQ(computer->child(0)->text(0), QStringLiteral("C:"));
  EXPECT_FALSE(p.FindPackageShellTree->SelectedPath().has_value());
  // Folders only, listed when a node opens.
  ASSERT_TRUE(p.FindPackageShellTree->SelectPath("C:\\Pk"));
  QTreeWidgetItem* pk = p.FindPackageShellTree->currentItem();
  EXPECT_EQ(pk->childCount(), 0);
  pk->setExpanded(true);
  ASSERT_EQ(pk->childCount(), 1);
  EXPECT_EQ(pk->child(0)->text(0), QStringLiteral("Sub"));

  // The check boxes' rules and the file type's mask rewrite.
  p.FindPackDelphiPath->click();
  EXPECT_TRUE(p.FindPackSYSTEMOnlyCheck->isChecked());
  EXPECT_FALSE(p.FindPackSYSTEMOnlyCheck->isEnabled());
  EXPECT_FALSE(p.FindPackageShellTree->isEnabled());
  p.FindPackDelphiPath->click();
  EXPECT_FALSE(p.FindPackSYSTEMOnlyCheck->isChecked());
  EXPECT_TRUE(p.FindPackSYSTEMOnlyCheck->isEnabled());
  EXPECT_TRUE(p.FindPackageShellTree->isEnabled());
  p.PackSearchMaskEdit->setText(QStringLiteral("vcl*.dpl"));
  p.PackSearchFilterCombo->setCurrentIndex(8);
  emit p.PackSearchFilterCombo->activated(8);
  EXPECT_EQ(p.PackSearchMaskEdit->text(), QStringLiteral("vcl*.PAS"));
}

TEST_F(FindPageTest, EachModeSearchesItsPlaces) {
  // A folder of the tree: with its subfolders.
  Search("*.dpl", "C:\\Pk");
  EXPECT_EQ(Column(0), (Strings{"a.dpl", "b.dpl"}));
  EXPECT_EQ(Column(1), (Strings{"C:\\Pk\\", "C:\\Pk\\Sub\\"}));
  EXPECT_EQ((Strings{Panel(0), Panel(1), Panel(2)}),
            (Strings{"Done.", "Files: 2", "Total Size: 2 bytes"}));
  EXPECT_EQ(Caption(), "Start!");
  EXPECT_EQ(Page().SearchTag(), 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // The system folder alone, whatever the tree holds.
  Page().FindPackSYSTEMOnlyCheck->click();
  Search("*.dpl");
  EXPECT_EQ(Column(0), (Strings{"sys1.dpl"}));
  EXPECT_EQ(Column(2), (Strings{"1,000"}));

  // The extended search path: each folder alone, the tree ignored.
  form->ExpandedPath = "C:\\Lib;;C:\\Nowhere";
  Page().FindPackDelphiPath->click();
  Search("VCL30.DPL");
  EXPECT_EQ(Column(1), (Strings{"C:\\Lib\\"}));
  form->ExpandedPath.clear();
  Search("VCL30.DPL");
  EXPECT_EQ(Page().FindPackageListView->rowCount(), 0);
  EXPECT_EQ(Panel(0), "No Files Found.");
  EXPECT_EQ(Panel(2), "Total Size: 0 bytes");
}

TEST_F(FindPageTest, AutoClearOffAppendsAndPanelCountsEveryRow) {
  // With the window's own pump interval: rows held back between pumps all
  // arrive by the end of the search.
  Page().SetPumpInterval(20);
  Search("*.dpl", "C:\\Pk");
  Page().AutoClearReportCheck->click();
  Search("*.pas", "C:\\Pk");
  EXPECT_EQ(Column(0), (Strings{"a.dpl", "b.dpl", "c.pas"}));
  EXPECT_EQ(Panel(1), "Files: 3");
  Page().AutoClearReportCheck->click();
  Search("*.pas", "C:\\Pk");
  EXPECT_EQ(Column(0), (Strings{"c.pas"}));
  Page().FindPackClearReportBtn->click();
  EXPECT_EQ((Strings{Panel(0), Panel(1), Panel(2)}),
            (Strings{"Working...", "Files: 0", "No Path."}));
}

TEST_F(FindPageTest, StopEndsAfterTheCurrentFolder) {
  int pumps = 0;
  Strings panelsDuringSearch;
  pump = [&] {
    if (Page().SearchTag() != 1) return;
    panelsDuringSearch = {Panel(0), Caption()};
    // The first file is listed: the user clicks "Stop!".
    if (Page().FindPackageListView->rowCount() > 0 && pumps++ == 0)
      Page().FindPackStartStopBTN->click();
  };
  Search("*.dpl", "C:\\Pk");
  EXPECT_EQ(panelsDuringSearch, (Strings{"Searching...", "Stop!"}));
  EXPECT_EQ(Column(0), (Strings{"a.dpl"}));
  EXPECT_EQ(Panel(0), "Done.");
  EXPECT_EQ(Caption(), "Start!");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(FindPageTest, SortsAscendingByTheCellRule) {
  prefix.WriteText("C:\\S\\n999.pas", std::string(999, 'x'));
  prefix.WriteText("C:\\S\\n1000.pas", std::string(1000, 'x'));
  prefix.WriteText("C:\\S\\n5.pas", std::string(5, 'x'));
  Search("*.pas", "C:\\S");
  QHeaderView* header = Page().FindPackageListView->horizontalHeader();
  const QPoint sizeHeader(header->sectionViewportPosition(2) + 10, header->height() / 2);
  for (int click = 0; click < 2; ++click) {  // a second click does not reverse
    test::Click(header->viewport(), sizeHeader);
    // 5 and 999 compare as numbers; "1,000" against either is text.
    EXPECT_EQ(Column(2), (Strings{"1,000", "5", "999"})) << "click " << click;
  }
  Page().FindPackageListView->sortByColumn(0, Qt::AscendingOrder);
  EXPECT_EQ(Column(0), (Strings{"n1000.pas", "n5.pas", "n999.pas"}));
}

TEST_F(FindPageTest, LoadPackageOpensASelectedPackageLibrary) {
  prefix.WriteFile("C:\\L\\mypack.dpl",
                   test::BuildPe(test::PackageSpec(pfPackageModule, {}, {{1, "Mine"}})));
  prefix.WriteText("C:\\L\\notes.pas", "x");
  Search("*.*", "C:\\L");
  ASSERT_EQ(Page().FindPackageListView->rowCount(), 2);
  Page().FindPackageListView->selectDisplayedRow(1);
  EXPECT_FALSE(Page().FindPackLoadPackageBtn->isEnabled());
  Page().FindPackageListView->selectDisplayedRow(0);
  ASSERT_TRUE(Page().FindPackLoadPackageBtn->isEnabled());
  Page().FindPackLoadPackageBtn->click();
  EXPECT_EQ(form->ActivePage(), form->GenInfoTabSheet);
  EXPECT_EQ(form->Module->FileName, "C:\\L\\mypack.dpl");
}

TEST_F(FindPageTest, FindButtonsOfOtherPagesStartTheirSearch) {
  // General Info: the selected required package along the extended path.
  prefix.WriteFile("C:\\L\\user.dpl",
                   test::BuildPe(test::PackageSpec(pfPackageModule, {"vcl30"}, {{1, "U"}})));
  form->ExpandedPath = "C:\\Lib";
  form->LoadPackageModule("C:\\L\\user.dpl");
  form->GenInfoTabSheet->RequireListBox->setCurrentRow(0);
  form->GenInfoTabSheet->FindReqDPLBtn->click();
  EXPECT_EQ(form->ActivePage(), form->FindTabSheet);
  EXPECT_TRUE(Page().FindPackDelphiPath->isChecked());
  EXPECT_TRUE(Page().FindPackSYSTEMOnlyCheck->isChecked());
  EXPECT_FALSE(Page().FindPackageShellTree->isEnabled());
  EXPECT_EQ(Page().PackSearchMaskEdit->text(), QStringLiteral("vcl30.DPL"));
  EXPECT_EQ(Column(1), (Strings{"C:\\Lib\\"}));

  // DCP "Find PAS": the unit's source from the current folder, first folder only.
  test::DcpBuilder dcp;
  dcp.units = {{"Alpha", 0x100, 0x900, std::vector<uint8_t>{1, 2}}, {"pk", 0x200, 0x980, {}}};
  prefix.WriteFile("C:\\D\\pk.dcp", dcp.Build());
  prefix.WriteText("C:\\Work\\Src\\Alpha.pas", "x");
  prefix.WriteText("C:\\Work\\Src\\Old\\alpha.PAS", "x");
  prefix.WriteText("C:\\Work\\Zzz\\Alpha.pas", "x");
  Sys().SetCurrentDirectory("C:\\Work");
  gui::TDCPPage& d = *form->DCPDCUTabSheet;
  d.DCPFileNameEdit->setText(QStringLiteral("C:\\D\\pk.dcp"));
  d.AnalyzeDCPBtnClick();
  d.DCPTreeInfo->setCurrentItem(d.DCPTreeInfo->topLevelItem(0)->child(0));
  Page().AutoClearReportCheck->setChecked(false);  // a Find clears all the same
  d.FindDCUSourceBtn->click();
  EXPECT_EQ(form->ActivePage(), form->FindTabSheet);
  EXPECT_EQ(Page().PackSearchFilterCombo->currentIndex(), 8);
  EXPECT_EQ(Page().PackSearchMaskEdit->text(), QStringLiteral("Alpha.PAS"));
  EXPECT_EQ(Column(1), (Strings{"C:\\Work\\Src\\"}));
}

TEST_F(FindPageTest, DeployFindAndFindSourceSearchTheDrivesForTheRow) {
  const std::filesystem::path bin = std::filesystem::path(KX_FIXTURES_DIR) / "bin";
  for (const char* f : {"deployapp.exe", "deploypk.dpl", "dephelp.dll", "cycmate.dll"})
    prefix.WriteFile(std::string("C:\\Apps\\") + f, test::ReadHostFile(bin / f));
  prefix.WriteFile("C:\\windows\\system32\\vcl30.dpl", test::ReadHostFile(bin / "vcl30.dpl"));
  prefix.WriteFile("C:\\Lost\\lostpk.dpl", test::ReadHostFile(bin / "lostpk.dpl"));
  prefix.WriteText("C:\\Lost\\More\\lostpk.dpl", "x");
  prefix.WriteText("C:\\Src\\lostpk.dpk", "x");
  Sys().SetCurrentDirectory("C:\\Apps");
  gui::TDeployPage& d = *form->DeployEXETabSheet;
  prompts.fileAnswers = {std::string("C:\\Apps\\deployapp.exe")};
  d.EXEFileNameEdit->button()->click();
  int row = -1;
  for (int r = 0; r < d.NeedPackListview->rowCount(); ++r)
    if (d.NeedPackListview->displayedCell(r, 0) == QStringLiteral("lostpk.dpl")) row = r;
  ASSERT_GE(row, 0);

  d.NeedPackListview->selectDisplayedRow(row);
  d.DeployFindDPLBtn->click();
  EXPECT_EQ(form->ActivePage(), form->FindTabSheet);
  EXPECT_EQ(Page().PackSearchFilterCombo->currentIndex(), 0);
  EXPECT_EQ(Column(1), (Strings{"C:\\Lost\\"}));  // the first folder holding it

  form->SetActivePage(&d);
  d.NeedPackListview->selectDisplayedRow(row);
  d.DeployFindDPKBtn->click();
  EXPECT_EQ(Page().PackSearchFilterCombo->currentIndex(), 1);
  EXPECT_EQ(Page().PackSearchMaskEdit->text(), QStringLiteral("lostpk.DPK"));
  EXPECT_EQ(Column(1), (Strings{"C:\\Src\\"}));
}

TEST(FindPageDelphi3, FindOfALostPackageSearchesTheBareName) {
  test::DemoPrefixCopy demo;
  test::ScriptedPrompts prompts;
  const std::filesystem::path found =
      demo.Root() / "drive_c" / "Projects" / "Old" / "oldcomp30.dpl";
  test::WriteBytes(found, {'x'});
  Sys().SetCurrentDirectory("C:\\Projects");
  gui::TPackageForm form(prompts);
  form.SetProcessMessages([] {});
  gui::TDelphi3Page* page = form.SystemTabSheet;
  form.SetActivePage(page);
  for (int r = 0; r < page->KnownPackListView->rowCount(); ++r)
    if (page->KnownPackListView->displayedCell(r, 0) == QStringLiteral("oldcomp30.dpl"))
      page->KnownPackListView->selectDisplayedRow(r);
  ASSERT_TRUE(page->FindKnownPackBtn->isEnabled());
  form.FindTabSheet->PackSearchFilterCombo->setCurrentIndex(5);
  page->FindKnownPackBtn->click();
  gui::TFindPage& find = *form.FindTabSheet;
  EXPECT_EQ(form.ActivePage(), &find);
  EXPECT_EQ(find.PackSearchFilterCombo->currentIndex(), 0);
  EXPECT_EQ(find.PackSearchMaskEdit->text(), QStringLiteral("oldcomp30.dpl"));
  ASSERT_EQ(find.FindPackageListView->rowCount(), 1);
  EXPECT_EQ(find.FindPackageListView->displayedCell(0, 1), QStringLiteral("C:\\Projects\\Old\\"));
}

TEST_F(FindPageTest, AFindWhileSearchingStopsThatSearchFirst) {
  bool findClicked = false;
  Strings seen;
  std::vector<bool> inert;
  pump = [&] {
    for (const std::string& name : Column(0)) seen.push_back(name);
    if (Page().SearchTag() != 1) return;
    gui::TFindPage& p = Page();
    inert.push_back(!p.PackSearchMaskEdit->isEnabled() && !p.PackSearchFilterCombo->isEnabled() &&
                    !p.FindPackageShellTree->isEnabled() && !p.FindPackDelphiPath->isEnabled() &&
                    !p.FindPackSYSTEMOnlyCheck->isEnabled() && p.FindPackStartStopBTN->isEnabled());
    // The Find arrives while the finder is inside its walk, after the first
    // folder listed a.dpl: the walk must end there, before Sub\b.dpl.
    if (p.FindPackageFile.Running() && p.FindPackageListView->rowCount() > 0 && !findClicked) {
      findClicked = true;
      p.FindOnDrives(kFileTypeUnitSource, QStringLiteral("c.pas"));
    }
  };
  Sys().SetCurrentDirectory("C:\\Pk");
  Search("*.dpl", "C:\\Pk");
  EXPECT_TRUE(findClicked);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "a.dpl"), seen.end());
  EXPECT_EQ(std::find(seen.begin(), seen.end(), "b.dpl"), seen.end());
  EXPECT_FALSE(inert.empty());
  EXPECT_EQ(std::count(inert.begin(), inert.end(), false), 0);
  EXPECT_TRUE(Page().PackSearchMaskEdit->isEnabled());
  EXPECT_TRUE(Page().FindPackageShellTree->isEnabled());
  EXPECT_EQ(Column(0), (Strings{"c.pas"}));
  EXPECT_EQ(Page().PackSearchMaskEdit->text(), QStringLiteral("c.pas"));
  EXPECT_EQ(Caption(), "Start!");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace kx
