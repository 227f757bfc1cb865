// The Structure, Export, Import and Resources pages in the main window:
// lazy filling on the first visit after a load, the progress window's
// stages, sorting on a header click, the structure tree and its element
// list, "Load Selected" and opening an imported package, the resource tree.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ExportPage.h"
#include "app/GenInfoPage.h"
#include "app/ImportPage.h"
#include "app/Main.h"
#include "app/ResourcesPage.h"
#include "app/StructurePage.h"
#include "gui_test_support.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

namespace fs = std::filesystem;
using gui::TPackageForm;

// Records what the progress window was told.
class RecordingMeter : public ProgressMeter {
 public:
  void SetLabel(const std::string& text) override { events.push_back("label:" + text); }
  void SetTotal(int total) override { events.push_back("total:" + std::to_string(total)); }
  void SetCompleted(int) override {}
  void Show() override { events.push_back("show"); }
  void Hide() override { events.push_back("hide"); }
  int Count(const std::string& event) const {
    int n = 0;
    for (const std::string& e : events) n += e == event ? 1 : 0;
    return n;
  }
  std::vector<std::string> events;
};

std::vector<uint8_t> Fixture(const std::string& name) {
  return test::ReadHostFile(fs::path(KX_FIXTURES_DIR) / "bin" / name);
}

std::string Text(const QString& s) { return gui::ToCore(s); }

// Captions of an item's children (or of the top-level items).
std::vector<std::string> Children(QTreeWidget* tree, QTreeWidgetItem* item = nullptr) {
  std::vector<std::string> captions;
  const int n = item != nullptr ? item->childCount() : tree->topLevelItemCount();
  for (int i = 0; i < n; ++i)
    captions.push_back(Text((item != nullptr ? item->child(i) : tree->topLevelItem(i))->text(0)));
  return captions;
}

QTreeWidgetItem* Child(QTreeWidget* tree, QTreeWidgetItem* item, const std::string& caption) {
  const int n = item != nullptr ? item->childCount() : tree->topLevelItemCount();
  for (int i = 0; i < n; ++i) {
    QTreeWidgetItem* c = item != nullptr ? item->child(i) : tree->topLevelItem(i);
    if (Text(c->text(0)) == caption) return c;
  }
  return nullptr;
}

std::vector<std::string> Column(gui::TSortListView* list, int column) {
  std::vector<std::string> cells;
  for (int r = 0; r < list->rowCount(); ++r) cells.push_back(Text(list->displayedCell(r, column)));
  return cells;
}

class PackagePagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix.WriteFile("C:\\windows\\system32\\vcl30.dpl", Fixture("vcl30.dpl"));
    prefix.WriteFile("C:\\windows\\system32\\vclx30.dpl", Fixture("vclx30.dpl"));
    for (const char* name : {"DemoComp.dpl", "resmix.dpl", "cbmath35.bpl"})
      prefix.WriteFile(std::string("C:\\Projects\\Demo\\") + name, Fixture(name));
    form = std::make_unique<TPackageForm>(prompts);
    form->SetMeter(&meter);
    form->resize(820, 600);
    form->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    form->SetMeter(nullptr);
    form.reset();
  }

  void Load(const std::string& path) {
    form->LoadPackageModule(path);
    prompts.Forget();
  }
  void Visit(QWidget* page) {
    form->MainPageControl->setCurrentWidget(page);
    QApplication::processEvents();
  }
  gui::TSortListView* Exports() { return form->ExportTabSheet->ExpFuncListView; }
  gui::TSortListView* Imports() { return form->ImportTabSheet->ImpModuleListView; }
  QTreeWidget* Structure() { return form->ClassesTabSheet->DPLStructureTreeView; }
  QPushButton* LoadSelected() { return form->ImportTabSheet->LoadImportedModuleBtn; }
  // Selects the import row whose Name is name (as displayed); its index.
  int SelectImport(const std::string& name) {
    for (int r = 0; r < Imports()->rowCount(); ++r)
      if (Text(Imports()->displayedCell(r, 2)) == name) {
        Imports()->selectDisplayedRow(r);
        return r;
      }
    ADD_FAILURE() << "no import row " << name;
    return -1;
  }
  void ClickHeader(gui::TSortListView* list, int section) {
    QHeaderView* header = list->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                    header->height() / 2);
    test::Click(header->viewport(), at);
    QApplication::processEvents();
  }

  test::TempPrefix prefix;
  test::ScriptedPrompts prompts;
  RecordingMeter meter;
  std::unique_ptr<TPackageForm> form;
};

