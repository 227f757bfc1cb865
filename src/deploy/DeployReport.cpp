#include "deploy/DeployReport.h"

#include "delphi3/SharedPacks.h"
#include "delphi3/SysPackg.h"
#include "platform/formats.h"
#include "platform/strutil.h"
#include "platform/system.h"
#include "source/Version.h"

namespace kx {

namespace {

constexpr const char* kBadPath = "Bad path: ";
// Windows refuses environment values longer than this many characters.
constexpr size_t kMaxEnvironmentValue = 32767;

void SetPathOrFail(const std::string& value) {
  // PATH already holding the value needs no change, and so cannot fail: a
  // PATH in effect that is longer than the environment takes (a long
  // WINEPATH) is walked with as it is.
  if (Sys().Env().Get("PATH") == value) return;
  if (value.size() > kMaxEnvironmentValue) throw Exception("Error shrinking path!");
  Sys().Env().Set("PATH", value);
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

void WriteReport(const TDeploySettings& settings, const TModuleList& checked,
                 const std::vector<std::string>& missing, std::vector<std::string>& report) {
  TModuleList packages, badPath, badPackages;
  CollectPackageModules(checked, packages);
  CollectBadPathModules(checked, badPath);
  CollectPackageModules(badPath, badPackages);

  report.push_back("*** Modules needed at startup:" + std::to_string(checked.Count()));
  report.push_back("*** Packages needed at startup: " + std::to_string(packages.Count()));
  report.push_back("*** Modules not found: " + std::to_string(missing.size()));
  if (!missing.empty()) {
    report.push_back("");
    for (const std::string& name : missing) {
      report.push_back(" " + name);
      report.push_back("");
    }
  }
  report.push_back("*** Packages located incorrectly: " + std::to_string(badPackages.Count()));
  if (badPackages.Count() > 0) {
    report.push_back("");
    for (size_t i = 0; i < badPackages.Count(); ++i) {
      const auto& e = badPackages[i];
      report.push_back(std::to_string(i + 1) + ") " + Quoted(e.Name));
      report.push_back("  Current path: " + Quoted(ExtractFilePath(e.Data->Path)));
      report.push_back("  Recommended path: " + Quoted(settings.SystemDirectory));
      report.push_back("");
    }
  }
  report.push_back("*** Tot. space required by packages: " +
                   FormatByteCount(TotalModuleSize(packages)) + " bytes");
  report.push_back("*** Tot. space required by all modules: " +
                   FormatByteCount(TotalModuleSize(checked)) + " bytes");
}

}  // namespace

TDeployRow MakeDeployRow(const std::string& name, const TModulePathData& data,
                         const TDeploySettings& settings) {
  TDeployRow row;
  row.FullPath = data.Path;
  row.Size = data.Size;
  auto& c = row.Cells;
  c[0] = name;
  c[1] = data.IsPackage ? "Package" : "Non-Package";
  c[2] = data.Description;
  c[3] = (data.BadPath ? std::string(kBadPath) : std::string()) + ExtractFilePath(data.Path);
  c[4] = FormatByteCount(data.Size);
  if (!data.IsPackage) {
    c[5] = "n/a";
  } else if (InSet(data.PackageKind, pkRunOnly)) {
    c[5] = "Run";
  } else if (InSet(data.PackageKind, pkDesignOnly)) {
    c[5] = "Dsgn";
  } else {
    c[5] = "Both";
  }
  c[6] = IsStandardPackage(settings.StdRunTimePackages, settings.StdDesignTimePackages, name)
             ? "Yes"
             : "No";
  c[7] = !data.Path.empty() && IsSharedPackage(settings.SharedPackNames, data.Path) ? "Yes" : "No";
  return row;
}

void RunDeployAnalysis(const std::string& appFileName, const TDeploySettings& settings,
                       TDeployResult& result) {
  result.Report.clear();
  result.Rows.clear();
  result.Report.push_back("*** Start Application Deployment Analysis...");
  result.Report.push_back("");
  try {
    TModuleList checked;
    std::vector<std::string> found, missing;
    try {
      SetPathOrFail(settings.OriginalPath);
      CheckModuleImports(appFileName, found, missing, checked, settings.FindModuleFile);
    } catch (...) {
      SetPathOrFail(settings.ExpandedPath);
      throw;
    }
    SetPathOrFail(settings.ExpandedPath);
    FillModulePathData(checked);
    WriteReport(settings, checked, missing, result.Report);
    for (const auto& e : checked.Entries())
      result.Rows.push_back(MakeDeployRow(e.Name, *e.Data, settings));
  } catch (...) {
    result.Report.push_back("");
    result.Report.push_back("*** Done.");
    throw;
  }
  result.Report.push_back("");
  result.Report.push_back("*** Done.");
}

std::string DeployReportText(const std::string& appFileName,
                             const std::vector<std::string>& report) {
  std::string text = MakeSourceHeader(appFileName);
  text += "\r\n";
  for (const std::string& line : report) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::string ReportFileName(const std::string& appFileName) {
  return FileBaseName(appFileName) + ".TXT";
}

FileDialogSpec EXEOpenDialogSpec() {
  FileDialogSpec spec;
  spec.title = "Select Application to Analyze...";
  spec.filter = "Application Executable (*.EXE)|*.EXE|Module Library (*.DLL)|*.DLL";
  spec.defaultExt = "exe";
  spec.fileName = "*.exe";
  return spec;
}

FileDialogSpec TXTSaveDialogSpec(const std::string& appFileName) {
  FileDialogSpec spec;
  spec.title = "Save Report File...";
  spec.filter = "ASCII Text File (*.txt)|*.txt";
  spec.defaultExt = "txt";
  spec.fileName = ReportFileName(appFileName);
  spec.overwritePrompt = true;
  return spec;
}

bool IsPackageLibraryRow(const TDeployRow& row) {
  return SameText(ExtractFileExt(row.Cells[0]), ".dpl");
}

std::string RowModuleFileName(const TDeployRow& row) {
  std::string location = row.Cells[3];
  if (location.rfind(kBadPath, 0) == 0) location.erase(0, std::string(kBadPath).size());
  return location + row.Cells[0];
}

std::string RowSourceMask(const TDeployRow& row) { return ChangeFileExt(row.Cells[0], ".DPK"); }

}  // namespace kx
