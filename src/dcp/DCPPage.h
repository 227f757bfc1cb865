#pragma once
// What the DCP page decides: the tree of a compiled package file, the six
// Field/Data rows of a selected unit, the context menu's enabling, the texts
// of its questions, dialogs and notices, the unit report and the extraction
// of one compiled unit. The page itself only displays these.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dcp/DCPMan.h"
#include "platform/ui.h"

namespace kx {

// Node kinds, stored as the tree nodes' image indexes.
enum TDCPNodeKind : int {
  nkUnitsRoot = 0,
  nkRequiresRoot = 1,
  nkResourcesRoot = 2,
  nkUnit = 3,
  nkRequiredPackage = 5,
  nkResource = 7,
};

struct TDCPTreeNode {
  int Kind = nkUnitsRoot;
  std::string Text;
  // The unit's entry; none for the last unit of the table (the package
  // source) and for every node that is not a unit.
  std::optional<TMyDCUInfo> Entry;
  std::vector<TDCPTreeNode> Children;
};

struct TDCPPageContent {
  std::string FileName;
  // The three roots "Units", "Required Packages", "Resources", in this order.
  std::vector<TDCPTreeNode> Roots;
  // "Units: n", "Required Packages: n", "Resources: n".
  std::array<std::string, 3> StatusTexts;
  // Every unit as read, the last one included (with its entry).
  TDCUInfoList Units;
  std::vector<std::string> Requires;
  std::vector<std::string> Resources;
};

inline constexpr std::string_view kPackageSourceSuffix = " (.DPK source)";
inline constexpr std::array<const char*, 3> kDCPStatusCaptions = {
    "Units:", "Required Packages:", "Resources:"};
inline constexpr std::array<int, 3> kDCPStatusWidths = {100, 180, 170};

// The tree and status texts from lists already read; the last unit of the
// table is the one marked as the package source.
TDCPPageContent MakeDCPPageContent(std::string fileName, TDCUInfoList units,
                                   std::vector<std::string> requiresNames,
                                   std::vector<std::string> resources);
// Opens and reads the named compiled package file (the package name is its
// file base name) and builds the page content. EFOpenError / EDCPDamaged.
TDCPPageContent AnalyzeDCP(std::string_view fileName);

// The Field column, in row order.
inline constexpr std::array<const char*, 6> kDCUInfoFields = {
    "DCU Offset in DCP", "DCU Size",           "Code Size",
    "Data Size",         "Code Offset in DPL", "Data Offset in DPL"};
// The Data column for a selected node: the entry's values, or "-" six times
// when the node carries no entry.
std::array<std::string, 6> DCUInfoData(const TMyDCUInfo* entry);
// The three buttons are enabled only for a unit node that carries an entry.
bool DCPButtonsEnabled(const TDCPTreeNode* node);

// Context menu: "Extract DCU" only for kind 3, "Copy Info String" for kinds
// 3 to 8; both disabled without a selection.
struct TDCPMenuState {
  bool ExtractDCU = false;
  bool CopyInfoString = false;
};
TDCPMenuState DCPMenuState(const TDCPTreeNode* selected);
// The text "Copy Info String" puts on the clipboard: the node's text.
std::string CopyInfoString(const TDCPTreeNode& node);
// Enter on a unit node with an entry runs the extraction.
bool EnterRunsExtract(const TDCPTreeNode* node, int keyCode);

// Questions, notices and dialogs.
inline constexpr std::string_view kExtractDCUQuestion =
    "NOTE: DCUs extracted from a packaged DCP aren't useful for a normal "
    "recompilation.\r\rProceed anyway?";
inline constexpr std::string_view kDCUExtractedNotice = "DCU Extracted!";
inline constexpr std::string_view kReportSavedNotice = "Report saved.";
std::string LocateFileQuestion(std::string_view expectedPath);
FileDialogSpec DCPOpenDialog(std::string_view fileName = std::string_view());
// A save dialog for a file made from one unit (asks before overwriting).
FileDialogSpec UnitSaveDialog(std::string title, std::string filter, std::string defaultExt,
                              std::string fileName);
FileDialogSpec DCUSaveDialog(std::string_view unitName);
FileDialogSpec ReportSaveDialog(std::string_view unitName);

// The compiled package file expected beside a loaded module: its folder, its
// file base name and ".dcp"; nullopt when the module is not a ".dpl".
std::optional<std::string> ExpectedDCPFileName(std::string_view moduleFileName);

// Unit report: the header's source name (unit name + ".DCU (" + base name of
// the loaded module + ".DCP)"), and the whole text after a header made from it.
std::string DCUReportSourceName(std::string_view unitName, std::string_view moduleFileName);
std::string BuildDCUReport(const TMyDCUInfo& info, std::string_view header);

// Copies the unit's DCUSize bytes from DCUOffset of the compiled package file
// into the target (created or replaced). The bytes are read before the target
// is created; a range outside the file raises EDCPDamaged and writes nothing.
void ExtractDCU(std::string_view dcpFileName, const TMyDCUInfo& info,
                std::string_view targetFileName);
// The bytes that ExtractDCU writes.
std::string ReadDCUBytes(TDCPStream& s, const TMyDCUInfo& info);

}  // namespace kx
