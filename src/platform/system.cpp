#include "platform/system.h"

#include <langinfo.h>
#include <locale.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <system_error>

#include "platform/codepage.h"
#include "platform/process.h"
#include "platform/registry_hive.h"
#include "platform/strutil.h"

namespace kx {
namespace fs = std::filesystem;

namespace {

std::string HostEnv(const char* name) {
  const char* v = getenv(name);
  return v ? std::string(v) : std::string();
}

// The locale name in force for one category, as setlocale would pick it from
// the environment: LC_ALL, then the category's own variable, then LANG.
std::string LocaleNameFor(const char* categoryVar) {
  for (const char* var : {"LC_ALL", categoryVar, "LANG"}) {
    std::string v = HostEnv(var);
    if (!v.empty()) return v;
  }
  return "C";
}

// A locale's text as core text (UTF-8 locales give UTF-8; anything else
// gets U+FFFD for its malformed bytes).
std::string HostText(const char* text) {
  const std::string s = text ? text : "";
  return IsValidUtf8(s) ? s : Utf16ToUtf8(Utf8ToUtf16(s));
}

bool IsCLocale(const std::string& name) {
  return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

// The one character of a locale's separator text ("." or "," or a no-break
// space); nullopt when it is not one character.
std::optional<std::string> SeparatorChar(const std::string& utf8) {
  if (utf8 == "\u202F") return "\u00A0";  // narrow no-break space: Windows uses U+00A0
  size_t end = 0;
  if (utf8.empty() || !IsValidUtf8(utf8) || (NextCodePoint(utf8, end), end != utf8.size()))
    return std::nullopt;
  return utf8;
}

// A strftime date/time format as a Windows regional pattern ("%d.%m.%Y" ->
// "dd.MM.yyyy"). Unknown conversions give nullopt.
std::optional<std::string> PosixToWindowsPattern(const std::string& fmt) {
  std::string out;
  for (size_t i = 0; i < fmt.size(); ++i) {
    const char c = fmt[i];
    if (c != '%') {
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '\'') {
        out += '\'';
        out += c == '\'' ? "''" : std::string(1, c);
        out += '\'';
      } else {
        out += c;
      }
      continue;
    }
    if (++i >= fmt.size()) return std::nullopt;
    char conv = fmt[i];
    if (conv == 'E' || conv == 'O' || conv == '-' || conv == '_' || conv == '0') {
      const bool noPad = conv == '-' || conv == '_';
      if (++i >= fmt.size()) return std::nullopt;
      conv = fmt[i];
      if (noPad) {
        switch (conv) {
          case 'd':
            out += "d";
            continue;
          case 'm':
            out += "M";
            continue;
          case 'H':
            out += "H";
            continue;
          case 'I':
            out += "h";
            continue;
          default:
            break;
        }
      }
    }
    switch (conv) {
      case 'd':
        out += "dd";
        break;
      case 'e':
        out += "d";
        break;
      case 'm':
        out += "MM";
        break;
      case 'b':
      case 'h':
        out += "MMM";
        break;
      case 'B':
        out += "MMMM";
        break;
      case 'a':
        out += "ddd";
        break;
      case 'A':
        out += "dddd";
        break;
      case 'y':
        out += "yy";
        break;
      case 'Y':
        out += "yyyy";
        break;
      case 'H':
        out += "HH";
        break;
      case 'k':
        out += "H";
        break;
      case 'I':
        out += "hh";
        break;
      case 'l':
        out += "h";
        break;
      case 'M':
        out += "mm";
        break;
      case 'S':
        out += "ss";
        break;
      case 'p':
      case 'P':
        out += "tt";
        break;
      case 'T':
        out += "HH:mm:ss";
        break;
      case 'R':
        out += "HH:mm";
        break;
      case 'r':
        out += "hh:mm:ss tt";
        break;
      case 'D':
        out += "MM/dd/yy";
        break;
      case 'F':
        out += "yyyy-MM-dd";
        break;
      case '%':
        out += '%';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

// The first character of a pattern that is neither a pattern letter nor
// quoted text: the separator the pattern uses.
std::optional<std::string> PatternSeparator(const std::string& pattern) {
  bool quoted = false;
  for (size_t i = 0; i < pattern.size();) {
    const size_t start = i;
    const uint32_t c = NextCodePoint(pattern, i);
    if (c == '\'') {
      quoted = !quoted;
    } else if (!quoted && !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && c != ' ') {
      return pattern.substr(start, i - start);
    }
  }
  return std::nullopt;
}

bool ReadWin64Flag(const fs::path& prefix) {
  std::ifstream in(prefix / "system.reg");
  std::string line;
  // The "#arch=" line belongs to the header, before the first key.
  for (int n = 0; n < 64 && std::getline(in, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') break;
    if (line.rfind("#arch=", 0) == 0) return line.substr(6) == "win64";
  }
  return false;
}

std::unique_ptr<WinSystem>& Current() {
  static std::unique_ptr<WinSystem> current;
  return current;
}

// The settings of the host locales named for numbers and for times.
RegionalSettings FromLocaleNames(const std::string& numeric, const std::string& time) {
  RegionalSettings rs;
  if (!IsCLocale(numeric)) {
    if (locale_t loc = newlocale(LC_NUMERIC_MASK, numeric.c_str(), static_cast<locale_t>(0))) {
      if (auto sep = SeparatorChar(nl_langinfo_l(THOUSEP, loc))) rs.thousandSeparator = *sep;
      freelocale(loc);
    }
  }
  // US English keeps the Windows defaults: its POSIX formats pad with zeros
  // where Windows does not.
  if (!IsCLocale(time) && time.rfind("en_US", 0) != 0) {
    if (locale_t loc = newlocale(LC_TIME_MASK, time.c_str(), static_cast<locale_t>(0))) {
      const auto date = PosixToWindowsPattern(nl_langinfo_l(D_FMT, loc));
      const auto clock = PosixToWindowsPattern(nl_langinfo_l(T_FMT, loc));
      if (date && !date->empty()) {
        rs.shortDateFormat = HostText(date->c_str());
        if (auto sep = PatternSeparator(rs.shortDateFormat)) rs.dateSeparator = *sep;
      }
      if (clock && !clock->empty()) {
        rs.longTimeFormat = HostText(clock->c_str());
        if (auto sep = PatternSeparator(rs.longTimeFormat)) rs.timeSeparator = *sep;
      }
      rs.timeAMString = HostText(nl_langinfo_l(AM_STR, loc));
      rs.timePMString = HostText(nl_langinfo_l(PM_STR, loc));
      freelocale(loc);
    }
  }
  return rs;
}

// The host locale of a Windows locale name ("ru-RU" -> "ru_RU.UTF-8");
// nullopt when the name has no such form or the host lacks the locale.
std::optional<std::string> HostLocaleOf(const std::string& windowsName) {
  const size_t dash = windowsName.find('-');
  if (dash == std::string::npos || dash == 0 ||
      windowsName.find('-', dash + 1) != std::string::npos)
    return std::nullopt;
  for (char c : windowsName) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-')) return std::nullopt;
  }
  const std::string name =
      windowsName.substr(0, dash) + "_" + windowsName.substr(dash + 1) + ".UTF-8";
  locale_t loc = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(0));
  if (!loc) return std::nullopt;
  freelocale(loc);
  return name;
}

}  // namespace

RegionalSettings RegionalSettings::FromHostLocale() {
  return FromLocaleNames(LocaleNameFor("LC_NUMERIC"), LocaleNameFor("LC_TIME"));
}

RegionalSettings RegionalSettings::FromPrefix(const fs::path& prefix) {
  RegistryAccessor reg(prefix, RootKey::CurrentUser);
  if (!reg.OpenKey("Control Panel\\International", false)) return FromHostLocale();
  // A string value as core text; nullopt when it is absent or no string.
  const auto value = [&reg](const char* name) -> std::optional<std::string> {
    try {
      if (auto text = reg.ReadText(name)) return Utf16ToUtf8(*text);
    } catch (const Exception&) {
    }
    return std::nullopt;
  };
  // One character, as Windows programs take a separator: the first of the
  // text; none for an empty one.
  const auto first = [](const std::string& text) {
    size_t end = 0;
    if (!text.empty()) NextCodePoint(text, end);
    return text.substr(0, end);
  };

  // What the key lacks comes from the prefix's locale when the host has it,
  // else from the host's own.
  RegionalSettings rs;
  const std::optional<std::string> localeName = value("LocaleName");
  const std::optional<std::string> hostName = localeName ? HostLocaleOf(*localeName) : std::nullopt;
  rs = hostName ? FromLocaleNames(*hostName, *hostName) : FromHostLocale();

  if (auto v = value("sThousand")) rs.thousandSeparator = first(*v);
  if (auto v = value("sShortDate"); v && !v->empty()) {
    rs.shortDateFormat = *v;
    if (auto sep = PatternSeparator(*v)) rs.dateSeparator = *sep;
  }
  if (auto v = value("sDate")) rs.dateSeparator = first(*v);
  if (auto v = value("sTimeFormat"); v && !v->empty()) {
    rs.longTimeFormat = *v;
    if (auto sep = PatternSeparator(*v)) rs.timeSeparator = *sep;
  }
  if (auto v = value("sTime")) rs.timeSeparator = first(*v);
  if (auto v = value("s1159")) rs.timeAMString = *v;
  if (auto v = value("s2359")) rs.timePMString = *v;
  return rs;
}

WinSystem::WinSystem()
    : drives_(DriveMap::RootOnly()),
      codePage_(std::make_shared<const CodePage>(CodePage::Windows1252())) {}
WinSystem::~WinSystem() = default;

std::unique_ptr<WinSystem> WinSystem::FromHost() {
  // A $WINEPREFIX that names no folder gives no prefix: we never create one.
  std::error_code ec;
  const std::string winePrefix = HostEnv("WINEPREFIX");
  if (!winePrefix.empty()) {
    if (fs::is_directory(winePrefix, ec)) return ForPrefix(fs::path(winePrefix));
    return ForPrefix(std::nullopt);
  }
  const std::string home = HostEnv("HOME");
  if (!home.empty()) {
    const fs::path wine = fs::path(home) / ".wine";
    if (fs::is_directory(wine, ec)) return ForPrefix(wine);
  }
  return ForPrefix(std::nullopt);
}

std::unique_ptr<WinSystem> WinSystem::ForPrefix(std::optional<fs::path> prefix) {
  auto sys = std::make_unique<WinSystem>();
  std::error_code ec;
  if (prefix) {
    const fs::path abs = fs::absolute(*prefix, ec);
    sys->prefix_ = (ec ? *prefix : abs).lexically_normal();
    sys->win64_ = ReadWin64Flag(*sys->prefix_);
    sys->drives_ = DriveMap::FromPrefix(*sys->prefix_);
    sys->drives_.SetWow64Redirection(sys->win64_);
    sys->codePage_ =
        std::make_shared<const CodePage>(LoadPrefixCodePage(sys->prefix_, sys->codePageWarning_));
    if (!sys->codePageWarning_.empty()) std::fprintf(stderr, "%s\n", sys->codePageWarning_.c_str());
  }
  sys->regional_ = sys->prefix_ ? RegionalSettings::FromPrefix(*sys->prefix_)
                                : RegionalSettings::FromHostLocale();

  // The current directory starts as the host's, in Windows form.
  const fs::path cwd = fs::current_path(ec);
  std::optional<std::string> current;
  if (!ec) current = sys->ToWindows(cwd);
  if (!current) {
    const std::string letters = sys->drives_.Letters();
    current = letters.empty() ? std::string("C:\\") : std::string{letters[0], ':', '\\'};
  }
  sys->currentDir_ = *current;

  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    if (auto name = sys->ToWindows(exe)) sys->programFileName_ = *name;
  }

  const std::string windir = sys->WindowsDirectory();
  if (sys->prefix_) sys->env_.Set("SystemDrive", "C:");
  sys->env_.Set("SystemRoot", windir);
  sys->env_.Set("windir", windir);
  sys->env_.Set("PATH", BuildInitialPath(*sys));
  return sys;
}

Process& WinSystem::Proc() {
  if (!process_) process_ = std::make_unique<Process>();
  return *process_;
}

const Process& WinSystem::Proc() const {
  if (!process_) process_ = std::make_unique<Process>();
  return *process_;
}

std::string WinSystem::SystemDirectory() const {
  return prefix_ ? "C:\\windows\\system32" : "C:\\WINDOWS\\SYSTEM";
}

std::string WinSystem::WindowsDirectory() const { return prefix_ ? "C:\\windows" : "C:\\WINDOWS"; }

std::string WinSystem::ExpandFileName(std::string_view windowsPath) const {
  if (windowsPath.empty()) return {};
  std::string path(windowsPath);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  // UNC names are left as they are apart from the separators.
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return path;

  const bool trailing = path.back() == '\\';
  std::string drive;  // "X:"
  std::string rest;   // after the drive, starting with '\'
  const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  const std::string& cur = currentDir_;
  const bool curHasDrive = cur.size() >= 2 && cur[1] == ':';
  if (path.size() >= 2 && isLetter(path[0]) && path[1] == ':') {
    drive = path.substr(0, 2);
    if (path.size() > 2 && path[2] == '\\') {
      rest = path.substr(2);
    } else if (curHasDrive && SameText(cur.substr(0, 2), drive)) {
      // "C:file" on the current drive: relative to the current directory.
      rest = cur.substr(2) + "\\" + path.substr(2);
    } else {
      rest = "\\" + path.substr(2);
    }
  } else if (path[0] == '\\') {
    drive = curHasDrive ? cur.substr(0, 2) : "C:";
    rest = path;
  } else {
    drive = curHasDrive ? cur.substr(0, 2) : "C:";
    rest = (curHasDrive ? cur.substr(2) : std::string()) + "\\" + path;
  }

  std::vector<std::string> parts;
  for (const std::string& part : SplitString(rest, '\\')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out = drive;
  for (const std::string& part : parts) out += "\\" + part;
  if (parts.empty() || trailing) out += '\\';
  return out;
}

std::optional<fs::path> WinSystem::ToHost(std::string_view windowsPath) const {
  return drives_.ToHost(ExpandFileName(windowsPath));
}

std::optional<std::string> WinSystem::ToWindows(const fs::path& hostPath) const {
  return drives_.ToWindows(hostPath);
}

std::string WinSystem::UserPathToWindows(std::string_view path) const {
  if (path.empty()) return {};
  const bool windowsForm = path[0] == '\\' || (path.size() >= 2 && path[1] == ':');
  const fs::path hostPath{std::string(path)};
  bool host = path[0] == '/';
  if (!host && !windowsForm) {
    std::error_code ec;
    host = fs::exists(hostPath, ec);
  }
  if (host) {
    if (auto windows = ToWindows(hostPath)) return *windows;
    return {};
  }
  return ExpandFileName(path);
}

WinSystem& Sys() {
  auto& current = Current();
  if (!current) current = WinSystem::FromHost();
  return *current;
}

std::unique_ptr<WinSystem> SetSys(std::unique_ptr<WinSystem> sys) {
  auto previous = std::move(Current());
  Current() = std::move(sys);
  return previous;
}

}  // namespace kx
