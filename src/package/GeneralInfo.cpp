#include "package/GeneralInfo.h"

#include <algorithm>

#include "platform/strutil.h"

namespace kx {

const char* const kUnitFlagCaptions[6] = {"Main Unit",    "Package Unit (DPK)", "Weak Unit",
                                          "OrgWeak Unit", "Implicit Unit",      "WeakPackage Unit"};

std::string PackageUsageText(uint32_t flags) {
  if (flags & (pfDesignOnly | pfRunOnly)) {
    std::string choice;
    if (flags & pfDesignOnly) choice = "Design Time";
    if (flags & pfRunOnly) choice = "Run Time";
    return choice;
  }
  return "Both Design & Run Time";
}

std::string PackageBuildText(uint32_t flags) {
  return (flags & pfNeverBuild) ? "Never (Explicit)" : "Always (Implicit)";
}

std::string PEModuleTypeText(uint32_t flags) {
  std::string choice = "N/A";
  uint32_t t = flags & pfModuleTypeMask;
  if (t == 0) choice = "EXEcutable";
  if (t & pfPackageModule) choice = "Package DLL";
  if (t & pfLibraryModule) choice = "Library DLL";
  return choice;
}

std::vector<std::string> UnitFlagCaptions(UnitFlagSet flags) {
  std::vector<std::string> out;
  for (int i = 0; i < 6; ++i)
    if (InSet(flags, static_cast<UnitFlag>(i))) out.push_back(kUnitFlagCaptions[i]);
  return out;
}

std::vector<std::string> SortedRequires(const std::vector<std::string>& requires_) {
  std::vector<std::string> out = requires_;
  std::stable_sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
    return CompareText(a, b) < 0;
  });
  return out;
}

}  // namespace kx
