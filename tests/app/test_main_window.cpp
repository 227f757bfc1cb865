// The main window driven as a user drives it: start-up and shut-down with
// and without Delphi 3, the load flow, page switching and lazy filling.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <QApplication>
#include <QTabBar>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/DPKPage.h"
#include "app/Delphi3Page.h"
#include "app/ExportPage.h"
#include "app/GenInfoPage.h"
#include "app/ImportPage.h"
#include "app/Main.h"
#include "app/ResourcesPage.h"
#include "app/StructurePage.h"
#include "gui_test_support.h"
#include "platform/activity_log.h"
#include "platform/files.h"
#include "platform/formats.h"
#include "platform/strutil.h"
#include "platform/system.h"
#include "support/demo_prefix.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

namespace fs = std::filesystem;
using gui::TPackageForm;

constexpr const char* kStartPath = "C:\\windows;C:\\windows\\command";

class MainWindowTest : public ::testing::Test {
 protected:
  void TearDown() override { form.reset(); }

  // A Delphi 3 installation in HKEY_CURRENT_USER with the given library
  // search path and two known packages.
  void InstallDelphi3(const std::string& searchPath) {
    std::string escaped;
    for (char c : searchPath) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    const std::string reg =
        "WINE REGISTRY Version 2\n"
        ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n\n"
        "[Software\\\\Borland\\\\Delphi\\\\3.0] 1796758398\n#time=1d2f5a1c3b4e5f6\n"
        "\"RootDir\"=\"C:\\\\D3\"\n\n"
        "[Software\\\\Borland\\\\Delphi\\\\3.0\\\\Known Packages] 1796758398\n"
        "#time=1d2f5a1c3b4e5f6\n"
        "\"C:\\\\D3\\\\Bin\\\\dclstd30.dpl\"=\"Delphi Standard Components\"\n"
        "\"C:\\\\D3\\\\Bin\\\\dclsmp30.dpl\"=\"Delphi Sample Components\"\n\n"
        "[Software\\\\Borland\\\\Delphi\\\\3.0\\\\Library] 1796758398\n#time=1d2f5a1c3b4e5f6\n"
        "\"SearchPath\"=\"" +
        escaped + "\"\n";
    std::ofstream(prefix.Root() / "user.reg", std::ios::binary | std::ios::trunc) << reg;
  }

  void Start() {
    form = std::make_unique<TPackageForm>(prompts);
    form->SetProcessMessages([] { QApplication::processEvents(); });
  }

  // A package library with a PACKAGEINFO (and a DESCRIPTION when given),
  // optionally padded with trailing bytes to an exact file size.
  void WritePackage(const std::string& windowsPath, uint32_t flags,
                    const std::vector<std::string>& requiresList,
                    const std::vector<std::pair<uint8_t, std::string>>& contains,
                    const std::string& description = {}, size_t fileSize = 0) {
    test::PeSpec spec = test::PackageSpec(flags, requiresList, contains, description);
    spec.exportName = ExtractFileName(windowsPath);
    std::vector<uint8_t> image = test::BuildPe(spec);
    if (fileSize > image.size()) image.resize(fileSize, 0);
    prefix.WriteFile(windowsPath, image);
  }

  void WriteStandardPackages() {
    WritePackage("C:\\windows\\system32\\vcl30.dpl", 0x40000004, {}, {{0x10, "Classes"}},
                 "Visual Component Library");
    WritePackage("C:\\windows\\system32\\vclx30.dpl", 0x40000004, {"vcl30"}, {{0x10, "Grids"}},
                 "Extra components");
  }

  // Picks the file in the open dialog (the ellipsis of FileNameEdit).
  void LoadViaDialog(const std::string& windowsPath) {
    prompts.fileAnswers.push_back(windowsPath);
    form->GenInfoTabSheet->FileNameEdit->button()->click();
  }

  std::string Caption() const { return gui::ToCore(form->windowTitle()); }
  static std::string Text(const QString& s) { return gui::ToCore(s); }
  std::string Panel(gui::TStatusPanels* bar, int i) const { return Text(bar->panelText(i)); }

  test::TempPrefix prefix;
  test::ScriptedPrompts prompts;
  std::unique_ptr<TPackageForm> form;
};

// --- start-up and shut-down ------------------------------------------------

TEST_F(MainWindowTest, StartupWithoutDelphi3WarnsOnceAndLeavesPathAlone) {
  Sys().Env().Set("PATH", kStartPath);
  Start();
  ASSERT_EQ(prompts.asked.size(), 1u);
  EXPECT_EQ(prompts.Count("WarningOk",
                          "Kestrix didn't found Delphi3.\r\n"
                          "Some features will be not available !"),
            1);
  EXPECT_FALSE(form->Delphi3Installed);
  EXPECT_FALSE(form->PageEnabled(form->SystemTabSheet));
  EXPECT_EQ(*Sys().Env().Get("PATH"), kStartPath);
  EXPECT_EQ(Caption(), "Kestrix v00.7.1 for Delphi3");
  EXPECT_EQ(Text(gui::ApplicationTitle()), "Kestrix v00.7.1 for Delphi3");
  EXPECT_EQ(form->ActivePage(), form->GenInfoTabSheet);
  EXPECT_TRUE(form->ExportsPending);
  EXPECT_TRUE(form->ResourcesPending);
  EXPECT_TRUE(form->SystemInfoPending);
  EXPECT_FALSE(form->Busy);
  EXPECT_TRUE(form->KnownPackNames.empty());
  EXPECT_TRUE(form->StdRunTimePackages.empty());
  // A disabled page can still be selected; its controls do not respond.
  form->SetActivePage(form->SystemTabSheet);
  EXPECT_EQ(form->ActivePage(), form->SystemTabSheet);
  form.reset();
  EXPECT_EQ(*Sys().Env().Get("PATH"), kStartPath);
}

