// kestrix-cli config and known over a copy of the demo prefix: what config
// prints and that it never writes to the registry; what config set and the
// known actions change.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_run.h"
#include "support/test_system.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

using kx::test::Quote;

using test::CliResult;
using test::ReadHostText;

void Spit(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// A fresh folder holding a copy of the demo prefix (prefix/) and the
// command's output files; removed afterwards.
class ConfigCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kx-config-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::copy(fs::path(KX_FIXTURES_DIR) / "demo-prefix", Prefix(),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path Prefix() const { return dir_ / "prefix"; }

  CliResult Run(std::vector<std::string> args, const std::string& command = "config") const {
    args.insert(args.begin(), command);
    return test::RunCli(dir_, {{"WINEPREFIX", Prefix().string()}}, args);
  }
  fs::path dir_;
};

const char kDemoConfig[] =
    "Delphi 3\tyes\n"
    "Default Package\tC:\\Program Files\\Borland\\Delphi 3\\Lib\\dclusr30.dpk\n"
    "Show Details\t1\n"
    "Warn On Rebuild\t1\n"  // stored as "2"
    "Detailed Exception\t1\n"
    "Fly Over Watches\t0\n"
    "CPU Registers\t0\n"  // absent
    "Pack. DLL Out\tC:\\Projects\\Demo\n"
    "Pack. DCP Out\tC:\\Projects\\Demo\\Dcp\n"
    "Delphi Library Path\t$(DELPHI)\\Lib;$(DELPHI)\\Bin;$(DELPHI)\\Imports;C:\\Projects\\Demo\n"
    "Known\tC:\\Program Files\\Borland\\Delphi 3\\Bin\\dclstd30.dpl\tDelphi Standard Components\n"
    "Known\tC:\\Program Files\\Borland\\Delphi 3\\Bin\\dclsmp30.dpl\tDelphi Sample Components\n"
    "Known\tC:\\Program Files\\Borland\\Delphi 3\\Bin\\dclqrt30.dpl\tQuickReport Components\n"
    "Known\tC:\\Projects\\Demo\\DemoComp.dpl\tKestrix \"Demo\" Komponenten f\xc3\xbcr Delphi\n"
    "Disabled\tc:\\program files\\borland\\delphi 3\\bin\\dclsmp30.dpl\tDelphi Sample Components\n"
    "Disabled\tC:\\Projects\\Old\\oldcomp30.dpl\tOld Demo Components\n"
    "Shared\tC:\\windows\\system32\\vcl30.dpl\n"
    "Shared\tC:\\windows\\system32\\vclx30.dpl\n"
    "Shared\tC:\\Program Files\\Borland\\Delphi 3\\Bin\\dclstd30.dpl\n"
    "Shared\tC:\\windows\\system32\\VCLDB30.DPL\n";

TEST_F(ConfigCommand, PrintsTheDemoConfigurationAndWritesNothing) {
  const std::string user = ReadHostText(Prefix() / "user.reg");
  const std::string system = ReadHostText(Prefix() / "system.reg");
  const CliResult r = Run({});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, kDemoConfig);
  EXPECT_EQ(r.err, "");
  // The "2" a start-up of the desktop tool would store as "1" stays.
  EXPECT_EQ(ReadHostText(Prefix() / "user.reg"), user);
  EXPECT_EQ(ReadHostText(Prefix() / "system.reg"), system);
}

