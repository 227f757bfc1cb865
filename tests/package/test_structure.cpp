// The structure tree: how export names become units, classes, members,
// system routines and procedures.
#include <gtest/gtest.h>

#include <algorithm>

#include "package/PackPages.h"
#include "package_test_util.h"

namespace kx {
namespace {

// Rows in name-table order (byte order, as the PE format sorts them);
// ordinals from 1 in that order, RVAs 0x1000 * ordinal.
std::vector<ExportRow> Rows(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  std::vector<ExportRow> rows;
  for (size_t i = 0; i < names.size(); ++i)
    rows.push_back(ExportRow{uint32_t(0x1000 * (i + 1)), uint32_t(i + 1), names[i]});
  return rows;
}

// The tree as indented text: "caption[state]".
void Dump(const StructureNode& n, int level, std::string& out) {
  out += std::string(level * 2, ' ') + n.caption;
  if (n.stateIndex) out += "[" + std::to_string(n.stateIndex) + "]";
  out += "\n";
  for (const auto& c : n.children) Dump(c, level + 1, out);
}

std::string Tree(const std::vector<std::string>& names, const std::vector<std::string>& units,
                 StructureResult* keep = nullptr) {
  NullMeter meter;
  StructureResult r = BuildStructureFromExports(Rows(names), units, "pack.dpl", meter);
  std::string out;
  Dump(r.root, 0, out);
  if (keep) *keep = std::move(r);
  return out;
}

TEST(Structure, ClassesUnitExample) {
  StructureResult r;
  std::string t = Tree({"Classes..TList@x", "Classes.TList.Add@y", "Classes.TList.Clear@z",
                        "Classes.TList@w", "Classes.Register@v", "Classes.FindClass@u"},
                       {"Classes"}, &r);
  EXPECT_EQ(t,
            "pack.dpl\n"
            "  Classes\n"
            "    Classes\n"
            "      TList\n"
            "        Add()[3]\n"
            "        Clear()[3]\n"
            "    System\n"
            "      Register[1]\n"
            "    Procedures/Types\n"
            "      FindClass[2]\n");
  EXPECT_EQ(r.unitCount, 1);
  EXPECT_EQ(r.classCount, 1);
  EXPECT_EQ(r.statusPanels[0], "Units: 1");
  EXPECT_EQ(r.statusPanels[1], "Classes: 1");

  // Leaves carry their routine; unit, group and class nodes carry none.
  const StructureNode& unit = r.root.children[0];
  EXPECT_FALSE(unit.info);
  const StructureNode& list = unit.children[0].children[0];
  EXPECT_FALSE(list.info);
  const StructureNode& add = list.children[0];
  ASSERT_TRUE(add.info);
  EXPECT_EQ(add.info->ExportName, "Classes.TList.Add@y");
  EXPECT_EQ(add.info->ElementName, "Add()");
  EXPECT_EQ(add.info->UnitName, "Classes");
  EXPECT_EQ(add.info->ClassName, "TList");
  EXPECT_EQ(add.info->Signature, "@y");
  EXPECT_EQ(add.info->Reserved, 0u);
  // Byte order: FindClass, Register, TList.Add, ... after the marker.
  EXPECT_EQ(add.info->Ordinal, 4u);
  EXPECT_EQ(add.info->Address, 0x4000u);

  auto rows = ElementInfoRows(add);
  ASSERT_TRUE(rows);
  std::vector<std::pair<std::string, std::string>> expected = {
      {"Export Ordinal", "4"},
      {"Export Address (RVA)", "$00004000"},
      {"Export Name", "Classes.TList.Add@y"},
      {"Unit Name", "Classes"},
      {"Class Name", "TList"},
      {"Element Name", "Add()"}};
  EXPECT_EQ(*rows, expected);
  // No class row for a non-member; no rows at all for a node without a routine.
  const StructureNode& reg = unit.children[1].children[0];
  auto regRows = ElementInfoRows(reg);
  ASSERT_TRUE(regRows);
  EXPECT_EQ(regRows->size(), 5u);
  EXPECT_EQ((*regRows)[4], std::make_pair(std::string("Element Name"), std::string("Register")));
  EXPECT_FALSE(ElementInfoRows(unit));
}

TEST(Structure, MemberNeedsBothClassMarkerAndUnitLevelExport) {
  EXPECT_EQ(Tree({"Classes.TFoo.Bar@x"}, {"Classes"}), "pack.dpl\n  Classes\n");
  EXPECT_EQ(Tree({"Classes..TFoo@a", "Classes.TFoo.Bar@x"}, {"Classes"}), "pack.dpl\n  Classes\n");
  // Unit-level export without the marker: a plain procedure, members hidden.
  EXPECT_EQ(Tree({"Classes.TFoo.Bar@x", "Classes.TFoo@b"}, {"Classes"}),
            "pack.dpl\n  Classes\n    Procedures/Types\n      TFoo[2]\n");
}

TEST(Structure, IdentifierEqualToUnitIsSkipped) {
  EXPECT_EQ(Tree({"Forms.Forms@x", "Forms.Application@y"}, {"Forms"}),
            "pack.dpl\n  Forms\n    Procedures/Types\n      Application[2]\n");
}

TEST(Structure, SystemRoutinesCompareWholeIdentifierIgnoringCase) {
  EXPECT_EQ(Tree({"Controls.registerfoo@x", "Controls.REGISTER@x", "Controls.Finalization@",
                  "Controls.initialization@q"},
                 {"Controls"}),
            "pack.dpl\n  Controls\n"
            "    System\n      Finalization[1]\n      REGISTER[1]\n      initialization[1]\n"
            "    Procedures/Types\n      registerfoo[2]\n");
}

TEST(Structure, NamesWithoutDotBelongToNoUnit) {
  StructureResult r;
  EXPECT_EQ(Tree({"Initialize", "Finalize", "Classes.Foo@1"}, {"Classes"}, &r),
            "pack.dpl\n  Classes\n    Procedures/Types\n      Foo[2]\n");
}

TEST(Structure, IdentifiersWithoutAtTakeTheWholeIdentifier) {
  EXPECT_EQ(
      Tree({"Db..TTable", "Db.TTable", "Db.TTable.Open", "Db.RegisterX", "Db.Register"}, {"Db"}),
      "pack.dpl\n  Db\n    Classes\n      TTable\n        Open()[3]\n"
      "    System\n      Register[1]\n    Procedures/Types\n      RegisterX[2]\n");
}

TEST(Structure, UnitsMatchIgnoringCaseAndOnlyTheFirstStretchCounts) {
  StructureResult r;
  // Byte order: "Classes.B", "Classes.a", "ClassesX.C", "Db.D", "classes.Z".
  EXPECT_EQ(Tree({"Classes.a@1", "Classes.B@2", "ClassesX.C@3", "Db.D@4", "classes.Z@5"},
                 {"CLASSES", "Db", "Empty"}, &r),
            "pack.dpl\n  CLASSES\n    Procedures/Types\n      B[2]\n      a[2]\n"
            "  Db\n    Procedures/Types\n      D[2]\n  Empty\n");
  EXPECT_EQ(r.root.children[0].children[0].children[1].info->UnitName, "CLASSES");
  EXPECT_EQ(r.statusPanels[0], "Units: 3");
  EXPECT_EQ(r.statusPanels[1], "Classes: 0");
}

TEST(Structure, ClassesInOrderOfFirstAppearanceAndCountedPerUnit) {
  StructureResult r;
  std::string t =
      Tree({"A..TB@1", "A..TA@1", "A.TA@2", "A.TB@2", "A.TA.X@3", "A.TB.Y@4", "B..TA@1", "B.TA@2"},
           {"A", "B"}, &r);
  // "A..TA" sorts before "A..TB": TA is met first.
  EXPECT_EQ(t,
            "pack.dpl\n  A\n    Classes\n      TA\n        X()[3]\n      TB\n        Y()[3]\n"
            "  B\n    Classes\n      TA\n");
  EXPECT_EQ(r.classCount, 3);
}

TEST(Structure, MembersGoToTheirClassInNameOrderWhateverTheCase) {
  // Members of two classes interleave in name order; "ta" is TA's.
  const std::vector<std::string> names = {"U..TA@1",    "U..TB@1",      "U.TA@2",    "U.TB@2",
                                          "U.TA.Zed@3", "U.TB.Alpha@4", "U.ta.Mid@5"};
  const std::string expected =
      "pack.dpl\n  U\n    Classes\n      TA\n        Zed()[3]\n        Mid()[3]\n"
      "      TB\n        Alpha()[3]\n";
  StructureResult attached;
  EXPECT_EQ(Tree(names, {"U"}, &attached), expected);
  EXPECT_EQ(attached.root.children[0].children[0].children[0].children[1].info->ExportName,
            "U.ta.Mid@5");

  // Without leaf details the tree is the same and no leaf carries any.
  NullMeter meter;
  StructureResult bare =
      BuildStructureFromExports(Rows(names), {"U"}, "pack.dpl", meter, LeafInfo::Skip);
  std::string text;
  Dump(bare.root, 0, text);
  EXPECT_EQ(text, expected);
  for (const auto& cls : bare.root.children[0].children[0].children)
    for (const auto& member : cls.children) EXPECT_EQ(member.info, nullptr);
  EXPECT_EQ(bare.statusPanels, attached.statusPanels);
}

TEST(Structure, EmptyUnitListShowsOnlyTheRoot) {
  StructureResult r;
  EXPECT_EQ(Tree({"Classes.A@1"}, {}, &r), "pack.dpl\n");
  EXPECT_EQ(r.statusPanels[0], "Units: 0");
  EXPECT_EQ(r.statusPanels[1], "Classes: 0");
}

TEST(Structure, MeterCountsUnits) {
  test::RecordingMeter meter;
  BuildStructureFromExports(Rows({"A.x@1", "B.y@2"}), {"A", "B", "C"}, "p", meter);
  EXPECT_EQ(meter.events, (std::vector<std::string>{"completed:0", "total:3", "completed:0",
                                                    "completed:1", "completed:2", "completed:0"}));
}

}  // namespace
}  // namespace kx
