// The package file search: where each mode looks, the mask rewrite, the
// cells of a found file, the order of a header click, and a search run
// with stop-at-first and abort.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "delphi3/SysPackg.h"
#include "package/PackMan.h"
#include "platform/files.h"
#include "platform/formats.h"
#include "platform/process.h"
#include "platform/system.h"
#include "search/PackSearch.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(PackSearchRoots, EachModeLooksWhereItShould) {
  test::TempPrefix prefix;
  Sys().SetCurrentDirectory("C:\\Work\\Here");
  struct Case {
    SearchMode mode;
    std::string mask, folder;
    bool stopAtFirst;
    std::string expandedPath;
    Strings roots;  // leading roots (drive roots may follow)
    bool recurse;
  };
  const Case cases[] = {
      {smFolder, "*.dpl", "C:\\Projects", false, "", {"C:\\Projects"}, true},
      {smSystemFolder, "*.dpl", "C:\\Projects", false, "", {"C:\\SYS"}, false},
      {smProcessPath, "*.dpl", "C:\\Projects", true, "C:\\A;;C:\\B", {"C:\\A", "", "C:\\B"}, false},
      // Without Delphi 3 the extended path is empty: nothing to search.
      {smProcessPath, "*.dpl", "", false, "", {}, false},
      // Stop at first: the mask's folder (the current one without), then its drive.
      {smDriveRoots, "vcl30.dpl", "", true, "", {"C:\\Work\\Here\\", "C:\\"}, true},
      {smDriveRoots, "C:\\D3\\BIN\\*.dpl", "", true, "", {"C:\\D3\\BIN\\", "C:\\"}, true},
      {smDriveRoots, "C:\\D3\\BIN\\*.dpl", "", false, "", {"C:\\"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask + " mode " + std::to_string(c.mode));
    const TPackSearchRoots r =
        PackSearchRoots(c.mode, c.mask, c.folder, c.stopAtFirst, "C:\\SYS", c.expandedPath);
    EXPECT_EQ(r.Recurse, c.recurse);
    ASSERT_GE(r.Roots.size(), c.roots.size());
    EXPECT_EQ(Strings(r.Roots.begin(), r.Roots.begin() + long(c.roots.size())), c.roots);
    if (c.mode != smDriveRoots) {
      EXPECT_EQ(r.Roots.size(), c.roots.size());
    }
  }
}

TEST(PackSearchControls, ModeChoiceMaskRewriteAndLoadableNames) {
  EXPECT_EQ(PickSearchMode(true, true, true), smProcessPath);
  EXPECT_EQ(PickSearchMode(false, true, true), smSystemFolder);
  EXPECT_EQ(PickSearchMode(false, false, true), smFolder);
  EXPECT_EQ(PickSearchMode(false, false, false), smDriveRoots);

  const struct {
    const char* mask;
    size_t type;
    const char* expected;
  } masks[] = {
      {"*.dpl", 3, "*.DCP"},
      {"vcl*.dpl", 8, "vcl*.PAS"},
      {"vcl*", 8, ".PAS"},
      {"", 0, ".DPL"},
      {"C:\\D3\\x*.dpl", 1, "x*.DPK"},
      {"a.b.c", 13, "a.b.H"},
      {"dir.x\\nodot", 2, ".PCE"},
      {"*.dpl", 16, "*.dpl"},
  };
  for (const auto& m : masks)
    EXPECT_EQ(MaskForFileType(m.mask, m.type), m.expected) << m.mask << " / " << m.type;

  EXPECT_EQ(kPackSearchFileTypes[5].Description,
            std::string("Delphi Description Resource Compiler  (*.DRC)"));
  for (const char* name : {"VCL30.DPL", "x.dpl", "a.b.Dpl"}) EXPECT_TRUE(IsLoadableFoundFile(name));
  for (const char* name : {"x.bpl", "x.dpl.bak", "dpl", ""})
    EXPECT_FALSE(IsLoadableFoundFile(name));
}

