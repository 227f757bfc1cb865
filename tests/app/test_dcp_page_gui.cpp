// The DCP page through its controls: the tree, the Field/Data list, the
// buttons, the context menu and the Enter key, with scripted prompts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>

#include "app/DCPPage.h"
#include "app/Main.h"
#include "gui_test_support.h"
#include "source/Version.h"
#include "support/dcp_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr double kFixedNow = 45000.5;

test::DcpBuilder Package() {
  test::DcpBuilder b;
  b.requiredPackages = {"vcl30", "vclx30"};
  b.units = {{"Alpha", 0x100, 0x900, std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}},
             {"Beta", 0x140, 0x940, std::vector<uint8_t>(33, 0xBE)},
             {"mypack", 0x200, 0x980, {}}};
  b.resources = {"mypack.res", "extra.res"};
  return b;
}

class DCPPageTest : public ::testing::Test {
 protected:
  DCPPageTest() {
    bytes = Package().Build(&layout);
    prefix.WriteFile("C:\\d\\mypack.dcp", bytes);
    prefix.WriteText("C:\\out\\readme.txt", "");
    prevClock = SetSourceClock([] { return kFixedNow; });
    form = std::make_unique<gui::TPackageForm>(prompts);
    form->SetProcessMessages([] {});
    prompts.Forget();
  }
  ~DCPPageTest() override {
    form.reset();
    SetSourceClock(prevClock);
  }

  gui::TDCPPage& Page() { return *form->DCPDCUTabSheet; }
  // Picks the file with the ellipsis button.
  void Open(const std::string& file) {
    prompts.fileAnswers = {file};
    Page().DCPFileNameEdit->button()->click();
    prompts.Forget();
    prompts.dialogs.clear();
  }
  QTreeWidgetItem* Node(int root, int child = -1) {
    QTreeWidgetItem* r = Page().DCPTreeInfo->topLevelItem(root);
    return child < 0 ? r : r->child(child);
  }
  void Select(QTreeWidgetItem* item) { Page().DCPTreeInfo->setCurrentItem(item); }
  QStringList DataColumn() {
    QStringList out;
    for (int row = 0; row < 6; ++row) out << Page().DCUInfoListView->item(row, 1)->text();
    return out;
  }
  bool Buttons() {
    const bool e = Page().ExtractDCUBtn->isEnabled();
    EXPECT_EQ(Page().SaveDCUInfoBtn->isEnabled(), e);
    EXPECT_EQ(Page().FindDCUSourceBtn->isEnabled(), e);
    return e;
  }

  test::TempPrefix prefix;
  test::ScriptedPrompts prompts;
  test::DcpLayout layout;
  std::vector<uint8_t> bytes;
  SourceClock prevClock;
  std::unique_ptr<gui::TPackageForm> form;
};

