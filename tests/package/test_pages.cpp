// The export list, import list, the combined fill and the resource tree of
// a loaded module.
#include <gtest/gtest.h>

#include <regex>

#include "package/PackPages.h"
#include "package_test_util.h"
#include "platform/formats.h"
#include "platform/process.h"
#include "platform/system.h"

namespace kx {
namespace {

using test::PackageSpec;
using test::PeExport;
using test::PeImport;
using test::PeResName;
using test::PeSpec;
using test::TempPrefix;
using test::WritePe;

class PagesTest : public ::testing::Test {
 protected:
  TPackageModuleInfo& Open(const std::string& path, bool asData = false) {
    if (asData)
      m.LoadAsData(path);
    else
      m.Load(path);
    m.ReadExportTables();
    return m;
  }
  TempPrefix prefix;
  TPackageModuleInfo m;
};

TEST_F(PagesTest, ExportListOfTwentyNamesAndItsMeter) {
  std::vector<PeExport> exports;
  for (int i = 0; i < 18; ++i) exports.push_back({"Unit" + std::string(1, char('A' + i)) + ".X@1"});
  test::PeLayout layout;
  PeSpec s = PackageSpec(0x40000000, {}, {{0, "U"}}, {}, exports);
  s.ordinalBase = 3;
  prefix.WriteFile("C:\\p\\twenty.dpl", test::BuildPe(s, &layout));
  Open("C:\\p\\twenty.dpl");

  test::RecordingMeter meter;
  ExportListResult r = FillExportList(m, meter);
  ASSERT_EQ(r.rows.size(), 20u);
  EXPECT_EQ(meter.completedValues, (std::vector<int>{0, 0, 3, 6, 9, 12, 15, 18, 0}));
  EXPECT_EQ(meter.events[1], "total:20");
  EXPECT_EQ(r.statusPanels[0], "Exported Functions: 20");
  EXPECT_EQ(r.statusPanels[1], "BaseAddress :" + HexAddress(m.LoadBase));
  EXPECT_EQ(r.statusPanels[2], "ImageBase :$00400000");
  EXPECT_FALSE(r.damaged);
  // Table order is byte order; each row's ordinal and RVA are the export's own.
  EXPECT_EQ(r.rows[0].name, "Finalize");
  EXPECT_EQ(r.rows[1].name, "Initialize");
  EXPECT_EQ(r.rows[2].name, "UnitA.X@1");
  EXPECT_EQ(r.rows[2].ordinal, layout.exportOrdinals[2]);
  EXPECT_EQ(r.rows[2].address, layout.exportRvas[2]);
  EXPECT_EQ(r.rows[0].ordinal, layout.exportOrdinals[1]);
  EXPECT_GE(r.rows[0].ordinal, 3u);
}

TEST_F(PagesTest, NoExportsLeavesTheListAsReset) {
  PeSpec s;
  s.imports.push_back(PeImport{"kernel32.dll", {"GetVersion"}, {}});
  WritePe(prefix, "C:\\p\\noexp.exe", s);
  Open("C:\\p\\noexp.exe", true);
  test::RecordingMeter meter;
  ExportListResult r = FillExportList(m, meter);
  EXPECT_TRUE(r.rows.empty());
  EXPECT_TRUE(meter.events.empty());
  EXPECT_EQ(r.statusPanels[0], "Exported Functions: -");
}

TEST_F(PagesTest, ImportsTellPackagesFromLibrariesAndSkipRepeatedModules) {
  WritePe(prefix, "C:\\windows\\system32\\vcl30.dpl",
          PackageSpec(0x40000004, {}, {{0, "Controls"}}, {}, {PeExport{"Controls.A@1"}}));
  PeSpec s = PackageSpec(0x40000000, {"vcl30"}, {{0, "Mine"}});
  s.imports.push_back(PeImport{"vcl30.dpl", {"Controls.A@1"}, {}});
  s.imports.push_back(PeImport{"kernel32.dll", {"GetVersion"}, {}});
  s.imports.push_back(PeImport{"user32.dll", {"MessageBoxA"}, {}});
  s.imports.push_back(PeImport{"KERNEL32.DLL", {"ExitProcess"}, {}});
  WritePe(prefix, "C:\\p\\imp.dpl", s);
  Open("C:\\p\\imp.dpl");

  ImportListResult r = FillImportList(m);
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(r.rows[0].name, "vcl30.dpl");
  EXPECT_EQ(r.rows[0].type, "Package");
  EXPECT_EQ(r.rows[0].handle, Sys().Proc().GetModuleHandle("vcl30.dpl"));
  EXPECT_EQ(r.rows[0].handleText, HexAddress(r.rows[0].handle));
  EXPECT_EQ(r.rows[1].name, "kernel32.dll");
  EXPECT_EQ(r.rows[1].type, "Library");
  EXPECT_EQ(r.rows[2].name, "user32.dll");
  EXPECT_EQ(r.statusPanels[0], "Modules Imported: 3");
  EXPECT_EQ(r.statusPanels[1], "Imported Packages: 1");

  // As a data file nothing is resolved; repeated names still give one row.
  TPackageModuleInfo data;
  data.LoadAsData("C:\\p\\imp.dpl");
  data.ReadExportTables();
  ImportListResult d = FillImportList(data);
  ASSERT_EQ(d.rows.size(), 3u);
  EXPECT_EQ(d.rows[0].handleText, "-");
  EXPECT_EQ(d.rows[0].type, "Package");
  EXPECT_EQ(d.rows[1].type, "Library");
}

TEST_F(PagesTest, NoImportTableGivesZeroCounts) {
  WritePe(prefix, "C:\\p\\lone.dpl", PackageSpec(0x40000000, {}, {{0, "U"}}));
  Open("C:\\p\\lone.dpl");
  ImportListResult r = FillImportList(m);
  EXPECT_TRUE(r.rows.empty());
  EXPECT_EQ(r.statusPanels[0], "Modules Imported: 0");
  EXPECT_EQ(r.statusPanels[1], "Imported Packages: 0");
}

TEST_F(PagesTest, ShowNamesFillsAllThreeWithTheStageLabels) {
  WritePe(prefix, "C:\\p\\All.dpl",
          PackageSpec(0x40000000, {}, {{0, "Classes"}}, {},
                      {PeExport{"Classes..TList@1"}, PeExport{"Classes.TList@2"},
                       PeExport{"Classes.TList.Add@3"}}));
  Open("C:\\p\\All.dpl");
  test::RecordingMeter meter;
  int pumped = 0;
  PackageNames names = ShowNames(m, meter, [&] { ++pumped; });
  EXPECT_EQ(names.exports.rows.size(), 5u);
  EXPECT_TRUE(names.structure.built);
  EXPECT_EQ(names.structure.root.caption, "All.dpl");
  EXPECT_EQ(names.structure.classCount, 1);
  EXPECT_GE(pumped, 3);
  std::vector<std::string> labels;
  for (const auto& e : meter.events)
    if (e.rfind("label:", 0) == 0 || e == "show" || e == "hide") labels.push_back(e);
  EXPECT_EQ(labels, (std::vector<std::string>{"show", "label:Retrieving Export Data...",
                                              "label:Retrieving Import Data...",
                                              "label:Building DPL Structure...", "hide"}));
}

TEST_F(PagesTest, StructureOnlyForDplModules) {
  PeSpec s = PackageSpec(0x40000000, {}, {{0, "Classes"}}, {}, {PeExport{"Classes.Foo@1"}});
  WritePe(prefix, "C:\\p\\b.bpl", s);
  WritePe(prefix, "C:\\p\\mainonly.dpl", PackageSpec(0x40000000, {}, {{0x01, "Main"}}));
  NullMeter meter;
  Open("C:\\p\\b.bpl");
  EXPECT_FALSE(BuildStructure(m, meter).built);
  Open("C:\\p\\mainonly.dpl");
  StructureResult r = BuildStructure(m, meter);
  ASSERT_TRUE(r.built);
  EXPECT_TRUE(r.root.children.empty());
  EXPECT_EQ(r.statusPanels[0], "Units: 0");
  EXPECT_EQ(r.statusPanels[1], "Classes: 0");
}

// ---------------------------------------------------------------------------
// Resources

std::vector<std::pair<std::string, int>> Lines(const TPackageModuleInfo& mod) {
  std::vector<std::pair<std::string, int>> out;
  for (const auto& l : mod.ResourceLines) out.emplace_back(l.text, l.depth);
  return out;
}

TEST_F(PagesTest, PackageResourcesGiveSevenLines) {
  PeSpec s = PackageSpec(0x40000000, {}, {{0, "U"}}, "Desc");
  test::PeLayout layout;
  prefix.WriteFile("C:\\p\\res.dpl", test::BuildPe(s, &layout));
  Open("C:\\p\\res.dpl");
  m.ReadResources();
  EXPECT_EQ(m.ResourceRoot, m.LoadBase + layout.resourceDir);
  auto lines = Lines(m);
  ASSERT_EQ(lines.size(), 7u);
  std::vector<int> depths;
  for (auto& [t, d] : lines) depths.push_back(d);
  EXPECT_EQ(depths, (std::vector<int>{1, 2, 3, 4, 2, 3, 4}));
  EXPECT_EQ(lines[0].first, "RCDATA");
  EXPECT_EQ(lines[1].first, "DESCRIPTION");
  EXPECT_EQ(lines[2].first, "00000000");
  EXPECT_EQ(lines[4].first, "PACKAGEINFO");
  std::regex data("Offset: [0-9A-F]{8}; Size: [0-9A-F]{8}; CodePage: 00000000");
  EXPECT_TRUE(std::regex_match(lines[3].first, data)) << lines[3].first;
  // DESCRIPTION "Desc" is 5 UTF-16 characters with the terminator.
  EXPECT_EQ(lines[3].first.substr(18, 24), "Size: 0000000A; CodePage");

  ResourceTree tree = ShowResourceTree(m.ResourceLines);
  EXPECT_EQ(tree.status, "Resource Directories: 7");
  ASSERT_EQ(tree.topLevel.size(), 1u);
  EXPECT_EQ(tree.topLevel[0].caption, "RCDATA");
  ASSERT_EQ(tree.topLevel[0].children.size(), 2u);
  EXPECT_EQ(tree.topLevel[0].children[1].caption, "PACKAGEINFO");
  EXPECT_EQ(tree.topLevel[0].children[1].children[0].children[0].caption, lines[6].first);
}

TEST_F(PagesTest, TypeNamesIdsAndNamedTypes) {
  PeSpec s = PackageSpec(0x40000000, {}, {{0, "U"}});
  s.resources.push_back({PeResName::Id(24), PeResName::Id(1), 1033, {1, 2}});
  s.resources.push_back({PeResName::Id(13), PeResName::Id(7), 0, {3}});
  s.resources.push_back({PeResName::Name("AVI"), PeResName::Name("Clip\xC3\xA9"), 0, {4}});
  WritePe(prefix, "C:\\p\\types.dpl", s);
  Open("C:\\p\\types.dpl");
  m.ReadResources();
  std::vector<std::string> depth1, depth2, depth3;
  for (const auto& l : m.ResourceLines) {
    if (l.depth == 1) depth1.push_back(l.text);
    if (l.depth == 2) depth2.push_back(l.text);
    if (l.depth == 3) depth3.push_back(l.text);
  }
  // Named entries come first in a directory, then ids in ascending order.
  EXPECT_EQ(depth1, (std::vector<std::string>{"AVI", "RCDATA", "UNK_#13", "00000018"}));
  EXPECT_EQ(depth2[0], "Clip\u00E9");
  EXPECT_NE(std::find(depth2.begin(), depth2.end(), "00000007"), depth2.end());
  EXPECT_NE(std::find(depth3.begin(), depth3.end(), "00000409"), depth3.end());

  for (uint32_t id = 0; id <= 16; ++id) EXPECT_FALSE(ResourceTypeName(id).empty());
  EXPECT_EQ(ResourceTypeName(0), "UNK_#0");
  EXPECT_EQ(ResourceTypeName(9), "ACCELERATORS");
  EXPECT_EQ(ResourceTypeName(15), "UNK_#15");
  EXPECT_EQ(ResourceTypeName(16), "VERSION");
  EXPECT_EQ(ResourceTypeName(17), "00000011");
}

TEST_F(PagesTest, NoResourceDirectory) {
  PeSpec s;
  s.exports = {{"Initialize"}};
  WritePe(prefix, "C:\\p\\bare.dll", s);
  Open("C:\\p\\bare.dll", true);
  m.ReadResources();
  EXPECT_EQ(m.ResourceRoot, 0u);
  ResourceTree tree = ShowResourceTree(m.ResourceLines);
  EXPECT_EQ(tree.status, "Resource Directories: 0");
  EXPECT_TRUE(tree.topLevel.empty());
}

TEST_F(PagesTest, EmptyResourceDirectoryInTheImage) {
  PeSpec s = PackageSpec(0x40000000, {}, {{0, "U"}});
  s.resources.push_back({PeResName::Name("AVI"), PeResName::Id(1), 0, {1}});
  test::PeLayout layout;
  auto image = test::BuildPe(s, &layout);
  // The root's first entry is the named type AVI; empty its subdirectory.
  uint32_t root = layout.Offset(layout.resourceDir);
  uint32_t sub = test::Get32(image, root + 16 + 4) & 0x7FFFFFFF;
  test::Put16(image, root + sub + 12, 0);
  test::Put16(image, root + sub + 14, 0);
  prefix.WriteFile("C:\\p\\empty.dpl", image);
  Open("C:\\p\\empty.dpl");
  m.ReadResources();
  ASSERT_GE(m.ResourceLines.size(), 2u);
  EXPECT_EQ(m.ResourceLines[0].text, "AVI");
  EXPECT_EQ(m.ResourceLines[1].text, "RCDATA");
  EXPECT_EQ(m.ResourceLines[1].depth, 1);
  ResourceTree tree = ShowResourceTree(m.ResourceLines);
  ASSERT_EQ(tree.topLevel.size(), 2u);
  EXPECT_TRUE(tree.topLevel[0].children.empty());
  EXPECT_EQ(tree.topLevel[1].children[0].caption, "PACKAGEINFO");
}

TEST(ResourceTreeFromLines, EmptyDirectoryFollowedBySibling) {
  // B is a directory without entries; C is its sibling and D hangs under C.
  ResourceTree t = ShowResourceTree({{"A", 1}, {"B", 2}, {"C", 2}, {"D", 3}, {"E", 4}, {"F", 1}});
  ASSERT_EQ(t.topLevel.size(), 2u);
  const ResourceNode& a = t.topLevel[0];
  ASSERT_EQ(a.children.size(), 2u);
  EXPECT_TRUE(a.children[0].children.empty());
  EXPECT_EQ(a.children[1].caption, "C");
  ASSERT_EQ(a.children[1].children.size(), 1u);
  EXPECT_EQ(a.children[1].children[0].caption, "D");
  EXPECT_EQ(a.children[1].children[0].children[0].caption, "E");
  EXPECT_EQ(t.topLevel[1].caption, "F");
  EXPECT_EQ(t.status, "Resource Directories: 6");
}

TEST(ResourceTreeFromLines, UpwardStepsPastTheTopStayAtTopLevel) {
  ResourceTree t = ShowResourceTree({{"A", 3}, {"B", 1}, {"C", 5}, {"D", 2}});
  // The first line is top level whatever its depth and counts as depth 1; B
  // is its sibling, C a child of B; D climbs three depth steps, more than
  // the tree has, and stays at the top level.
  ASSERT_EQ(t.topLevel.size(), 3u);
  EXPECT_EQ(t.topLevel[1].caption, "B");
  EXPECT_EQ(t.topLevel[1].children[0].caption, "C");
  EXPECT_EQ(t.topLevel[2].caption, "D");
}

}  // namespace
}  // namespace kx
