// kestrix-cli on the second fixture set (tests/fixtures/real-prefix), whose
// modules carry what Delphi 3 really writes: SysInit with unit flags 0 in
// every module, one import descriptor per unit, PACKAGEOPTIONS, compiler
// helper exports, the default base $00400000, and required packages that
// only the library search path ("$(DELPHI)\Lib") reaches.
#include <gtest/gtest.h>

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
  std::vector<std::string> dpkLines;  // in this order, from the package line on
};

const std::vector<RealPackage>& Packages() {
  static const std::vector<RealPackage> packages = {
      {"C:\\windows\\system32\\vcl30.dpl",
       "Borland Visual Component Library & Packages",
       "A+ B- C- D- E- F- G+ H+ I+ J+ K- L- M- N+ O+ P+ Q- R- S- T- U- V+ W- X+ Y- Z1",
       {"package vcl30;", "{$IMAGEBASE $40000000}",
        "{$DESCRIPTION 'Borland Visual Component Library & Packages' }", "{$RUNONLY}",
        "{$IMPLICITBUILD OFF}", "contains", " System,", " Windows,", " Messages,", " SysUtils,",
        " Classes,", " Graphics,", " Controls,", " Forms;", "end."}},
      {KX_LIB "tparrow.dpl",
       "Tern's Arrow Components",
       "A+ B- C+ D+ E- F- G+ H+ I+ J+ K- L+ M- N+ O+ P+ Q- R- S- T- U- V+ W- X+ Y- Z1",
       {"package tparrow;", "{$IMAGEBASE $00400000}", "{$DESCRIPTION 'Tern''s Arrow Components' }",
        "{$RUNONLY}", "{$IMPLICITBUILD ON}", "requires", " vcl30;", "contains", " Arrow,",
        " ArrowUtl;", "end."}},
      // No DESCRIPTION resource: the description comes from PACKAGEOPTIONS.
      {KX_LIB "tparrowd.dpl",
       "Arrow Components (design time)",
       "A+ B- C- D+ E- F- G+ H+ I+ J+ K- L+ M- N+ O- P+ Q- R- S+ T- U- V+ W- X+ Y+ Z4",
       {"package tparrowd;", "{$IMAGEBASE $00400000}",
        "{$DESCRIPTION 'Arrow Components (design time)' }", "{$DESIGNONLY}", "{$IMPLICITBUILD ON}",
        "requires", " vcl30,", " tparrow;", "contains", " ArrowReg;", "end."}},
  };
  return packages;
}

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
    EXPECT_TRUE(Has(info, "Switches\t" + p.switches));
    EXPECT_TRUE(Has(info, "Contains\tSysInit\t"));  // unit flags 0

    // The source lines in order; the fixed directive block between them.
    const std::vector<std::string> dpk = Lines(Run({"dpk", p.file}).out);
    size_t at = 0;
    for (const std::string& want : p.dpkLines) {
      while (at < dpk.size() && dpk[at] != want) ++at;
      EXPECT_LT(at, dpk.size()) << "missing or out of order: " << want;
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
  // Its run-time package lies only in the library folder, which the IDE's
  // loader does not search.
  const CliResult check = Run({"known", "check"});
  EXPECT_EQ(check.code, 1) << check.err;
  EXPECT_EQ(check.out,
            "\"$(DELPHI)\\Lib\\tparrowd.dpl\" requires \"tparrow\", which the loader cannot "
            "find.\n");
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
