#pragma once
// The deployment analysis of an application: the run behind the Deploy
// page's Analyze button and the deploy command, its report lines, the rows
// of the module list, and the saved report file.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "deploy/AppDeploy.h"
#include "platform/ui.h"

namespace kx {

// Columns of the module list, in order, and their widths in pixels (0: the
// list's default width).
inline constexpr std::array<const char*, 8> kDeployColumns = {
    "Name", "Module Type", "Description", "Location", "Size", "Type", "System", "Shared"};
inline constexpr std::array<int, 8> kDeployColumnWidths = {100, 80, 160, 180, 60, 0, 0, 0};
inline constexpr int kDeploySizeColumn = 4;

// One row of the module list: the eight cells in column order, the full
// file name of the module (empty when not located) and its size.
struct TDeployRow {
  std::array<std::string, 8> Cells;
  std::string FullPath;
  uint32_t Size = 0;
};

// What a run needs of the main window's start-up state.
struct TDeploySettings {
  std::string SystemDirectory;  // without a trailing '\'
  std::string OriginalPath;     // PATH for the walk
  std::string ExpandedPath;     // PATH after the walk
  std::vector<std::string> SharedPackNames;
  std::vector<std::string> StdRunTimePackages;
  std::vector<std::string> StdDesignTimePackages;
  FindModuleFileFn FindModuleFile;  // the file search fallback
};

struct TDeployResult {
  std::vector<std::string> Report;  // one entry per report line
  std::vector<TDeployRow> Rows;
};

// The analysis run: PATH becomes OriginalPath for the walk and ExpandedPath
// afterwards ("Error shrinking path!" when either cannot be set; PATH is
// set back also after a failed walk), then the report and the rows.
// Report lines go to result as they are written; whatever happens, the run
// ends the report with an empty line and "*** Done."; an error is raised
// after that, the lines written before it kept.
void RunDeployAnalysis(const std::string& appFileName, const TDeploySettings& settings,
                       TDeployResult& result);

// The list row of one module.
TDeployRow MakeDeployRow(const std::string& name, const TModulePathData& data,
                         const TDeploySettings& settings);

// The report file's text: the header block (source name appFileName), a
// line break, then every report line followed by CR LF.
std::string DeployReportText(const std::string& appFileName,
                             const std::vector<std::string>& report);
// The proposed report file name: the application's base name + ".TXT".
std::string ReportFileName(const std::string& appFileName);

// The page's open dialog for the application and save dialog for the
// report (the proposed name: ReportFileName).
FileDialogSpec EXEOpenDialogSpec();
FileDialogSpec TXTSaveDialogSpec(const std::string& appFileName);
inline constexpr const char* kDeployReportSavedNotice = "Report saved.";

// Whether a row names a package library (extension ".dpl", any case): Load,
// Find and Find Source act only on such rows.
bool IsPackageLibraryRow(const TDeployRow& row);
// The file Load opens: the Location cell without "Bad path: ", + the Name.
std::string RowModuleFileName(const TDeployRow& row);
// The mask Find Source searches for: the Name without its extension + ".DPK".
std::string RowSourceMask(const TDeployRow& row);

}  // namespace kx
