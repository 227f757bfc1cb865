// kestrix-cli info, exports, structure, imports and resources on the MinGW
// fixtures, checked against what the fixtures' sources say they hold.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_system.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int rc = -1;
  std::string out;
  std::string err;
  std::vector<std::string> lines;  // stdout split at "\n"
};

using kx::test::Quote;

using kx::test::ReadHostText;

fs::path Bin() { return fs::path(KX_FIXTURES_DIR) / "bin"; }

// Runs the CLI in the fixtures' bin folder (the loader finds the required
// packages in the current directory) without any Wine prefix.
Result Cli(const std::string& args, const std::string& env = "WINEPREFIX=/nonexistent-kx-prefix") {
  fs::path err = fs::temp_directory_path() / ("kx-cli-err-" + std::to_string(getpid()));
  std::string cmd = "cd " + Quote(Bin().string()) + " && env " + env + " " + Quote(KX_CLI_PATH) +
                    " " + args + " 2>" + Quote(err.string());
  Result r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int status = pclose(p);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = ReadHostText(err);
  fs::remove(err);
  std::stringstream ss(r.out);
  std::string line;
  while (std::getline(ss, line)) r.lines.push_back(line);
  return r;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class CliPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(Bin() / "vcl30.dpl")) GTEST_SKIP() << "fixtures not built";
  }
};

TEST_F(CliPackage, InfoOfADesignTimePackage) {
  Result r = Cli("info DemoComp.dpl");
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_GE(r.lines.size(), 16u);
  EXPECT_EQ(r.lines[0].substr(0, 8), "File\tZ:\\");
  EXPECT_TRUE(r.lines[0].ends_with("\\tests\\fixtures\\bin\\DemoComp.dpl")) << r.lines[0];
  std::vector<std::string> expected = {
      "Description\tKestrix \"Demo\" Komponenten f\xC3\xBCr Delphi",
      "Usage\tDesign Time",
      "Build\tAlways (Implicit)",
      "Module Type\tPackage DLL",
      "Flags\t$40000002",
      "File Size\t4,096 bytes"};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(r.lines[1 + i], expected[i]);
  EXPECT_EQ(r.lines[7].substr(0, 10), "File Date\t");
  EXPECT_EQ(r.lines[8].substr(0, 10), "File Time\t");
  std::vector<std::string> tail(r.lines.begin() + 9, r.lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "Requires\tvcl30", "Requires\tvclx30",
                      "Contains\tSysInit\tWeak Unit, OrgWeak Unit, Implicit Unit, WeakPackage Unit",
                      "Contains\tDemoCtrls\t", "Contains\tDemoReg\t",
                      "Contains\tDemoUtils\tImplicit Unit",
                      "Contains\tDemoComp\tMain Unit, Package Unit (DPK), WeakPackage Unit"}));
}

TEST_F(CliPackage, InfoChoicesOfOtherFixtures) {
  Result dclstd = Cli("info dclstd30.dpl");
  ASSERT_EQ(dclstd.rc, 0) << dclstd.err;
  EXPECT_TRUE(Has(dclstd.lines, "Usage\tDesign Time"));
  EXPECT_TRUE(Has(dclstd.lines, "Build\tNever (Explicit)"));
  EXPECT_TRUE(Has(dclstd.lines, "Contains\tDsnConst\tImplicit Unit"));

  Result bpl = Cli("info cbmath35.bpl");
  ASSERT_EQ(bpl.rc, 0) << bpl.err;
  EXPECT_TRUE(Has(bpl.lines, "Usage\tBoth Design & Run Time"));
  EXPECT_TRUE(Has(bpl.lines, "Description\tC++Builder Math Helpers"));

  Result vcl = Cli("info vcl30.dpl");
  ASSERT_EQ(vcl.rc, 0) << vcl.err;
  EXPECT_TRUE(Has(vcl.lines, "Usage\tRun Time"));
  EXPECT_TRUE(Has(vcl.lines, "Flags\t$40000004"));
  int contains = 0, requiresCount = 0;
  for (const auto& l : vcl.lines) {
    contains += l.rfind("Contains\t", 0) == 0;
    requiresCount += l.rfind("Requires\t", 0) == 0;
  }
  EXPECT_EQ(contains, 14);
  EXPECT_EQ(requiresCount, 0);
}

