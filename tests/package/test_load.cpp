// Loading package modules through the emulated loader: the package
// information, the failure messages, unloading and the table addresses.
#include <gtest/gtest.h>

#include <algorithm>

#include "package/PackMan.h"
#include "package/PackPages.h"
#include "package_test_util.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {
namespace {

using test::PackageSpec;
using test::PeExport;
using test::PeImport;
using test::PeSpec;
using test::TempPrefix;
using test::WritePe;

bool IsLoaded(std::string_view baseName) {
  for (const ModuleRecord* r : Sys().Proc().Modules())
    if (r->baseName.size() == baseName.size() &&
        std::equal(r->baseName.begin(), r->baseName.end(), baseName.begin(),
                   [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
      return true;
  return false;
}

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const ELoadPackage& e) {
    return e.what();
  }
  return "<no ELoadPackage>";
}

// A run-time package "base" in the system folder exporting Base.Foo.
void WriteBase(TempPrefix& p, std::vector<std::pair<uint8_t, std::string>> units = {
                                  {0, "Shared"}, {0, "BaseUnit"}}) {
  WritePe(p, "C:\\windows\\system32\\base.dpl",
          PackageSpec(0x40000004, {}, units, "Base package", {PeExport{"Base.Foo@x"}}));
}

PeSpec Requiring(const std::string& base, std::vector<std::pair<uint8_t, std::string>> units) {
  PeSpec s = PackageSpec(0x40000000, {base}, units);
  s.imports.push_back(PeImport{base + ".dpl", {"Base.Foo@x"}, {}});
  return s;
}

class LoadTest : public ::testing::Test {
 protected:
  TempPrefix prefix;
};

TEST_F(LoadTest, ReadsPackageInformation) {
  WriteBase(prefix);
  PeSpec s = PackageSpec(
      0x40000002, {"base"},
      {{0x01, "MyPack"}, {0x00, "sysinit"}, {0x04, "WeakOne"}, {0x10, "Impl"}, {0x1C, "Deep"}},
      "Say \"hi\" \xC3\xA9t\xC3\xA9");
  s.imports.push_back(PeImport{"base.dpl", {"Base.Foo@x"}, {}});
  WritePe(prefix, "C:\\Pkgs\\MyPack.dpl", s);

  TPackageModuleInfo m;
  m.Load("C:\\pkgs\\mypack.dpl");
  EXPECT_NE(m.Handle, 0u);
  // The full name as the loader reports it.
  EXPECT_EQ(m.FileName, Sys().Proc().GetModuleFileName(m.Handle));
  EXPECT_TRUE(SameText(m.FileName, "C:\\Pkgs\\MyPack.dpl"));
  EXPECT_EQ(m.Kind, mkDPL);
  EXPECT_EQ(m.DefaultExtension(), ".DPL");
  EXPECT_EQ(m.Flags, 0x40000002u);
  EXPECT_EQ(m.Requires, (std::vector<std::string>{"base"}));
  ASSERT_EQ(m.Contains.size(), 5u);
  EXPECT_EQ(m.Contains[1].name, "sysinit");
  EXPECT_EQ(m.Contains[4].flags, 0x3C);
  // Main unit and SysInit (any case) are left out of both; weak units only
  // out of the structure.
  EXPECT_EQ(m.SourceUnits, (std::vector<std::string>{"WeakOne", "Impl", "Deep"}));
  EXPECT_EQ(m.StructureUnits, (std::vector<std::string>{"Impl"}));
  EXPECT_EQ(m.GetDescription(), "Say \"hi\" \u00E9t\u00E9");
  auto bytes = test::ReadHostFile(prefix.Host("C:\\Pkgs\\MyPack.dpl"));
  EXPECT_EQ(m.FileSize, int32_t(bytes.size()));
  EXPECT_GT(m.FileDate, 40000.0);
  // The required package came with it.
  EXPECT_TRUE(IsLoaded("base.dpl"));
}

TEST_F(LoadTest, KindFollowsTheExtension) {
  for (const char* name : {"C:\\k\\a.bpl", "C:\\k\\b.DpL", "C:\\k\\c.dll"})
    WritePe(prefix, name, PackageSpec(0x40000000, {}, {{0, "U"}}));
  TPackageModuleInfo m;
  m.Load("C:\\k\\a.bpl");
  EXPECT_EQ(m.Kind, mkBPL);
  EXPECT_EQ(m.DefaultExtension(), ".BPL");
  m.Load("C:\\k\\b.DpL");
  EXPECT_EQ(m.Kind, mkDPL);
  m.Load("C:\\k\\c.dll");
  EXPECT_EQ(m.Kind, mkDLL);
  EXPECT_EQ(m.GetDescription(), "{no description}");
}

TEST_F(LoadTest, ReloadingUnloadsAndDoesNotAccumulate) {
  WriteBase(prefix);
  WritePe(prefix, "C:\\p\\two.dpl", Requiring("base", {{0, "A"}, {0, "B"}}));
  TPackageModuleInfo m;
  m.Load("C:\\p\\two.dpl");
  size_t modules = Sys().Proc().Modules().size();
  m.ReadResources();
  m.Load("C:\\p\\two.dpl");
  EXPECT_EQ(m.Contains.size(), 2u);
  EXPECT_EQ(m.Requires.size(), 1u);
  EXPECT_EQ(m.StructureUnits.size(), 2u);
  EXPECT_EQ(m.SourceUnits.size(), 2u);
  EXPECT_TRUE(m.ResourceLines.empty());
  EXPECT_EQ(Sys().Proc().Modules().size(), modules);
  m.Clear();
  EXPECT_EQ(m.Handle, 0u);
  EXPECT_FALSE(IsLoaded("two.dpl"));
  EXPECT_FALSE(IsLoaded("base.dpl"));
}

TEST_F(LoadTest, LoaderFailureCarriesTheSystemText) {
  EXPECT_EQ(Message([] { TPackageModuleInfo().Load("C:\\nowhere\\gone.dpl"); }),
            "Can't load package C:\\nowhere\\gone.dpl.\r\nThe specified module could not be "
            "found.");
  // A required package that cannot be found fails the same way.
  WritePe(prefix, "C:\\p\\orphan.dpl", Requiring("absent", {{0, "X"}}));
  EXPECT_EQ(Message([] { TPackageModuleInfo().Load("C:\\p\\orphan.dpl"); }),
            "Can't load package C:\\p\\orphan.dpl.\r\nThe specified module could not be found.");
  // A required package without the imported procedure.
  WritePe(prefix, "C:\\windows\\system32\\absent.dpl", PackageSpec(0x40000000, {}, {{0, "Z"}}));
  EXPECT_EQ(Message([] { TPackageModuleInfo().Load("C:\\p\\orphan.dpl"); }),
            "Can't load package C:\\p\\orphan.dpl.\r\nThe specified procedure could not be "
            "found.");
  EXPECT_FALSE(IsLoaded("absent.dpl"));
}

TEST_F(LoadTest, WithoutInitializeTheModuleIsRejectedAndUnloaded) {
  PeSpec s;
  s.exports.push_back({"Something"});
  s.resources.push_back({test::PeResName::Id(10), test::PeResName::Name("PACKAGEINFO"), 0,
                         test::BuildPackageInfo(0x40000000, {}, {{0, "U"}})});
  WritePe(prefix, "C:\\p\\Plain.dll", s);
  TPackageModuleInfo m;
  EXPECT_EQ(Message([&] { m.Load("C:\\p\\Plain.dll"); }),
            "Invalid package file 'C:\\p\\Plain.dll'");
  EXPECT_EQ(m.Handle, 0u);
  EXPECT_FALSE(IsLoaded("plain.dll"));
}

TEST_F(LoadTest, ABuiltInSystemLibraryIsNoPackage) {
  // No kernel32.dll file in the prefix: the built-in one loads, but has no
  // "Initialize" to offer.
  for (const char* name : {"kernel32.dll", "KERNEL32", "C:\\windows\\system32\\kernel32.dll"}) {
    TPackageModuleInfo m;
    EXPECT_EQ(Message([&] { m.Load(name); }),
              "Invalid package file 'C:\\windows\\system32\\kernel32.dll'")
        << name;
    EXPECT_FALSE(IsLoaded("kernel32.dll")) << name;
  }
}

TEST_F(LoadTest, WithoutPackageInfoTheLoadFailsButStaysLoaded) {
  PeSpec s;
  s.exports = {{"Initialize"}, {"Finalize"}};
  WritePe(prefix, "C:\\p\\noinfo.dll", s);
  TPackageModuleInfo m;
  EXPECT_EQ(Message([&] { m.Load("C:\\p\\noinfo.dll"); }),
            "Cannot access package information for package 'noinfo.dll'");
  EXPECT_NE(m.Handle, 0u);
  EXPECT_TRUE(m.Contains.empty());
  m.Clear();
  EXPECT_FALSE(IsLoaded("noinfo.dll"));
}

TEST_F(LoadTest, MissingFinalizeFailsTheUnloadButReleasesTheModule) {
  PeSpec s = PackageSpec(0x40000000, {}, {{0, "U"}});
  s.exports.erase(s.exports.begin() + 1);  // Finalize
  WritePe(prefix, "C:\\p\\nofin.dpl", s);
  WritePe(prefix, "C:\\p\\ok.dpl", PackageSpec(0x40000000, {}, {{0, "V"}}));
  TPackageModuleInfo m;
  m.Load("C:\\p\\nofin.dpl");
  EXPECT_EQ(Message([&] { m.Load("C:\\p\\ok.dpl"); }), "Invalid package handle");
  EXPECT_EQ(m.Handle, 0u);
  EXPECT_FALSE(IsLoaded("nofin.dpl"));
  // The object is usable again at once.
  m.Load("C:\\p\\ok.dpl");
  EXPECT_EQ(m.Contains[0].name, "V");
}

TEST_F(LoadTest, DuplicateUnitThroughARequiredPackage) {
  WriteBase(prefix);
  WritePe(prefix, "C:\\p\\dup.dpl", Requiring("base", {{0, "Mine"}, {0, "shared"}}));
  TPackageModuleInfo m;
  EXPECT_EQ(Message([&] { m.Load("C:\\p\\dup.dpl"); }),
            "Cannot load package 'dup.'  It contains unit 'shared,';which is also contained in "
            "package 'base'");
  EXPECT_EQ(m.Handle, 0u);
  EXPECT_FALSE(IsLoaded("dup.dpl"));
  EXPECT_FALSE(IsLoaded("base.dpl"));
}

TEST_F(LoadTest, DuplicateUnitAgainstAPackageAlreadyInTheProcess) {
  WriteBase(prefix);
  WritePe(prefix, "C:\\p\\other.dpl", PackageSpec(0x40000000, {}, {{0, "BaseUnit"}}));
  HMODULE base = Sys().Proc().LoadLibrary("base.dpl");
  ASSERT_NE(base, 0u);
  EXPECT_EQ(Message([] { TPackageModuleInfo().Load("C:\\p\\other.dpl"); }),
            "Cannot load package 'other.'  It contains unit 'BaseUnit,';which is also contained "
            "in package 'base'");
  Sys().Proc().FreeLibrary(base);
  // Once base is gone the same package loads.
  TPackageModuleInfo m;
  m.Load("C:\\p\\other.dpl");
  EXPECT_EQ(m.Contains.size(), 1u);
}

TEST_F(LoadTest, WeakAndPackageUnitsDoNotClash) {
  WriteBase(prefix, {{0, "Shared"}, {0x04, "WeakCommon"}});
  WritePe(prefix, "C:\\p\\weak.dpl",
          Requiring("base", {{0x02, "Shared"}, {0x04, "WeakCommon"}, {0, "Own"}}));
  TPackageModuleInfo m;
  m.Load("C:\\p\\weak.dpl");
  EXPECT_EQ(m.Contains.size(), 3u);
  // Loading the package that is already in the process is not a clash with itself.
  TPackageModuleInfo again;
  again.Load("C:\\windows\\system32\\base.dpl");
  EXPECT_EQ(again.Contains.size(), 2u);
}

TEST_F(LoadTest, ExportTablesAreReadInTheActualMapping) {
  // Two packages that both prefer 0x10000000: the second is relocated.
  PeSpec a = PackageSpec(0x40000000, {}, {{0, "A"}}, {}, {PeExport{"A.One@1"}});
  a.imageBase = 0x10000000;
  PeSpec b =
      PackageSpec(0x40000000, {}, {{0, "B"}}, {}, {PeExport{"B.Two@2"}, PeExport{"B.Three@3"}});
  b.imageBase = 0x10000000;
  b.ordinalBase = 5;
  test::PeLayout layout;
  prefix.WriteFile("C:\\p\\b.dpl", test::BuildPe(b, &layout));
  WritePe(prefix, "C:\\p\\a.dpl", a);
  HMODULE first = Sys().Proc().LoadLibrary("C:\\p\\a.dpl");
  ASSERT_EQ(first, 0x10000000u);

  TPackageModuleInfo m;
  m.Load("C:\\p\\b.dpl");
  m.ReadExportTables();
  EXPECT_EQ(m.ImageBase, 0x10000000u);
  EXPECT_NE(m.LoadBase, m.ImageBase);
  EXPECT_EQ(m.LoadBase, m.Handle);
  ASSERT_NE(m.ModuleEntry, nullptr);
  EXPECT_EQ(m.ModuleEntry->handle, m.Handle);
  EXPECT_EQ(m.NameCount, 4);
  EXPECT_EQ(m.OrdinalBase, 5u);
  EXPECT_EQ(m.NameTable - m.LoadBase, test::Get32(test::ReadHostFile(prefix.Host("C:\\p\\b.dpl")),
                                                  layout.Offset(layout.exportDir) + 0x20));
  EXPECT_NE(m.ImportTable == 0, layout.importDir != 0);

  std::vector<ExportRow> rows = ReadExportRows(m);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].name, "B.Three@3");
  EXPECT_EQ(rows[1].name, "B.Two@2");
  EXPECT_EQ(rows[2].name, "Finalize");
  EXPECT_EQ(rows[3].name, "Initialize");
  // Spec order: Initialize, Finalize, B.Two, B.Three.
  EXPECT_EQ(rows[1].ordinal, layout.exportOrdinals[2]);
  EXPECT_EQ(rows[1].address, layout.exportRvas[2]);
  EXPECT_EQ(rows[0].address, layout.exportRvas[3]);
  Sys().Proc().FreeLibrary(first);
}

