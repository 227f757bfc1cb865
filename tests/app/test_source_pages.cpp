// The DPK page and the package-source and compiled-package look-ups of the
// load flow, driven through the window with scripted prompts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTextBlock>

#include "app/DCPPage.h"
#include "app/DPKPage.h"
#include "app/GenInfoPage.h"
#include "app/Main.h"
#include "gui_test_support.h"
#include "source/DPKSource.h"
#include "source/Version.h"
#include "support/dcp_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr double kFixedNow = 45000.5;  // 3/15/2023 12:00:00 PM

std::vector<uint8_t> FixtureBytes(const char* name) {
  return test::ReadHostFile(fs::path(KX_FIXTURES_DIR) / "bin" / name);
}

std::string HostText(const fs::path& path) {
  const std::vector<uint8_t> bytes = test::ReadHostFile(path);
  return std::string(bytes.begin(), bytes.end());
}

test::DcpBuilder Vcl30Dcp() {
  test::DcpBuilder b;
  b.imageBase = 0x40000000;
  b.units = {{"System", 0x1000, 0x9000, std::vector<uint8_t>(40, 0x11)},
             {"Classes", 0x1400, 0x9400, std::vector<uint8_t>(25, 0x22)},
             {"vcl30", 0x1800, 0x9800, {}}};
  b.resources = {"vcl30.res"};
  return b;
}

// A window over a private prefix holding the vcl30 package library (in
// C:\Pk) and cbmath35.bpl (vcl30 also in the system folder); the clock of generated headers is
// fixed.
class SourcePagesTest : public ::testing::Test {
 protected:
  SourcePagesTest() {
    prefix.WriteFile("C:\\Pk\\vcl30.dpl", FixtureBytes("vcl30.dpl"));
    prefix.WriteFile("C:\\Pk\\cbmath35.bpl", FixtureBytes("cbmath35.bpl"));
    prefix.WriteFile("C:\\windows\\system32\\vcl30.dpl", FixtureBytes("vcl30.dpl"));
    prefix.WriteText("C:\\Out\\readme.txt", "");
    prevClock = SetSourceClock([] { return kFixedNow; });
    form = std::make_unique<gui::TPackageForm>(prompts);
    form->SetProcessMessages([] {});
    prompts.Forget();
  }
  ~SourcePagesTest() override {
    form.reset();
    SetSourceClock(prevClock);
  }

  std::vector<std::string> Questions() const {
    std::vector<std::string> out;
    for (const auto& a : prompts.asked)
      if (a.kind == "WarningOkCancel") out.push_back(a.text);
    return out;
  }
  gui::TDPKPage& Dpk() { return *form->DPKTabSheet; }
  gui::TDCPPage& Dcp() { return *form->DCPDCUTabSheet; }

  test::TempPrefix prefix;
  test::ScriptedPrompts prompts;
  SourceClock prevClock;
  std::unique_ptr<gui::TPackageForm> form;
};

const char kDcpQuestion[] = "File C:\\Pk\\vcl30.dcp not found. Would you like to locate it?";
const char kDpkQuestion[] = "File vcl30.dpk not found. Would you like to locate it?";

TEST_F(SourcePagesTest, MatchingFilesFoundAreShownWithoutAQuestion) {
  prefix.WriteFile("C:\\Pk\\vcl30.dcp", Vcl30Dcp().Build());
  // The current directory is C:\ ; the source is looked for there.
  prefix.WriteText("C:\\vcl30.dpk", "package vcl30;\r\n\r\nend.\r\n");
  form->LoadPackageModule("C:\\Pk\\vcl30.dpl");

  EXPECT_TRUE(Questions().empty());
  EXPECT_EQ(prompts.Count("OpenFile"), 0);
  EXPECT_EQ(Dcp().DCPFileNameEdit->text(), QStringLiteral("C:\\Pk\\vcl30.dcp"));
  ASSERT_EQ(Dcp().DCPTreeInfo->topLevelItemCount(), 3);
  EXPECT_EQ(Dcp().DCPTreeInfo->topLevelItem(0)->childCount(), 3);
  EXPECT_EQ(Dpk().DPKSourceView->lines(), (QStringList{"package vcl30;", "", "end."}));
  EXPECT_TRUE(Dpk().DPKViewBtn->isEnabled());
  EXPECT_TRUE(Dpk().DPKFromDPLBtn->isEnabled());
  EXPECT_TRUE(form->PageEnabled(form->DPKTabSheet));
}

