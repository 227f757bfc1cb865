#pragma once
// The package file search behind the SmartFind page and every "Find" button:
// the file types, where each search mode looks, the mask rewrite on a file
// type change, the cells of one found file, the order of the result list
// and the status texts. The page and kestrix-cli find only display these.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "delphi3/SharedPacks.h"
#include "search/FileFinder.h"

namespace kx {

// Where a search looks.
enum SearchMode : int {
  smFolder = 0,        // the given folder, with its subfolders
  smSystemFolder = 1,  // the system folder alone
  smProcessPath = 2,   // each folder of the extended search path alone
  smDriveRoots = 3,    // the folder of the mask, its drive and the ready drives
};

struct TPackSearchFileType {
  const char* Description;
  const char* Pattern;
};

// The entries of the file type list, in order.
inline constexpr std::array<TPackSearchFileType, 16> kPackSearchFileTypes = {{
    {"Delphi Package Library (*.DPL)", "*.DPL"},
    {"Delphi Package Source (*.DPK)", "*.DPK"},
    {"Delphi Package Collection Editor (*.PCE)", "*.PCE"},
    {"Delphi Compiled Package (*.DCP)", "*.DCP"},
    {"Delphi Package Collection (*.DPC)", "*.DPC"},
    {"Delphi Description Resource Compiler  (*.DRC)", "*.DRC"},
    {"Delphi Compiled Unit (*.DCU)", "*.DCU"},
    {"Delphi Resource File (*.RES)", "*.RES"},
    {"Delphi Unit Source (*.PAS)", "*.PAS"},
    {"CPB3 Package Library (*.BPL)", "*.BPL"},
    {"CPB3 Import Library (*.BPI)", "*.BPI"},
    {"C++ Source File (*.CPP)", "*.CPP"},
    {"C++ Header File (*.HPP)", "*.HPP"},
    {"C Header File (*.H)", "*.H"},
    {"CPB3 Binary Image (*.OBJ)", "*.OBJ"},
    {"CPB3 Static Library (*.LIB)", "*.LIB"},
}};
// The entries the Find buttons choose.
inline constexpr int kFileTypePackageLibrary = 0;
inline constexpr int kFileTypePackageSource = 1;
inline constexpr int kFileTypeUnitSource = 8;

// The result list's columns; a width of 0 leaves the default width.
inline constexpr int kFindColumnCount = 10;
inline constexpr std::array<const char*, kFindColumnCount> kFindColumnTitles = {
    "Name",   "Location", "Size",    "Type",        "System",
    "Shared", "Modified", "Created", "Last Access", "TotLinks"};
inline constexpr std::array<int, kFindColumnCount> kFindColumnWidths = {120, 140, 60, 55, 0,
                                                                        46,  80,  80, 80, 0};
inline constexpr int kFindSizeColumn = 2;
using TFindRow = std::array<std::string, kFindColumnCount>;
inline constexpr const char* kNotAvailable = "N/A";

// The three status panels.
inline constexpr std::array<int, 3> kFindStatusWidths = {110, 90, 50};
inline constexpr std::array<const char*, 3> kFindStatusInitial = {"Done.", "Files: 0", "No Path"};
inline constexpr std::array<const char*, 3> kFindStatusCleared = {"Working...", "Files: 0",
                                                                  "No Path."};
inline constexpr const char* kFindSearchingText = "Searching...";
inline constexpr const char* kFindStartCaption = "Search!";
inline constexpr const char* kFindRunningCaption = "Stop!";
inline constexpr const char* kFindIdleCaption = "Start!";
inline constexpr const char* kFindInitialMask = "*.dpl";
// "Files: " + the number of rows in the list.
std::string FindFilesPanelText(size_t rows);
// Panel 0 at the end of a search: "No Files Found." or "Done.".
std::string FindEndStatusText(size_t filesFound);
// Panel 2 at the end of a search: "Total Size: 1,234 bytes".
std::string FindTotalSizeText(uint64_t totalSize);

// The mode the start/stop button picks from the two check boxes and the
// folder tree (haveFolder: its selection has a file-system path).
SearchMode PickSearchMode(bool delphiPathChecked, bool systemFolderChecked, bool haveFolder);

// Where a search of the mode looks and whether it descends into subfolders.
struct TPackSearchRoots {
  std::vector<std::string> Roots;
  bool Recurse = false;
};
// systemDirectory and expandedPath are the strings the main window keeps
// from start-up; smDriveRoots builds its list from the mask (and the
// process's current directory when the mask names no folder).
TPackSearchRoots PackSearchRoots(SearchMode mode, std::string_view mask, std::string_view folder,
                                 bool stopAtFirst, std::string_view systemDirectory,
                                 std::string_view expandedPath);

// The mask after the file type changed: the mask's file name up to its last
// "." (nothing when it has none), then the extension of the type's pattern.
std::string MaskForFileType(std::string_view mask, size_t typeIndex);

// "Load Package" opens package libraries only (".dpl", any letter case).
bool IsLoadableFoundFile(std::string_view name);

// What the cells of a found file are judged against: the standard package
// tables and the shared package paths of the main window.
struct TFindRowContext {
  const std::vector<std::string>* StdRunTimePackages = nullptr;
  const std::vector<std::string>* StdDesignTimePackages = nullptr;
  const std::vector<std::string>* SharedPackNames = nullptr;
  // SharedPackNames with their files looked up (the Shared cell compares
  // file identity); made from SharedPackNames on first use when not given,
  // so that one context serves a whole search.
  mutable std::shared_ptr<const TSharedPackages> SharedFiles;
};
// The ten cells of a found file (full Windows path). The file is opened once
// for its information; a ".dpl" file is also mapped as a data image for its
// kind (DPLRun, DPLDsgn, DPLBoth). Cells that cannot be computed read "N/A":
// size, dates and links of a file that cannot be opened; everything from
// Type on for a ".dpl" that is no package.
// hostPath, when given, is where the file lies on the host (as the finder
// reports it), which saves resolving the Windows name again.
TFindRow MakeFindRow(std::string_view fileName, const TFindRowContext& context,
                     const std::filesystem::path* hostPath = nullptr);

// The names of a folder's subfolders ("." and ".." left out), sorted
// ignoring case; empty when the folder cannot be listed.
std::vector<std::string> ListSubfolders(std::string_view folder);

// The order of a header click: both cells as numbers when both read as
// numbers, otherwise as text ignoring ASCII letter case ("1,024" is text).
// <0, 0, >0.
int CompareFindCells(std::string_view a, std::string_view b);

// Sets the finder up for a search of the roots: recursion as the mode has
// it, stop after the first folder with a match when stopAtFirst, the file
// name part of the mask as the pattern (a folder in the mask is already in
// the roots of smDriveRoots).
void ConfigurePackSearch(TFileFinder& finder, const TPackSearchRoots& roots, std::string_view mask,
                         bool stopAtFirst);

}  // namespace kx
