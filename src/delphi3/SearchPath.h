#pragma once
// While the tool runs with Delphi 3 installed, its own PATH (the emulated
// environment of the process) is extended with the IDE's library search path
// and the system directory, so that packages load with their required
// packages; the start-up value is put back when it closes.
#include <string>
#include <string_view>

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

// The IDE's root folder: the value RootDir under SOFTWARE\Borland\Delphi\3.0
// of HKEY_LOCAL_MACHINE, else of HKEY_CURRENT_USER; empty when neither holds
// one.
std::string ReadDelphiRootDir();
// A configured path or path list as it reaches files: every "$(DELPHI)"
// (letter case ignored) replaced by the IDE's root folder. Without a root
// folder the text stays as it is. What is shown, stored and compared keeps
// the text as the registry holds it; only file access goes through this.
std::string ExpandDelphiMacro(std::string_view text);
std::string ExpandDelphiMacro(std::string_view text, std::string_view rootDir);

// Reads the library search path, then sets PATH to
// [SystemDirectory;]OriginalPath;DelphiSearchPath (the system directory only
// when it does not already occur in the path, as a substring ignoring
// case; DelphiSearchPath with "$(DELPHI)" expanded, while the state keeps
// it as stored). "Error retrieving path!" when PATH is missing or empty, "Error
// expanding path!" when the environment refuses the new value; ExpandedPath
// is set only once PATH holds it.
void ExpandSearchPath(SearchPathState& state, Environment& env);
void ExpandSearchPath(SearchPathState& state);  // on Sys().Env()
// Sets PATH back to OriginalPath ("Error expanding path!" when refused). An
// empty OriginalPath means PATH was never expanded, and PATH is left alone.
void RestoreSearchPath(const SearchPathState& state, Environment& env);
void RestoreSearchPath(const SearchPathState& state);  // on Sys().Env()

// What start-up leaves for the window and for every command line command,
// so that both load packages along the same PATH.
struct TStartupPaths {
  bool Delphi3Installed = false;
  bool PathExpanded = false;  // PATH was set: put it back at shut-down
  SearchPathState State;      // without Delphi 3: OriginalPath = ExpandedPath = PATH
};
// The one start-up routine: detects Delphi 3 and, when it is installed,
// extends PATH with the library search path. Writes the start-up lines of
// the activity log; a failure is logged ("** Expanding Path...ERROR!") and
// leaves PATH as it was, with the library search path read before it kept
// and OriginalPath = ExpandedPath = the PATH in effect. Never throws.
TStartupPaths StartupSearchPath();

}  // namespace kx
