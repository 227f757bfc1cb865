// kestrix-cli on the second fixture set (tests/fixtures/real-prefix), whose
// modules carry what Delphi 3 really writes: SysInit with unit flags 0 in
// every module, one import descriptor per unit, PACKAGEOPTIONS, compiler
// helper exports, the default base $00400000, and required packages that
// only the library search path ("$(DELPHI)\Lib") reaches.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/cli_run.h"
#include "support/demo_prefix.h"

namespace {

namespace fs = std::filesystem;
using kx::test::CliResult;

// Where the third-party packages lie (joined as literals: GCC 12 warns
// falsely on std::string concatenations here at -O2).
#define KX_LIB "C:\\Program Files\\Borland\\Delphi 3\\Lib\\"

struct RealPackage {
  std::string file;
  std::string description;
  std::string switches;
  std::string conditionals;  // the info lines' values; empty: no line
  std::string unitAliases;
  std::vector<std::string> dpkLines;  // in this order, from the package line on
  // The values of the twenty directive lines that --own-switches writes,
  // read off the switches: ALIGN $A, ASSERTIONS $C, BOOLEVAL $B, DEBUGINFO
  // $D, EXTENDEDSYNTAX $X, IMPORTEDDATA $G, IOCHECKS $I, LOCALSYMBOLS $L,
  // LONGSTRINGS $H, OPENSTRINGS $P, OPTIMIZATION $O, OVERFLOWCHECKS $Q,
  // RANGECHECKS $R, REFERENCEINFO $Y, SAFEDIVIDE $U, STACKFRAMES $W,
  // TYPEDADDRESS $T, VARSTRINGCHECKS $V, WRITEABLECONST $J, MINENUMSIZE $Z.
  std::string ownDirectives;
};

#define KX_ALIASES "WinTypes=Windows;WinProcs=Windows;DbiTypes=BDE;DbiProcs=BDE;DbiErrs=BDE"

const std::vector<RealPackage>& Packages() {
  static const std::vector<RealPackage> packages = {
      {"C:\\windows\\system32\\vcl30.dpl",
       "Borland Visual Component Library & Packages",
       "A+ B- C- D- E- F- G+ H+ I+ J+ K- L- M- N+ O+ P+ Q- R- S- T- U- V+ W- X+ Y- Z1",
       "PACKAGES;",
       KX_ALIASES,
       {"package vcl30;", "{$IMAGEBASE $40000000}",
        "{$DESCRIPTION 'Borland Visual Component Library & Packages' }", "{$RUNONLY}",
        "{$IMPLICITBUILD OFF}", "contains", " System,", " Windows,", " Messages,", " SysUtils,",
        " Classes,", " Graphics,", " Controls,", " Forms;", "end."},
       "ON OFF OFF OFF ON ON ON OFF ON ON ON OFF OFF OFF OFF OFF OFF ON ON 1"},
      // Built with $C+ $D+ $I+ $L+, as its own source says.
      {KX_LIB "tparrow.dpl",
       "Tern's Arrow Components",
       "A+ B- C+ D+ E- F- G+ H+ I+ J+ K- L+ M- N+ O+ P+ Q- R- S- T- U- V+ W- X+ Y- Z1",
       "",
       KX_ALIASES,
       {"package tparrow;", "{$IMAGEBASE $00400000}", "{$DESCRIPTION 'Tern''s Arrow Components' }",
        "{$RUNONLY}", "{$IMPLICITBUILD ON}", "requires", " vcl30;", "contains", " Arrow,",
        " ArrowUtl;", "end."},
       "ON ON OFF ON ON ON ON ON ON ON ON OFF OFF OFF OFF OFF OFF ON ON 1"},
      // No DESCRIPTION resource: the description comes from PACKAGEOPTIONS.
      {KX_LIB "tparrowd.dpl",
       "Arrow Components (design time)",
       "A+ B- C- D+ E- F- G+ H+ I+ J+ K- L+ M- N+ O- P+ Q- R- S+ T- U- V+ W- X+ Y+ Z4",
       "",
       KX_ALIASES,
       {"package tparrowd;", "{$IMAGEBASE $00400000}",
        "{$DESCRIPTION 'Arrow Components (design time)' }", "{$DESIGNONLY}", "{$IMPLICITBUILD ON}",
        "requires", " vcl30,", " tparrow;", "contains", " ArrowReg;", "end."},
       "ON OFF OFF ON ON ON ON ON ON ON OFF OFF OFF ON OFF OFF OFF ON ON 4"},
      // Conditional defines, aliases ending in ";", zero bytes after the
      // description, and no DESCRIPTION resource.
      {"C:\\Apps\\Trace\\tptrace.dpl",
       "Tern's Arrow trace aids (d\u00E9bogage)",
       "A+ B- C+ D+ E- F- G+ H+ I+ J+ K- L+ M- N+ O- P+ Q+ R+ S- T- U- V+ W+ X+ Y+ Z2",
       "DEBUG;ARROWTRACE;",
       KX_ALIASES ";",
       {"package tptrace;", "{$IMAGEBASE $00400000}",
        "{$DESCRIPTION 'Tern''s Arrow trace aids (d\xE9"
        "bogage)' }",
        "{$IMPLICITBUILD ON}", "requires", " vcl30;", "contains", " ArrowTrc;", "end."},
       "ON ON OFF ON ON ON ON ON ON ON OFF ON ON ON OFF ON OFF ON ON 2"},
  };
  return packages;
}

// The directive block: the fixed one, or the lines named in block order
// with the given values.
std::vector<std::string> DirectiveLines(const std::string& values) {
  static const char* const names[] = {
      "ALIGN",        "ASSERTIONS",     "BOOLEVAL",        "DEBUGINFO",      "EXTENDEDSYNTAX",
      "IMPORTEDDATA", "IOCHECKS",       "LOCALSYMBOLS",    "LONGSTRINGS",    "OPENSTRINGS",
      "OPTIMIZATION", "OVERFLOWCHECKS", "RANGECHECKS",     "REFERENCEINFO",  "SAFEDIVIDE",
      "STACKFRAMES",  "TYPEDADDRESS",   "VARSTRINGCHECKS", "WRITEABLECONST", "MINENUMSIZE"};
  std::vector<std::string> lines;
  size_t from = 0;
  for (const char* name : names) {
    const size_t end = std::min(values.find(' ', from), values.size());
    lines.push_back(std::string("{$") + name + " " + values.substr(from, end - from) + "}");
    from = end + 1;
  }
  return lines;
}
const std::string kFixedDirectives =
    "ON OFF OFF OFF ON ON OFF OFF ON ON ON OFF OFF OFF OFF OFF OFF ON ON 1";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
    std::string line = text.substr(from, nl - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class CliRealPackages : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(fs::path(KX_FIXTURES_DIR) / "real-prefix" / "system.reg"))
      GTEST_SKIP() << "fixtures not built";
  }
  // Run from a folder that holds no module, so that only PATH (with the
  // library search path) can reach the required packages.
  CliResult Run(const std::vector<std::string>& args) {
    return kx::test::RunCli(fs::temp_directory_path(), {{"WINEPREFIX", prefix.Root().string()}},
                            args);
  }
  kx::test::DemoPrefixCopy prefix{"real-prefix"};
};