TEST_F(SourcePagesTest, MissingFilesAskOnceEachAndCancelLeavesThePages) {
  // A source beside the package is not where the viewer looks.
  prefix.WriteText("C:\\Pk\\vcl30.dpk", "package vcl30;\r\n");
  Dcp().DCPFileNameEdit->setText(QStringLiteral("C:\\before.dcp"));
  Dpk().DPKSourceView->setText(QStringLiteral("previous"));
  form->LoadPackageModule("C:\\Pk\\vcl30.dpl");

  // The compiled package is asked for first, then the source.
  EXPECT_EQ(Questions(), (std::vector<std::string>{kDcpQuestion, kDpkQuestion}));
  EXPECT_EQ(prompts.Count("OpenFile"), 0);
  EXPECT_EQ(Dcp().DCPFileNameEdit->text(), QStringLiteral("C:\\before.dcp"));
  EXPECT_EQ(Dcp().DCPTreeInfo->topLevelItemCount(), 0);
  // Cancel left the view as it was.
  EXPECT_EQ(Dpk().DPKSourceView->lines(), QStringList{"previous"});

  // A second load resets the view and asks again, once each.
  prompts.Forget();
  form->LoadPackageModule("C:\\Pk\\vcl30.dpl");
  EXPECT_EQ(Questions().size(), 2u);
  EXPECT_TRUE(Dpk().DPKSourceView->lines().isEmpty());
}

TEST_F(SourcePagesTest, OkOpensTheDialogsAndTheChosenFilesAreUsed) {
  prefix.WriteFile("C:\\Elsewhere\\other.dcp", Vcl30Dcp().Build());
  prefix.WriteText("C:\\Elsewhere\\src.dpk", "package src;\r\nend.\r\n");
  prompts.answers = {PromptResult::Ok, PromptResult::Ok};
  prompts.fileAnswers = {std::string("C:\\Elsewhere\\other.dcp"),
                         std::string("C:\\Elsewhere\\src.dpk")};
  form->LoadPackageModule("C:\\Pk\\vcl30.dpl");

  ASSERT_EQ(prompts.dialogs.size(), 2u);
  EXPECT_EQ(prompts.dialogs[0].title, "Select Source DCP...");
  EXPECT_EQ(prompts.dialogs[0].filter, "Compiled Package (*.DCP)|*.DCP");
  EXPECT_EQ(prompts.dialogs[1].filter, "Package Source (*.DPK)|*.dpk");
  EXPECT_EQ(prompts.dialogs[1].fileName, "*.dpk");
  EXPECT_EQ(Dcp().DCPFileNameEdit->text(), QStringLiteral("C:\\Elsewhere\\other.dcp"));
  EXPECT_EQ(Dcp().DCPTreeInfo->topLevelItemCount(), 3);
  EXPECT_EQ(Dpk().DPKSourceView->lines(), (QStringList{"package src;", "end."}));
}

TEST_F(SourcePagesTest, OkThenCancelledDialogSkipsTheStep) {
  prompts.answers = {PromptResult::Ok, PromptResult::Ok};
  form->LoadPackageModule("C:\\Pk\\vcl30.dpl");
  EXPECT_EQ(prompts.Count("OpenFile"), 2);
  EXPECT_EQ(Dcp().DCPTreeInfo->topLevelItemCount(), 0);
  EXPECT_TRUE(Dcp().DCPFileNameEdit->text().isEmpty());
  EXPECT_TRUE(Dpk().DPKSourceView->lines().isEmpty());
  // The load itself went through to the end.
  EXPECT_TRUE(form->Module->Loaded());
}

TEST_F(SourcePagesTest, UnreadableChosenSourceIsReportedAndTheViewKept) {
  prefix.WriteFile("C:\\Pk\\vcl30.dcp", Vcl30Dcp().Build());
  prefix.WriteText("C:\\vcl30.dpk", "first\r\n");
  form->LoadPackageModule("C:\\Pk\\vcl30.dpl");
  // Later the current directory moves; "View" asks and the chosen file is gone.
  prefix.System().SetCurrentDirectory("C:\\Pk");
  prompts.answers = {PromptResult::Ok};
  prompts.fileAnswers = {std::string("C:\\gone.dpk")};
  Dpk().DPKViewBtn->click();
  EXPECT_EQ(Questions(), std::vector<std::string>{kDpkQuestion});
  EXPECT_EQ(prompts.Count("Error", "Cannot open file C:\\gone.dpk"), 1);
  EXPECT_EQ(Dpk().DPKSourceView->lines(), QStringList{"first"});
}