TEST_F(MainWindowTest, StartupWithDelphi3ExtendsPathAndCloseRestoresIt) {
  InstallDelphi3("D:\\D3\\LIB");
  Sys().Env().Set("PATH", kStartPath);
  Start();
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_TRUE(form->Delphi3Installed);
  EXPECT_TRUE(form->PageEnabled(form->SystemTabSheet));
  EXPECT_EQ(*Sys().Env().Get("PATH"),
            "C:\\windows\\system32;C:\\windows;C:\\windows\\command;D:\\D3\\LIB");
  EXPECT_EQ(form->OriginalPath, kStartPath);
  EXPECT_EQ(form->DelphiSearchPath, "D:\\D3\\LIB");
  EXPECT_EQ(form->KnownPackNames,
            (std::vector<std::string>{"C:\\D3\\Bin\\dclstd30.dpl", "C:\\D3\\Bin\\dclsmp30.dpl"}));
  EXPECT_EQ(form->KnownPackDescriptions,
            (std::vector<std::string>{"Delphi Standard Components", "Delphi Sample Components"}));
  EXPECT_EQ(form->StdRunTimePackages.size(), 13u);
  EXPECT_EQ(form->StdDesignTimePackages.size(), 13u);
  EXPECT_TRUE(form->SystemInfoPending);
  form.reset();
  EXPECT_EQ(*Sys().Env().Get("PATH"), kStartPath);
}

TEST_F(MainWindowTest, FailedPathExpansionIsSilentAndCloseKeepsPath) {
  InstallDelphi3("D:\\D3\\LIB");
  Sys().Env().Remove("PATH");  // "Error retrieving path!"
  Start();
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_TRUE(form->Delphi3Installed);
  EXPECT_TRUE(form->PageEnabled(form->SystemTabSheet));
  // The library search path was read before PATH failed, and is kept.
  EXPECT_EQ(form->DelphiSearchPath, "D:\\D3\\LIB");
  EXPECT_FALSE(Sys().Env().Get("PATH").has_value());
  Sys().Env().Set("PATH", kStartPath);  // set later by someone else
  form.reset();
  EXPECT_EQ(*Sys().Env().Get("PATH"), kStartPath);
}

TEST_F(MainWindowTest, WholeRunWritesTheLogOnlyWhenBuiltWithIt) {
  WriteStandardPackages();
  Start();
  form->LoadPackageModule("C:\\windows\\system32\\vclx30.dpl");
  form.reset();
  const fs::path log = prefix.Host("C:\\Kestrix.log");
  if (!LoggingEnabled) {
    EXPECT_FALSE(fs::exists(log));
    return;
  }
  const std::vector<uint8_t> bytes = test::ReadHostFile(log);
  const std::string text(bytes.begin(), bytes.end());
  ASSERT_TRUE(text.ends_with("\r\n"));
  std::vector<std::string> lines;
  for (size_t pos = 0; pos < text.size();) {
    const size_t end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    lines.push_back(text.substr(pos, end - pos));
    ASSERT_EQ(lines.back().find('\n'), std::string::npos);
    pos = end + 2;
  }
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front().rfind("*** Log Started: ", 0), 0u);
  EXPECT_EQ(lines.back().rfind("*** Log Closed: ", 0), 0u);
  EXPECT_EQ(lines[1], "*** Initailizing Form...");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "*** Delphi3 is not installed!"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "** Shrinking Path..."), lines.end());
}

TEST_F(MainWindowTest, AboutShowsOnFirstActivationOnlyAndFromItsButton) {
  Start();
  prompts.Forget();
  form->show();
  form->activateWindow();
  for (int i = 0; i < 5 && prompts.Count("Message") == 0; ++i) QApplication::processEvents();
  ASSERT_EQ(prompts.Count("Message"), 1);
  EXPECT_EQ(prompts.asked[0].text.rfind("Kestrix v00.7.1 for Delphi3\r\n", 0), 0u);
  EXPECT_FALSE(form->FirstActivation);
  form->AboutBtn->click();
  EXPECT_EQ(prompts.Count("Message"), 2);
  EXPECT_EQ(prompts.asked[1].text, prompts.asked[0].text);
}

// --- the load flow ---------------------------------------------------------