// ---------------------------------------------------------------------------
// Lazy filling

TEST_F(PackagePagesTest, NoModuleFillsNothing) {
  Visit(form->ExportTabSheet);
  Visit(form->ImportTabSheet);
  Visit(form->ResourcesTabSheet);
  EXPECT_EQ(Exports()->rowCount(), 0);
  EXPECT_EQ(Text(form->ExportTabSheet->ExpFuncStatusBar->panelText(0)), "Exported Functions:");
  EXPECT_EQ(Text(form->ResourcesTabSheet->ResStatusBar->panelText(0)), "Resource Directories:");
  EXPECT_TRUE(meter.events.empty());
}

TEST_F(PackagePagesTest, FirstVisitToAnyOfTheThreePagesFillsAllThreeOnce) {
  Load("C:\\Projects\\Demo\\DemoComp.dpl");
  EXPECT_TRUE(form->ExportsPending);
  EXPECT_EQ(Exports()->rowCount(), 0);
  EXPECT_EQ(Text(form->ImportTabSheet->ImpFuncStatusBar->panelText(0)), "Imported Modules:");

  Visit(form->ImportTabSheet);
  EXPECT_FALSE(form->ExportsPending);
  // The progress window went through the three stages, once.
  EXPECT_EQ(meter.Count("show"), 1);
  EXPECT_EQ(meter.Count("hide"), 1);
  std::vector<std::string> labels;
  for (const std::string& e : meter.events)
    if (e.rfind("label:", 0) == 0) labels.push_back(e.substr(6));
  EXPECT_EQ(labels,
            (std::vector<std::string>{"Retrieving Export Data...", "Retrieving Import Data...",
                                      "Building DPL Structure..."}));
  EXPECT_EQ(meter.events.back(), "hide");

  // All three pages are filled: export list, import list, structure tree.
  ASSERT_EQ(Exports()->rowCount(), form->Module->NameCount);
  EXPECT_EQ(Text(form->ExportTabSheet->ExpFuncStatusBar->panelText(0)),
            "Exported Functions: " + std::to_string(form->Module->NameCount));
  EXPECT_EQ(Text(form->ExportTabSheet->ExpFuncStatusBar->panelText(2)), "ImageBase :$00400000");
  EXPECT_EQ(Column(Imports(), 2),
            (std::vector<std::string>{"vcl30.dpl", "vclx30.dpl", "KERNEL32.dll", "USER32.dll"}));
  EXPECT_EQ(Column(Imports(), 1),
            (std::vector<std::string>{"Package", "Package", "Library", "Library"}));
  EXPECT_EQ(Text(form->ImportTabSheet->ImpFuncStatusBar->panelText(0)), "Modules Imported: 4");
  EXPECT_EQ(Text(form->ImportTabSheet->ImpFuncStatusBar->panelText(1)), "Imported Packages: 2");
  // The structure's counts show now; its tree items are made on the
  // Structure page's own first visit.
  EXPECT_EQ(Text(form->ClassesTabSheet->ClassStatusBar->panelText(0)), "Units: 3");
  EXPECT_EQ(Structure()->topLevelItemCount(), 0);
  Visit(form->ClassesTabSheet);
  ASSERT_EQ(Structure()->topLevelItemCount(), 1);
  EXPECT_EQ(Children(Structure()), std::vector<std::string>{"DemoComp.dpl"});
  EXPECT_EQ(Children(Structure(), Structure()->topLevelItem(0)),
            (std::vector<std::string>{"DemoCtrls", "DemoReg", "DemoUtils"}));

  // A selection made now survives further visits: nothing is refilled.
  Exports()->selectDisplayedRow(3);
  Visit(form->ClassesTabSheet);
  Visit(form->ExportTabSheet);
  Visit(form->GenInfoTabSheet);
  Visit(form->ImportTabSheet);
  EXPECT_EQ(meter.Count("show"), 1);
  EXPECT_EQ(Exports()->selectedModelRow(), 3);
}

