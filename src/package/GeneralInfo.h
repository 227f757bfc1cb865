#pragma once
// The choices the General Info page shows for a loaded package: the usage,
// build and module type texts decided from the flag word, and the captions
// of the unit-flag boxes checked for a contained unit.
#include <cstdint>
#include <string>
#include <vector>

#include "package/PackMan.h"

namespace kx {

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