TEST_F(MainWindowTest, LoadingADplFillsGeneralInfo) {
  WriteStandardPackages();
  WritePackage("C:\\pk\\mypack.dpl", 0x40000002, {"vclx30", "vcl30"},
               {{0x01, "MyPack"}, {0x1C, "UnitA"}, {0x00, "UnitB"}}, "My \"test\" package",
               1234567);
  Start();
  prompts.Forget();
  LoadViaDialog("C:\\pk\\mypack.dpl");
  ASSERT_EQ(prompts.dialogs.size(), 1u);
  EXPECT_EQ(prompts.dialogs[0].title, "Open Package...");
  EXPECT_EQ(prompts.dialogs[0].filter,
            "Delphi v3 Package (*.DPL)|*.DPL|C++Builder v3 Package (*.BPL)|*.BPL|Dynamic Link "
            "Library (*.DLL)|*.DLL|Windows Executable (*.EXE)|*.EXE|All Files (*.*)|*.*");
  EXPECT_TRUE(prompts.dialogs[0].hideReadOnly);
  EXPECT_EQ(prompts.Count("Error"), 0) << prompts.asked.back().text;
  EXPECT_EQ(prompts.Count("WarningOk"), 0);

  gui::TGenInfoPage* p = form->GenInfoTabSheet;
  EXPECT_EQ(Caption(), "Kestrix v00.7.1 - \"C:\\pk\\mypack.dpl\"");
  EXPECT_EQ(Text(p->FileNameEdit->text()), "C:\\pk\\mypack.dpl");
  EXPECT_EQ(Text(p->DescriptionEdit->text()), "My \"test\" package");
  EXPECT_EQ(Text(p->PackUsageCombo->currentText()), "Design Time");
  EXPECT_EQ(Text(p->PackBuildCombo->currentText()), "Always (Implicit)");
  EXPECT_EQ(Text(p->PEModuleTypeCombo->currentText()), "Package DLL");
  ASSERT_EQ(p->ContainListBox->count(), 3);
  EXPECT_EQ(Text(p->ContainListBox->item(0)->text()), "MyPack");
  EXPECT_EQ(Text(p->ContainListBox->item(1)->text()), "UnitA");
  EXPECT_EQ(Text(p->ContainListBox->item(2)->text()), "UnitB");
  ASSERT_EQ(p->RequireListBox->count(), 2);
  EXPECT_EQ(Text(p->RequireListBox->item(0)->text()), "vcl30");
  EXPECT_EQ(Text(p->RequireListBox->item(1)->text()), "vclx30");
  EXPECT_FALSE(p->FindReqDPLBtn->isEnabled());
  EXPECT_FALSE(p->LoadReqDPLBtn->isEnabled());

  EXPECT_EQ(Panel(p->GenInfoStatusBar, 0), "File Size: 1,234,567 bytes");
  const std::optional<double> date = FileDateTime("C:\\pk\\mypack.dpl");
  ASSERT_TRUE(date.has_value());
  EXPECT_EQ(Panel(p->GenInfoStatusBar, 1), "File Date: " + FormatShortDate(*date));
  EXPECT_EQ(Panel(p->GenInfoStatusBar, 2), "File Time: " + FormatLongTime(*date));

  EXPECT_TRUE(form->PageEnabled(form->ClassesTabSheet));
  EXPECT_TRUE(form->PageEnabled(form->DPKTabSheet));
  EXPECT_TRUE(form->DPKTabSheet->DPKViewBtn->isEnabled());
  EXPECT_TRUE(form->DPKTabSheet->DPKFromDPLBtn->isEnabled());
  EXPECT_NE(form->Module->ImageBase, 0u);
  EXPECT_NE(form->Module->ImportTable + form->Module->FunctionTable, 0u);
}

TEST_F(MainWindowTest, ThousandsSeparatorComesFromTheRegionalSettings) {
  WritePackage("C:\\pk\\big.dpl", 0x40000004, {}, {{0x10, "Big"}}, {}, 1234567);
  Sys().Regional().thousandSeparator = '.';
  Start();
  form->LoadPackageModule("C:\\pk\\big.dpl");
  EXPECT_EQ(Panel(form->GenInfoTabSheet->GenInfoStatusBar, 0), "File Size: 1.234.567 bytes");
  // No DESCRIPTION resource.
  EXPECT_EQ(Text(form->GenInfoTabSheet->DescriptionEdit->text()), "{no description}");
}

TEST_F(MainWindowTest, CancellingTheOpenDialogLoadsNothing) {
  Start();
  prompts.Forget();
  form->GenInfoTabSheet->FileNameEdit->button()->click();
  EXPECT_EQ(prompts.Count("OpenFile"), 1);
  EXPECT_EQ(prompts.asked.size(), 1u);
  EXPECT_FALSE(form->Module->Loaded());
  EXPECT_EQ(Caption(), "Kestrix v00.7.1 for Delphi3");
}