TEST(PackSearchOrder, NumbersAsNumbersOnlyWhenBothAreNumbers) {
  const struct {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"999", "1000", -1},
      {"10", "9", 1},
      {"2.5", "10", -1},
      {"-3", "2", -1},
      {"007", "7", 0},
      {"999", "1,000", 1},  // "1,000" is text: '1' < '9'
      {"1,024", "999", -1},
      {"abc", "ABD", -1},
      {"Yes", "yes", 0},
      {"N/A", "12", 1},
      {"12/9/2026", "2/1/2020", -1},
      {"", "0", -1},
      {"1e3", "999", 1},
      {"1.", ".5", 1},
  };
  for (const auto& c : cases) {
    const int r = CompareFindCells(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    const int back = CompareFindCells(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " vs " << c.a;
  }
}

class FindRowTest : public ::testing::Test {
 protected:
  FindRowTest() {
    AddRunTimePackages(runTime);
    AddDesignTimePackages(designTime);
    context.StdRunTimePackages = &runTime;
    context.StdDesignTimePackages = &designTime;
    context.SharedPackNames = &shared;
  }
  void WritePackage(const std::string& path, uint32_t flags) {
    prefix.WriteFile(path, test::BuildPe(test::PackageSpec(flags, {}, {{0x01, "Unit1"}})));
  }
  std::string Date(const std::string& path, FileTime FileInformation::*time) {
    return FormatShortDate(FileTimeToDateValue((*GetFileInformation(path)).*time));
  }

  test::TempPrefix prefix;
  Strings runTime, designTime, shared;
  TFindRowContext context;
};

TEST_F(FindRowTest, PackageLibrariesAndOtherFiles) {
  const std::string sys = "C:\\windows\\system32\\";
  WritePackage(sys + "VCL30.DPL", pfPackageModule | pfRunOnly);
  WritePackage("C:\\P\\mine.dpl", pfPackageModule | pfDesignOnly);
  WritePackage("C:\\P\\both.Dpl", pfPackageModule);
  prefix.WriteText("C:\\P\\Unit1.pas", std::string(999, 'x'));
  prefix.WriteText("C:\\P\\big.dcu", std::string(1000, 'x'));
  prefix.WriteText("C:\\P\\noext", "");
  fs::create_hard_link(prefix.Host("C:\\P\\Unit1.pas"), prefix.Host("C:\\P\\Unit1copy.pas"));
  shared = {"c:\\WINDOWS\\system32\\vcl30.dpl"};

  const TFindRow vcl = MakeFindRow(sys + "VCL30.DPL", context);
  const std::string size = FormatByteCount(int64_t(fs::file_size(prefix.Host(sys + "VCL30.DPL"))));
  EXPECT_EQ(vcl, (TFindRow{"VCL30.DPL", sys, size, "DPLRun", "Yes", "Yes",
                           Date(sys + "VCL30.DPL", &FileInformation::lastWriteTime),
                           Date(sys + "VCL30.DPL", &FileInformation::creationTime),
                           Date(sys + "VCL30.DPL", &FileInformation::lastAccessTime), "1"}));

  // Given the host path by the finder, the row is the same.
  const fs::path host = prefix.Host(sys + "VCL30.DPL");
  EXPECT_EQ(MakeFindRow(sys + "VCL30.DPL", context, &host), vcl);

  const struct {
    const char* path;
    const char* size;
    const char* type;
    const char* system;
    const char* links;
  } rows[] = {
      {"C:\\P\\mine.dpl", nullptr, "DPLDsgn", "No", "1"},
      {"C:\\P\\both.Dpl", nullptr, "DPLBoth", "No", "1"},
      {"C:\\P\\Unit1.pas", "999", "PAS", "No", "2"},
      {"C:\\P\\big.dcu", "1,000", "DCU", "No", "1"},
      {"C:\\P\\noext", "0", "", "No", "1"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.path);
    const TFindRow row = MakeFindRow(r.path, context);
    if (r.size) {
      EXPECT_EQ(row[2], r.size);
    }
    EXPECT_EQ(row[3], r.type);
    EXPECT_EQ(row[4], r.system);
    EXPECT_EQ(row[5], "No");
    EXPECT_EQ(row[9], r.links);
  }
}

TEST_F(FindRowTest, WhatCannotBeReadReadsNA) {
  prefix.WriteText("C:\\P\\fake.dpl", std::string(5000, 'M'));  // no PE image
  const TFindRow fake = MakeFindRow("C:\\P\\fake.dpl", context);
  EXPECT_EQ(fake, (TFindRow{"fake.dpl", "C:\\P\\", "5,000", "N/A", "N/A", "N/A", "N/A", "N/A",
                            "N/A", "N/A"}));

  // Gone between the listing and the row: the cells that need the file.
  const TFindRow gone = MakeFindRow("C:\\P\\gone.pas", context);
  EXPECT_EQ(gone, (TFindRow{"gone.pas", "C:\\P\\", "N/A", "PAS", "No", "No", "N/A", "N/A", "N/A",
                            "N/A"}));
  // A vanished package library cannot give its kind either.
  const TFindRow goneDpl = MakeFindRow("C:\\P\\vcl30.dpl", context);
  EXPECT_EQ(goneDpl[0], "vcl30.dpl");
  for (size_t c = 2; c < goneDpl.size(); ++c) EXPECT_EQ(goneDpl[c], "N/A") << c;

  // A file the user may not open: no size, dates or links, but the marks.
  if (geteuid() != 0) {
    prefix.WriteText("C:\\P\\locked.pas", "x");
    fs::permissions(prefix.Host("C:\\P\\locked.pas"), fs::perms::none);
    const TFindRow locked = MakeFindRow("C:\\P\\locked.pas", context);
    EXPECT_EQ(locked[2], "N/A");
    EXPECT_EQ(locked[3], "PAS");
    EXPECT_EQ(locked[9], "N/A");
  }
}

// A drive that maps a parent folder of C: (here Z: -> the prefix) keeps its
// own name for C:'s files, and their Shared mark holds all the same (the
// same file); two files whose names differ only in letter case each give
// their own row, also while one of them is the loaded package.
TEST_F(FindRowTest, FilesReachedThroughAParentDriveAndCaseTwinsAreTheirOwn) {
  const std::string sys = "C:\\windows\\system32\\";
  WritePackage(sys + "vcl30.dpl", pfPackageModule | pfRunOnly);
  WritePackage("C:\\Twins\\A.dpl", pfPackageModule | pfRunOnly);
  WritePackage("C:\\Twins\\a.dpl", pfPackageModule | pfDesignOnly);
  shared = {"C:\\windows\\system32\\vcl30.dpl"};
  prefix.System().Drives().Map('Z', prefix.Root());
  Sys().SetCurrentDirectory("Z:\\");

  std::vector<TFindRow> rows;
  TFileFinder finder;
  const auto search = [&](const std::string& mask) {
    rows.clear();
    ConfigurePackSearch(finder, PackSearchRoots(smDriveRoots, mask, "", true, sys, ""), mask, true);
    finder.OnAddFile = [&](const TFoundFile& f, bool&) {
      rows.push_back(MakeFindRow(f.fileName, context, &f.hostPath));
    };
    finder.Execute();
  };
  search("vcl30.dpl");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], "Z:\\drive_c\\windows\\system32\\");
  EXPECT_EQ(rows[0][5], "Yes");
  Sys().SetCurrentDirectory("C:\\");

  const HMODULE loaded = Sys().Proc().LoadLibrary("C:\\Twins\\a.dpl");
  ASSERT_NE(loaded, 0u);
  search("a.dpl");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0] + rows[0][1] + rows[0][3], "A.dplC:\\Twins\\DPLRun");
  EXPECT_EQ(rows[1][0] + rows[1][1] + rows[1][3], "a.dplC:\\Twins\\DPLDsgn");
  Sys().Proc().FreeLibrary(loaded);
}

