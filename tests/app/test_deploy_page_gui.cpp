// The Deploy page through its controls: a run from the open dialog, the
// button states, saving the report, the row actions and the Busy lock.
#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>

#include "app/DeployPage.h"
#include "app/FindPage.h"
#include "app/GenInfoPage.h"
#include "app/Main.h"
#include "gui_test_support.h"
#include "source/Version.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;

class DeployPageTest : public ::testing::Test {
 protected:
  DeployPageTest() {
    const fs::path bin = fs::path(KX_FIXTURES_DIR) / "bin";
    prefix.WriteFile("C:\\windows\\system32\\vcl30.dpl", test::ReadHostFile(bin / "vcl30.dpl"));
    for (const char* f : {"deployapp.exe", "deploypk.dpl", "dephelp.dll", "cycmate.dll"})
      prefix.WriteFile(std::string("C:\\Apps\\") + f, test::ReadHostFile(bin / f));
    prefix.WriteFile("C:\\Lost\\lostpk.dpl", test::ReadHostFile(bin / "lostpk.dpl"));
    // As the confirmed open dialog does.
    prefix.System().SetCurrentDirectory("C:\\Apps");
    prevClock = SetSourceClock([] { return 45000.5; });
    form = std::make_unique<gui::TPackageForm>(prompts);
    form->SetProcessMessages([] {});
    form->SetActivePage(form->DeployEXETabSheet);
    prompts.Forget();
  }
  ~DeployPageTest() override {
    form.reset();
    SetSourceClock(prevClock);
  }
  gui::TDeployPage& Page() { return *form->DeployEXETabSheet; }
  void Open(const std::string& file) {
    prompts.fileAnswers = {file};
    Page().EXEFileNameEdit->button()->click();
  }
  int RowOf(const char* name) {
    for (int r = 0; r < Page().NeedPackListview->rowCount(); ++r)
      if (Page().NeedPackListview->displayedCell(r, 0) == name) return r;
    return -1;
  }
  std::vector<bool> Buttons() {
    return {Page().DeployAnalyzeBtn->isEnabled(), Page().DeploySaveReportBtn->isEnabled(),
            Page().DeployLoadPackageBtn->isEnabled(), Page().DeployFindDPLBtn->isEnabled(),
            Page().DeployFindDPKBtn->isEnabled()};
  }

  test::TempPrefix prefix;
  test::ScriptedPrompts prompts;
  SourceClock prevClock;
  std::unique_ptr<gui::TPackageForm> form;
};

TEST_F(DeployPageTest, ChoosingTheFileRunsTheAnalysisAndRowsDriveTheButtons) {
  EXPECT_EQ(Buttons(), (std::vector<bool>{false, false, false, false, false}));
  Open("C:\\Apps\\deployapp.exe");
  ASSERT_EQ(prompts.dialogs.size(), 1u);
  EXPECT_EQ(prompts.dialogs[0].title, "Select Application to Analyze...");
  const QStringList report = Page().ReportLines();
  ASSERT_FALSE(report.isEmpty());
  EXPECT_EQ(report[2], "*** Modules needed at startup:9");
  EXPECT_EQ(report.last(), "*** Done.");
  EXPECT_EQ(Page().NeedPackListview->rowCount(), 9);
  EXPECT_EQ(Buttons(), (std::vector<bool>{true, true, false, false, false}));
  EXPECT_FALSE(form->Busy);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // Only a package library row enables Load, Find and Find Source.
  Page().NeedPackListview->selectDisplayedRow(RowOf("lostpk.dpl"));
  EXPECT_EQ(Buttons(), (std::vector<bool>{true, true, true, true, true}));
  Page().NeedPackListview->selectDisplayedRow(RowOf("dephelp.dll"));
  EXPECT_EQ(Buttons(), (std::vector<bool>{true, true, false, false, false}));

  // Sorting by Size compares numbers.
  Page().NeedPackListview->sortByColumn(4, Qt::DescendingOrder);
  EXPECT_EQ(Page().NeedPackListview->displayedCell(0, 0), "vcl30.dpl");

  // Find switches to SmartFind; Enter on a package row opens it on General Info.
  Page().NeedPackListview->selectDisplayedRow(RowOf("lostpk.dpl"));
  Page().DeployFindDPKBtn->click();
  EXPECT_EQ(form->ActivePage(), form->FindTabSheet);
  form->SetActivePage(form->DeployEXETabSheet);
  test::PressKey(Page().NeedPackListview, Qt::Key_Return);
  EXPECT_EQ(form->ActivePage(), form->GenInfoTabSheet);
  ASSERT_TRUE(form->Module && form->Module->Loaded());
  EXPECT_EQ(form->Module->FileName, "C:\\Lost\\lostpk.dpl");

  // A name that does not exist disables Analyze and Save Report.
  Page().EXEFileNameEdit->setText("C:\\Apps\\none.exe");
  EXPECT_EQ(Buttons()[0], false);
  EXPECT_EQ(Buttons()[1], false);
}

