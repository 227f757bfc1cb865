// Extending the process's PATH with the IDE's library search path.
#include "delphi3/SearchPath.h"

#include "delphi3/D3_Reg.h"
#include "platform/activity_log.h"
#include "platform/registry_hive.h"
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

constexpr std::string_view kDelphiMacro = "$(DELPHI)";

// RootDir of SOFTWARE\Borland\Delphi\3.0 under one root, opened one level
// at a time without creating anything; empty when absent or not a string.
std::string ReadRootDir(RootKey root) {
  RegistryAccessor reg(root);
  for (const char* level : {"SOFTWARE", "Borland", "Delphi", "3.0"})
    if (!reg.OpenKey(level, false)) return "";
  try {
    return reg.ReadString("RootDir");
  } catch (const Exception&) {
    return "";
  }
}

}  // namespace

std::string ReadDelphiRootDir() {
  std::string root = ReadRootDir(RootKey::LocalMachine);
  if (root.empty()) root = ReadRootDir(RootKey::CurrentUser);
  return root;
}

std::string ExpandDelphiMacro(std::string_view text, std::string_view rootDir) {
  if (rootDir.empty()) return std::string(text);
  std::string out;
  size_t from = 0;
  for (size_t hit; (hit = FindText(text.substr(from), kDelphiMacro)) != std::string::npos;) {
    out.append(text.substr(from, hit));
    from += hit + kDelphiMacro.size();
    // "$(DELPHI)\Lib" under a root written with a trailing "\" gets one.
    if (rootDir.back() == '\\' && from < text.size() && text[from] == '\\')
      out.append(rootDir.substr(0, rootDir.size() - 1));
    else
      out.append(rootDir);
  }
  out.append(text.substr(from));
  return out;
}

std::string ExpandDelphiMacro(std::string_view text) {
  if (FindText(text, kDelphiMacro) == std::string::npos) return std::string(text);
  return ExpandDelphiMacro(text, ReadDelphiRootDir());
}

void ExpandSearchPath(SearchPathState& state, Environment& env) {
  state.DelphiSearchPath = ReadLibrarySearchPath();
  const std::optional<std::string> path = env.Get("PATH");
  if (!path || path->empty()) throw Exception("Error retrieving path!");
  state.OriginalPath = *path;
  std::string expanded = state.OriginalPath + ";" + ExpandDelphiMacro(state.DelphiSearchPath);
  if (FindText(expanded, state.SystemDirectory) == std::string::npos)
    expanded = state.SystemDirectory + ";" + expanded;
  // ExpandedPath names the PATH in effect: a value the environment refused
  // is never recorded.
  if (!SetPath(env, expanded)) throw Exception("Error expanding path!");
  state.ExpandedPath = std::move(expanded);
}

void ExpandSearchPath(SearchPathState& state) { ExpandSearchPath(state, Sys().Env()); }

void RestoreSearchPath(const SearchPathState& state, Environment& env) {
  if (state.OriginalPath.empty()) return;
  if (!SetPath(env, state.OriginalPath)) throw Exception("Error expanding path!");
}

void RestoreSearchPath(const SearchPathState& state) { RestoreSearchPath(state, Sys().Env()); }

TStartupPaths StartupSearchPath() {
  TStartupPaths s;
  try {
    s.State.SystemDirectory = Sys().SystemDirectory().substr(0, 260);
    s.Delphi3Installed = IsDelphi3Installed();
    LogLine(s.Delphi3Installed ? "*** Delphi3 Keys are installed!"
                               : "*** Delphi3 Keys are not installed!");
    LogLine("** Expanding Path...");
    if (s.Delphi3Installed) {
      // The library search path is read first and kept even when PATH
      // cannot be read or set: the Delphi3 page shows it all the same.
      ExpandSearchPath(s.State);
      s.PathExpanded = true;
    } else {
      // Without Delphi 3 PATH is left as found: the deployment analysis
      // then walks with it and leaves it unchanged, instead of emptying it.
      s.State.OriginalPath = s.State.ExpandedPath = Sys().Env().Get("PATH").value_or("");
    }
  } catch (const std::exception&) {
    LogLine("** Expanding Path...ERROR!");
    // PATH keeps the value it had (a value too long to extend, say): the
    // deployment walk and its restore work from the PATH in effect.
    s.State.OriginalPath = s.State.ExpandedPath = Sys().Env().Get("PATH").value_or("");
  }
  return s;
}

}  // namespace kx