TEST_F(LoadTest, TheExportDirectoryIsReadOnlyInsideTheModulesOwnImage) {
  // a.dpl's export directory entry points just past its own image, where
  // b.dll lies with a real export directory.
  test::PeLayout la, lb;
  PeSpec a = PackageSpec(0x40000000, {}, {{0, "A"}}, {}, {PeExport{"A.One@1"}});
  a.imageBase = 0x20000000;
  auto bytesA = test::BuildPe(a, &la);
  const uint32_t sizeA = test::Get32(bytesA, la.optionalHeader + 56);
  const uint32_t baseB = 0x20000000 + ((sizeA + 0xFFFF) & ~0xFFFFu);
  PeSpec b;
  b.imageBase = baseB;
  b.exports = {{"B1"}, {"B2"}, {"B3"}};
  auto bytesB = test::BuildPe(b, &lb);
  test::Put32(bytesA, la.optionalHeader + 96, baseB - 0x20000000 + lb.exportDir);
  prefix.WriteFile("C:\\p\\a.dpl", bytesA);
  prefix.WriteFile("C:\\p\\b.dll", bytesB);
  TPackageModuleInfo m;
  m.LoadAsData("C:\\p\\a.dpl");
  ASSERT_EQ(m.Handle, 0x20000000u);
  const HMODULE hb = Sys().Proc().LoadLibrary("C:\\p\\b.dll");
  ASSERT_EQ(hb, baseB);
  m.ReadExportTables();
  EXPECT_EQ(m.NameCount, 0);
  EXPECT_EQ(m.FunctionTable, 0u);
  EXPECT_TRUE(ReadExportRows(m).empty());
  Sys().Proc().FreeLibrary(hb);
}

