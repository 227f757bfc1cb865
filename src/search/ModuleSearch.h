#pragma once
// The file search fallback of the start-up module walk: looks for a module
// that the loader could not load on the current folder and the drives.
#include <string>

#include "search/FileFinder.h"

namespace kx {

// Configures finder (roots from BuildSearchRoots(name, roots, true), recurse,
// stop at the first folder with a match, mask = the name) and runs it. The
// finder's event handlers are left as the caller set them. On success
// foundPath is the first file found (a full Windows file name). A name
// holding a wildcard ('*', '?') names no file and is never searched for.
bool FindModuleFile(TFileFinder& finder, const std::string& name, std::string& foundPath);

}  // namespace kx
