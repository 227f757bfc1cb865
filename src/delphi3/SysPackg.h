#pragma once
// The file names of the packages that come with Delphi 3 itself.
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// Appends the 13 standard run-time package names, in table order.
void AddRunTimePackages(std::vector<std::string>& list);
// Appends the 13 standard design-time package names, in table order.
void AddDesignTimePackages(std::vector<std::string>& list);

// True when the bare file name (no folder) is in either list, as a whole
// name ignoring ASCII letter case.
bool IsStandardPackage(const std::vector<std::string>& runTimePackages,
                       const std::vector<std::string>& designTimePackages,
                       std::string_view fileName);

}  // namespace kx