TEST_F(PackagePagesTest, ASecondLoadEmptiesThePagesAndTheNextVisitRefillsThem) {
  // vcl30's structure tree is never shown: its kept tree must not come back
  // on the Structure page after the next load.
  Load("C:\\windows\\system32\\vcl30.dpl");
  Visit(form->ExportTabSheet);
  Visit(form->ResourcesTabSheet);
  const int vclExports = Exports()->rowCount();
  ASSERT_GT(vclExports, 0);
  ASSERT_GT(form->ResourcesTabSheet->ResTreeView->topLevelItemCount(), 0);

  Load("C:\\Projects\\Demo\\DemoComp.dpl");
  EXPECT_TRUE(form->ExportsPending);
  EXPECT_TRUE(form->ResourcesPending);
  EXPECT_EQ(Exports()->rowCount(), 0);
  EXPECT_EQ(Imports()->rowCount(), 0);
  EXPECT_EQ(Structure()->topLevelItemCount(), 0);
  EXPECT_EQ(form->ResourcesTabSheet->ResTreeView->topLevelItemCount(), 0);
  EXPECT_EQ(Text(form->ExportTabSheet->ExpFuncStatusBar->panelText(0)), "Exported Functions: -");
  EXPECT_EQ(Text(form->ImportTabSheet->ImpFuncStatusBar->panelText(0)), "Imported Modules: -");
  EXPECT_EQ(Text(form->ResourcesTabSheet->ResStatusBar->panelText(0)), "Resource Directories: -");

  Load("C:\\Projects\\Demo\\cbmath35.bpl");
  Visit(form->ClassesTabSheet);
  EXPECT_EQ(Structure()->topLevelItemCount(), 0);
  Visit(form->GenInfoTabSheet);

  Load("C:\\Projects\\Demo\\DemoComp.dpl");
  Visit(form->ClassesTabSheet);
  EXPECT_EQ(meter.Count("show"), 3);
  EXPECT_EQ(Exports()->rowCount(), form->Module->NameCount);
  EXPECT_NE(Exports()->rowCount(), vclExports);
  EXPECT_EQ(Children(Structure()), std::vector<std::string>{"DemoComp.dpl"});
  EXPECT_EQ(Imports()->rowCount(), 4);
}

// ---------------------------------------------------------------------------
// Export list

TEST_F(PackagePagesTest, ExportListSortsByTheClickedColumnNumbersAsNumbers) {
  // Ordinals chosen so that text order and number order differ (10 < 9 as
  // text), and so that table (name) order is neither.
  std::vector<test::PeExport> exports = {
      {"Alpha.A@1", 10}, {"Alpha.B@1", 9}, {"Alpha.c@1", 100}, {"Alpha.D@1", 2}};
  test::PeSpec spec =
      test::PackageSpec(0x40000000, {}, {{0, "Alpha"}, {3, "sorting"}}, {}, exports);
  prefix.WriteFile("C:\\p\\sorting.dpl", test::BuildPe(spec));
  Load("C:\\p\\sorting.dpl");
  Visit(form->ExportTabSheet);
  // Table order first: names by byte value.
  EXPECT_EQ(Column(Exports(), 2),
            (std::vector<std::string>{"Alpha.A@1", "Alpha.B@1", "Alpha.D@1", "Alpha.c@1",
                                      "Finalize", "Initialize"}));
  EXPECT_EQ(Exports()->horizontalHeader()->sortIndicatorSection(), -1);

  ClickHeader(Exports(), 1);
  const std::vector<std::string> byOrdinal = Column(Exports(), 1);
  ASSERT_EQ(byOrdinal.size(), 6u);
  auto at = [&](const std::string& v) {
    return std::find(byOrdinal.begin(), byOrdinal.end(), v) - byOrdinal.begin();
  };
  EXPECT_LT(at("2"), at("9"));
  EXPECT_LT(at("9"), at("10"));
  EXPECT_LT(at("10"), at("100"));
  for (size_t i = 1; i < byOrdinal.size(); ++i)
    EXPECT_LT(std::stoi(byOrdinal[i - 1]), std::stoi(byOrdinal[i]));

  ClickHeader(Exports(), 1);  // again: descending
  EXPECT_EQ(Column(Exports(), 1).front(), "100");
  EXPECT_EQ(Column(Exports(), 1).back(), byOrdinal.front());

  ClickHeader(Exports(), 2);  // names ignore case
  EXPECT_EQ(Column(Exports(), 2),
            (std::vector<std::string>{"Alpha.A@1", "Alpha.B@1", "Alpha.c@1", "Alpha.D@1",
                                      "Finalize", "Initialize"}));
  ClickHeader(Exports(), 0);
  const std::vector<std::string> byAddress = Column(Exports(), 0);
  for (size_t i = 1; i < byAddress.size(); ++i) EXPECT_LE(byAddress[i - 1], byAddress[i]);
  for (const std::string& a : byAddress) EXPECT_EQ(a.size(), 9u) << a;  // "$" + 8 digits
}