TEST_F(SourcePagesTest, UpperCaseExtensionCountsAsAPackageLibrary) {
  prefix.WriteFile("C:\\Pk\\VCL30X.DPL", FixtureBytes("vcl30.dpl"));
  prefix.WriteFile("C:\\Pk\\vcl30x.dcp", Vcl30Dcp().Build());
  prefix.WriteText("C:\\VCL30X.dpk", "package VCL30X;\r\n");
  form->LoadPackageModule("C:\\Pk\\VCL30X.DPL");
  EXPECT_TRUE(Questions().empty());
  EXPECT_EQ(Dcp().DCPTreeInfo->topLevelItemCount(), 3);
  EXPECT_EQ(Dpk().DPKSourceView->lines(), QStringList{"package VCL30X;"});
}

TEST_F(SourcePagesTest, OtherModulesNeverAskForSources) {
  Dpk().DPKSourceView->setText(QStringLiteral("kept"));
  form->LoadPackageModule("C:\\Pk\\cbmath35.bpl");
  EXPECT_TRUE(Questions().empty());
  EXPECT_EQ(prompts.Count("WarningOk", gui::kNotDelphi3PackageWarning), 1);
  EXPECT_FALSE(form->PageEnabled(form->DPKTabSheet));
  // "View" on a module that is no .dpl does nothing.
  prompts.Forget();
  Dpk().DPKViewBtnClick();
  EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(SourcePagesTest, DamagedCompiledPackageDoesNotStopTheLoad) {
  std::vector<uint8_t> bytes = Vcl30Dcp().Build();
  bytes.resize(40);
  prefix.WriteFile("C:\\Pk\\vcl30.dcp", bytes);
  prefix.WriteText("C:\\vcl30.dpk", "package vcl30;\r\n");
  form->LoadPackageModule("C:\\Pk\\vcl30.dpl");
  EXPECT_EQ(prompts.Count("Error"), 1);
  EXPECT_EQ(Dcp().DCPTreeInfo->topLevelItemCount(), 0);
  EXPECT_EQ(Dcp().DCPStatusBar->panelText(0), QStringLiteral("Units:"));
  // The rest of the load ran: the source is shown.
  EXPECT_EQ(Dpk().DPKSourceView->lines(), QStringList{"package vcl30;"});
}

TEST_F(SourcePagesTest, ExtractFromDPLWritesTheCoreTextAndShowsIt) {
  prefix.WriteText("C:\\vcl30.dpk", "old\r\n");
  prefix.WriteFile("C:\\Pk\\vcl30.dcp", Vcl30Dcp().Build());
  form->LoadPackageModule("C:\\Pk\\vcl30.dpl");
  prompts.Forget();
  prefix.WriteText("C:\\Out\\vcl30.DPK", "to be replaced");
  prompts.fileAnswers = {std::string("C:\\Out\\vcl30.DPK")};
  Dpk().DPKFromDPLBtn->click();

  ASSERT_EQ(prompts.dialogs.size(), 1u);
  const FileDialogSpec& save = prompts.dialogs[0];
  EXPECT_EQ(save.title, "Save Package Source File...");
  EXPECT_EQ(save.filter, "Package Source (*.DPK)|*.DPK");
  EXPECT_EQ(save.fileName, "vcl30.DPK");
  EXPECT_TRUE(save.overwritePrompt);
  EXPECT_EQ(prompts.Count("Error"), 0);

  const std::string written = HostText(prefix.Host("C:\\Out\\vcl30.DPK"));
  // The page's boxes are what the writer reads: run-only, implicit build,
  // the description box, SysInit and the package's own unit left out.
  std::string expected;
  BuildDPKFromDPL(*form->Module, GeneralInfoChoicesFromFlags(form->Module->Flags), expected);
  EXPECT_EQ(written, expected);
  EXPECT_EQ(written.rfind("// Generated by Kestrix v00.7.1\r\n", 0), 0u);
  EXPECT_NE(written.find("// Source File: C:\\Pk\\vcl30.dpl\r\n"), std::string::npos);
  EXPECT_NE(written.find("package vcl30;\r\n"), std::string::npos);
  EXPECT_NE(written.find("{$IMAGEBASE $40000000}\r\n\r\n"
                         "{$DESCRIPTION 'Borland Visual Component Library' }\r\n"
                         "{$RUNONLY}\r\n{$IMPLICITBUILD ON}\r\n\r\ncontains\r\n System,\r\n"
                         " Windows,\r\n"),
            std::string::npos);
  EXPECT_NE(written.find(" Dialogs;\r\n\r\nend.\r\n"), std::string::npos);
  EXPECT_EQ(written.find("SysInit"), std::string::npos);
  EXPECT_EQ(written.find("requires"), std::string::npos);

  const QStringList shown = Dpk().DPKSourceView->lines();
  ASSERT_FALSE(shown.isEmpty());
  EXPECT_EQ(shown.first(), QStringLiteral("// Generated by Kestrix v00.7.1"));
  EXPECT_EQ(shown.last(), QStringLiteral("end."));
}

TEST_F(SourcePagesTest, ExtractFromDPLCancelledOrFailingWritesNothing) {
  prefix.WriteFile("C:\\Pk\\vcl30.dcp", Vcl30Dcp().Build());
  prefix.WriteText("C:\\vcl30.dpk", "shown\r\n");
  form->LoadPackageModule("C:\\Pk\\vcl30.dpl");
  Dpk().DPKFromDPLBtn->click();  // the dialog is cancelled
  EXPECT_EQ(prompts.Count("SaveFile"), 1);
  EXPECT_EQ(Dpk().DPKSourceView->lines(), QStringList{"shown"});

  // A drive that does not exist: the file stream's error, the view kept.
  prompts.fileAnswers = {std::string("Q:\\x\\vcl30.DPK")};
  Dpk().DPKFromDPLBtn->click();
  ASSERT_EQ(prompts.Count("Error"), 1);
  EXPECT_EQ(prompts.asked.back().text, "Cannot create file Q:\\x\\vcl30.DPK");
  EXPECT_EQ(Dpk().DPKSourceView->lines(), QStringList{"shown"});
}

TEST_F(SourcePagesTest, ExtractFromDCPNeedsNoModuleAndNamesThePackageAfterTheTarget) {
  prefix.WriteFile("C:\\Dcp\\vcl30.dcp", Vcl30Dcp().Build());
  EXPECT_TRUE(Dpk().DPKFromDCPBtn->isEnabled());
  prompts.fileAnswers = {std::string("C:\\Dcp\\vcl30.dcp"), std::string("C:\\Out\\mine.dpk")};
  Dpk().DPKFromDCPBtn->click();

  ASSERT_EQ(prompts.dialogs.size(), 2u);
  EXPECT_EQ(prompts.dialogs[0].title, "Select Source DCP...");
  EXPECT_EQ(prompts.dialogs[0].fileName, ".DCP");
  EXPECT_EQ(prompts.dialogs[1].title, "Save Package Source File...");
  EXPECT_EQ(prompts.dialogs[1].fileName, "vcl30.DPK");

  const std::string written = HostText(prefix.Host("C:\\Out\\mine.dpk"));
  std::string expected;
  BuildDPKFromDCP("C:\\Dcp\\vcl30.dcp", "C:\\Out\\mine.dpk", expected);
  EXPECT_EQ(written, expected);
  EXPECT_NE(written.find("package mine;\r\n\r\n{$R vcl30.res}\r\n{$ALIGN ON}\r\n"),
            std::string::npos);
  EXPECT_NE(written.find("contains\r\n System,\r\n Classes;\r\n"), std::string::npos);
  EXPECT_EQ(Dpk().DPKSourceView->lines().value(7), QStringLiteral("package mine;"));
}

TEST_F(SourcePagesTest, ExtractFromDCPPresetsTheLoadedModulesName) {
  prefix.WriteFile("C:\\Pk\\vcl30.dcp", Vcl30Dcp().Build());
  prefix.WriteText("C:\\vcl30.dpk", "x\r\n");
  form->LoadPackageModule("C:\\Pk\\vcl30.dpl");
  prompts.Forget();
  prompts.dialogs.clear();
  Dpk().DPKFromDCPBtn->click();
  ASSERT_EQ(prompts.dialogs.size(), 1u);
  EXPECT_EQ(prompts.dialogs[0].fileName, "vcl30.DCP");
}

TEST_F(SourcePagesTest, ExtractFromDamagedDCPWritesNothingAndKeepsTheView) {
  std::vector<uint8_t> bytes = Vcl30Dcp().Build();
  bytes.resize(bytes.size() / 2);
  prefix.WriteFile("C:\\Dcp\\bad.dcp", bytes);
  Dpk().DPKSourceView->setText(QStringLiteral("kept"));
  prompts.fileAnswers = {std::string("C:\\Dcp\\bad.dcp"), std::string("C:\\Out\\bad.dpk")};
  Dpk().DPKFromDCPBtn->click();
  EXPECT_EQ(prompts.Count("Error"), 1);
  EXPECT_FALSE(fs::exists(prefix.Host("C:\\Out\\bad.dpk")));
  EXPECT_EQ(Dpk().DPKSourceView->lines(), QStringList{"kept"});
}

// The source view's colours: what the core's scanner decides, painted at
// the right document positions.
class SourceViewColors : public ::testing::Test {
 protected:
  gui::TColorTextView view;
  QColor At(const QString& needle, int from = 0, int offset = 0) {
    const int pos = view.toPlainText().indexOf(needle, from);
    EXPECT_GE(pos, 0) << needle.toStdString();
    return view.colorAt(pos + offset);
  }
};

const QColor kGreen(0, 128, 0), kGray(128, 128, 128), kSilver(192, 192, 192), kBlue(0, 0, 255);

TEST_F(SourceViewColors, GeneratedSourceLines) {
  view.setLines({"// Generated by Kestrix v00.7.1", "//        Date: 3/15/2023", "",
                 "package mine;", "", "{$ALIGN ON}", "{$IMAGEBASE $00400000}", "",
                 "{$DESCRIPTION 'It''s mine' }", "requires", " vcl30;", "", "end."});
  EXPECT_EQ(At("// Generated"), kGray);
  EXPECT_EQ(At("v00.7.1"), kGray);
  EXPECT_EQ(At("Date:", 0, 4), kGray);
  // The image base line is green as a whole, braces included.
  for (int i = 0; i < QStringLiteral("{$IMAGEBASE $00400000}").size(); ++i)
    EXPECT_EQ(At("{$IMAGEBASE", 0, i), kGreen) << i;
  EXPECT_EQ(At("{$DESCRIPTION 'It", 0, 16), kGreen);
  EXPECT_EQ(At("package"), kBlue);
  EXPECT_EQ(At("package", 0, 6), kBlue);
  EXPECT_FALSE(At("mine;").isValid());
  EXPECT_EQ(At("requires"), kBlue);
  EXPECT_FALSE(At("vcl30;").isValid());
  EXPECT_EQ(At("end."), kBlue);
  EXPECT_FALSE(At("end.", 0, 3).isValid());
}

TEST_F(SourceViewColors, CommentsSpanLinesAndShiftNothing) {
  // A brace comment over two lines, a star comment, a keyword after a
  // character outside the code page and after a surrogate pair.
  view.setText(
      QString::fromUtf8("{ f\xC3\xBCr\n  uses }\nunit {* note *} x;\n"
                        "\xE2\x82\xAC begin \xF0\x9F\x98\x80 end"));
  EXPECT_EQ(At("{ f"), kGray);
  EXPECT_EQ(At("uses"), kGray);
  EXPECT_EQ(At("uses }", 0, 5), kGray);
  EXPECT_EQ(At("unit"), kBlue);
  EXPECT_EQ(At("{* note"), kSilver);
  EXPECT_EQ(At("note"), kSilver);
  EXPECT_FALSE(At(" x;", 0, 1).isValid());
  EXPECT_FALSE(At("begin").isValid());  // not in the list
  EXPECT_EQ(At(" end", 0, 1), kBlue);
  EXPECT_EQ(At(" end", 0, 3), kBlue);
  // Replacing the text colours it anew.
  view.setText(QStringLiteral("uses"));
  EXPECT_EQ(view.colorAt(0), kBlue);
}

}  // namespace
}  // namespace kx
