// What the DCP page shows and does, decided in core code.
#include <gtest/gtest.h>

#include "dcp/DCPPage.h"
#include "platform/errors.h"
#include "support/dcp_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

test::DcpBuilder Package() {
  test::DcpBuilder b;
  b.requiredPackages = {"vcl30"};
  b.units = {{"Alpha", 0x100, 0x900, std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}},
             {"Beta", 0x140, 0x940, std::vector<uint8_t>(33, 0xBE)},
             {"mypack", 0x200, 0x980, {}}};
  b.resources = {"mypack.res", "extra.res"};
  return b;
}

TEST(DCPPage, TreeRootsNodesAndStatus) {
  test::TempPrefix prefix;
  test::DcpLayout lay;
  prefix.WriteFile("C:\\d\\mypack.dcp", Package().Build(&lay));
  TDCPPageContent c = AnalyzeDCP("C:\\d\\mypack.dcp");

  ASSERT_EQ(c.Roots.size(), 3u);
  EXPECT_EQ(c.Roots[0].Text, "Units");
  EXPECT_EQ(c.Roots[0].Kind, nkUnitsRoot);
  EXPECT_EQ(c.Roots[1].Text, "Required Packages");
  EXPECT_EQ(c.Roots[1].Kind, nkRequiresRoot);
  EXPECT_EQ(c.Roots[2].Text, "Resources");
  EXPECT_EQ(c.Roots[2].Kind, nkResourcesRoot);

  const auto& units = c.Roots[0].Children;
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[0].Text, "Alpha");
  ASSERT_TRUE(units[0].Entry);
  EXPECT_EQ(units[0].Entry->DCUSize, 7);
  EXPECT_EQ(units[1].Text, "Beta");
  EXPECT_EQ(units[2].Text, "mypack (.DPK source)");
  EXPECT_EQ(units[2].Kind, nkUnit);
  EXPECT_FALSE(units[2].Entry);

  ASSERT_EQ(c.Roots[1].Children.size(), 1u);
  EXPECT_EQ(c.Roots[1].Children[0].Text, "vcl30.dpl");
  EXPECT_EQ(c.Roots[1].Children[0].Kind, nkRequiredPackage);
  ASSERT_EQ(c.Roots[2].Children.size(), 2u);
  EXPECT_EQ(c.Roots[2].Children[1].Text, "extra.res");
  EXPECT_EQ(c.Roots[2].Children[1].Kind, nkResource);

  EXPECT_EQ(c.StatusTexts,
            (std::array<std::string, 3>{"Units: 3", "Required Packages: 1", "Resources: 2"}));
}

TEST(DCPPage, OneUnitPackageHasNoSelectableEntry) {
  TDCPPageContent c = MakeDCPPageContent("x.dcp", {TMyDCUInfo{"x", 0, 0, 0, 64, 0, 0}}, {}, {});
  const TDCPTreeNode& only = c.Roots[0].Children.at(0);
  EXPECT_EQ(only.Text, "x (.DPK source)");
  EXPECT_FALSE(only.Entry);
  EXPECT_FALSE(DCPButtonsEnabled(&only));
  EXPECT_FALSE(EnterRunsExtract(&only, 13));
  EXPECT_EQ(DCUInfoData(only.Entry ? &*only.Entry : nullptr),
            (std::array<std::string, 6>{"-", "-", "-", "-", "-", "-"}));
  EXPECT_EQ(c.StatusTexts[0], "Units: 1");
  EXPECT_EQ(c.StatusTexts[1], "Required Packages: 0");
}

TEST(DCPPage, FieldAndDataRows) {
  EXPECT_STREQ(kDCUInfoFields[0], "DCU Offset in DCP");
  EXPECT_STREQ(kDCUInfoFields[5], "Data Offset in DPL");
  TMyDCUInfo e{"Beta", 1234, 0, -5, 0x1A2B, 0xFFFFFFFF, 0x10};
  EXPECT_EQ(DCUInfoData(&e), (std::array<std::string, 6>{"$00001A2B", "1234 bytes", "0 bytes",
                                                         "-5 bytes", "$FFFFFFFF", "$00000010"}));
}

TEST(DCPPage, MenuEnablingFollowsNodeKinds) {
  TDCPTreeNode root{nkUnitsRoot, "Units", std::nullopt, {}};
  TDCPTreeNode req{nkRequiredPackage, "vcl30.dpl", std::nullopt, {}};
  TDCPTreeNode res{nkResource, "a.res", std::nullopt, {}};
  TDCPTreeNode own{nkUnit, "p (.DPK source)", std::nullopt, {}};
  TDCPTreeNode unit{nkUnit, "Beta", TMyDCUInfo{"Beta"}, {}};

  auto m = DCPMenuState(nullptr);
  EXPECT_FALSE(m.ExtractDCU || m.CopyInfoString);
  m = DCPMenuState(&root);
  EXPECT_FALSE(m.ExtractDCU || m.CopyInfoString);
  m = DCPMenuState(&req);
  EXPECT_FALSE(m.ExtractDCU);
  EXPECT_TRUE(m.CopyInfoString);
  EXPECT_EQ(CopyInfoString(req), "vcl30.dpl");
  m = DCPMenuState(&res);
  EXPECT_TRUE(m.CopyInfoString);
  m = DCPMenuState(&own);  // enabled by kind; the extraction itself then does nothing
  EXPECT_TRUE(m.ExtractDCU && m.CopyInfoString);
  EXPECT_FALSE(DCPButtonsEnabled(&own));
  EXPECT_TRUE(DCPButtonsEnabled(&unit));
  EXPECT_TRUE(EnterRunsExtract(&unit, 13));
  EXPECT_FALSE(EnterRunsExtract(&unit, 32));
  EXPECT_FALSE(EnterRunsExtract(&req, 13));
}

