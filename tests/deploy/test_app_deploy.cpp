// The start-up module walk and the deployment report over the MinGW
// fixtures: loader versus file search, cycles, letter cases, missing
// modules, and the report lines and row texts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "delphi3/SysPackg.h"
#include "deploy/DeployReport.h"
#include "deploy/StaticEXE.h"
#include "package/PackMan.h"
#include "platform/process.h"
#include "platform/system.h"
#include "search/ModuleSearch.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;
using test::TempPrefix;
using Strings = std::vector<std::string>;

std::vector<uint8_t> Fixture(const char* name) {
  return test::ReadHostFile(fs::path(KX_FIXTURES_DIR) / "bin" / name);
}

// vcl30 in the system folder; the application with its package, helper and
// cycle partner in C:\Apps (the current directory); lostpk deep elsewhere.
struct DeployPrefix {
  TempPrefix prefix;
  TFileFinder finder;
  TDeploySettings settings;
  DeployPrefix() {
    prefix.WriteFile("C:\\windows\\system32\\vcl30.dpl", Fixture("vcl30.dpl"));
    for (const char* f : {"deployapp.exe", "deploypk.dpl", "dephelp.dll", "cycmate.dll"})
      prefix.WriteFile(std::string("C:\\Apps\\") + f, Fixture(f));
    prefix.WriteFile("C:\\Hidden\\deep\\lostpk.dpl", Fixture("lostpk.dpl"));
    prefix.System().SetCurrentDirectory("C:\\Apps");
    settings.SystemDirectory = "C:\\windows\\system32";
    settings.OriginalPath = "C:\\windows";
    settings.ExpandedPath = "C:\\windows;C:\\Delphi";
    AddRunTimePackages(settings.StdRunTimePackages);
    AddDesignTimePackages(settings.StdDesignTimePackages);
    settings.SharedPackNames = {"C:\\APPS\\DEPLOYPK.DPL"};
    settings.FindModuleFile = [this](const std::string& name, std::string& path) {
      return FindModuleFile(finder, name, path);
    };
  }
  TDeployResult Run() {
    TDeployResult r;
    RunDeployAnalysis("C:\\Apps\\deployapp.exe", settings, r);
    return r;
  }
};

Strings Column(const TDeployResult& r, size_t col) {
  Strings out;
  for (const auto& row : r.Rows) out.push_back(row.Cells[col]);
  return out;
}

TEST(DeployAnalysis, ReportAndRowsOfAnApplicationWithPackages) {
  DeployPrefix d;
  const TDeployResult r = d.Run();
  EXPECT_EQ(
      r.Report,
      (Strings{
          "*** Start Application Deployment Analysis...", "", "*** Modules needed at startup:9",
          "*** Packages needed at startup: 3", "*** Modules not found: 1", "", " nosuch.dll", "",
          "*** Packages located incorrectly: 1", "", "1) \"lostpk.dpl\"",
          "  Current path: \"C:\\Hidden\\deep\\\"", "  Recommended path: \"C:\\windows\\system32\"",
          "", "*** Tot. space required by packages: 14,336 bytes",
          "*** Tot. space required by all modules: 20,480 bytes", "", "*** Done."}));
  // Import order of the files, then the modules of each located one in turn.
  EXPECT_EQ(Column(r, 0),
            (Strings{"dephelp.dll", "deploypk.dpl", "lostpk.dpl", "nosuch.dll", "vcl30.dpl",
                     "KERNEL32.dll", "cycmate.dll", "GDI32.dll", "USER32.dll"}));
  const auto row = [&](size_t i) {
    return Strings(r.Rows[i].Cells.begin(), r.Rows[i].Cells.end());
  };
  EXPECT_EQ(row(4), (Strings{"vcl30.dpl", "Package", "Borland Visual Component Library",
                             "C:\\windows\\system32\\", "7,168", "Run", "Yes", "No"}));
  EXPECT_EQ(row(1), (Strings{"deploypk.dpl", "Package", "Deployment Test Package", "C:\\Apps\\",
                             "3,584", "Run", "No", "Yes"}));
  EXPECT_EQ(row(2), (Strings{"lostpk.dpl", "Package", "Lost Package",
                             "Bad path: C:\\Hidden\\deep\\", "3,584", "Both", "No", "No"}));
  EXPECT_EQ(row(3),
            (Strings{"nosuch.dll", "Non-Package", "", "Bad path: ", "0", "n/a", "No", "No"}));
  // A built-in system library lies in the system folder, with no file.
  EXPECT_EQ(row(5), (Strings{"KERNEL32.dll", "Non-Package", "", "C:\\windows\\system32\\", "0",
                             "n/a", "No", "No"}));
  EXPECT_EQ(r.Rows[5].FullPath, "C:\\windows\\system32\\kernel32.dll");
  // PATH: the original one for the walk, the expanded one afterwards.
  EXPECT_EQ(Sys().Env().Get("PATH"), d.settings.ExpandedPath);

  // The row actions.
  EXPECT_TRUE(IsPackageLibraryRow(r.Rows[2]));
  EXPECT_FALSE(IsPackageLibraryRow(r.Rows[0]));
  EXPECT_EQ(RowModuleFileName(r.Rows[2]), "C:\\Hidden\\deep\\lostpk.dpl");
  EXPECT_EQ(RowModuleFileName(r.Rows[1]), "C:\\Apps\\deploypk.dpl");
  EXPECT_EQ(RowSourceMask(r.Rows[2]), "lostpk.DPK");
}

