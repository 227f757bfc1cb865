#pragma once
// While the tool runs with Delphi 3 installed, its own PATH (the emulated
// environment of the process) is extended with the IDE's library search path
// and the system directory, so that packages load with their required
// packages; the start-up value is put back when it closes.
#include <string>

#include "platform/environment.h"
#include "platform/errors.h"

namespace kx {

// The strings the main window keeps for this between start-up and shut-down.
struct SearchPathState {
  std::string DelphiSearchPath;  // the IDE's library search path
  std::string SystemDirectory;   // set by the caller before expanding
  std::string OriginalPath;      // PATH found at start-up
  std::string ExpandedPath;      // PATH set
};

// Reads the library search path, then sets PATH to
// [SystemDirectory;]OriginalPath;DelphiSearchPath (the system directory only
// when it does not already occur in the path, as a substring ignoring
// case). "Error retrieving path!" when PATH is missing or empty, "Error
// expanding path!" when the environment refuses the new value.
void ExpandSearchPath(SearchPathState& state, Environment& env);
void ExpandSearchPath(SearchPathState& state);  // on Sys().Env()
// Sets PATH back to OriginalPath ("Error expanding path!" when refused). An
// empty OriginalPath means PATH was never expanded, and PATH is left alone.
void RestoreSearchPath(const SearchPathState& state, Environment& env);
void RestoreSearchPath(const SearchPathState& state);  // on Sys().Env()

}  // namespace kx
