// PATH of the emulated process at start, built the way Wine builds it.
#include <cstdlib>
#include <string>

#include "platform/environment.h"
#include "platform/system.h"

namespace kx {

std::string BuildInitialPath(const WinSystem& sys) {
  if (!sys.Prefix()) return "C:\\WINDOWS;C:\\WINDOWS\\COMMAND";
  std::string path;
  if (const char* winePath = std::getenv("WINEPATH")) path = winePath;
  // The registry parts are added once the hive reader is in place.
  return path;
}

}  // namespace kx