TEST(DeployAnalysis, WhereTheLoaderFindsAModuleDecidesItsPath) {
  struct Case {
    const char* name;
    std::function<void(DeployPrefix&)> setup;
    const char* module;
    const char* location;
  };
  const Case cases[] = {
      {"the analysing program's folder counts as the loader's",
       [](DeployPrefix& d) {
         fs::rename(d.prefix.Host("C:\\Apps\\cycmate.dll"),
                    d.prefix.Host("C:\\Program Files\\Kestrix\\cycmate.dll").string());
       },
       "cycmate.dll", "C:\\Program Files\\Kestrix\\"},
      {"a module already loaded resolves to the loaded copy",
       [](DeployPrefix& d) {
         d.prefix.WriteFile("C:\\Other\\deploypk.dpl", Fixture("deploypk.dpl"));
         ASSERT_NE(Sys().Proc().LoadLibrary("C:\\Other\\deploypk.dpl"), 0u);
       },
       "deploypk.dpl", "C:\\Other\\"},
      {"a module whose own import is missing goes to the file search",
       [](DeployPrefix& d) {
         fs::create_directories(d.prefix.Host("C:\\Vcl"));
         fs::rename(d.prefix.Host("C:\\windows\\system32\\vcl30.dpl"),
                    d.prefix.Host("C:\\Vcl\\vcl30.dpl"));
       },
       "deploypk.dpl", "Bad path: C:\\Apps\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeployPrefix d;
    fs::create_directories(d.prefix.Host("C:\\Program Files\\Kestrix"));
    c.setup(d);
    const TDeployResult r = d.Run();
    const Strings names = Column(r, 0);
    const auto at = std::find(names.begin(), names.end(), c.module) - names.begin();
    ASSERT_LT(static_cast<size_t>(at), names.size());
    EXPECT_EQ(r.Rows[at].Cells[3], c.location);
  }
}

TEST(DeployAnalysis, NamesInSeveralCasesMakeOneEntryAndAnEmptyRunStillEnds) {
  TempPrefix prefix;
  test::PeSpec app;
  app.dll = false;
  app.imports = {{"libx.dll", {"Go"}, {}}};
  test::PeSpec libx;
  libx.exports = {{"Go"}};
  libx.imports = {{"LIBY.DLL", {"Go"}, {}}};
  test::PeSpec liby;
  liby.imageBase = 0x10000000;
  liby.exports = {{"Go"}};
  liby.imports = {{"LibX.Dll", {"Go"}, {}}, {"libY.dll", {"Go"}, {}}};
  prefix.WriteFile("C:\\a\\app.exe", test::BuildPe(app));
  libx.imageBase = 0x20000000;
  prefix.WriteFile("C:\\windows\\system32\\libx.dll", test::BuildPe(libx));
  prefix.WriteFile("C:\\windows\\system32\\liby.dll", test::BuildPe(liby));
  TModuleList checked;
  Strings found, missing;
  CheckModuleImports("C:\\a\\app.exe", found, missing, checked, nullptr);
  ASSERT_EQ(checked.Count(), 2u);
  EXPECT_EQ(checked[0].Name, "libx.dll");
  EXPECT_EQ(checked[1].Name, "LIBY.DLL");
  EXPECT_TRUE(found.empty());

  // A name in the work list without a record is an internal fault.
  found = {"nobody.dll"};
  EXPECT_THROW(CheckModuleImports("C:\\a\\none.exe", found, missing, checked, nullptr), EDeploy);
  TModuleList broken, target;
  broken.Add("x.dll", nullptr);
  EXPECT_THROW(CollectPackageModules(broken, target), EDeploy);

  // Not a PE image: counts and totals of 0; the PATH too long to set fails
  // the run with the closing lines written and PATH set back.
  prefix.WriteText("C:\\a\\notes.exe", "hello");
  TDeploySettings settings;
  settings.ExpandedPath = "C:\\keep";
  TDeployResult r;
  RunDeployAnalysis("C:\\a\\notes.exe", settings, r);
  EXPECT_EQ(r.Report[2], "*** Modules needed at startup:0");
  EXPECT_EQ(r.Report[r.Report.size() - 3], "*** Tot. space required by all modules: 0 bytes");
  EXPECT_TRUE(r.Rows.empty());
  settings.OriginalPath = std::string(40000, 'x');
  EXPECT_THROW(RunDeployAnalysis("C:\\a\\notes.exe", settings, r), Exception);
  EXPECT_EQ(r.Report,
            (Strings{"*** Start Application Deployment Analysis...", "", "", "*** Done."}));
  EXPECT_EQ(Sys().Env().Get("PATH"), "C:\\keep");
}

TEST(DeployAnalysis, EveryTruncationOfTheApplicationOrAHelperRunsToTheEnd) {
  DeployPrefix d;
  for (const char* name : {"deployapp.exe", "dephelp.dll"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = Fixture(name);
    // Every seventh length and the last: the scanner's own test takes every
    // length of these files; this one runs the whole walk over them.
    for (size_t len = 0; len < bytes.size(); len += len + 8 >= bytes.size() ? 1 : 7) {
      d.prefix.WriteFile(std::string("C:\\Apps\\") + name,
                         std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(len)));
      const TDeployResult r = d.Run();
      ASSERT_EQ(r.Report.back(), "*** Done.") << "length " << len;
      ASSERT_LE(r.Rows.size(), 9u) << "length " << len;
    }
    d.prefix.WriteFile(std::string("C:\\Apps\\") + name, bytes);
  }
}

TEST(DeployAnalysis, ReportFileTextAndName) {
  TempPrefix prefix;
  struct Case {
    const char* app;
    const char* report;
  };
  for (const Case& c : {Case{"C:\\APPS\\PROJECT1.EXE", "PROJECT1.TXT"},
                        Case{"C:\\APPS\\x.y.exe", "x.y.TXT"}, Case{"C:\\APPS\\NODOT", ".TXT"}}) {
    EXPECT_EQ(ReportFileName(c.app), c.report);
  }
  const std::string text = DeployReportText("C:\\a.exe", {"one", "", "two"});
  const std::string header =
      text.substr(0, text.size() - std::string("\r\none\r\n\r\ntwo\r\n").size());
  EXPECT_EQ(text, header + "\r\none\r\n\r\ntwo\r\n");
  EXPECT_NE(header.find("C:\\a.exe"), std::string::npos);
  EXPECT_EQ(DeployReportText("C:\\a.exe", {}), header + "\r\n");
}

// Runs fn; when it has not returned within seconds (blocked opening a
// FIFO), a writer opens the FIFO to set it free and the test fails.
template <typename Fn>
void ReturnsAtOnce(const fs::path& fifo, Fn fn) {
  auto done = std::async(std::launch::async, fn);
  if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return;
  ADD_FAILURE() << "blocked on " << fifo;
  while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
  }
}

