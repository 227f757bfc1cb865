#include "platform/formats.h"

#include <cmath>
#include <cstdio>

namespace kx {
namespace {

const char* const kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
const char* const kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

struct DateParts {
  int64_t year;
  unsigned month, day, weekDay;  // weekDay 0 = Sunday
  unsigned hour, minute, second;
};

// A date value split as Delphi's DecodeDate/DecodeTime do: the whole part is
// the day (counted from 1899-12-30), the fraction's magnitude the time of day.
DateParts Decode(double value) {
  double whole = std::trunc(value);
  int64_t ms = std::llround(std::fabs(value - whole) * 86400000.0);
  if (ms >= 86400000) {  // rounding reached midnight: the next day
    ms = 0;
    whole += value < 0 ? -1 : 1;
  }
  int64_t z = static_cast<int64_t>(whole) - 25569 + 719468;  // days since 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  DateParts p{};
  p.day = doy - (153 * mp + 2) / 5 + 1;
  p.month = mp < 10 ? mp + 3 : mp - 9;
  p.year = static_cast<int64_t>(yoe) + era * 400 + (p.month <= 2);
  // 1899-12-30 was a Saturday.
  const int64_t days = static_cast<int64_t>(whole);
  p.weekDay = static_cast<unsigned>(((days % 7) + 7 + 6) % 7);
  const int64_t secs = ms / 1000;
  p.hour = static_cast<unsigned>(secs / 3600);
  p.minute = static_cast<unsigned>(secs / 60 % 60);
  p.second = static_cast<unsigned>(secs % 60);
  return p;
}

std::string Number(int64_t v, size_t width) {
  std::string s = std::to_string(v < 0 ? -v : v);
  if (s.size() < width) s.insert(0, width - s.size(), '0');
  return v < 0 ? "-" + s : s;
}

}  // namespace

std::string FormatByteCount(int64_t value, const RegionalSettings& rs) {
  const uint64_t magnitude =
      value < 0 ? static_cast<uint64_t>(-(value + 1)) + 1 : static_cast<uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  std::string out;
  if (value < 0) out += '-';
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0 && !rs.thousandSeparator.empty())
      out += rs.thousandSeparator;
    out += digits[i];
  }
  return out;
}

std::string HexAddress(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "$%08X", value);
  return buf;
}

std::string FormatDateTimePattern(double dateValue, const std::string& pattern,
                                  const RegionalSettings& rs) {
  const DateParts p = Decode(dateValue);
  std::string out;
  size_t i = 0;
  const size_t n = pattern.size();
  while (i < n) {
    const char c = pattern[i];
    if (c == '\'') {
      // Quoted text; '' inside or outside quotes is one quote.
      ++i;
      if (i < n && pattern[i] == '\'') {
        out += '\'';
        ++i;
        continue;
      }
      while (i < n) {
        if (pattern[i] == '\'') {
          if (i + 1 < n && pattern[i + 1] == '\'') {
            out += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        out += pattern[i++];
      }
      continue;
    }
    size_t run = 1;
    while (i + run < n && pattern[i + run] == c) ++run;
    switch (c) {
      case 'd':
        if (run == 1)
          out += Number(p.day, 1);
        else if (run == 2)
          out += Number(p.day, 2);
        else if (run == 3)
          out += kShortDays[p.weekDay];
        else
          out += kLongDays[p.weekDay];
        break;
      case 'M':
        if (run == 1)
          out += Number(p.month, 1);
        else if (run == 2)
          out += Number(p.month, 2);
        else if (run == 3)
          out += kShortMonths[p.month - 1];
        else
          out += kLongMonths[p.month - 1];
        break;
      case 'y': {
        const int64_t y = p.year;
        if (run == 1)
          out += Number(((y % 100) + 100) % 100, 1);
        else if (run == 2)
          out += Number(((y % 100) + 100) % 100, 2);
        else
          out += Number(y, 4);
        break;
      }
      case 'h': {
        const unsigned h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
        out += Number(h12, run >= 2 ? 2 : 1);
        break;
      }
      case 'H':
        out += Number(p.hour, run >= 2 ? 2 : 1);
        break;
      case 'm':
        out += Number(p.minute, run >= 2 ? 2 : 1);
        break;
      case 's':
        out += Number(p.second, run >= 2 ? 2 : 1);
        break;
      case 't': {
        const std::string& marker = p.hour < 12 ? rs.timeAMString : rs.timePMString;
        out += run == 1 ? marker.substr(0, 1) : marker;
        break;
      }
      case '/':
        for (size_t k = 0; k < run; ++k) out += rs.dateSeparator;
        break;
      case ':':
        for (size_t k = 0; k < run; ++k) out += rs.timeSeparator;
        break;
      default:
        out.append(run, c);
        break;
    }
    i += run;
  }
  return out;
}

std::string FormatShortDate(double dateValue, const RegionalSettings& rs) {
  return FormatDateTimePattern(dateValue, rs.shortDateFormat, rs);
}

std::string FormatLongTime(double dateValue, const RegionalSettings& rs) {
  return FormatDateTimePattern(dateValue, rs.longTimeFormat, rs);
}

}  // namespace kx
