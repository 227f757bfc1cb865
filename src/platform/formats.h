#pragma once
// The text formats shared across the tool.
#include <cstdint>
#include <string>

#include "platform/system.h"

namespace kx {

// "###,###,###,###,##0": digit groups joined by the thousands separator.
std::string FormatByteCount(int64_t value, const RegionalSettings& rs = Sys().Regional());
// "$" + 8 upper-case hex digits.
std::string HexAddress(uint32_t value);
// Delphi FormatDateTime for the pattern letters Windows regional formats use
// (d dd ddd dddd M MM MMM MMMM y yy yyyy h hh H HH m mm s ss t tt, quoted
// text; '/' and ':' stand for the regional date and time separators; day
// and month names are the US English ones).
std::string FormatDateTimePattern(double dateValue, const std::string& pattern,
                                  const RegionalSettings& rs = Sys().Regional());
std::string FormatShortDate(double dateValue, const RegionalSettings& rs = Sys().Regional());
std::string FormatLongTime(double dateValue, const RegionalSettings& rs = Sys().Regional());

}  // namespace kx
