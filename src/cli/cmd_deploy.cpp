// kestrix-cli deploy: the deployment analysis of an application, as the
// Deploy page runs it.
#include <iostream>

#include "cli/cli.h"
#include "cli/output.h"
#include "delphi3/D3_Reg.h"
#include "delphi3/SysPackg.h"
#include "deploy/DeployReport.h"
#include "platform/files.h"
#include "platform/strutil.h"
#include "platform/system.h"
#include "search/ModuleSearch.h"

namespace kx::cli {
namespace {

int RunDeploy(const Args& args) {
  if (args.positional.size() != 1) throw UsageError{"expected exactly one APP"};
  for (const std::string& f : args.flags)
    if (f != "--modules" && f != "--json" && f != "--strict")
      throw UsageError{"unknown option " + f};
  const std::string app = WindowsPathArg(args.positional[0]);
  if (app.empty() || !FileExists(app)) throw Exception("Cannot open file " + args.positional[0]);

  // As choosing the file in the page's open dialog does.
  std::string folder = ExtractFilePath(app);
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  Sys().SetCurrentDirectory(folder);
  TDeploySettings settings;
  settings.SystemDirectory = Sys().SystemDirectory();
  // The walk uses PATH as found at start-up, as the window's does.
  settings.OriginalPath = Startup().State.OriginalPath;
  settings.ExpandedPath = Startup().State.ExpandedPath;
  ReadSharedPackages(settings.SharedPackNames);
  AddRunTimePackages(settings.StdRunTimePackages);
  AddDesignTimePackages(settings.StdDesignTimePackages);
  TFileFinder finder;
  TModuleSearch search(finder);
  settings.FindModuleFile = [&search](const std::string& name, std::string& path) {
    return search.Find(name, path);
  };

  TDeployResult result;
  RunDeployAnalysis(app, settings, result);
  if (const std::string* out = args.Option("-o"))
    WriteAnsiTextFile(WindowsPathArg(*out), DeployReportText(app, result.Report));

  if (args.Has("--json")) {
    nlohmann::ordered_json j;
    j["report"] = nlohmann::json::array();
    for (const std::string& line : result.Report) j["report"].push_back(Out(line));
    j["modules"] = nlohmann::json::array();
    for (const TDeployRow& row : result.Rows) {
      nlohmann::ordered_json m;
      for (size_t c = 0; c < row.Cells.size(); ++c) m[kDeployColumns[c]] = Out(row.Cells[c]);
      m["Path"] = Out(row.FullPath);
      j["modules"].push_back(m);
    }
    std::cout << j.dump(2) << "\n";
  } else if (args.Has("--modules")) {
    for (const TDeployRow& row : result.Rows) {
      for (size_t c = 0; c < row.Cells.size(); ++c)
        std::cout << (c ? "\t" : "") << TextCell(row.Cells[c]);
      std::cout << "\n";
    }
  } else {
    for (const std::string& line : result.Report) std::cout << TextCell(line) << "\n";
  }

  if (args.Has("--strict")) {
    size_t missing = 0, misplaced = 0;
    for (const TDeployRow& row : result.Rows) {
      if (row.FullPath.empty()) {
        ++missing;
      } else if (row.Cells[1] == "Package" && row.Cells[3].rfind("Bad path: ", 0) == 0) {
        ++misplaced;
      }
    }
    if (missing + misplaced > 0) {
      std::cerr << "Modules not found: " << missing
                << "; packages located incorrectly: " << misplaced << "\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace

KX_CLI_COMMAND("deploy", "deploy APP [--modules] [--json] [-o REPORT] [--strict]", {"-o"},
               RunDeploy);

}  // namespace kx::cli
