// PACKAGEINFO parsing, the flag word and unit flag sets, module kinds and
// the General Info choices: pure functions over bytes and flag values.
#include <gtest/gtest.h>

#include "package/GeneralInfo.h"
#include "package/PackMan.h"
#include "platform/system.h"
#include "support/nls_builder.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

using test::BuildPackageInfo;

// PACKAGEOPTIONS: 0x30, the switches $A..$Z, the image base at 36, then the
// conditional defines, the unit aliases and the description as
// length-prefixed strings, possibly followed by zero bytes.
TEST(PackageOptionsParse, SwitchesBaseStringsAndDamage) {
  const auto options = [](uint8_t z, std::string conditionals, std::string aliases,
                          std::string description) {
    std::vector<uint8_t> b(40, 0);
    b[0] = 0x30;
    for (int i = 1; i <= 25; ++i) b[i] = i % 2;  // A+ B- C+ ...
    b[26] = z;
    b[36] = 0x00, b[37] = 0x00, b[38] = 0x40, b[39] = 0x00;
    for (const std::string& s : {conditionals, aliases, description}) {
      b.push_back(static_cast<uint8_t>(s.size()));
      b.insert(b.end(), s.begin(), s.end());
    }
    return b;
  };
  const auto good = ParsePackageOptions(options(4, "PACKAGES;", "WinTypes=Windows", "Tern's \xFC"));
  ASSERT_TRUE(good);
  EXPECT_EQ(good->ImageBase, 0x00400000u);
  EXPECT_EQ(good->Conditionals, "PACKAGES;");
  EXPECT_EQ(good->UnitAliases, "WinTypes=Windows");
  EXPECT_EQ(good->Description, "Tern's \xFC");
  EXPECT_EQ(PackageSwitchesText(*good),
            "A+ B- C+ D- E+ F- G+ H- I+ J- K+ L- M+ N- O+ P- Q+ R- S+ T- U+ V- W+ X- Y+ Z4");
  // The strings are decoded from the system code page (Windows-1252 here).
  const TPackageOptionsText text = PackageOptionsText(*good);
  EXPECT_EQ(text.Conditionals, "PACKAGES;");
  EXPECT_EQ(text.UnitAliases, "WinTypes=Windows");
  EXPECT_EQ(text.Description, "Tern's \u00FC");

  // A third-party package: no conditional defines, so the description is
  // the third string, not the aliases.
  const auto thirdParty = ParsePackageOptions(options(1, "", "WinTypes=Windows;", "Arrows"));
  ASSERT_TRUE(thirdParty);
  EXPECT_EQ(thirdParty->Conditionals, "");
  EXPECT_EQ(thirdParty->UnitAliases, "WinTypes=Windows;");
  EXPECT_EQ(thirdParty->Description, "Arrows");

  std::vector<uint8_t> padded = options(1, "", "", "D");
  padded.insert(padded.end(), {0, 0, 0});                     // zero bytes after the strings
  const std::vector<uint8_t> empty = options(1, "", "", "");  // 43 bytes
  const std::vector<uint8_t> full = options(1, "C", "A", "Desc");
  const auto cut = [](std::vector<uint8_t> b, size_t size) {
    b.resize(size);
    return b;
  };
  std::vector<uint8_t> badSwitch = empty;
  badSwitch[3] = 2;
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    bool valid;
  } cases[] = {
      {"zero bytes after the strings", padded, true},
      {"empty strings", empty, true},
      {"no conditionals length", cut(empty, 40), false},
      {"conditionals past the end", cut(full, 41), false},
      {"no aliases length", cut(full, 42), false},
      {"aliases past the end", cut(full, 43), false},
      {"no description length", cut(full, 44), false},
      {"description past the end", cut(full, full.size() - 1), false},
      {"two strings only", cut(options(1, "WinTypes=Windows", "D", ""), 40 + 17 + 2), false},
      {"switch other than 0 or 1", badSwitch, false},
      {"minimum enum size 3", options(3, "", "", ""), false},
      {"minimum enum size 0", options(0, "", "", ""), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParsePackageOptions(c.bytes).has_value(), c.valid) << c.what;
}

TEST(PackageInfoParse, ZeroRequiredPackagesReadsUnitCountAtOffsetEight) {
  std::vector<std::pair<uint8_t, std::string>> units;
  for (int i = 0; i < 101; ++i) units.emplace_back(0, "Unit" + std::to_string(i));
  auto bytes = BuildPackageInfo(0xC0000000, {}, units);
  // The count of contained units follows the (empty) required list directly.
  ASSERT_EQ(bytes[8], 101);
  PackageInfo info = ParsePackageInfo(bytes, "p.dpl");
  EXPECT_EQ(info.flags, 0xC0000000u);
  EXPECT_TRUE(info.requiredPackages.empty());
  ASSERT_EQ(info.containedUnits.size(), 101u);
  EXPECT_EQ(info.containedUnits[0].name, "Unit0");
  EXPECT_EQ(info.containedUnits[100].name, "Unit100");
}

