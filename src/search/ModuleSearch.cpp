#include "search/ModuleSearch.h"

#include "deploy/DriveCheck.h"
#include "platform/strutil.h"

namespace kx {

bool FindModuleFile(TFileFinder& finder, const std::string& name, std::string& foundPath) {
  const std::string fileName = ExtractFileName(name);
  // An import table is untrusted: a name such as "*.dll" would otherwise
  // "find" whatever library comes first.
  if (fileName.empty() || fileName.find_first_of("*?") != std::string::npos) return false;
  std::vector<std::string> roots;
  BuildSearchRoots(name, roots, true);
  finder.Roots = std::move(roots);
  finder.Mask = fileName;
  finder.Recurse = true;
  finder.StopAtFirst = true;
  if (!finder.Execute() || finder.Results().empty()) return false;
  foundPath = finder.Results().front();
  return true;
}

}  // namespace kx