class NonDplLoadTest : public MainWindowTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(NonDplLoadTest, WarnsAndDisablesStructureAndDpk) {
  const std::string path = std::string("C:\\pk\\other") + GetParam();
  WritePackage("C:\\pk\\first.dpl", 0x40000004, {}, {{0x10, "First"}});
  WritePackage(path, 0x40000004, {}, {{0x10, "Other"}}, "Not a Delphi 3 package");
  Start();
  form->LoadPackageModule("C:\\pk\\first.dpl");
  prompts.Forget();
  LoadViaDialog(path);
  EXPECT_EQ(prompts.Count("Error"), 0);
  EXPECT_EQ(prompts.Count("WarningOk",
                          "This is not a Delphi3 package.\r\n"
                          "Some powerful features will be not available!"),
            1);
  EXPECT_TRUE(form->Module->Loaded());
  EXPECT_EQ(Caption(), "Kestrix v00.7.1 - \"" + path + "\"");
  EXPECT_FALSE(form->PageEnabled(form->ClassesTabSheet));
  EXPECT_FALSE(form->PageEnabled(form->DPKTabSheet));
  EXPECT_TRUE(form->PageEnabled(form->ExportTabSheet));
  // The export tables are read all the same.
  EXPECT_NE(form->Module->ImageBase, 0u);
  // A .dpl loaded afterwards enables both again, without a warning.
  prompts.Forget();
  form->LoadPackageModule("C:\\pk\\first.dpl");
  // The .dcp and .dpk look-ups may ask to locate a file; nothing else.
  EXPECT_EQ(prompts.Count("Error") + prompts.Count("WarningOk"), 0);
  EXPECT_TRUE(form->PageEnabled(form->ClassesTabSheet));
  EXPECT_TRUE(form->PageEnabled(form->DPKTabSheet));
}

INSTANTIATE_TEST_SUITE_P(Extensions, NonDplLoadTest, ::testing::Values(".bpl", ".dll", ".DLL"));

TEST_F(MainWindowTest, FailedLoadShowsTheErrorResetsPagesAndKeepsCaption) {
  WritePackage("C:\\pk\\good.dpl", 0x40000006, {"vcl30"}, {{0x1C, "GoodUnit"}}, "Good");
  Start();
  LoadViaDialog("C:\\pk\\good.dpl");
  ASSERT_TRUE(form->Module->Loaded());
  gui::TGenInfoPage* p = form->GenInfoTabSheet;
  p->ContainListBox->setCurrentRow(0);
  ASSERT_TRUE(p->WeakUnitCheck->isChecked());
  p->RequireListBox->setCurrentRow(0);
  ASSERT_TRUE(p->LoadReqDPLBtn->isEnabled());
  const std::string caption = Caption();
  prompts.Forget();

  LoadViaDialog("C:\\pk\\missing.dpl");
  ASSERT_EQ(prompts.Count("Error"), 1);
  const std::string& error = prompts.asked.back().text;
  EXPECT_EQ(error.rfind("Can't load package C:\\pk\\missing.dpl.\r\n", 0), 0u) << error;
  EXPECT_FALSE(form->Module->Loaded());
  EXPECT_EQ(Caption(), caption);
  EXPECT_EQ(Text(p->FileNameEdit->text()), "C:\\pk\\good.dpl");
  // The package pages are reset.
  EXPECT_EQ(p->ContainListBox->count(), 0);
  EXPECT_EQ(p->RequireListBox->count(), 0);
  EXPECT_FALSE(p->FindReqDPLBtn->isEnabled());
  EXPECT_FALSE(p->LoadReqDPLBtn->isEnabled());
  EXPECT_EQ(p->PackUsageCombo->currentIndex(), 0);
  EXPECT_EQ(p->PackBuildCombo->currentIndex(), 0);
  EXPECT_EQ(p->PEModuleTypeCombo->currentIndex(), 0);
  EXPECT_FALSE(p->WeakUnitCheck->isChecked());
  EXPECT_FALSE(p->WeakPackageUnitCheck->isChecked());
  EXPECT_EQ(Panel(p->GenInfoStatusBar, 0), "File Size :");
  EXPECT_EQ(Panel(p->GenInfoStatusBar, 1), "File Date :");
  EXPECT_EQ(Panel(p->GenInfoStatusBar, 2), "File Time :");
  EXPECT_EQ(Panel(form->ExportTabSheet->ExpFuncStatusBar, 0), "Exported Functions: -");
  EXPECT_EQ(Panel(form->ExportTabSheet->ExpFuncStatusBar, 1), "BaseAddress :");
  EXPECT_EQ(Panel(form->ExportTabSheet->ExpFuncStatusBar, 2), "ImageBase :");
  EXPECT_EQ(Panel(form->ImportTabSheet->ImpFuncStatusBar, 0), "Imported Modules: -");
  EXPECT_EQ(Panel(form->ImportTabSheet->ImpFuncStatusBar, 1), "Imported Packages: -");
  EXPECT_EQ(Panel(form->ResourcesTabSheet->ResStatusBar, 0), "Resource Directories: -");
  EXPECT_FALSE(form->ImportTabSheet->LoadImportedModuleBtn->isEnabled());
  EXPECT_TRUE(form->ExportsPending);
  EXPECT_TRUE(form->ResourcesPending);
}

TEST_F(MainWindowTest, ALoadWithoutAPreviousModuleResetsNothing) {
  Start();
  prompts.Forget();
  LoadViaDialog("C:\\pk\\missing.dpl");
  EXPECT_EQ(prompts.Count("Error"), 1);
  // The start-up texts stay: nothing was loaded before.
  EXPECT_EQ(Panel(form->GenInfoTabSheet->GenInfoStatusBar, 0), "File Size:");
  EXPECT_EQ(Panel(form->ExportTabSheet->ExpFuncStatusBar, 0), "Exported Functions:");
  EXPECT_EQ(Panel(form->ResourcesTabSheet->ResStatusBar, 0), "Resource Directories:");
}

// --- page switching --------------------------------------------------------

