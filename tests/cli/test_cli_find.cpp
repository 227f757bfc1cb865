// kestrix-cli find, run as a separate program over a private prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/cli_run.h"
#include "support/test_system.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

using test::CliResult;

// Runs in the host folder cwd (the current Windows directory), with PATH as
// Wine starts it: C:\windows (the prefix's registry holds none).
CliResult Find(const test::TempPrefix& prefix, const fs::path& cwd, std::vector<std::string> args) {
  args.insert(args.begin(), "find");
  return test::RunCli(cwd, {{"WINEPATH", "C:\\windows"}, {"WINEPREFIX", prefix.Root().string()}},
                      args);
}

// The first two cells (Name, Location) of every text line.
std::vector<std::string> Places(const std::string& text) {
  std::vector<std::string> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 9) << line;
    const size_t tab = line.find('\t');
    rows.push_back(line.substr(0, line.find('\t', tab + 1)));
  }
  return rows;
}

TEST(CliFind, ModesOutputAndUsage) {
  test::TempPrefix prefix;
  for (const char* f : {"C:\\P\\a.dpl", "C:\\P\\Sub\\b.DPL", "C:\\P\\c.pas", "C:\\Lib\\vcl30.dpl",
                        "C:\\Lib\\Deep\\vcl30.dpl", "C:\\windows\\system32\\sys.dpl"})
    prefix.WriteText(f, "x");
  // Delphi 3 with the library search path C:\Lib.
  std::ofstream(prefix.Root() / "user.reg", std::ios::trunc)
      << "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
         "#arch=win32\n\n[Software\\\\Borland\\\\Delphi\\\\3.0] 1796758398\n#time=1d2f5a1c3b4e5f6\n"
         "\"RootDir\"=\"C:\\\\D3\"\n\n[Software\\\\Borland\\\\Delphi\\\\3.0\\\\Library] "
         "1796758398\n"
         "#time=1d2f5a1c3b4e5f6\n\"SearchPath\"=\"C:\\\\Lib\"\n";
  const fs::path home = prefix.Host("C:\\P");

  CliResult r = Find(prefix, home, {"*.dpl", "--folder", "C:\\P"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Places(r.out), (std::vector<std::string>{"a.dpl\tC:\\P\\", "b.DPL\tC:\\P\\Sub\\"}));

  r = Find(prefix, home, {"*.dpl", "--system"});
  EXPECT_EQ(Places(r.out), (std::vector<std::string>{"sys.dpl\tC:\\windows\\system32\\"}));

  r = Find(prefix, home, {"vcl30.dpl", "--path"});
  EXPECT_EQ(Places(r.out), (std::vector<std::string>{"vcl30.dpl\tC:\\Lib\\"}));

  // The drive search from the current folder, ending with the first folder.
  r = Find(prefix, home, {"*.DPL", "--first", "--json"});
  EXPECT_EQ(r.code, 0);
  const nlohmann::json rows = nlohmann::json::parse(r.out);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["Name"], "a.dpl");
  EXPECT_EQ(rows[0]["Location"], "C:\\P\\");
  EXPECT_EQ(rows[0]["Type"], "N/A");  // not a package library
  EXPECT_EQ(rows[0]["Size"], "1");

  // A folder in the mask is where to look, with its subfolders.
  r = Find(prefix, home, {"C:\\P\\*.dpl"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Places(r.out), (std::vector<std::string>{"a.dpl\tC:\\P\\", "b.DPL\tC:\\P\\Sub\\"}));
  r = Find(prefix, home, {"Sub\\*.dpl"});
  EXPECT_EQ(Places(r.out), (std::vector<std::string>{"b.DPL\tC:\\P\\Sub\\"}));

  r = Find(prefix, home, {"*.none", "--folder", "C:\\P"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "");

  for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                              {"*.dpl", "--folder", "C:\\P", "--system"},
                                              {"*.dpl", "--path", "--system"},
                                              {"*.dpl", "--recurse"},
                                              {"C:\\P\\*.dpl", "--folder", "C:\\P"},
                                              {"C:\\P\\*.dpl", "--system"},
                                              {"C:\\P\\*.dpl", "--path"},
                                              {"a", "b"}})
    EXPECT_EQ(Find(prefix, home, bad).code, 2);
}