TEST_F(PackagePagesTest, ManyExportsFillTheModelInOnePiece) {
  std::vector<test::PeExport> exports;
  for (int i = 0; i < 20000; ++i) exports.push_back({"Big.Proc" + std::to_string(i) + "@0"});
  prefix.WriteFile("C:\\p\\big.dpl", test::BuildPe(test::PackageSpec(
                                         0x40000000, {}, {{0, "Big"}, {3, "big"}}, {}, exports)));
  Load("C:\\p\\big.dpl");
  Visit(form->ExportTabSheet);
  EXPECT_EQ(Exports()->rowCount(), 20002);
  EXPECT_EQ(Text(form->ExportTabSheet->ExpFuncStatusBar->panelText(0)),
            "Exported Functions: 20002");
  Visit(form->ClassesTabSheet);
  ASSERT_EQ(Structure()->topLevelItemCount(), 1);
  QTreeWidgetItem* unit = Structure()->topLevelItem(0)->child(0);
  ASSERT_NE(unit, nullptr);
  ASSERT_EQ(unit->childCount(), 1);  // only "Procedures/Types"
  EXPECT_EQ(unit->child(0)->childCount(), 20000);
}

// Times, and only reports, the first visit of the Export page (all rows) and
// of the Structure page after loading a package of 500 units and 20,002
// exports; the goal is under 100 ms each.
TEST_F(PackagePagesTest, PagesOfALargePackageTimesReported) {
  prefix.WriteFile("C:\\p\\bigpack.dpl", test::BuildPe(test::LargePackageSpec(500, 40)));
  Load("C:\\p\\bigpack.dpl");
  QElapsedTimer timer;
  timer.start();
  Visit(form->ExportTabSheet);
  const qint64 exportMs = timer.restart();
  Visit(form->ClassesTabSheet);
  const qint64 structureMs = timer.elapsed();
  EXPECT_EQ(Exports()->rowCount(), 20002);
  EXPECT_EQ(Structure()->topLevelItem(0)->childCount(), 500);
  RecordProperty("export_page_ms", static_cast<int>(exportMs));
  RecordProperty("structure_page_ms", static_cast<int>(structureMs));
  std::printf("Export page: %lld ms, Structure page: %lld ms (goal: under 100 ms each)\n",
              static_cast<long long>(exportMs), static_cast<long long>(structureMs));
}

// ---------------------------------------------------------------------------
// Structure tree