TEST_F(DCPPageTest, TreeListAndStatusOfAnAnalysedFile) {
  // The initial page: fixed Field rows, captions, buttons off.
  QStringList fields;
  for (int row = 0; row < Page().DCUInfoListView->rowCount(); ++row)
    fields << Page().DCUInfoListView->item(row, 0)->text();
  EXPECT_EQ(fields, (QStringList{"DCU Offset in DCP", "DCU Size", "Code Size", "Data Size",
                                 "Code Offset in DPL", "Data Offset in DPL"}));
  EXPECT_EQ(Page().DCPStatusBar->panelText(1), QStringLiteral("Required Packages:"));
  EXPECT_FALSE(Buttons());

  prompts.fileAnswers = {std::string("C:\\d\\mypack.dcp")};
  Page().DCPFileNameEdit->button()->click();
  ASSERT_EQ(prompts.dialogs.size(), 1u);
  EXPECT_EQ(prompts.dialogs[0].title, "Select Source DCP...");
  EXPECT_EQ(prompts.dialogs[0].defaultExt, "dcp");
  EXPECT_EQ(Page().DCPFileNameEdit->text(), QStringLiteral("C:\\d\\mypack.dcp"));

  QTreeWidget* tree = Page().DCPTreeInfo;
  ASSERT_EQ(tree->topLevelItemCount(), 3);
  const QStringList roots{"Units", "Required Packages", "Resources"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Node(i)->text(0), roots[i]);
    EXPECT_EQ(Node(i)->data(0, gui::DCPNodeKindRole).toInt(), i);
    EXPECT_FALSE(Node(i)->isExpanded());
  }
  ASSERT_EQ(Node(0)->childCount(), 3);
  EXPECT_EQ(Node(0, 0)->text(0), QStringLiteral("Alpha"));
  EXPECT_EQ(Node(0, 2)->text(0), QStringLiteral("mypack (.DPK source)"));
  EXPECT_EQ(Node(0, 2)->data(0, gui::DCPNodeKindRole).toInt(), 3);
  EXPECT_EQ(Node(1, 1)->text(0), QStringLiteral("vclx30.dpl"));
  EXPECT_EQ(Node(1, 1)->data(0, gui::DCPNodeKindRole).toInt(), 5);
  EXPECT_EQ(Node(2, 0)->text(0), QStringLiteral("mypack.res"));
  EXPECT_EQ(Node(2, 0)->data(0, gui::DCPNodeKindRole).toInt(), 7);
  EXPECT_EQ(Page().DCPStatusBar->panelText(0), QStringLiteral("Units: 3"));
  EXPECT_EQ(Page().DCPStatusBar->panelText(1), QStringLiteral("Required Packages: 2"));
  EXPECT_EQ(Page().DCPStatusBar->panelText(2), QStringLiteral("Resources: 2"));

  Select(Node(0, 1));
  EXPECT_TRUE(Buttons());
  EXPECT_EQ(DataColumn(),
            (QStringList{
                QStringLiteral("$%1").arg(layout.dcuOffsets[1], 8, 16, QLatin1Char('0')).toUpper(),
                "33 bytes", "192 bytes", "64 bytes", "$00000140", "$00000940"}));
  // The package's own unit carries no entry.
  Select(Node(0, 2));
  EXPECT_FALSE(Buttons());
  EXPECT_EQ(DataColumn(), QStringList(6, QStringLiteral("-")));
  Select(Node(0, 0));
  Select(Node(1));
  EXPECT_FALSE(Buttons());
  EXPECT_EQ(DataColumn(), QStringList(6, QStringLiteral("-")));
  // An empty selection only turns the buttons off.
  Select(Node(0, 0));
  tree->clearSelection();
  EXPECT_FALSE(Buttons());
  EXPECT_EQ(DataColumn().value(1), QStringLiteral("7 bytes"));
}

TEST_F(DCPPageTest, ExtractDCUCopiesTheUnitsBytesAfterTheQuestion) {
  Open("C:\\d\\mypack.dcp");
  Select(Node(0, 1));
  prompts.answers = {PromptResult::Yes};
  prompts.fileAnswers = {std::string("C:\\out\\Beta.dcu")};
  Page().ExtractDCUBtn->click();

  ASSERT_EQ(prompts.asked.size(), 3u);
  EXPECT_EQ(prompts.asked[0].kind, "WarningYesNo");
  EXPECT_EQ(prompts.asked[0].text,
            "NOTE: DCUs extracted from a packaged DCP aren't useful for a normal "
            "recompilation.\r\rProceed anyway?");
  ASSERT_EQ(prompts.dialogs.size(), 1u);
  EXPECT_EQ(prompts.dialogs[0].title, "Save DCU File...");
  EXPECT_EQ(prompts.dialogs[0].filter, "Compiled Unit (*.DCU)|*.DCU");
  EXPECT_EQ(prompts.dialogs[0].fileName, "Beta.dcu");
  EXPECT_TRUE(prompts.dialogs[0].overwritePrompt);
  EXPECT_EQ(prompts.asked[2].kind, "Message");
  EXPECT_EQ(prompts.asked[2].text, "DCU Extracted!");
  const std::vector<uint8_t> expected(bytes.begin() + layout.dcuOffsets[1],
                                      bytes.begin() + layout.dcuOffsets[1] + 33);
  EXPECT_EQ(test::ReadHostFile(prefix.Host("C:\\out\\Beta.dcu")), expected);
}

TEST_F(DCPPageTest, ExtractDCUStopsOnNoOrCancelAndReportsAnUnwritableTarget) {
  Open("C:\\d\\mypack.dcp");
  Select(Node(0, 0));
  Page().ExtractDCUBtn->click();  // No
  EXPECT_EQ(prompts.Count("SaveFile"), 0);
  prompts.answers = {PromptResult::Yes};
  Page().ExtractDCUBtn->click();  // Yes, then the dialog is cancelled
  EXPECT_EQ(prompts.Count("SaveFile"), 1);
  EXPECT_EQ(prompts.Count("Message"), 0);
  prompts.answers = {PromptResult::Yes};
  prompts.fileAnswers = {std::string("Q:\\Alpha.dcu")};
  Page().ExtractDCUBtn->click();
  EXPECT_EQ(prompts.Count("Error", "Cannot create file Q:\\Alpha.dcu"), 1);
  EXPECT_EQ(prompts.Count("Message"), 0);
}

