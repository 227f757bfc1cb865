// PATH of the emulated process at start, built the way Wine builds it.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/registry_hive.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {
namespace {

constexpr char kSystemEnvironmentKey[] =
    "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr char kUserEnvironmentKey[] = "Environment";

// A string value of an environment key: REG_EXPAND_SZ data is expanded
// against vars (unknown names stay as written), REG_SZ taken as it stands;
// "" when absent or not a string.
std::string ReadEnvValue(RegistryAccessor& reg, const std::string& name, const Environment& vars) {
  try {
    auto info = reg.GetDataInfo(name);
    if (!info) return "";
    std::string text = reg.ReadString(name);
    return info->type == REG_EXPAND_SZ ? vars.Expand(text) : text;
  } catch (const Exception&) {
    return "";
  }
}

void Append(std::string& path, const std::string& part) {
  if (part.empty()) return;
  if (!path.empty()) path += ';';
  path += part;
}

}  // namespace

std::string BuildInitialPath(const WinSystem& sys) {
  if (!sys.Prefix()) return "C:\\WINDOWS;C:\\WINDOWS\\COMMAND";

  // The variables the system part of the environment is expanded with: the
  // ones Wine sets itself, then the other values of the system key.
  Environment vars;
  vars.Set("SystemRoot", sys.WindowsDirectory());
  vars.Set("windir", sys.WindowsDirectory());
  vars.Set("SystemDrive", sys.WindowsDirectory().substr(0, 2));
  std::string systemPath;
  {
    RegistryAccessor reg(sys.Prefix(), RootKey::LocalMachine);
    if (reg.OpenKey(kSystemEnvironmentKey, false)) {
      for (const std::string& name : reg.GetValueNames()) {
        if (SameText(name, "PATH")) continue;
        if (!vars.Get(name)) vars.Set(name, ReadEnvValue(reg, name, vars));
      }
      systemPath = ReadEnvValue(reg, "PATH", vars);
    }
  }
  std::string userPath;
  {
    RegistryAccessor reg(sys.Prefix(), RootKey::CurrentUser);
    if (reg.OpenKey(kUserEnvironmentKey, false)) userPath = ReadEnvValue(reg, "PATH", vars);
  }

  std::string path;
  if (const char* winePath = std::getenv("WINEPATH")) Append(path, winePath);
  Append(path, systemPath);
  Append(path, userPath);
  return path;
}

}  // namespace kx