// Unit and package names are text in the system code page; each entry
// still advances by its bytes, whatever they decode to.
TEST(PackageInfoParse, NamesAreReadInTheSystemCodePage) {
  test::TempPrefix prefix;
  const struct {
    uint16_t page;
    const char* stored;
    const char* name;
  } kNames[] = {
      {1252, "Caf\xE9", "Caf\u00E9"},
      {1251, "\xCA\xEE\xEC", "\u041A\u043E\u043C"},
      {932, "\x95\x5C\x83\x41", "\u8868\u30A2"},
  };
  for (const auto& n : kNames) {
    Sys().SetAnsiCodePage(test::ChartPage(n.page));
    const PackageInfo info = ParsePackageInfo(
        BuildPackageInfo(0, {n.stored, "vcl30"}, {{0, n.stored}, {0, "Next"}}), "p.dpl");
    EXPECT_EQ(info.requiredPackages, (std::vector<std::string>{n.name, "vcl30"}));
    ASSERT_EQ(info.containedUnits.size(), 2u);
    EXPECT_EQ(info.containedUnits[0].name, n.name);
    EXPECT_EQ(info.containedUnits[1].name, "Next");
  }
}

TEST(PackageInfoParse, EntriesAdvanceByNameLengthPlusHashAndFlagBytes) {
  auto bytes =
      BuildPackageInfo(0x40000004, {"vcl30", "vclx30"}, {{0x01, "Main"}, {0x1C, "W"}, {0, "Abc"}});
  PackageInfo info = ParsePackageInfo(bytes, "p.dpl");
  EXPECT_EQ(info.requiredPackages, (std::vector<std::string>{"vcl30", "vclx30"}));
  ASSERT_EQ(info.containedUnits.size(), 3u);
  EXPECT_EQ(info.containedUnits[0].name, "Main");
  EXPECT_EQ(info.containedUnits[1].name, "W");
  EXPECT_EQ(info.containedUnits[1].rawFlags, 0x1C);
  EXPECT_EQ(info.containedUnits[2].name, "Abc");
}

TEST(PackageInfoParse, PaddingAfterTheLastEntryIsIgnored) {
  auto bytes = BuildPackageInfo(0, {"a"}, {{0, "B"}});
  ASSERT_EQ(bytes.size() % 4, 0u);
  bytes.insert(bytes.end(), {0, 0, 0, 0});
  PackageInfo info = ParsePackageInfo(bytes, "p");
  EXPECT_EQ(info.containedUnits.size(), 1u);
}

TEST(PackageInfoParse, NegativeCountsReadAsNoEntries) {
  std::vector<uint8_t> bytes = {0, 0, 0, 0x40, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF};
  PackageInfo info = ParsePackageInfo(bytes, "p");
  EXPECT_TRUE(info.requiredPackages.empty());
  EXPECT_TRUE(info.containedUnits.empty());
}

TEST(PackageInfoParse, EveryTruncationRaisesTheAccessMessage) {
  auto bytes = BuildPackageInfo(0x40000000, {"vcl30"}, {{0, "Alpha"}, {0x10, "Beta"}});
  // The unpadded length: the last byte is Beta's terminator.
  size_t content = 4 + 4 + (1 + 6) + 4 + (2 + 6) + (2 + 5);
  for (size_t len = 0; len < content; ++len) {
    std::span<const uint8_t> part(bytes.data(), len);
    try {
      ParsePackageInfo(part, "broken.dpl");
      ADD_FAILURE() << "no error at length " << len;
    } catch (const ELoadPackage& e) {
      EXPECT_STREQ(e.what(), "Cannot access package information for package 'broken.dpl'");
    }
  }
  EXPECT_EQ(
      ParsePackageInfo(std::span<const uint8_t>(bytes.data(), content), "x").containedUnits.size(),
      2u);
}

TEST(PackageInfoParse, HugeCountOnShortDataFailsInsteadOfAllocating) {
  std::vector<uint8_t> bytes = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 'a', 0};
  EXPECT_THROW(ParsePackageInfo(bytes, "p"), ELoadPackage);
}

TEST(UnitFlags, BitsCopiedAndWeakPackageUnitFromMaskSix) {
  UnitFlagSet s = UnitFlagSetFromByte(0x1C);
  EXPECT_FALSE(InSet(s, ufMainUnit));
  EXPECT_FALSE(InSet(s, ufPackageUnit));
  EXPECT_TRUE(InSet(s, ufWeakUnit));
  EXPECT_TRUE(InSet(s, ufOrgWeakUnit));
  EXPECT_TRUE(InSet(s, ufImplicitUnit));
  EXPECT_TRUE(InSet(s, ufWeakPackageUnit));

  EXPECT_EQ(UnitFlagSetFromByte(0x02), (1 << ufPackageUnit) | (1 << ufWeakPackageUnit));
  EXPECT_EQ(UnitFlagSetFromByte(0x10), 1 << ufImplicitUnit);
  EXPECT_EQ(UnitFlagSetFromByte(0x01), 1 << ufMainUnit);
  // Bits above the five defined ones are not read.
  EXPECT_EQ(UnitFlagSetFromByte(0xE0), 0);
}