TEST_F(DCPPageTest, EnterExtractsOnlyOnAUnitWithAnEntry) {
  Open("C:\\d\\mypack.dcp");
  Select(Node(1, 0));
  test::PressKey(Page().DCPTreeInfo, Qt::Key_Return);
  Select(Node(0, 2));
  test::PressKey(Page().DCPTreeInfo, Qt::Key_Return);
  EXPECT_TRUE(prompts.asked.empty());
  Select(Node(0, 0));
  test::PressKey(Page().DCPTreeInfo, Qt::Key_Enter);
  EXPECT_EQ(prompts.Count("WarningYesNo"), 1);
  // Other keys still move through the tree.
  test::PressKey(Page().DCPTreeInfo, Qt::Key_Down);
  EXPECT_NE(Page().DCPTreeInfo->currentItem(), Node(0, 0));
}

TEST_F(DCPPageTest, SaveInfoWritesTheReportOfTheSelectedUnit) {
  Open("C:\\d\\mypack.dcp");
  Select(Node(0, 0));
  prompts.fileAnswers = {std::string("C:\\out\\Alpha.TXT")};
  Page().SaveDCUInfoBtn->click();
  ASSERT_EQ(prompts.dialogs.size(), 1u);
  EXPECT_EQ(prompts.dialogs[0].title, "Save Report File...");
  EXPECT_EQ(prompts.dialogs[0].filter, "ASCII Text File (*.txt)|*.txt");
  EXPECT_EQ(prompts.dialogs[0].fileName, "Alpha.TXT");
  EXPECT_EQ(prompts.Count("Message", "Report saved."), 1);
  const std::vector<uint8_t> written = test::ReadHostFile(prefix.Host("C:\\out\\Alpha.TXT"));
  char offset[16];
  std::snprintf(offset, sizeof offset, "$%08X", layout.dcuOffsets[0]);
  // With no module loaded the compiled package in the header is ".DCP".
  const std::string expected = MakeSourceHeader("Alpha.DCU (.DCP)") + "\r\n" +
                               "DCU Offset in DCP: " + offset + "\r\n" +
                               "DCU Size         : 7 bytes\r\n"
                               "Code Size        : 64 bytes\r\n"
                               "Data Size        : 64 bytes\r\n"
                               "Code size in DPL : $00000100\r\n"
                               "Data size in DPL : $00000900";
  EXPECT_EQ(std::string(written.begin(), written.end()), expected);
}

TEST_F(DCPPageTest, ContextMenuEnablingCopyAndReload) {
  Open("C:\\d\\mypack.dcp");
  gui::TDCPPage& p = Page();
  auto state = [&] {
    p.DCPInfoPopupMenuPopup();
    return std::pair(p.ExtractDCUItem->isEnabled(), p.CopyDCUInfoStringItem->isEnabled());
  };
  EXPECT_EQ(state(), std::pair(false, false));  // nothing selected
  Select(Node(0));
  EXPECT_EQ(state(), std::pair(false, false));
  Select(Node(0, 0));
  EXPECT_EQ(state(), std::pair(true, true));
  Select(Node(0, 2));  // the package source: kind 3 without an entry
  EXPECT_EQ(state(), std::pair(true, true));
  Select(Node(1, 0));
  EXPECT_EQ(state(), std::pair(false, true));
  Select(Node(2, 1));
  EXPECT_EQ(state(), std::pair(false, true));
  EXPECT_TRUE(p.ReloadDCPItem->isEnabled());

  Select(Node(1, 0));
  QApplication::clipboard()->clear();
  p.CopyDCUInfoStringItem->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("vcl30.dpl"));
  // "Extract DCU" on the package source asks nothing.
  Select(Node(0, 2));
  p.ExtractDCUItem->trigger();
  EXPECT_TRUE(prompts.asked.empty());

  // Reload reads the file again.
  test::DcpBuilder changed = Package();
  changed.requiredPackages = {"vcl30"};
  changed.resources = {};
  prefix.WriteFile("C:\\d\\mypack.dcp", changed.Build());
  p.ReloadDCPItem->trigger();
  EXPECT_EQ(Node(1)->childCount(), 1);
  EXPECT_EQ(Node(2)->childCount(), 0);
  EXPECT_EQ(p.DCPStatusBar->panelText(2), QStringLiteral("Resources: 0"));
  EXPECT_FALSE(Buttons());
}

TEST_F(DCPPageTest, UnreadableFileLeavesTheTreeClearedAndTheButtonsOff) {
  Open("C:\\d\\mypack.dcp");
  Select(Node(0, 0));
  ASSERT_TRUE(Buttons());
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + layout.unitTableOffset + 10);
  prefix.WriteFile("C:\\d\\mypack.dcp", cut);
  Page().ReloadDCPItem->trigger();
  EXPECT_EQ(prompts.Count("Error"), 1);
  EXPECT_EQ(Page().DCPTreeInfo->topLevelItemCount(), 0);
  EXPECT_FALSE(Buttons());
  EXPECT_EQ(Page().DCPStatusBar->panelText(0), QStringLiteral("Units:"));

  prompts.Forget();
  Open("C:\\d\\missing.dcp");
  EXPECT_EQ(Page().DCPTreeInfo->topLevelItemCount(), 0);
}