TEST(PackSearchRun, StopAtFirstListsTheWholeFirstFolderAndNothingAfter) {
  test::TempPrefix prefix;
  for (const char* f : {"C:\\R\\a.txt", "C:\\R\\S1\\x1.dpl", "C:\\R\\S1\\x2.DPL",
                        "C:\\R\\S1\\Deep\\x3.dpl", "C:\\R\\S2\\x4.dpl", "C:\\T\\x5.dpl"})
    prefix.WriteText(f, "z");
  Sys().SetCurrentDirectory("C:\\R");
  const auto run = [](SearchMode mode, const std::string& mask, bool stopAtFirst) {
    TFileFinder finder;
    ConfigurePackSearch(finder, PackSearchRoots(mode, mask, "C:\\R", stopAtFirst, "", ""), mask,
                        stopAtFirst);
    finder.Execute();
    return finder.Results();
  };
  EXPECT_EQ(run(smFolder, "*.dpl", false),
            (Strings{"C:\\R\\S1\\x1.dpl", "C:\\R\\S1\\x2.DPL", "C:\\R\\S2\\x4.dpl",
                     "C:\\R\\S1\\Deep\\x3.dpl"}));
  EXPECT_EQ(run(smFolder, "*.dpl", true), (Strings{"C:\\R\\S1\\x1.dpl", "C:\\R\\S1\\x2.DPL"}));
  // A mask with a folder: the search starts there, the pattern is its name.
  EXPECT_EQ(run(smDriveRoots, "C:\\T\\X*.DPL", true), (Strings{"C:\\T\\x5.dpl"}));
  EXPECT_EQ(run(smDriveRoots, "x4.dpl", true), (Strings{"C:\\R\\S2\\x4.dpl"}));
}

}  // namespace
}  // namespace kx