TEST_F(MainWindowTest, BusyRefusesPageChangesByMouseKeyboardAndCode) {
  Start();
  form->show();
  QApplication::processEvents();
  QTabBar* bar = form->MainPageControl->tabBar();
  form->Busy = true;

  test::Click(bar, bar->tabRect(2).center());
  EXPECT_EQ(form->MainPageControl->currentIndex(), 0);
  EXPECT_EQ(bar->currentIndex(), 0);
  EXPECT_EQ(form->ActivePage(), form->GenInfoTabSheet);
  EXPECT_TRUE(form->GenInfoTabSheet->isVisible());
  EXPECT_FALSE(form->ExportTabSheet->isVisible());

  test::PressKey(form->MainPageControl, Qt::Key_Tab, Qt::ControlModifier);
  test::PressKey(bar, Qt::Key_Right);
  EXPECT_EQ(form->MainPageControl->currentIndex(), 0);
  EXPECT_EQ(bar->currentIndex(), 0);

  form->SetActivePage(form->ResourcesTabSheet);
  EXPECT_EQ(form->ActivePage(), form->GenInfoTabSheet);
  EXPECT_EQ(bar->currentIndex(), 0);

  form->Busy = false;
  test::PressKey(form->MainPageControl, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(form->ActivePage(), form->ClassesTabSheet);
  test::Click(bar, bar->tabRect(4).center());
  EXPECT_EQ(form->ActivePage(), form->ResourcesTabSheet);
  EXPECT_EQ(bar->currentIndex(), 4);
  EXPECT_TRUE(form->ResourcesTabSheet->isVisible());
}

TEST_F(MainWindowTest, VisitingPackagePagesWithoutAModuleFillsNothing) {
  Start();
  for (QWidget* page :
       std::initializer_list<QWidget*>{form->ExportTabSheet, form->ImportTabSheet,
                                       form->ClassesTabSheet, form->ResourcesTabSheet}) {
    form->SetActivePage(page);
    ASSERT_EQ(form->ActivePage(), page);
  }
  EXPECT_TRUE(form->ExportsPending);
  EXPECT_TRUE(form->ResourcesPending);
  EXPECT_EQ(Panel(form->ExportTabSheet->ExpFuncStatusBar, 0), "Exported Functions:");
  EXPECT_EQ(Panel(form->ExportTabSheet->ExpFuncStatusBar, 1), "BaseAddress:");
  EXPECT_EQ(Panel(form->ExportTabSheet->ExpFuncStatusBar, 2), "ImageBase:");
  EXPECT_EQ(Panel(form->ImportTabSheet->ImpFuncStatusBar, 0), "Imported Modules:");
  EXPECT_EQ(Panel(form->ImportTabSheet->ImpFuncStatusBar, 1), "Imported Packages:");
  EXPECT_EQ(Panel(form->ClassesTabSheet->ClassStatusBar, 0), "Units:");
  EXPECT_EQ(Panel(form->ClassesTabSheet->ClassStatusBar, 1), "Classes:");
  EXPECT_EQ(Panel(form->ResourcesTabSheet->ResStatusBar, 0), "Resource Directories:");
  EXPECT_EQ(form->ExportTabSheet->ExpFuncListView->rowCount(), 0);
}

TEST_F(MainWindowTest, PendingFlagsClearOnFirstVisitAndReturnWithTheNextLoad) {
  WritePackage("C:\\pk\\a.dpl", 0x40000004, {}, {{0x10, "UnitA"}});
  Start();
  form->LoadPackageModule("C:\\pk\\a.dpl");
  EXPECT_TRUE(form->ExportsPending);
  EXPECT_TRUE(form->ResourcesPending);
  form->SetActivePage(form->ImportTabSheet);
  EXPECT_FALSE(form->ExportsPending);
  EXPECT_TRUE(form->ResourcesPending);
  form->SetActivePage(form->ResourcesTabSheet);
  EXPECT_FALSE(form->ResourcesPending);
  form->SetActivePage(form->GenInfoTabSheet);
  form->LoadPackageModule("C:\\pk\\a.dpl");
  EXPECT_TRUE(form->ExportsPending);
  EXPECT_TRUE(form->ResourcesPending);
  form->SetActivePage(form->ClassesTabSheet);
  EXPECT_FALSE(form->ExportsPending);
  EXPECT_TRUE(form->ResourcesPending);
}

// A package whose "Finalize" is missing: it loads, and releasing it fails
// with "Invalid package handle".
void WriteWithoutFinalize(test::TempPrefix& prefix, const std::string& windowsPath) {
  test::PeSpec spec = test::PackageSpec(0x40000004, {}, {{0x10, "NoFin"}}, "",
                                        {{"NoFin.Old@x"}, {"NoFin.Older@x"}});
  std::erase_if(spec.exports, [](const test::PeExport& e) { return e.name == "Finalize"; });
  prefix.WriteFile(windowsPath, test::BuildPe(spec));
}

TEST_F(MainWindowTest, AFailedReleaseStillResetsEveryPageAndTheNextLoadRefillsThem) {
  WriteWithoutFinalize(prefix, "C:\\pk\\nofin.dpl");
  WritePackage("C:\\pk\\good.dpl", 0x40000004, {}, {{0x10, "GoodUnit"}});
  Start();
  LoadViaDialog("C:\\pk\\nofin.dpl");
  ASSERT_TRUE(form->Module->Loaded());
  form->SetActivePage(form->ExportTabSheet);
  form->SetActivePage(form->ClassesTabSheet);
  form->SetActivePage(form->ResourcesTabSheet);
  ASSERT_EQ(form->ExportTabSheet->ExpFuncListView->rowCount(), 3);
  ASSERT_NE(Panel(form->ClassesTabSheet->ClassStatusBar, 0), "Units:");
  form->SetActivePage(form->GenInfoTabSheet);
  prompts.Forget();

  LoadViaDialog("C:\\pk\\good.dpl");
  EXPECT_EQ(prompts.Count("Error", "Invalid package handle"), 1);
  EXPECT_FALSE(form->Module->Loaded());
  // Nothing of the released module is left on any page.
  EXPECT_EQ(form->ExportTabSheet->ExpFuncListView->rowCount(), 0);
  EXPECT_EQ(form->ClassesTabSheet->DPLStructureTreeView->topLevelItemCount(), 0);
  EXPECT_EQ(Panel(form->ClassesTabSheet->ClassStatusBar, 0), "Units:");
  EXPECT_EQ(Panel(form->ClassesTabSheet->ClassStatusBar, 1), "Classes:");
  EXPECT_EQ(form->ImportTabSheet->ImpModuleListView->rowCount(), 0);
  EXPECT_EQ(form->GenInfoTabSheet->ContainListBox->count(), 0);
  EXPECT_TRUE(form->ExportsPending);
  EXPECT_TRUE(form->ResourcesPending);

  // The next load fills every page from the new module.
  prompts.Forget();
  LoadViaDialog("C:\\pk\\good.dpl");
  EXPECT_EQ(prompts.Count("Error"), 0);
  form->SetActivePage(form->ExportTabSheet);
  EXPECT_EQ(form->ExportTabSheet->ExpFuncListView->rowCount(), 2);  // Initialize, Finalize
  EXPECT_EQ(Text(form->GenInfoTabSheet->ContainListBox->item(0)->text()), "GoodUnit");
}

TEST_F(MainWindowTest, PageChangesAndLoadsArrivingDuringALoadWaitForIt) {
  WriteWithoutFinalize(prefix, "C:\\pk\\first.dpl");
  WritePackage("C:\\pk\\second.dpl", 0x40000004, {}, {{0x10, "Second"}});
  Start();
  // The user clicks the Export tab and asks for another package while the
  // first load lets messages run after loading the module.
  int pumps = 0;
  bool nestedLoadRan = false;
  form->SetProcessMessages([&] {
    if (++pumps != 2) return;
    form->SetActivePage(form->ExportTabSheet);
    form->LoadPackageModule("C:\\pk\\second.dpl");
    nestedLoadRan = SameText(form->Module->FileName, "C:\\pk\\second.dpl");
  });
  form->LoadPackageModule("C:\\pk\\first.dpl");
  EXPECT_FALSE(nestedLoadRan);
  EXPECT_TRUE(SameText(form->Module->FileName, "C:\\pk\\first.dpl")) << form->Module->FileName;
  // The page chosen meanwhile shows the first module's exports, read after
  // its tables were.
  EXPECT_EQ(form->ActivePage(), form->ExportTabSheet);
  EXPECT_FALSE(form->ExportsPending);
  EXPECT_EQ(form->ExportTabSheet->ExpFuncListView->rowCount(), 3);
  EXPECT_EQ(Panel(form->ExportTabSheet->ExpFuncStatusBar, 0), "Exported Functions: 3");

  // The queued request runs once the first load is over (releasing the
  // first module reports its missing "Finalize"; the next request loads).
  prompts.Forget();
  for (int i = 0; i < 10 && prompts.Count("Error") == 0; ++i) QApplication::processEvents();
  EXPECT_EQ(prompts.Count("Error", "Invalid package handle"), 1);
  EXPECT_EQ(form->ExportTabSheet->ExpFuncListView->rowCount(), 0);
  // A page shown before a load began waits for the next visit, as ever.
  form->LoadPackageModule("C:\\pk\\second.dpl");
  EXPECT_TRUE(form->ExportsPending);
  form->SetActivePage(form->GenInfoTabSheet);
  form->SetActivePage(form->ExportTabSheet);
  EXPECT_EQ(form->ExportTabSheet->ExpFuncListView->rowCount(), 2);
}

TEST_F(MainWindowTest, OpeningAsAUserFindsThePackageSourceBesideThePackage) {
  WritePackage("C:\\pk\\src.dpl", 0x40000004, {}, {{0x10, "Src"}});
  prefix.WriteText("C:\\pk\\src.dpk", "package src;\r\n\r\nend.\r\n");
  Sys().SetCurrentDirectory("C:\\");
  Start();
  prompts.Forget();
  test::OpenPackageAsUser(*form, prompts, "C:\\pk\\src.dpl");
  EXPECT_EQ(prompts.Count("WarningOkCancel"), 1);  // only the missing src.dcp
  EXPECT_EQ(form->DPKTabSheet->DPKSourceView->lines(), (QStringList{"package src;", "", "end."}));
}

// --- the General Info page's own handlers ----------------------------------

TEST_F(MainWindowTest, SelectingAContainedUnitShowsItsFlags) {
  WritePackage("C:\\pk\\flags.dpl", 0x40000004, {},
               {{0x1C, "Weakling"}, {0x01, "MainOne"}, {0x02, "PackUnit"}, {0x10, "Implicit"}});
  Start();
  form->LoadPackageModule("C:\\pk\\flags.dpl");
  gui::TGenInfoPage* p = form->GenInfoTabSheet;
  const auto checked = [p] {
    std::string s;
    for (QCheckBox* c : {p->MainUnitCheck, p->PackageUnitCheck, p->WeakUnitCheck,
                         p->OrgWeakUnitCheck, p->ImplicitUnitCheck, p->WeakPackageUnitCheck})
      s += c->isChecked() ? '1' : '0';
    return s;
  };
  EXPECT_EQ(checked(), "000000");
  p->ContainListBox->setCurrentRow(0);
  EXPECT_EQ(checked(), "001111");
  p->ContainListBox->setCurrentRow(1);
  EXPECT_EQ(checked(), "100000");
  p->ContainListBox->setCurrentRow(2);
  EXPECT_EQ(checked(), "010001");
  // By mouse as well.
  form->show();
  QApplication::processEvents();
  QListWidget* list = p->ContainListBox;
  test::Click(list->viewport(), list->visualItemRect(list->item(3)).center());
  EXPECT_EQ(list->currentRow(), 3);
  EXPECT_EQ(checked(), "000010");
  // The boxes only display.
  EXPECT_FALSE(p->UnitFlagsGroup->isEnabled());
}

TEST_F(MainWindowTest, LoadingARequiredPackageReplacesTheModule) {
  WriteStandardPackages();
  WritePackage("C:\\pk\\mypack.dpl", 0x40000002, {"vclx30", "vcl30"}, {{0x01, "MyPack"}});
  Start();
  form->LoadPackageModule("C:\\pk\\mypack.dpl");
  gui::TGenInfoPage* p = form->GenInfoTabSheet;
  p->RequireListBox->setCurrentRow(0);  // vcl30
  ASSERT_TRUE(p->LoadReqDPLBtn->isEnabled());
  ASSERT_TRUE(p->FindReqDPLBtn->isEnabled());
  prompts.Forget();
  p->LoadReqDPLBtn->click();
  // The .dcp and .dpk look-ups may ask to locate a file; nothing else.
  EXPECT_EQ(prompts.Count("Error") + prompts.Count("WarningOk"), 0);
  ASSERT_TRUE(form->Module->Loaded());
  EXPECT_TRUE(SameText(form->Module->FileName, "C:\\windows\\system32\\vcl30.dpl"))
      << form->Module->FileName;
  EXPECT_TRUE(SameText(Caption(), "Kestrix v00.7.1 - \"C:\\windows\\system32\\vcl30.dpl\""));
  EXPECT_EQ(Text(p->DescriptionEdit->text()), "Visual Component Library");
  EXPECT_EQ(p->RequireListBox->count(), 0);

  // A double click on a required package loads it too.
  form->LoadPackageModule("C:\\pk\\mypack.dpl");
  form->show();
  QApplication::processEvents();
  QListWidget* list = p->RequireListBox;
  test::DoubleClick(list->viewport(), list->visualItemRect(list->item(1)).center());
  EXPECT_TRUE(SameText(form->Module->FileName, "C:\\windows\\system32\\vclx30.dpl"))
      << form->Module->FileName;
}

TEST_F(MainWindowTest, RequiredPackageUsesTheLoadedModulesExtension) {
  WritePackage("C:\\windows\\system32\\vcl30.bpl", 0x40000004, {}, {{0x10, "Classes"}},
               "Builder library");
  WritePackage("C:\\pk\\mypack.bpl", 0x40000004, {"vcl30"}, {{0x01, "MyPack"}});
  Start();
  form->LoadPackageModule("C:\\pk\\mypack.bpl");
  form->GenInfoTabSheet->RequireListBox->setCurrentRow(0);
  form->GenInfoTabSheet->LoadReqDPLBtn->click();
  ASSERT_TRUE(form->Module->Loaded());
  EXPECT_EQ(form->Module->Kind, mkBPL);
  EXPECT_TRUE(SameText(ExtractFileName(form->Module->FileName), "vcl30.bpl"));
}

TEST_F(MainWindowTest, AFailedRequiredPackageLoadIsOnlyLogged) {
  WritePackage("C:\\pk\\mypack.dpl", 0x40000002, {"absent30"}, {{0x01, "MyPack"}});
  Start();
  form->LoadPackageModule("C:\\pk\\mypack.dpl");
  const std::string caption = Caption();
  form->GenInfoTabSheet->RequireListBox->setCurrentRow(0);
  prompts.Forget();
  form->GenInfoTabSheet->LoadReqDPLBtn->click();
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_FALSE(form->Module->Loaded());
  EXPECT_EQ(form->GenInfoTabSheet->RequireListBox->count(), 0);
  EXPECT_EQ(Caption(), caption);
  form.reset();
  if (LoggingEnabled) {
    const std::vector<uint8_t> log = test::ReadHostFile(prefix.Host("C:\\Kestrix.log"));
    EXPECT_NE(
        std::string(log.begin(), log.end()).find("\r\n! Adding \"absent30.DPL\"...ERROR: \r\n"),
        std::string::npos);
  }
}

TEST_F(MainWindowTest, APackageWithoutRequiresKeepsFindAndLoadDisabled) {
  WritePackage("C:\\pk\\alone.dpl", 0xC0000000, {}, {{0x01, "Alone"}});
  Start();
  form->LoadPackageModule("C:\\pk\\alone.dpl");
  gui::TGenInfoPage* p = form->GenInfoTabSheet;
  EXPECT_EQ(Text(p->PEModuleTypeCombo->currentText()), "Library DLL");
  form->show();
  QApplication::processEvents();
  test::Click(p->RequireListBox->viewport(), QPoint(10, 10));
  p->RequireListBoxClick();
  EXPECT_FALSE(p->FindReqDPLBtn->isEnabled());
  EXPECT_FALSE(p->LoadReqDPLBtn->isEnabled());
}

// A third-party design package whose required packages lie in
// "$(DELPHI)\Lib", which only the library search path reaches (the second
// fixture set): the window's start-up makes it loadable. Like tptrace.dpl,
// it has its description only in PACKAGEOPTIONS.
TEST(MainWindowRealPackages, APackageOnlyTheLibraryPathReachesOpens) {
  if (!fs::exists(fs::path(KX_FIXTURES_DIR) / "real-prefix" / "system.reg"))
    GTEST_SKIP() << "fixtures not built";
  test::DemoPrefixCopy prefix("real-prefix");
  const struct {
    const char* file;
    const char* description;
    int requires_;
  } cases[] = {
      {"C:\\Program Files\\Borland\\Delphi 3\\Lib\\tparrowd.dpl", "Arrow Components (design time)",
       2},
      {"C:\\Apps\\Trace\\tptrace.dpl",
       "Tern's Arrow trace aids (d\u00E9"
       "bogage)",
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    test::ScriptedPrompts prompts;
    TPackageForm form(prompts);
    form.LoadPackageModule(c.file);
    EXPECT_EQ(prompts.Count("Error"), 0) << prompts.asked.back().text;
    EXPECT_EQ(gui::ToCore(form.GenInfoTabSheet->DescriptionEdit->text()), c.description);
    EXPECT_EQ(form.GenInfoTabSheet->RequireListBox->count(), c.requires_);
  }
}

// General Info on prefixes made for other code pages and regions: the
// description whole, the status bar's size, date and time in the prefix's
// formats (Russian: "4 096" with U+00A0, dd.MM.yyyy, HH:mm:ss; Japanese:
// yyyy/M/d, H:mm:ss).
TEST(MainWindowCodePages, GeneralInfoFollowsThePrefixsCodePageAndRegion) {
  if (!fs::exists(fs::path(KX_FIXTURES_DIR) / "cp932-prefix" / "user.reg"))
    GTEST_SKIP() << "fixtures not built";
  const struct {
    const char *prefix, *file, *description, *size, *date, *time;
  } cases[] = {
      {"cp1251-prefix", "C:\\windows\\system32\\vcl30.dpl",
       "Borland Visual Component Library & Packages", "File Size: 5\u00A0120 bytes",
       "File Date: 05.03.2024", "File Time: 14:07:08"},
      {"cp1251-prefix", "C:\\Компоненты\\rusrep.dpl", "Компоненты отчётов «Ёлка»",
       "File Size: 4\u00A0096 bytes", "File Date: 05.03.2024", "File Time: 14:07:08"},
      {"cp932-prefix", "C:\\表示\\jpdisp.dpl", "表示用ソフト部品", "File Size: 3,584 bytes",
       "File Date: 2024/3/5", "File Time: 14:07:08"},
  };
  const std::string oldTz = getenv("TZ") ? getenv("TZ") : "";
  const bool hadTz = getenv("TZ") != nullptr;
  setenv("TZ", "UTC", 1);
  tzset();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.prefix) + " " + c.file);
    test::DemoPrefixCopy prefix(c.prefix);
    const std::optional<fs::path> host = Sys().ToHost(c.file);
    ASSERT_TRUE(host.has_value());
    const struct timespec times[2] = {{1709647629, 0}, {1709647629, 0}};  // 2024-03-05 14:07:09 (DOS time: 14:07:08)
    ASSERT_EQ(utimensat(AT_FDCWD, host->c_str(), times, 0), 0);
    test::ScriptedPrompts prompts;
    TPackageForm form(prompts);
    form.LoadPackageModule(c.file);
    EXPECT_EQ(prompts.Count("Error"), 0);
    gui::TGenInfoPage* p = form.GenInfoTabSheet;
    EXPECT_EQ(p->DescriptionEdit->text(), QString::fromUtf8(c.description));
    EXPECT_EQ(p->GenInfoStatusBar->panelText(0), QString::fromUtf8(c.size));
    EXPECT_EQ(p->GenInfoStatusBar->panelText(1), QString::fromUtf8(c.date));
    EXPECT_EQ(p->GenInfoStatusBar->panelText(2), QString::fromUtf8(c.time));
  }
  if (hadTz) {
    setenv("TZ", oldTz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

// --- flag word to combo boxes ----------------------------------------------

}  // namespace
}  // namespace kx