TEST_F(ConfigCommand, JsonCarriesTheSameConfiguration) {
  const CliResult r = Run({"--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["delphi3"], true);
  EXPECT_EQ(j["defaultPackage"], "C:\\Program Files\\Borland\\Delphi 3\\Lib\\dclusr30.dpk");
  EXPECT_EQ(j["showDetails"], 1);
  EXPECT_EQ(j["warnOnRebuild"], 1);
  EXPECT_EQ(j["cpuRegisters"], 0);
  EXPECT_EQ(j["packDCPOut"], "C:\\Projects\\Demo\\Dcp");
  ASSERT_EQ(j["known"].size(), 4u);
  EXPECT_EQ(j["known"][3]["path"], "C:\\Projects\\Demo\\DemoComp.dpl");
  EXPECT_EQ(j["known"][3]["description"], "Kestrix \"Demo\" Komponenten f\xc3\xbcr Delphi");
  ASSERT_EQ(j["disabled"].size(), 2u);
  EXPECT_EQ(j["disabled"][1]["description"], "Old Demo Components");
  ASSERT_EQ(j["shared"].size(), 4u);
  EXPECT_EQ(j["shared"][3], "C:\\windows\\system32\\VCLDB30.DPL");
}

TEST_F(ConfigCommand, WithoutDelphi3OnlyTheAnswerNo) {
  fs::remove(Prefix() / "user.reg");
  const CliResult r = Run({});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Delphi 3\tno\nDefault Package\t\nShow Details\t0\nWarn On Rebuild\t0\n"
            "Detailed Exception\t0\nFly Over Watches\t0\nCPU Registers\t0\nPack. DLL Out\t\n"
            "Pack. DCP Out\t\nDelphi Library Path\t\n");
  EXPECT_FALSE(fs::exists(Prefix() / "user.reg"));
}

TEST_F(ConfigCommand, RegistryErrorsAndBadUsage) {
  std::string user = ReadHostText(Prefix() / "user.reg");
  const std::string from = "\"FlyOverWatches\"=\"0\"";
  ASSERT_NE(user.find(from), std::string::npos);
  Spit(Prefix() / "user.reg",
       user.replace(user.find(from), from.size(), "\"FlyOverWatches\"=\"on\""));
  CliResult r = Run({});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "'on' is not a valid integer value\n");
  user = ReadHostText(Prefix() / "user.reg");
  const std::string known = "\"C:\\\\Projects\\\\Demo\\\\DemoComp.dpl\"=";
  user.insert(user.find(known), "\"C:\\\\Odd.dpl\"=dword:00000001\n");
  user.replace(user.find("\"on\""), 4, "\"0\"");
  Spit(Prefix() / "user.reg", user);
  r = Run({"--json"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Invalid data type for 'C:\\Odd.dpl'\n");
  EXPECT_EQ(Run({"extra"}).code, 2);
  EXPECT_EQ(Run({"--bogus"}).code, 2);
}

TEST_F(ConfigCommand, FailuresFollowTheStartUpOfTheDesktopTool) {
  std::string user = ReadHostText(Prefix() / "user.reg");
  auto replace = [&](const std::string& from, const std::string& to) {
    ASSERT_NE(user.find(from), std::string::npos) << from;
    user.replace(user.find(from), from.size(), to);
  };
  // A library path of the wrong type only spoils the path line: start-up
  // reads it in a step of its own and goes on.
  replace("\"SearchPath\"=\"$(DELPHI)", "\"SearchPath\"=dword:00000001\n\"Was\"=\"$(DELPHI)");
  Spit(Prefix() / "user.reg", user);
  CliResult r = Run({});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Delphi Library Path\t\nKnown\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Warn On Rebuild\t1\n"), std::string::npos) << r.out;
  // A value without data reads as empty text, whatever its type.
  replace("\"PackageDCPOutputDir\"=\"C:\\\\Projects\\\\Demo\\\\Dcp\"",
          "\"PackageDCPOutputDir\"=hex:");
  Spit(Prefix() / "user.reg", user);
  r = Run({});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Pack. DCP Out\t\n"), std::string::npos) << r.out;
  // Two bad flags: the one the options fill reads first is reported.
  replace("\"ShowPackageDetails\"=\"1\"", "\"ShowPackageDetails\"=\"show\"");
  replace("\"WarnOnPackageRebuild\"=\"2\"", "\"WarnOnPackageRebuild\"=\"warn\"");
  Spit(Prefix() / "user.reg", user);
  r = Run({});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "'warn' is not a valid integer value\n");
}

TEST_F(ConfigCommand, SetWritesOneOptionUnlessItsKeyIsMissing) {
  CliResult r = Run({"set", "Show Details", "0"});
  EXPECT_EQ(r.code, 0) << r.err;
  r = Run({"set", "packDLLOut", "C:\\Out"});
  EXPECT_EQ(r.code, 0) << r.err;
  std::string user = ReadHostText(Prefix() / "user.reg");
  EXPECT_NE(user.find("\"ShowPackageDetails\"=\"0\""), std::string::npos);
  EXPECT_NE(user.find("\"PackageDLLOutputDir\"=\"C:\\\\Out\""), std::string::npos);
  EXPECT_EQ(Run({"set", "Show Details", "yes"}).code, 1);
  EXPECT_EQ(Run({"set", "No Such Option", "1"}).code, 2);
  EXPECT_EQ(Run({"set", "Show Details"}).code, 2);
  // "CPU Registers" lives under "Debugging": without that key nothing is stored.
  const size_t at = user.find("[Software\\\\Borland\\\\Delphi\\\\3.0\\\\Debugging]");
  ASSERT_NE(at, std::string::npos);
  user.erase(at, user.find("\n\n", at) + 2 - at);
  Spit(Prefix() / "user.reg", user);
  r = Run({"set", "CPU Registers", "1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("not stored"), std::string::npos) << r.err;
  EXPECT_EQ(ReadHostText(Prefix() / "user.reg"), user);
}

// Texts are stored and printed with every character; a hive that cannot be
// written (a link to a file whose name leaves no room for the temporary file
// beside it, which stops root too) makes every change exit 1 and say why.
TEST_F(ConfigCommand, ExactTextsAndWriteFailures) {
  CliResult r = Run({"set", "Pack. DLL Out", "C:\\Выход\\开发"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(Run({}).out.find("Pack. DLL Out\tC:\\Выход\\开发\n"), std::string::npos);

  const fs::path real = Prefix() / std::string(250, 'h');
  fs::rename(Prefix() / "user.reg", real);
  fs::create_symlink(real, Prefix() / "user.reg");
  const std::string before = ReadHostText(real);
  r = Run({"remove", "C:\\Projects\\Demo\\DemoComp.dpl"}, "known");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("Cannot create a temporary file", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find("Changes will take effect"), std::string::npos) << r.err;
  r = Run({"set", "Show Details", "0"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Failed to set data for 'ShowPackageDetails'\n");
  EXPECT_EQ(Run({"up", "C:\\Projects\\Demo\\DemoComp.dpl"}, "known").code, 1);
  EXPECT_EQ(ReadHostText(real), before);
}

TEST_F(ConfigCommand, KnownListsEditsAndChecksThePackages) {
  CliResult r = Run({}, "known");
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    rows.emplace_back();
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) rows.back().push_back(cell);
  }
  ASSERT_EQ(rows.size(), 5u);
  for (const auto& row : rows) EXPECT_EQ(row.size(), 12u);
  EXPECT_EQ(rows[1][0], "dclsmp30.dpl");
  EXPECT_EQ(rows[1][1], "Off");
  EXPECT_EQ(rows[2][3], "N/A");  // dclqrt30.dpl has no file
  EXPECT_EQ(rows[4][1], "Lost");
  EXPECT_EQ(nlohmann::json::parse(Run({"--json"}, "known").out)[3]["Location"],
            "C:\\Projects\\Demo\\");

  r = Run({"add", "C:\\PROJECTS\\Demo\\democomp.dpl"}, "known");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Package already exists.\n");
  fs::copy_file(Prefix() / "drive_c/Projects/Demo/DemoComp.dpl",
                Prefix() / "drive_c/Projects/Demo/Second.dpl");
  r = Run({"add", "C:\\Projects\\Demo\\Second.dpl"}, "known");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "Changes will take effect next time Delphi3 starts up!\n");
  r = Run({"up", "C:\\Projects\\Demo\\Second.dpl"}, "known");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Run({"down", "C:\\Projects\\Old\\oldcomp30.dpl"}, "known").code, 1);  // Lost
  EXPECT_EQ(Run({"up", "C:\\Nowhere.dpl"}, "known").code, 1);
  r = Run({"remove", "C:\\Projects\\Old\\oldcomp30.dpl"}, "known");
  EXPECT_EQ(r.code, 0) << r.err;
  const std::string user = ReadHostText(Prefix() / "user.reg");
  EXPECT_EQ(user.find("oldcomp30"), std::string::npos);
  EXPECT_LT(user.find("Second.dpl"), user.find("DemoComp.dpl"));

  r = Run({"check"}, "known");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out,
            "\"C:\\Program Files\\Borland\\Delphi 3\\Bin\\dclqrt30.dpl\" is set to load, but its "
            "file cannot be found.\n");
  EXPECT_EQ(Run({"bogus"}, "known").code, 2);
  EXPECT_EQ(Run({"add"}, "known").code, 2);
}

}  // namespace
}  // namespace kx