TEST_F(DCPPageTest, InterfacePaneShowsTheSelectedUnitsInterface) {
  auto fixture = [](const std::string& name) {
    return test::ReadHostText(std::string(KX_FIXTURES_DIR) + "/" + name);
  };
  auto bytesOf = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  prefix.WriteFile("C:\\d\\DemoComp.dcp",
                   bytesOf(fixture("demo-prefix/drive_c/Projects/Demo/DemoComp.dcp")));
  const std::string gauges = fixture("dcu/Gauges2.dcu");
  prefix.WriteFile("C:\\d\\Gauges2.dcu", bytesOf(gauges));
  prefix.WriteFile("C:\\d\\Cut.dcu", bytesOf(gauges.substr(0, 600)));

  struct Case {
    std::string file;
    int root, child;
    std::string pane;
    bool extract, saveInterface;
    QStringList data;  // empty: not checked
  } cases[] = {
      {"C:\\d\\DemoComp.dcp", 0, 1, fixture("dcu/DemoCtrls.pas"), true, true, {}},
      {"C:\\d\\DemoComp.dcp",
       0,
       4,
       "No compiled unit for the package source.",
       false,
       false,
       {"-", "-", "-", "-", "-", "-"}},
      {"C:\\d\\DemoComp.dcp", 1, -1, "", false, false, {}},
      // Opaque bytes where a unit should be.
      {"C:\\d\\mypack.dcp",
       0,
       1,
       "C:\\d\\mypack.dcp is not a Delphi 3 compiled unit.",
       true,
       false,
       {}},
      {"C:\\d\\Gauges2.dcu",
       0,
       0,
       fixture("dcu/Gauges2.pas"),
       false,
       true,
       {"", "1512 bytes", "", "", "", ""}},
      {"C:\\d\\Cut.dcu",
       0,
       0,
       "C:\\d\\Cut.dcu is damaged at offset $00000004: the unit size 1512 differs from the 600 "
       "bytes of the unit.",
       false,
       false,
       {"", "600 bytes", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    Open(c.file);
    Select(Node(c.root, c.child));
    EXPECT_EQ(gui::ToCore(Page().DCUInterfaceView->toPlainText()), c.pane) << c.file;
    EXPECT_EQ(Page().ExtractDCUBtn->isEnabled(), c.extract) << c.file;
    EXPECT_EQ(Page().SaveInterfaceBtn->isEnabled(), c.saveInterface) << c.file;
    if (!c.data.isEmpty()) {
      EXPECT_EQ(DataColumn(), c.data) << c.file;
    }
  }

  // A standalone unit is a tree of that one unit, named as it declares itself.
  Open("C:\\d\\Gauges2.dcu");
  ASSERT_EQ(Page().DCPTreeInfo->topLevelItemCount(), 3);
  ASSERT_EQ(Node(0)->childCount(), 1);
  EXPECT_EQ(Node(0, 0)->text(0), QStringLiteral("Gauges2"));
  EXPECT_EQ(Node(1)->childCount() + Node(2)->childCount(), 0);

  // Save Interface... writes the pane as a source with CR LF line ends.
  Select(Node(0, 0));
  prompts.fileAnswers = {std::string("C:\\out\\Gauges2.pas")};
  Page().SaveInterfaceBtn->click();
  ASSERT_EQ(prompts.dialogs.size(), 1u);
  EXPECT_EQ(prompts.dialogs[0].filter, "Pascal Source (*.PAS)|*.PAS");
  EXPECT_EQ(prompts.dialogs[0].fileName, "Gauges2.pas");
  std::string expected;
  for (char ch : fixture("dcu/Gauges2.pas")) expected += ch == '\n' ? "\r\n" : std::string(1, ch);
  EXPECT_EQ(test::ReadHostText(prefix.Host("C:\\out\\Gauges2.pas")), expected);

  // The file box's dialog offers compiled units too.
  prompts.fileAnswers = {std::nullopt};
  prompts.dialogs.clear();
  Page().DCPFileNameEdit->button()->click();
  ASSERT_EQ(prompts.dialogs.size(), 1u);
  EXPECT_EQ(prompts.dialogs[0].filter,
            "Compiled Package (*.DCP)|*.DCP|Compiled Unit (*.DCU)|*.DCU");
}

}  // namespace
}  // namespace kx