TEST_F(PackagePagesTest, StructureTreeLeavesCarryTheirStateImagesAndDetails) {
  Load("C:\\windows\\system32\\vcl30.dpl");
  Visit(form->ClassesTabSheet);
  gui::TStructurePage* page = form->ClassesTabSheet;
  EXPECT_EQ(Text(page->ClassStatusBar->panelText(0)), "Units: 12");
  EXPECT_EQ(Text(page->ClassStatusBar->panelText(1)), "Classes: 13");
  QTreeWidgetItem* root = Structure()->topLevelItem(0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(Text(root->text(0)), "vcl30.dpl");
  EXPECT_TRUE(root->isExpanded());
  QTreeWidgetItem* classes = Child(Structure(), root, "Classes");
  ASSERT_NE(classes, nullptr);
  EXPECT_EQ(Children(Structure(), classes),
            (std::vector<std::string>{"Classes", "System", "Procedures/Types"}));
  EXPECT_EQ(Child(Structure(), root, "Windows")->childCount(), 0);
  QTreeWidgetItem* group = Child(Structure(), classes, "Classes");
  QTreeWidgetItem* tlist = Child(Structure(), group, "TList");
  ASSERT_NE(tlist, nullptr);
  EXPECT_EQ(Children(Structure(), tlist),
            (std::vector<std::string>{"Add()", "Clear()", "Delete()"}));
  QTreeWidgetItem* system = Child(Structure(), classes, "System");
  QTreeWidgetItem* procs = Child(Structure(), classes, "Procedures/Types");
  EXPECT_EQ(Children(Structure(), system),
            (std::vector<std::string>{"Finalization", "Initialization", "Register"}));

  // State images: one per leaf kind, none on root, unit, group and class nodes.
  auto state = [](QTreeWidgetItem* item) {
    return static_cast<gui::TStructureTreeItem*>(item)->Node.stateIndex;
  };
  QTreeWidgetItem* add = tlist->child(0);
  EXPECT_EQ(state(system->child(2)), 1);
  EXPECT_EQ(state(procs->child(0)), 2);
  EXPECT_EQ(state(add), 3);
  for (QTreeWidgetItem* leaf : {system->child(2), procs->child(0), add})
    EXPECT_FALSE(leaf->icon(0).isNull());
  for (QTreeWidgetItem* node : {root, classes, group, tlist}) {
    EXPECT_TRUE(node->icon(0).isNull()) << Text(node->text(0));
    EXPECT_EQ(state(node), 0);
  }
  EXPECT_NE(add->icon(0).cacheKey(), procs->child(0)->icon(0).cacheKey());

  // Selecting a member shows its details, class name included.
  gui::TSortListView* info = page->DPLElementInfoListView;
  Structure()->setCurrentItem(add);
  EXPECT_EQ(Column(info, 0),
            (std::vector<std::string>{"Export Ordinal", "Export Address (RVA)", "Export Name",
                                      "Unit Name", "Class Name", "Element Name"}));
  const std::vector<std::string> data = Column(info, 1);
  EXPECT_EQ(data[2].rfind("Classes.TList.Add@", 0), 0u) << data[2];
  EXPECT_EQ(data[3], "Classes");
  EXPECT_EQ(data[4], "TList");
  EXPECT_EQ(data[5], "Add()");
  // The ordinal and address are those of the export list's row of that name.
  bool found = false;
  for (int r = 0; r < Exports()->rowCount(); ++r)
    if (Text(Exports()->displayedCell(r, 2)) == data[2]) {
      EXPECT_EQ(Text(Exports()->displayedCell(r, 1)), data[0]);
      EXPECT_EQ(Text(Exports()->displayedCell(r, 0)), data[1]);
      found = true;
    }
  EXPECT_TRUE(found);

  // A node without details leaves the list as it is; a procedure has no
  // "Class Name" row.
  Structure()->setCurrentItem(group);
  EXPECT_EQ(Column(info, 1), data);
  Structure()->setCurrentItem(procs->child(0));
  EXPECT_EQ(Column(info, 0),
            (std::vector<std::string>{"Export Ordinal", "Export Address (RVA)", "Export Name",
                                      "Unit Name", "Element Name"}));
  EXPECT_EQ(Column(info, 1).back(), Text(procs->child(0)->text(0)));
}

TEST_F(PackagePagesTest, APackageThatIsNotADplHasNoStructure) {
  Load("C:\\Projects\\Demo\\cbmath35.bpl");
  EXPECT_FALSE(form->PageEnabled(form->ClassesTabSheet));
  Visit(form->ExportTabSheet);
  EXPECT_EQ(Exports()->rowCount(), 11);
  EXPECT_EQ(Structure()->topLevelItemCount(), 0);
  EXPECT_EQ(Text(form->ClassesTabSheet->ClassStatusBar->panelText(0)), "Units:");
  EXPECT_EQ(Text(form->ClassesTabSheet->ClassStatusBar->panelText(1)), "Classes:");
}

// ---------------------------------------------------------------------------
// Import list

TEST_F(PackagePagesTest, LoadSelectedIsEnabledOnlyOnAPackageRow) {
  Load("C:\\Projects\\Demo\\DemoComp.dpl");
  Visit(form->ImportTabSheet);
  EXPECT_FALSE(LoadSelected()->isEnabled());
  SelectImport("vcl30.dpl");
  EXPECT_TRUE(LoadSelected()->isEnabled());
  SelectImport("KERNEL32.dll");
  EXPECT_FALSE(LoadSelected()->isEnabled());
  SelectImport("vclx30.dpl");
  EXPECT_TRUE(LoadSelected()->isEnabled());
  // Losing the selection leaves the button as it was.
  Imports()->clearSelection();
  EXPECT_TRUE(LoadSelected()->isEnabled());
  // The rule holds whatever the order of the rows.
  ClickHeader(Imports(), 1);
  EXPECT_EQ(Column(Imports(), 1),
            (std::vector<std::string>{"Library", "Library", "Package", "Package"}));
  SelectImport("USER32.dll");
  EXPECT_FALSE(LoadSelected()->isEnabled());
  SelectImport("vcl30.dpl");
  EXPECT_TRUE(LoadSelected()->isEnabled());
  // A new load disables it again.
  Load("C:\\Projects\\Demo\\DemoComp.dpl");
  EXPECT_FALSE(LoadSelected()->isEnabled());
}

TEST_F(PackagePagesTest, OpeningAnImportedPackageReplacesTheModule) {
  Load("C:\\Projects\\Demo\\DemoComp.dpl");
  Visit(form->ImportTabSheet);
  SelectImport("vcl30.dpl");
  test::Click(LoadSelected(), LoadSelected()->rect().center());
  QApplication::processEvents();
  EXPECT_EQ(prompts.Count("Error"), 0);
  EXPECT_EQ(form->ActivePage(), form->GenInfoTabSheet);
  ASSERT_TRUE(form->Module->Loaded());
  EXPECT_EQ(form->Module->FileName, "C:\\windows\\system32\\vcl30.dpl");
  EXPECT_EQ(Text(form->windowTitle()), "Kestrix v00.7.1 - \"C:\\windows\\system32\\vcl30.dpl\"");
  EXPECT_EQ(Imports()->rowCount(), 0);
  EXPECT_FALSE(LoadSelected()->isEnabled());

  Visit(form->ImportTabSheet);
  EXPECT_EQ(Column(Imports(), 2),
            (std::vector<std::string>{"GDI32.dll", "KERNEL32.dll", "USER32.dll"}));
  EXPECT_EQ(Text(form->ImportTabSheet->ImpFuncStatusBar->panelText(1)), "Imported Packages: 0");
  Visit(form->ClassesTabSheet);
  EXPECT_EQ(Children(Structure()), std::vector<std::string>{"vcl30.dpl"});
}

TEST_F(PackagePagesTest, DoubleClickAndEnterOpenTheRow) {
  Load("C:\\Projects\\Demo\\DemoComp.dpl");
  Visit(form->ImportTabSheet);
  // Enter with no row selected does nothing.
  Imports()->setFocus();
  test::PressKey(Imports(), Qt::Key_Return);
  EXPECT_EQ(form->ActivePage(), form->ImportTabSheet);
  EXPECT_EQ(form->Module->FileName, "C:\\Projects\\Demo\\DemoComp.dpl");

  const int row = SelectImport("vclx30.dpl");
  const QRect cell = Imports()->visualRect(Imports()->proxy()->index(row, 2));
  test::DoubleClick(Imports()->viewport(), cell.center());
  QApplication::processEvents();
  EXPECT_EQ(form->Module->FileName, "C:\\windows\\system32\\vclx30.dpl");
  EXPECT_EQ(form->ActivePage(), form->GenInfoTabSheet);

  Visit(form->ImportTabSheet);
  SelectImport("vcl30.dpl");
  test::PressKey(Imports(), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(form->Module->FileName, "C:\\windows\\system32\\vcl30.dpl");
  EXPECT_EQ(prompts.Count("Error"), 0);
}

TEST_F(PackagePagesTest, AFailedLoadOfAnImportedModuleIsSilent) {
  Load("C:\\Projects\\Demo\\DemoComp.dpl");
  const QString caption = form->windowTitle();
  Visit(form->ImportTabSheet);
  // The imported package is in memory only while DemoComp.dpl is loaded;
  // once its file is gone, opening it by name fails.
  fs::remove(prefix.Host("C:\\windows\\system32\\vclx30.dpl"));
  SelectImport("vclx30.dpl");
  ASSERT_TRUE(LoadSelected()->isEnabled());
  test::Click(LoadSelected(), LoadSelected()->rect().center());
  QApplication::processEvents();
  EXPECT_TRUE(prompts.asked.empty())
      << prompts.asked.front().kind << " " << prompts.asked.front().text;
  EXPECT_FALSE(form->Module->Loaded());
  EXPECT_EQ(form->windowTitle(), caption);
  EXPECT_EQ(form->ActivePage(), form->GenInfoTabSheet);
  EXPECT_EQ(Imports()->rowCount(), 0);
  EXPECT_FALSE(LoadSelected()->isEnabled());
  // The package pages stay reset; visiting them fills nothing.
  Visit(form->ExportTabSheet);
  EXPECT_EQ(Exports()->rowCount(), 0);
  EXPECT_EQ(Text(form->ExportTabSheet->ExpFuncStatusBar->panelText(0)), "Exported Functions: -");
}

// ---------------------------------------------------------------------------
// Resource tree

TEST_F(PackagePagesTest, ResourceTreeFollowsTheDepthsOfTheLines) {
  Load("C:\\Projects\\Demo\\resmix.dpl");
  QTreeWidget* tree = form->ResourcesTabSheet->ResTreeView;
  EXPECT_EQ(tree->topLevelItemCount(), 0);
  Visit(form->ResourcesTabSheet);
  EXPECT_FALSE(form->ResourcesPending);
  EXPECT_EQ(Text(form->ResourcesTabSheet->ResStatusBar->panelText(0)), "Resource Directories: 32");
  EXPECT_EQ(Children(tree), (std::vector<std::string>{"AVI", "STRING", "RCDATA", "UNK_#13",
                                                      "VERSION", "00000018"}));
  QTreeWidgetItem* rcdata = Child(tree, nullptr, "RCDATA");
  EXPECT_EQ(Children(tree, rcdata),
            (std::vector<std::string>{"DESCRIPTION", "PACKAGEINFO", "SPLASH"}));
  QTreeWidgetItem* splash = Child(tree, rcdata, "SPLASH");
  EXPECT_EQ(Children(tree, splash), (std::vector<std::string>{"00000407", "00000409"}));
  for (QTreeWidgetItem* lang : {splash->child(0), splash->child(1)}) {
    ASSERT_EQ(lang->childCount(), 1);
    EXPECT_EQ(lang->child(0)->childCount(), 0);
  }
  EXPECT_EQ(Text(splash->child(0)->child(0)->text(0)).substr(0, 8), "Offset: ");
  EXPECT_NE(Text(splash->child(0)->child(0)->text(0)).find("; Size: 00000015; CodePage: "),
            std::string::npos);
  // Every node counts once: 32 lines, 32 nodes.
  int nodes = 0;
  std::vector<QTreeWidgetItem*> todo;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) todo.push_back(tree->topLevelItem(i));
  while (!todo.empty()) {
    QTreeWidgetItem* item = todo.back();
    todo.pop_back();
    ++nodes;
    for (int i = 0; i < item->childCount(); ++i) todo.push_back(item->child(i));
  }
  EXPECT_EQ(nodes, 32);

  // Shown again directly (not through the pending flag): the same tree,
  // not every line twice.
  form->ShowResources();
  EXPECT_EQ(Text(form->ResourcesTabSheet->ResStatusBar->panelText(0)), "Resource Directories: 32");
  EXPECT_EQ(tree->topLevelItemCount(), 6);
}

TEST_F(PackagePagesTest, ResourceTreeOfEachLoadIsItsOwn) {
  Load("C:\\windows\\system32\\vcl30.dpl");
  Visit(form->ResourcesTabSheet);
  EXPECT_EQ(Children(form->ResourcesTabSheet->ResTreeView), std::vector<std::string>{"RCDATA"});
  Visit(form->GenInfoTabSheet);
  Load("C:\\Projects\\Demo\\resmix.dpl");
  EXPECT_EQ(form->ResourcesTabSheet->ResTreeView->topLevelItemCount(), 0);
  Visit(form->ResourcesTabSheet);
  EXPECT_EQ(form->ResourcesTabSheet->ResTreeView->topLevelItemCount(), 6);
}

}  // namespace
}  // namespace kx
