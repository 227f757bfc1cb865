// Extending the process's PATH with the IDE's library search path.
#include "delphi3/SearchPath.h"

#include "delphi3/D3_Reg.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {
namespace {

// Windows refuses environment values longer than this many characters.
constexpr size_t kMaxEnvironmentValue = 32767;

bool SetPath(Environment& env, const std::string& value) {
  if (value.size() > kMaxEnvironmentValue) return false;
  env.Set("PATH", value);
  return true;
}

}  // namespace

void ExpandSearchPath(SearchPathState& state, Environment& env) {
  state.DelphiSearchPath = ReadLibrarySearchPath();
  const std::optional<std::string> path = env.Get("PATH");
  if (!path || path->empty()) throw Exception("Error retrieving path!");
  state.OriginalPath = *path;
  state.ExpandedPath = state.OriginalPath + ";" + state.DelphiSearchPath;
  if (FindText(state.ExpandedPath, state.SystemDirectory) == std::string::npos)
    state.ExpandedPath = state.SystemDirectory + ";" + state.ExpandedPath;
  if (!SetPath(env, state.ExpandedPath)) throw Exception("Error expanding path!");
}

void ExpandSearchPath(SearchPathState& state) { ExpandSearchPath(state, Sys().Env()); }

void RestoreSearchPath(const SearchPathState& state, Environment& env) {
  if (state.OriginalPath.empty()) return;
  if (!SetPath(env, state.OriginalPath)) throw Exception("Error expanding path!");
}

void RestoreSearchPath(const SearchPathState& state) { RestoreSearchPath(state, Sys().Env()); }

}  // namespace kx