TEST_F(CliPackage, InfoAsJson) {
  Result r = Cli("info DemoComp.dpl --json");
  ASSERT_EQ(r.rc, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["Description"], "Kestrix \"Demo\" Komponenten f\xC3\xBCr Delphi");
  EXPECT_EQ(j["Module Type"], "Package DLL");
  EXPECT_EQ(j["Flags"], "$40000002");
  EXPECT_EQ(j["Requires"], nlohmann::json({"vcl30", "vclx30"}));
  ASSERT_EQ(j["Contains"].size(), 5u);
  EXPECT_EQ(j["Contains"][3]["Name"], "DemoUtils");
  EXPECT_EQ(j["Contains"][3]["Flags"], "Implicit Unit");
}

TEST_F(CliPackage, FailedLoadsPrintTheMessageAndExitOne) {
  Result clash = Cli("info gfxclash.dpl");
  EXPECT_EQ(clash.rc, 1);
  EXPECT_TRUE(clash.out.empty());
  EXPECT_EQ(clash.err,
            "Cannot load package 'gfxclash.'  It contains unit 'Graphics,';which is also contained "
            "in package 'vcl30'\n");

  Result missing = Cli("info dbdemo.dpl");
  EXPECT_EQ(missing.rc, 1);
  EXPECT_TRUE(missing.err.starts_with("Can't load package Z:\\")) << missing.err;
  EXPECT_TRUE(
      missing.err.ends_with("\\bin\\dbdemo.dpl.\r\nThe specified module could not be found.\n"))
      << missing.err;

  Result noInfo = Cli("info initonly.dll");
  EXPECT_EQ(noInfo.rc, 1);
  EXPECT_EQ(noInfo.err, "Cannot access package information for package 'initonly.dll'\n");

  Result noInit = Cli("info kxutil.dll");
  EXPECT_EQ(noInit.rc, 1);
  EXPECT_TRUE(noInit.err.starts_with("Invalid package file 'Z:\\")) << noInit.err;
  EXPECT_TRUE(noInit.err.ends_with("\\kxutil.dll'\n")) << noInit.err;
}

TEST_F(CliPackage, BadUsageExitsTwo) {
  EXPECT_EQ(Cli("info").rc, 2);
  EXPECT_EQ(Cli("info a.dpl b.dpl").rc, 2);
  EXPECT_EQ(Cli("info vcl30.dpl --bogus").rc, 2);
  EXPECT_EQ(Cli("info vcl30.dpl --as-data").rc, 2);
  EXPECT_EQ(Cli("exports").rc, 2);
  EXPECT_EQ(Cli("resources x --nope").rc, 2);
}

TEST_F(CliPackage, ExportsOfAPackage) {
  Result r = Cli("exports vcl30.dpl");
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_EQ(r.lines.size(), 1u + 90u + 3u);
  EXPECT_EQ(r.lines[0], "Address\tOrdinal\tName");
  EXPECT_EQ(r.lines[91], "Exported Functions: 90");
  EXPECT_EQ(r.lines[92], "BaseAddress :$40000000");
  EXPECT_EQ(r.lines[93], "ImageBase :$40000000");
  // The linker numbers exports in name order from 1.
  EXPECT_NE(r.lines[1].find("\t1\tClasses..TComponent@"), std::string::npos) << r.lines[1];
  for (size_t i = 1; i <= 90; ++i) {
    EXPECT_EQ(r.lines[i][0], '$');
    EXPECT_EQ(r.lines[i].substr(10, std::to_string(i).size() + 1), std::to_string(i) + "\t");
  }
}