TEST_F(LoadTest, PackageKindFromFileAndFromModule) {
  WritePe(prefix, "C:\\p\\k.dpl", PackageSpec(0x40000006, {}, {{0, "U"}}));
  PeSpec plain;
  plain.exports = {{"X"}};
  plain.imports.push_back(PeImport{"missing.dll", {"Nope"}, {}});
  WritePe(prefix, "C:\\p\\plain.dll", plain);

  size_t before = Sys().Proc().Modules().size();
  EXPECT_EQ(GetPackageKind("C:\\p\\k.dpl"), 0x97);
  EXPECT_EQ(Sys().Proc().Modules().size(), before);
  EXPECT_EQ(Message([] { GetPackageKind("C:\\p\\plain.dll"); }),
            "PackMan: Could not load package module!");
  EXPECT_EQ(Sys().Proc().Modules().size(), before);
  EXPECT_EQ(Message([] { GetPackageKind("C:\\p\\none.dpl"); }),
            "PackMan: Could not load C:\\p\\none.dpl package module!");
  EXPECT_EQ(Message([] { GetModulePackageKind(0); }), "PackMan: Could not load package module!");

  HMODULE h = Sys().Proc().LoadLibraryEx("C:\\p\\k.dpl", LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(HasPackageInfo(h));
  EXPECT_EQ(GetModulePackageKind(h), 0x97);
  ASSERT_TRUE(GetPackageInfoData(h));
  EXPECT_EQ(GetPackageInfoData(h)->size() % 4, 0u);
  Sys().Proc().FreeLibrary(h);
  EXPECT_FALSE(HasPackageInfo(0));
  EXPECT_FALSE(GetPackageInfoData(0));
}

TEST_F(LoadTest, DataFileLoadInspectsAnyLibrary) {
  PeSpec plain;
  plain.exports = {{"Alpha"}, {"Beta"}};
  plain.imports.push_back(PeImport{"missing.dll", {"Nope"}, {}});
  WritePe(prefix, "C:\\p\\plain.dll", plain);
  TPackageModuleInfo m;
  m.LoadAsData("C:\\p\\plain.dll");
  EXPECT_TRUE(m.IsDataFile());
  EXPECT_TRUE(m.Contains.empty());
  m.ReadExportTables();
  EXPECT_EQ(m.NameCount, 2);
  ImportListResult imports = FillImportList(m);
  ASSERT_EQ(imports.rows.size(), 1u);
  EXPECT_EQ(imports.rows[0].handleText, "-");
  EXPECT_EQ(imports.rows[0].name, "missing.dll");
  EXPECT_EQ(imports.rows[0].type, "Library");
  // Releasing a data file needs no "Finalize".
  m.Clear();
  EXPECT_FALSE(IsLoaded("plain.dll"));
  EXPECT_EQ(Message([&] { m.LoadAsData("C:\\p\\gone.dll"); }),
            "PackMan: Could not load C:\\p\\gone.dll package module!");
}

}  // namespace
}  // namespace kx
