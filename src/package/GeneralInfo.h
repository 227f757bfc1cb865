#pragma once
// The choices the General Info page shows for a loaded package: the usage,
// build and module type texts decided from the flag word, and the captions
// of the unit-flag boxes checked for a contained unit.
#include <cstdint>
#include <string>
#include <vector>

#include "package/PackMan.h"

namespace kx {

// What the General Info page's three lists select for a package flag word:
// item indexes, 0 being "N/A" in each list.
enum TUsageChoice : int { ucNA = 0, ucDesignTime = 1, ucRunTime = 2, ucBoth = 3 };
enum TBuildChoice : int { bcNA = 0, bcAlways = 1, bcNever = 2 };
enum TModuleTypeChoice : int { mtNA = 0, mtPackageDLL = 1, mtLibraryDLL = 2, mtExecutable = 3 };

struct TFlagChoices {
  TUsageChoice usage = ucNA;
  TBuildChoice build = bcNA;
  TModuleTypeChoice moduleType = mtNA;
};

// The one place the flag word is turned into choices (the page, the
// command line and the package source writer all use it). The checks run
// in a fixed order and the last one that applies wins: design-only then
// run-only (both bits: "Run Time"); executable, then package, then library
// (both module bits: "Library DLL").
TFlagChoices ChoicesFromFlags(uint32_t flags);

// The items of the three lists, in list order.
extern const char* const kUsageItems[4];
extern const char* const kBuildItems[3];
extern const char* const kModuleTypeItems[4];

// "Design Time", "Run Time" or "Both Design & Run Time"; with both the
// design-only and the run-only bit set the later choice, "Run Time", wins.
std::string PackageUsageText(uint32_t flags);
// "Always (Implicit)" or "Never (Explicit)".
std::string PackageBuildText(uint32_t flags);
// "EXEcutable", "Package DLL" or "Library DLL" (with both type bits set the
// later choice, "Library DLL", wins).
std::string PEModuleTypeText(uint32_t flags);

// The six unit-flag box captions in box order.
extern const char* const kUnitFlagCaptions[6];
// Captions of the boxes checked for a unit, in box order.
std::vector<std::string> UnitFlagCaptions(UnitFlagSet flags);

// Required packages as the page's sorted list box orders them (ignoring
// ASCII case; equal names keep their order).
std::vector<std::string> SortedRequires(const std::vector<std::string>& requires_);

}  // namespace kx