TEST(PackageKindSets, FromFlagWords) {
  EXPECT_EQ(PackageKindFromFlags(0x00000000), 0x34);
  EXPECT_EQ(PackageKindFromFlags(0x40000006), 0x97);
  EXPECT_EQ(PackageKindFromFlags(0xC0000001), 0xD8);
  PackageKindSet run = PackageKindFromFlags(0x40000004);
  EXPECT_TRUE(InSet(run, pkRunOnly));
  EXPECT_FALSE(InSet(run, pkDesignOnly));
  EXPECT_TRUE(InSet(PackageKindFromFlags(0x80000000), pkLibraryModule));
  EXPECT_FALSE(InSet(PackageKindFromFlags(0x80000000), pkPackageModule));
}

TEST(ModuleKinds, FromExtensionIgnoringCase) {
  EXPECT_EQ(ModuleKindFromFileName("C:\\x\\pack.DpL"), mkDPL);
  EXPECT_EQ(ModuleKindFromFileName("C:\\x\\pack.dpl"), mkDPL);
  EXPECT_EQ(ModuleKindFromFileName("pack.bpl"), mkBPL);
  EXPECT_EQ(ModuleKindFromFileName("pack.dll"), mkDLL);
  EXPECT_EQ(ModuleKindFromFileName("pack"), mkDLL);
  // A dot in a folder name is not an extension.
  EXPECT_EQ(ModuleKindFromFileName("C:\\dir.dpl\\pack"), mkDLL);
  EXPECT_EQ(ModuleKindFromFileName("pack.dpl.bak"), mkDLL);
  EXPECT_STREQ(DefaultExtensionOf(mkDLL), ".DLL");
  EXPECT_STREQ(DefaultExtensionOf(mkDPL), ".DPL");
  EXPECT_STREQ(DefaultExtensionOf(mkBPL), ".BPL");
}

TEST(GeneralInfoChoices, FlagWordsSelectOneChoiceForPageCommandLineAndSource) {
  struct Case {
    uint32_t flags;
    TUsageChoice usage;
    TBuildChoice build;
    TModuleTypeChoice type;
    const char* texts[3];
  };
  const Case cases[] = {
      {0x40000002,
       ucDesignTime,
       bcAlways,
       mtPackageDLL,
       {"Design Time", "Always (Implicit)", "Package DLL"}},
      // Both usage bits: Run Time.
      {0x40000007,
       ucRunTime,
       bcNever,
       mtPackageDLL,
       {"Run Time", "Never (Explicit)", "Package DLL"}},
      {0x00000000,
       ucBoth,
       bcAlways,
       mtExecutable,
       {"Both Design & Run Time", "Always (Implicit)", "EXEcutable"}},
      // Both module bits: Library DLL.
      {0xC0000000,
       ucBoth,
       bcAlways,
       mtLibraryDLL,
       {"Both Design & Run Time", "Always (Implicit)", "Library DLL"}},
      {0x80000001,
       ucBoth,
       bcNever,
       mtLibraryDLL,
       {"Both Design & Run Time", "Never (Explicit)", "Library DLL"}},
      {0x00000004,
       ucRunTime,
       bcAlways,
       mtExecutable,
       {"Run Time", "Always (Implicit)", "EXEcutable"}},
  };
  for (const Case& c : cases) {
    const TFlagChoices got = ChoicesFromFlags(c.flags);
    EXPECT_EQ(got.usage, c.usage) << std::hex << c.flags;
    EXPECT_EQ(got.build, c.build) << std::hex << c.flags;
    EXPECT_EQ(got.moduleType, c.type) << std::hex << c.flags;
    EXPECT_EQ(PackageUsageText(c.flags), c.texts[0]);
    EXPECT_EQ(PackageBuildText(c.flags), c.texts[1]);
    EXPECT_EQ(PEModuleTypeText(c.flags), c.texts[2]);
    EXPECT_EQ(kUsageItems[got.usage], std::string(c.texts[0]));
  }
}

TEST(GeneralInfoChoices, UnitFlagCaptionsAndSortedRequires) {
  EXPECT_EQ(
      UnitFlagCaptions(UnitFlagSetFromByte(0x1C)),
      (std::vector<std::string>{"Weak Unit", "OrgWeak Unit", "Implicit Unit", "WeakPackage Unit"}));
  EXPECT_EQ(UnitFlagCaptions(UnitFlagSetFromByte(0x01)), (std::vector<std::string>{"Main Unit"}));
  EXPECT_TRUE(UnitFlagCaptions(0).empty());
  EXPECT_EQ(SortedRequires({"vclx30", "VCL30", "abc"}),
            (std::vector<std::string>{"abc", "VCL30", "vclx30"}));
}

}  // namespace
}  // namespace kx