TEST(DCPPage, UnitReportText) {
  TMyDCUInfo e{"Beta", 0, 0, 0, 0x2F0, 0x140, 0x940};
  std::string header = "H\r\n\r\n";
  EXPECT_EQ(BuildDCUReport(e, header),
            "H\r\n\r\n\r\n"
            "DCU Offset in DCP: $000002F0\r\n"
            "DCU Size         : 0 bytes\r\n"
            "Code Size        : 0 bytes\r\n"
            "Data Size        : 0 bytes\r\n"
            "Code size in DPL : $00000140\r\n"
            "Data size in DPL : $00000940");
  EXPECT_EQ(DCUReportSourceName("Beta", "C:\\pkgs\\MyPack.dpl"), "Beta.DCU (MyPack.DCP)");
  EXPECT_EQ(DCUReportSourceName("Beta", ""), "Beta.DCU (.DCP)");
}

TEST(DCPPage, QuestionsDialogsAndExpectedFile) {
  EXPECT_EQ(kExtractDCUQuestion,
            "NOTE: DCUs extracted from a packaged DCP aren't useful for a normal "
            "recompilation.\r\rProceed anyway?");
  EXPECT_EQ(LocateFileQuestion("C:\\a\\p.dcp"),
            "File C:\\a\\p.dcp not found. Would you like to locate it?");
  EXPECT_EQ(DCUSaveDialog("Beta").fileName, "Beta.dcu");
  EXPECT_TRUE(DCUSaveDialog("Beta").overwritePrompt);
  EXPECT_EQ(ReportSaveDialog("Beta").fileName, "Beta.TXT");
  EXPECT_EQ(DCPOpenDialog().title, "Select Source DCP...");
  EXPECT_EQ(ExpectedDCPFileName("C:\\Pkgs\\MyPack.DPL"), "C:\\Pkgs\\MyPack.dcp");
  EXPECT_EQ(ExpectedDCPFileName("C:\\Pkgs\\MyPack.bpl"), std::nullopt);
  EXPECT_EQ(ExpectedDCPFileName("C:\\Pkgs\\lib.dll"), std::nullopt);
}

TEST(DCPPage, ExtractionCopiesExactlyTheUnitsBytes) {
  test::TempPrefix prefix;
  test::DcpLayout lay;
  auto bytes = Package().Build(&lay);
  prefix.WriteFile("C:\\d\\mypack.dcp", bytes);
  prefix.WriteText("C:\\out\\readme.txt", "");  // the target folder
  TDCPPageContent c = AnalyzeDCP("C:\\d\\mypack.dcp");
  const TMyDCUInfo& beta = *c.Roots[0].Children[1].Entry;
  ASSERT_EQ(beta.DCUSize, 33);

  ExtractDCU("C:\\d\\mypack.dcp", beta, "C:\\out\\Beta.dcu");
  EXPECT_EQ(test::ReadHostFile(prefix.Host("C:\\out\\Beta.dcu")), std::vector<uint8_t>(33, 0xBE));
  // An existing target is replaced.
  ExtractDCU("C:\\d\\mypack.dcp", *c.Roots[0].Children[0].Entry, "C:\\out\\Beta.dcu");
  EXPECT_EQ(test::ReadHostFile(prefix.Host("C:\\out\\Beta.dcu")),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}));

  // A zero-size entry gives an empty file.
  TMyDCUInfo zero{"Z", 0, 0, 0, 0x40, 0, 0};
  ExtractDCU("C:\\d\\mypack.dcp", zero, "C:\\out\\Z.dcu");
  EXPECT_TRUE(test::ReadHostFile(prefix.Host("C:\\out\\Z.dcu")).empty());

  // A range outside the file writes nothing.
  TMyDCUInfo beyond{"X", 100, 0, 0, uint32_t(bytes.size() - 50), 0, 0};
  EXPECT_THROW(ExtractDCU("C:\\d\\mypack.dcp", beyond, "C:\\out\\X.dcu"), EDCPDamaged);
  TMyDCUInfo negative{"N", -1, 0, 0, 0, 0, 0};
  EXPECT_THROW(ExtractDCU("C:\\d\\mypack.dcp", negative, "C:\\out\\X.dcu"), EDCPDamaged);
  EXPECT_FALSE(std::filesystem::exists(prefix.Host("C:\\out\\X.dcu")));

  try {
    ExtractDCU("C:\\d\\gone.dcp", beta, "C:\\out\\Y.dcu");
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "Cannot open file C:\\d\\gone.dcp");
  }
  EXPECT_FALSE(std::filesystem::exists(prefix.Host("C:\\out\\Y.dcu")));
}

TEST(DCPPage, AnalysisFailuresCarryTheMessages) {
  test::TempPrefix prefix;
  try {
    AnalyzeDCP("C:\\nothing.dcp");
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "Cannot open file C:\\nothing.dcp");
  }
  auto bytes = Package().Build();
  bytes.resize(40);
  prefix.WriteFile("C:\\cut.dcp", bytes);
  try {
    AnalyzeDCP("C:\\cut.dcp");
    FAIL();
  } catch (const EDCPDamaged& e) {
    EXPECT_STREQ(e.what(), "File C:\\cut.dcp is damaged or is not a compiled package file.");
  }
}

}  // namespace
}  // namespace kx