TEST_F(CliRealPackages, EveryPackageOpensInEveryCommandAndRegeneratesItsSource) {
  for (const RealPackage& p : Packages()) {
    SCOPED_TRACE(p.file);
    for (const char* command : {"info", "exports", "structure", "imports", "resources", "dpk"}) {
      const CliResult r = Run({command, p.file});
      EXPECT_EQ(r.code, 0) << command << ": " << r.err;
    }
    const std::vector<std::string> info = Lines(Run({"info", p.file}).out);
    EXPECT_TRUE(Has(info, "Description\t" + p.description));
    EXPECT_TRUE(Has(info, "Contains\tSysInit\t"));  // unit flags 0
    // The compiler options right after the file facts; the two strings
    // only when they are not empty.
    std::vector<std::string> options = {"Switches\t" + p.switches};
    if (!p.conditionals.empty()) options.push_back("Conditionals\t" + p.conditionals);
    options.push_back("Unit aliases\t" + p.unitAliases);
    const auto at = std::find(info.begin(), info.end(), options[0]);
    ASSERT_NE(at, info.end());
    EXPECT_EQ(std::vector<std::string>(at, std::min(at + options.size(), info.end())), options);
    EXPECT_TRUE(at[-1].starts_with("File Time\t")) << at[-1];
    const std::string json = Run({"info", "--json", p.file}).out;
    EXPECT_NE(json.find("\"conditionals\": \"" + p.conditionals + "\",\n"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"unitAliases\": \"" + p.unitAliases + "\""), std::string::npos);

    // The source lines in order; the fixed directive block after the
    // package line, or with --own-switches the package's own.
    for (const bool own : {false, true}) {
      const CliResult r = Run(own ? std::vector<std::string>{"dpk", p.file, "--own-switches"}
                                  : std::vector<std::string>{"dpk", p.file});
      EXPECT_EQ(r.code, 0) << r.err;
      EXPECT_EQ(r.err, "");
      const std::vector<std::string> dpk = Lines(r.out);
      size_t at = 0;
      for (const std::string& want : p.dpkLines) {
        while (at < dpk.size() && dpk[at] != want) ++at;
        EXPECT_LT(at, dpk.size()) << "missing or out of order: " << want;
      }
      const std::vector<std::string> block =
          DirectiveLines(own ? p.ownDirectives : kFixedDirectives);
      const auto package = std::find(dpk.begin(), dpk.end(), p.dpkLines[0]);
      ASSERT_GE(dpk.end() - package, 22);
      EXPECT_EQ(std::vector<std::string>(package + 2, package + 22), block) << own;
    }
  }
}

