// The shared-DLL table, and rewriting a key's values in a new order.
#include "delphi3/AdvRegistry.h"

#include <initializer_list>

#include "delphi3/D3_Reg.h"

namespace kx {

bool OpenWindowsCurrentVersionKey(RegistryAccessor& reg) {
  reg.SetRoot(RootKey::LocalMachine);
  for (const char* level : {"SOFTWARE", "Microsoft", "Windows", "CurrentVersion"}) {
    if (!reg.OpenKey(level, false)) {
      reg.CloseKey();
      return false;
    }
  }
  return true;
}

void ReadSharedDLLNames(std::vector<std::string>& list) {
  RegistryAccessor reg(RootKey::LocalMachine);
  if (OpenWindowsCurrentVersionKey(reg) && reg.OpenKey(kSharedDLLsKey, false))
    list = reg.GetValueNames();
}

void ReplaceKeyValues(RegistryAccessor& reg, const std::vector<std::string>& oldNames,
                      const std::vector<std::string>& newNames,
                      const std::vector<std::string>& newDescriptions) {
  const bool hadKey = reg.HasCurrentKey();
  const std::string path = reg.CurrentPath();
  reg.SetWriteThrough(true);
  bool deleted = true;
  for (const std::string& name : oldNames) {
    if (!reg.DeleteValue(name)) {
      deleted = false;
      break;
    }
  }
  reg.CloseKey();
  // Reopen from the root. Only the key itself may be created again; the
  // levels above it are opened as they are, so nothing above is ever made.
  // Without a key to begin with there is nothing to reopen, and the writes
  // below fail rather than land in the root.
  const size_t slash = path.rfind('\\');
  const bool parentOpen =
      hadKey && (slash == std::string::npos || reg.OpenKey("\\" + path.substr(0, slash), false));
  if (parentOpen) reg.OpenKey(slash == std::string::npos ? path : path.substr(slash + 1), true);
  // The values are written afresh in the new order, which is the order the
  // registry enumerates them in. After a failed deletion the complete new
  // set is still written (names that were not deleted keep their place), so
  // that no entry is lost, and only then is the failure reported.
  for (size_t i = 0; i < newNames.size(); ++i)
    reg.WriteString(newNames[i], i < newDescriptions.size() ? newDescriptions[i] : std::string());
  if (!deleted) throw ERegistryException("Error removing old known package!");
}

}  // namespace kx