// A result keeps the drive of the root it was found under, also when
// another drive (F:) maps its folder, and its Shared mark compares the file,
// whichever name the registry gives it. From a current folder on the drive
// that maps the host's root, the drive search takes that folder's tree, not
// the whole host; below it, files that lie in another drive are named by the
// most specific one (F:).
TEST(CliFind, DrivesKeepTheirNamesAndTheHostRootIsNeverSearchedWhole) {
  test::TempPrefix prefix;
  const auto package = test::ReadHostFile(fs::path(KX_FIXTURES_DIR) / "bin" / "vcl30.dpl");
  for (const char* f : {"C:\\windows\\system32\\vcl30.dpl", "C:\\windows\\system32\\vclx30.dpl"})
    prefix.WriteFile(f, package);
  fs::create_directory_symlink("../drive_c/windows/system32", prefix.Root() / "dosdevices" / "f:");
  std::ofstream(prefix.Root() / "user.reg", std::ios::trunc)
      << "WINE REGISTRY Version 2\n\n[Software\\\\Borland\\\\Delphi\\\\3.0] "
         "1\n\"Version\"=\"3.0\"\n";
  std::ofstream(prefix.Root() / "system.reg", std::ios::trunc)
      << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
         "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1\n\n"
         "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDLLs] 1\n"
         "\"C:\\\\windows\\\\system32\\\\vcl30.dpl\"=dword:00000001\n"
         "\"F:\\\\vclx30.dpl\"=dword:00000001\n";
  // Outside every drive but Z: (the host's root): a working folder with a
  // link to drive C:, and a folder beside it that no search may enter.
  const fs::path work = prefix.Root() / "outside" / "work",
                 other = prefix.Root() / "outside" / "other";
  fs::create_directories(work);
  fs::create_directories(other);
  std::ofstream(work / "w.dpl") << "x";
  std::ofstream(other / "o.dpl") << "x";
  fs::create_directory_symlink("../../drive_c", work / "cdrive");
  const std::string workWin = *Sys().ToWindows(work) + "\\";
  ASSERT_EQ(workWin.rfind("Z:\\", 0), 0u) << workWin;
  fs::create_directories(prefix.Host("C:\\P"));

  const std::string sys = "C:\\windows\\system32\\";
  const struct {
    const char* name;
    fs::path cwd;
    std::vector<std::string> args;
    std::vector<std::string> places;  // Name, Location
  } cases[] = {
      {"a folder of C: that F: maps",
       prefix.Host("C:\\P"),
       {"vcl*.dpl", "--folder", sys},
       {"vcl30.dpl\t" + sys, "vclx30.dpl\t" + sys}},
      {"the drive search from C:",
       prefix.Host("C:\\P"),
       {"vcl*.dpl"},
       {"vcl30.dpl\t" + sys, "vclx30.dpl\t" + sys}},
      {"F: itself",
       prefix.Host("C:\\P"),
       {"vcl*.dpl", "--folder", "F:\\"},
       {"vcl30.dpl\tF:\\", "vclx30.dpl\tF:\\"}},
      {"from a folder on the host's root drive",
       work,
       {"*.dpl"},
       {"w.dpl\t" + workWin, "vcl30.dpl\tF:\\", "vclx30.dpl\tF:\\"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CliResult r = Find(prefix, c.cwd, c.args);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Places(r.out), c.places);
    // Column 5 (Shared): both shared packages, whichever path found them.
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> cells;
      std::istringstream cellsIn(line);
      for (std::string cell; std::getline(cellsIn, cell, '\t');) cells.push_back(cell);
      ASSERT_EQ(cells.size(), 10u);
      EXPECT_EQ(cells[5], cells[0] == "w.dpl" ? "N/A" : "Yes") << line;
    }
  }
}

}  // namespace
}  // namespace kx