TEST_F(CliRealPackages, StructureJsonAndRefusals) {
  // Compiler helpers keep their "@" and are listed by name.
  const std::string vcl = Run({"structure", Packages()[0].file}).out;
  EXPECT_NE(vcl.find("    Procedures/Types\n      @AbstractError\n      @HandleFinally\n"
                     "      @LStrAsg\n      @LStrClr\n      Move\n"),
            std::string::npos)
      << vcl;
  const CliResult json = Run({"structure", "--json", Packages()[0].file});
  EXPECT_NE(json.out.find("\"Signature\": \"@40929B27\""), std::string::npos);

  EXPECT_EQ(Run({"structure", Packages()[1].file}).out,
            "tparrow.dpl\n  Arrow\n    Classes\n      TArrow\n        Create()\n        Paint()\n"
            "        SetDirection()\n  ArrowUtl\n    System\n      Initialization\n"
            "    Procedures/Types\n      RotatePoints\nUnits: 2\nClasses: 1\n");

  const CliResult info = Run({"info", "--json", Packages()[2].file});
  EXPECT_NE(info.out.find("\"switches\": \"A+ B- C- D+"), std::string::npos) << info.out;

  // A unit other than SysInit in two packages is still refused.
  const CliResult clash = Run({"info", KX_LIB "tpclash.dpl"});
  EXPECT_EQ(clash.code, 1);
  EXPECT_NE(clash.err.find("Cannot load package 'tpclash.'  It contains unit 'ArrowUtl,';which "
                           "is also contained in package 'tparrow'"),
            std::string::npos)
      << clash.err;
}

TEST_F(CliRealPackages, KnownPackageWithTheDelphiMacro) {
  // The row keeps the path as stored and reads the file's facts through it.
  const std::vector<std::string> rows = Lines(Run({"known"}).out);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].substr(0, rows[0].find("\t$(DELPHI)")),
            "tparrowd.dpl\tOn\tArrow Components (design time)\tDsgn\tNo\tNo");
  EXPECT_EQ(rows[0].find("N/A"), std::string::npos) << rows[0];
  const CliResult check = Run({"known", "check"});
  EXPECT_EQ(check.code, 0) << check.out << check.err;
}

// A package whose description lies only in PACKAGEOPTIONS, after a
// non-empty list of conditional defines: its deployment row and the value
// "known add" stores for the IDE carry the description, not the aliases.
TEST_F(CliRealPackages, TheDescriptionFromPackageOptionsReachesDeployRowsAndTheRegistry) {
  const RealPackage& tptrace = Packages()[3];
  const CliResult deploy = Run({"deploy", "C:\\Apps\\Trace\\traceapp.exe", "--modules"});
  EXPECT_EQ(deploy.code, 0) << deploy.err;
  const std::vector<std::string> rows = Lines(deploy.out);
  const auto row = std::find_if(rows.begin(), rows.end(), [](const std::string& r) {
    return r.starts_with("tptrace.dpl\t");
  });
  ASSERT_NE(row, rows.end()) << deploy.out;
  EXPECT_TRUE(
      row->starts_with("tptrace.dpl\tPackage\t" + tptrace.description + "\tC:\\Apps\\Trace"))
      << *row;

  const CliResult add = Run({"known", "add", tptrace.file});
  EXPECT_EQ(add.code, 0) << add.err;
  // Wine's registry text writes a character above 127 as \x and its hex code.
  EXPECT_NE(
      prefix.UserReg().find("\"C:\\\\Apps\\\\Trace\\\\tptrace.dpl\"=\"Tern's Arrow trace aids "
                            "(d\\x00e9bogage)\"\n"),
      std::string::npos)
      << prefix.UserReg();
}

TEST(CliDemoPrefix, PathModeFindsTheDesignPackageThroughTheDelphiMacro) {
  kx::test::DemoPrefixCopy prefix;
  const CliResult r =
      kx::test::RunCli(fs::temp_directory_path(), {{"WINEPREFIX", prefix.Root().string()}},
                       {"find", "dclstd30.dpl", "--path"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("dclstd30.dpl\tC:\\Program Files\\Borland\\Delphi 3\\Bin\\"),
            std::string::npos)
      << r.out;
}

}  // namespace