TEST_F(DeployPageTest, SaveReportBeforeAnyRunWritesTheHeaderAlone) {
  // Typing the name of an existing file enables Save Report before any run.
  Page().EXEFileNameEdit->setText("C:\\Apps\\deployapp.exe");
  prompts.fileAnswers = {"C:\\r.txt"};
  Page().DeploySaveReportBtn->click();
  ASSERT_EQ(prompts.dialogs.size(), 1u);
  EXPECT_EQ(prompts.dialogs[0].fileName, "deployapp.TXT");
  EXPECT_EQ(prompts.dialogs[0].title, "Save Report File...");
  EXPECT_EQ(prompts.Count("Message", "Report saved."), 1);
  const auto bytes = test::ReadHostFile(prefix.Host("C:\\r.txt"));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            MakeSourceHeader("C:\\Apps\\deployapp.exe") + "\r\n");
}

TEST_F(DeployPageTest, TheRunHoldsBusyAndAFailureStillClosesTheReport) {
  std::vector<bool> busy;
  Page().DeployFindFile.PumpInterval = std::chrono::milliseconds(0);
  // Typing an existing file's name or clicking the ellipsis while the run
  // lets messages through starts nothing and enables nothing.
  std::vector<bool> buttonsDuringRun;
  form->SetProcessMessages([&] {
    busy.push_back(form->Busy);
    form->SetActivePage(form->GenInfoTabSheet);  // refused while Busy
    Page().EXEFileNameEdit->setText("C:\\Apps\\dephelp.dll");
    Page().EXEFileNameEdit->button()->click();
    // The buttons go off right after the first pump.
    if (busy.size() > 1) buttonsDuringRun.push_back(Buttons()[0] || Buttons()[1]);
  });
  Open("C:\\Apps\\deployapp.exe");
  EXPECT_EQ(prompts.dialogs.size(), 1u);
  EXPECT_FALSE(buttonsDuringRun.empty());
  EXPECT_EQ(std::count(buttonsDuringRun.begin(), buttonsDuringRun.end(), true), 0);
  EXPECT_EQ(Page().ReportLines()[2], "*** Modules needed at startup:9");
  EXPECT_EQ(Buttons()[0], true);
  ASSERT_GE(busy.size(), 2u);  // at the start and between folders of the file search
  EXPECT_EQ(std::count(busy.begin(), busy.end(), false), 0);
  EXPECT_EQ(form->ActivePage(), form->DeployEXETabSheet);
  EXPECT_FALSE(form->Busy);

  form->SetProcessMessages([] {});
  form->OriginalPath = std::string(40000, 'x');
  Page().DeployAnalyzeBtn->click();
  EXPECT_EQ(prompts.Count("Error", "Error shrinking path!"), 1);
  EXPECT_EQ(Page().ReportLines(),
            (QStringList{"*** Start Application Deployment Analysis...", "", "", "*** Done."}));
  EXPECT_FALSE(form->Busy);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Buttons()[0], true);
}

}  // namespace
}  // namespace kx
