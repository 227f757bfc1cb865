#pragma once
// The program's version text, the header block that opens every generated
// text file (package sources, unit and deployment reports), and the file base
// name rule used for every default file name.
#include <functional>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace kx {

inline constexpr std::string_view kProgramVersionText = "Kestrix v00.7.1";

// The path cut before its last '.', then only what follows the last '\' or
// ':' of the rest. A path without any '.' gives an empty name. The cut is made
// at the last '.' wherever it stands, a folder name included.
// Header-only so that the compiled package reader can use it as well.
inline std::string FileBaseName(std::string_view path) {
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return std::string();
  std::string_view rest = path.substr(0, dot);
  size_t sep = rest.find_last_of("\\:");
  if (sep != std::string_view::npos) rest = rest.substr(sep + 1);
  return std::string(rest);
}

// The current local date and time as a date value (days since 1899-12-30).
// Tests replace the clock with SetSourceClock.
using SourceClock = std::function<double()>;
double SourceNow();
// Installs a clock (an empty function restores the system clock); returns
// the previous one.
SourceClock SetSourceClock(SourceClock clock);

// The seven header lines, each ending in CR LF, the last one empty. The date
// and time are formatted with the short date and long time formats of rs.
std::string MakeSourceHeaderAt(std::string_view sourceName, double now, const RegionalSettings& rs);
// With the current clock and the regional settings of the running system;
// the header replaces the previous content of text.
void MakeSourceHeader(std::string_view sourceName, std::string& text);
std::string MakeSourceHeader(std::string_view sourceName);

}  // namespace kx