TEST_F(CliPackage, ExportsOfAnOrdinaryDllAsData) {
  Result r = Cli("exports kxutil.dll --as-data");
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_EQ(r.lines.size(), 1u + 3u + 3u);
  EXPECT_TRUE(r.lines[1].ends_with("\t7\tKxAdd"));
  EXPECT_TRUE(r.lines[2].ends_with("\t8\tKxFormatBytes"));
  EXPECT_TRUE(r.lines[3].ends_with("\t9\tKxVersion"));
  EXPECT_EQ(r.lines[4], "Exported Functions: 3");
  // Loading it for execution is refused: it has no Initialize.
  EXPECT_EQ(Cli("exports kxutil.dll").rc, 1);

  Result j = Cli("exports kxutil.dll --as-data --json");
  ASSERT_EQ(j.rc, 0);
  auto json = nlohmann::json::parse(j.out);
  EXPECT_EQ(json["exports"][0]["Name"], "KxAdd");
  EXPECT_EQ(json["exports"][0]["Ordinal"], 7);
  EXPECT_EQ(json["status"][0], "Exported Functions: 3");
}

TEST_F(CliPackage, StructureOfVcl30) {
  Result r = Cli("structure vcl30.dpl");
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_GE(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0], "vcl30.dpl");
  EXPECT_EQ(r.lines[r.lines.size() - 2], "Units: 12");
  EXPECT_EQ(r.lines.back(), "Classes: 13");
  // The Classes unit as the sources describe it.
  auto at = std::find(r.lines.begin(), r.lines.end(), "  Classes");
  ASSERT_NE(at, r.lines.end());
  std::vector<std::string> classes(at, at + 22);
  EXPECT_EQ(classes, (std::vector<std::string>{"  Classes",
                                               "    Classes",
                                               "      TComponent",
                                               "        Create()",
                                               "      TList",
                                               "        Add()",
                                               "        Clear()",
                                               "        Delete()",
                                               "      TStringList",
                                               "        Add()",
                                               "        Sort()",
                                               "    System",
                                               "      Finalization",
                                               "      Initialization",
                                               "      Register",
                                               "    Procedures/Types",
                                               "      FindClass",
                                               "      RegisterClass",
                                               "      RegisterComponents",
                                               "  TypInfo",
                                               "    Procedures/Types",
                                               "      GetEnumName"}));
  EXPECT_FALSE(Has(r.lines, "      TThreadList"));
  EXPECT_FALSE(Has(r.lines, "      TFont"));
  EXPECT_FALSE(Has(r.lines, "      Forms"));
  EXPECT_TRUE(Has(r.lines, "  Windows"));
  EXPECT_TRUE(Has(r.lines, "      RegisterControlClass"));
}

TEST_F(CliPackage, StructureOnlyForDplModules) {
  Result r = Cli("structure cbmath35.bpl");
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.lines, (std::vector<std::string>{"Units:", "Classes:"}));

  Result j = Cli("structure DemoComp.dpl --json");
  ASSERT_EQ(j.rc, 0);
  auto json = nlohmann::json::parse(j.out);
  EXPECT_EQ(json["tree"]["caption"], "DemoComp.dpl");
  const auto& label = json["tree"]["children"][0]["children"][0]["children"][1];
  EXPECT_EQ(label["caption"], "TDemoLabel");
  EXPECT_EQ(label["children"][0]["state"], 3);
  EXPECT_EQ(label["children"][0]["info"]["Class Name"], "TDemoLabel");
  EXPECT_EQ(json["status"], nlohmann::json({"Units: 3", "Classes: 2"}));
}

TEST_F(CliPackage, Imports) {
  Result r = Cli("imports DemoComp.dpl");
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_EQ(r.lines.size(), 7u);
  EXPECT_EQ(r.lines[0], "Handle\tType\tName");
  EXPECT_EQ(r.lines[1], "$40000000\tPackage\tvcl30.dpl");
  EXPECT_EQ(r.lines[2], "$40200000\tPackage\tvclx30.dpl");
  EXPECT_TRUE(r.lines[3].ends_with("\tLibrary\tKERNEL32.dll"));
  EXPECT_TRUE(r.lines[4].ends_with("\tLibrary\tUSER32.dll"));
  EXPECT_EQ(r.lines[5], "Modules Imported: 4");
  EXPECT_EQ(r.lines[6], "Imported Packages: 2");

  Result data = Cli("imports DemoApp.exe --as-data");
  ASSERT_EQ(data.rc, 0) << data.err;
  EXPECT_EQ(data.lines,
            (std::vector<std::string>{"Handle\tType\tName", "-\tLibrary\tkxutil.dll",
                                      "-\tPackage\tvcl30.dpl", "-\tPackage\tvclx30.dpl",
                                      "-\tLibrary\tKERNEL32.dll", "-\tLibrary\tUSER32.dll",
                                      "Modules Imported: 5", "Imported Packages: 2"}));
}

