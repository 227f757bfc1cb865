#include "package/GeneralInfo.h"

#include <algorithm>

#include "platform/strutil.h"

namespace kx {

const char* const kUnitFlagCaptions[6] = {"Main Unit",    "Package Unit (DPK)", "Weak Unit",
                                          "OrgWeak Unit", "Implicit Unit",      "WeakPackage Unit"};

const char* const kUsageItems[4] = {"N/A", "Design Time", "Run Time", "Both Design & Run Time"};
const char* const kBuildItems[3] = {"N/A", "Always (Implicit)", "Never (Explicit)"};
const char* const kModuleTypeItems[4] = {"N/A", "Package DLL", "Library DLL", "EXEcutable"};

TFlagChoices ChoicesFromFlags(uint32_t flags) {
  TFlagChoices c;
  c.build = (flags & pfNeverBuild) ? bcNever : bcAlways;
  if (flags & (pfDesignOnly | pfRunOnly)) {
    if (flags & pfDesignOnly) c.usage = ucDesignTime;
    if (flags & pfRunOnly) c.usage = ucRunTime;
  } else {
    c.usage = ucBoth;
  }
  if ((flags & pfModuleTypeMask) == 0) c.moduleType = mtExecutable;
  if (flags & pfPackageModule) c.moduleType = mtPackageDLL;
  if (flags & pfLibraryModule) c.moduleType = mtLibraryDLL;
  return c;
}

std::string PackageUsageText(uint32_t flags) { return kUsageItems[ChoicesFromFlags(flags).usage]; }

std::string PackageBuildText(uint32_t flags) { return kBuildItems[ChoicesFromFlags(flags).build]; }

std::string PEModuleTypeText(uint32_t flags) {
  return kModuleTypeItems[ChoicesFromFlags(flags).moduleType];
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