// A FIFO named as the application, as a package or as an imported module
// is no file: every use returns at once. A program that imports 1,000
// modules found nowhere costs one walk of each search root.
TEST(DeployAnalysis, FifosAreNoFilesAndManyMissingModulesCostOneWalkPerRoot) {
  DeployPrefix d;
  const fs::path fifo = d.prefix.Host("C:\\Apps\\kxpipe.dll");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  test::PeSpec app;
  app.dll = false;
  app.imports.push_back({"kxpipe.dll", {"Go"}, {}});
  for (int i = 0; i < 1000; ++i)
    app.imports.push_back({"gone" + std::to_string(i) + ".dll", {"Go"}, {}});
  d.prefix.WriteFile("C:\\Apps\\many.exe", test::BuildPe(app));
  for (int i = 0; i < 30; ++i)
    d.prefix.WriteText("C:\\Tree\\d" + std::to_string(i) + "\\f.txt", "x");

  ReturnsAtOnce(fifo, [] {
    Strings names;
    EXPECT_FALSE(ReadStaticImports("C:\\Apps\\kxpipe.dll", names));
    EXPECT_EQ(Sys().Proc().LoadLibrary("C:\\Apps\\kxpipe.dll"), 0u);
    EXPECT_THROW(GetPackageKind("C:\\Apps\\kxpipe.dll"), ELoadPackage);
  });
  TFileFinder finder;
  TModuleSearch search(finder);
  d.settings.FindModuleFile = [&search](const std::string& name, std::string& path) {
    return search.Find(name, path);
  };
  TDeployResult r;
  ReturnsAtOnce(fifo, [&] {
    RunDeployAnalysis("C:\\Apps\\kxpipe.dll", d.settings, r);
    EXPECT_EQ(r.Rows.size(), 0u);
    RunDeployAnalysis("C:\\Apps\\many.exe", d.settings, r);
  });
  EXPECT_EQ(r.Report[4], "*** Modules not found: 1001");
  EXPECT_EQ(r.Report[6], " kxpipe.dll");
  // C:\Apps once for the current folder, then every folder of C: once.
  size_t folders = 1 + 1;
  for (const auto& e : fs::recursive_directory_iterator(d.prefix.Root() / "drive_c"))
    folders += e.is_directory() ? 1 : 0;
  EXPECT_EQ(search.FoldersListed(), folders);
  EXPECT_EQ(search.Walks("C:\\"), 1u);
}

}  // namespace
}  // namespace kx