TEST_F(CliPackage, Resources) {
  Result r = Cli("resources resmix.dpl");
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.lines.back(), "Resource Directories: 32");
  std::vector<std::string> top;
  for (const auto& l : r.lines)
    if (!l.empty() && l[0] != ' ') top.push_back(l);
  EXPECT_EQ(top, (std::vector<std::string>{"AVI", "STRING", "RCDATA", "UNK_#13", "VERSION",
                                           "00000018", "Resource Directories: 32"}));
  EXPECT_EQ(r.lines[1], "  SPINNER");
  EXPECT_EQ(r.lines[2], "    00000000");
  EXPECT_TRUE(r.lines[3].starts_with("      Offset: "));
  EXPECT_TRUE(r.lines[3].ends_with("; Size: 00000024; CodePage: 00000000"));
  EXPECT_TRUE(Has(r.lines, "    00000407"));

  Result none = Cli("resources kxutil.dll --as-data");
  ASSERT_EQ(none.rc, 0);
  EXPECT_EQ(none.lines, (std::vector<std::string>{"Resource Directories: 0"}));

  Result j = Cli("resources DemoComp.dpl --json");
  ASSERT_EQ(j.rc, 0);
  auto json = nlohmann::json::parse(j.out);
  EXPECT_EQ(json["status"], "Resource Directories: 7");
  ASSERT_EQ(json["lines"].size(), 7u);
  EXPECT_EQ(json["lines"][1]["text"], "DESCRIPTION");
  EXPECT_EQ(json["lines"][1]["depth"], 2);
  EXPECT_EQ(json["tree"][0]["children"].size(), 2u);
}

TEST_F(CliPackage, WindowsPathsAndTheDemoPrefix) {
  fs::path prefix = fs::path(KX_FIXTURES_DIR) / "demo-prefix";
  if (!fs::exists(prefix / "drive_c")) GTEST_SKIP() << "no demo prefix";
  // The Windows path of a package in the prefix; its required packages come
  // from the prefix's system folder.
  Result r = Cli("info 'C:\\Projects\\Demo\\DemoComp.dpl'", "WINEPREFIX=" + Quote(prefix.string()));
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.lines[0], "File\tC:\\Projects\\Demo\\DemoComp.dpl");
}

