// kestrix-cli deploy over the MinGW fixtures, run as a separate program.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "support/cli_run.h"
#include "support/demo_prefix.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;

using test::CliResult;
using test::ReadHostText;

// WINEPATH is emptied so that the walk sees only what the prefix holds.
CliResult RunCli(const test::TempPrefix& prefix, const std::vector<std::string>& args) {
  return test::RunCli(prefix.Root(), {{"WINEPREFIX", prefix.Root().string()}, {"WINEPATH", ""}},
                      args);
}

struct DeployCliPrefix {
  test::TempPrefix prefix;
  DeployCliPrefix() {
    const fs::path bin = fs::path(KX_FIXTURES_DIR) / "bin";
    prefix.WriteFile("C:\\windows\\system32\\vcl30.dpl", test::ReadHostFile(bin / "vcl30.dpl"));
    for (const char* f : {"deployapp.exe", "deploypk.dpl", "dephelp.dll", "cycmate.dll"})
      prefix.WriteFile(std::string("C:\\Apps\\") + f, test::ReadHostFile(bin / f));
    prefix.WriteFile("C:\\Lost\\lostpk.dpl", test::ReadHostFile(bin / "lostpk.dpl"));
  }
};

TEST(CliDeploy, ReportModulesJsonAndReportFile) {
  DeployCliPrefix d;
  // A host path works as well as a Windows one; the current directory becomes the app's folder.
  const std::string host = d.prefix.Host("C:\\Apps\\deployapp.exe").string();
  CliResult r = RunCli(d.prefix, {"deploy", host, "-o", "C:\\out.txt"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(
      r.out.rfind(
          "*** Start Application Deployment Analysis...\n\n*** Modules needed at startup:9\n", 0),
      0u);
  EXPECT_NE(r.out.find("\n1) \"lostpk.dpl\"\n  Current path: \"C:\\Lost\\\"\n"), std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.size() - 11), "\n*** Done.\n");
  const std::string saved = ReadHostText(d.prefix.Host("C:\\out.txt"));
  std::string crlf;
  for (char c : r.out) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(saved.substr(saved.size() - crlf.size() - 2), "\r\n" + crlf);

  r = RunCli(d.prefix, {"deploy", "C:\\Apps\\deployapp.exe", "--modules"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            "dephelp.dll\tNon-Package\t\tC:\\Apps\\\t3,072\tn/a\tNo\tNo");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 9);

  r = RunCli(d.prefix, {"deploy", "C:\\Apps\\deployapp.exe", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["report"].size(), 18u);
  EXPECT_EQ(j["modules"][2]["Location"], "Bad path: C:\\Lost\\");
  EXPECT_EQ(j["modules"][2]["Path"], "C:\\Lost\\lostpk.dpl");
  EXPECT_EQ(j["modules"][2]["Type"], "Both");
}

TEST(CliDeploy, StrictFailsOnMissingOrMisplacedModulesAndBadInputFails) {
  DeployCliPrefix d;
  CliResult r = RunCli(d.prefix, {"deploy", "C:\\Apps\\deployapp.exe", "--strict"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Modules not found: 1; packages located incorrectly: 1\n");
  EXPECT_NE(r.out.find("*** Done."), std::string::npos);

  // Every import in place: strict passes.
  r = RunCli(d.prefix, {"deploy", "C:\\Apps\\dephelp.dll", "--strict"});
  EXPECT_EQ(r.code, 0) << r.err;

  r = RunCli(d.prefix, {"deploy", "C:\\Apps\\none.exe"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Cannot open file C:\\Apps\\none.exe\n");
  r = RunCli(d.prefix, {"deploy", "C:\\Apps\\deployapp.exe", "--bogus"});
  EXPECT_EQ(r.code, 2);
  r = RunCli(d.prefix, {"deploy", "C:\\Apps\\deployapp.exe", "-o", "C:\\no\\such\\dir\\r.txt"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Cannot create file C:\\no\\such\\dir\\r.txt\n");
}

// The run depends on start-up as the window's does: the System and Shared
// cells come from tables filled only when Delphi 3 is installed, and a PATH
// too long to be extended is walked with as it stands.
TEST(CliDeploy, StartUpDecidesTheTablesAndThePath) {
  struct Case {
    const char* name;
    bool delphi3;
    size_t winePath;  // characters of WINEPATH
    const char* systemShared;
  } cases[] = {
      {"Delphi 3 installed", true, 0, "Yes/Yes"},
      {"no Delphi 3 key", false, 0, "No/No"},
      {"WINEPATH of 32,760 characters", true, 32760, "Yes/Yes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::DemoPrefixCopy demo;
    if (!c.delphi3)
      std::ofstream(demo.Root() / "user.reg", std::ios::binary | std::ios::trunc)
          << "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n";
    std::string winePath;
    while (winePath.size() < c.winePath) winePath += "C:\\nowhere;";
    winePath.resize(c.winePath, 'x');
    const CliResult r =
        test::RunCli(demo.Root(), {{"WINEPREFIX", demo.Root().string()}, {"WINEPATH", winePath}},
                     {"deploy", "C:\\Projects\\Demo\\DemoApp.exe", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["report"].back(), "*** Done.");
    std::string vcl30;
    for (const auto& m : j["modules"])
      if (m["Name"] == "vcl30.dpl")
        vcl30 = m["System"].get<std::string>() + "/" + m["Shared"].get<std::string>();
    EXPECT_EQ(vcl30, c.systemShared);
  }
}

}  // namespace
}  // namespace kx