// The export and resource listings of real 32-bit DLLs that nobody here
// wrote agree with pefile.
// Compares exports, resources (and for imports: the imported module names,
// each once) of each DLL as data with what pefile reads.
void CheckAgainstPefile(const std::vector<fs::path>& dlls) {
  const char* script =
      "import pefile,sys\n"
      "pefile.MAX_SYMBOL_EXPORT_COUNT=1<<20\n"
      "pe=pefile.PE(sys.argv[1])\n"
      "d=getattr(pe,'DIRECTORY_ENTRY_EXPORT',None)\n"
      "for s in (d.symbols if d else []):\n"
      "  if s.name: print('$%08X\\t%d\\t%s' % (s.address, s.ordinal, s.name.decode('latin-1')))\n"
      "seen=set()\n"
      "for i in getattr(pe,'DIRECTORY_ENTRY_IMPORT',[]):\n"
      "  n=i.dll.decode('latin-1')\n"
      "  if n.upper() not in seen: seen.add(n.upper()); print('import\\t'+n)\n"
      "n=0\n"
      "def walk(dr):\n"
      "  global n\n"
      "  for e in dr.entries:\n"
      "    n+=1\n"
      "    if hasattr(e,'directory'): walk(e.directory)\n"
      "    else: n+=1\n"
      "if hasattr(pe,'DIRECTORY_ENTRY_RESOURCE'): walk(pe.DIRECTORY_ENTRY_RESOURCE)\n"
      "print('Resource Directories: %d' % n)\n";
  fs::path py = fs::temp_directory_path() / ("kx-pefile-" + std::to_string(getpid()) + ".py");
  std::ofstream(py) << script;
  for (const fs::path& dll : dlls) {
    std::string cmd = "/usr/bin/python3 " + Quote(py.string()) + " " + Quote(dll.string());
    std::string expected;
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) expected.append(buf, n);
    pclose(p);
    std::vector<std::string> wantRows, wantImports;
    std::string wantResources;
    std::stringstream ss(expected);
    for (std::string l; std::getline(ss, l);) {
      if (l.starts_with("import\t"))
        wantImports.push_back(l.substr(7));
      else if (l.starts_with("Resource Directories: "))
        wantResources = l;
      else
        wantRows.push_back(l);
    }
    ASSERT_FALSE(wantResources.empty()) << dll;

    Result exports = Cli("exports " + Quote(dll.string()) + " --as-data");
    ASSERT_EQ(exports.rc, 0) << dll << exports.err;
    std::vector<std::string> rows(exports.lines.begin() + 1, exports.lines.end() - 3);
    EXPECT_EQ(rows, wantRows) << dll;

    Result imports = Cli("imports " + Quote(dll.string()) + " --as-data");
    ASSERT_EQ(imports.rc, 0) << dll << imports.err;
    std::vector<std::string> names;
    for (size_t i = 1; i + 2 < imports.lines.size(); ++i)
      names.push_back(imports.lines[i].substr(imports.lines[i].rfind('\t') + 1));
    EXPECT_EQ(names, wantImports) << dll;

    Result res = Cli("resources " + Quote(dll.string()) + " --as-data");
    ASSERT_EQ(res.rc, 0) << dll << res.err;
    EXPECT_EQ(res.lines.back(), wantResources) << dll;
  }
  fs::remove(py);
}

bool HavePefile() {
  return std::system("/usr/bin/python3 -c 'import pefile' >/dev/null 2>&1") == 0;
}

TEST(CliPackageAgainstPefile, MinGWRuntimeDlls) {
  if (!HavePefile()) GTEST_SKIP() << "python3-pefile not installed";
  // The small runtime DLLs of Debian's i686 MinGW-w64 toolchain.
  std::vector<fs::path> dlls;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator("/usr/lib/gcc/i686-w64-mingw32", ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    for (const char* want : {"libgcc_s_dw2-1.dll", "libatomic-1.dll", "libssp-0.dll",
                             "libquadmath-0.dll", "libgomp-1.dll"})
      if (name == want) dlls.push_back(it->path());
  }
  if (dlls.empty()) GTEST_SKIP() << "no MinGW runtime DLLs";
  CheckAgainstPefile(dlls);
}

// 64-bit images are read as data files (exports, imports, resources) and
// refused as packages with the system's text for a foreign image.
TEST(CliPackageAgainstPefile, Wine64BitDllsAsData) {
  if (!HavePefile()) GTEST_SKIP() << "python3-pefile not installed";
  const fs::path dir = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
  std::vector<fs::path> dlls;
  for (const char* name :
       {"version.dll", "kernel32.dll", "comctl32.dll", "user32.dll", "advapi32.dll", "shell32.dll"})
    if (fs::exists(dir / name)) dlls.push_back(dir / name);
  if (dlls.empty()) GTEST_SKIP() << "Wine's 64-bit DLLs are not installed";
  CheckAgainstPefile(dlls);
  Result info = Cli("info " + Quote(dlls[0].string()));
  EXPECT_EQ(info.rc, 1);
  EXPECT_TRUE(info.err.ends_with("is not a valid Win32 application.\n")) << info.err;
}

}  // namespace
