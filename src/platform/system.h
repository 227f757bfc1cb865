#pragma once
// The Windows personality of the running process: the prefix, the drive map,
// the current directory, the emulated environment and the regional settings.
// One instance is current for the process (Sys()); tests install their own
// with ScopedSystem.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/drives.h"
#include "platform/environment.h"

namespace kx {

class Process;

struct RegionalSettings {
  // Each separator is one character (UTF-8, as all core text).
  std::string thousandSeparator = ",";
  std::string dateSeparator = "/";
  std::string timeSeparator = ":";
  std::string shortDateFormat = "M/d/yyyy";
  std::string longTimeFormat = "h:mm:ss tt";
  std::string timeAMString = "AM";
  std::string timePMString = "PM";
  // From the host locale (LC_ALL / LC_TIME / LC_NUMERIC); the US English
  // Windows defaults above under the C/POSIX locale.
  static RegionalSettings FromHostLocale();
  // The user's settings in a prefix: the values sThousand, sShortDate,
  // sDate, sTimeFormat, sTime, s1159 and s2359 of the key
  // HKEY_CURRENT_USER\Control Panel\International, which Wine writes at
  // wineboot. Each value the key lacks comes from the host locale of its
  // LocaleName when the host has that locale, else from the host locale as
  // FromHostLocale reads it.
  static RegionalSettings FromPrefix(const std::filesystem::path& prefix);
};

class WinSystem {
 public:
  WinSystem();
  ~WinSystem();
  WinSystem(const WinSystem&) = delete;
  WinSystem& operator=(const WinSystem&) = delete;

  // $WINEPREFIX, else ~/.wine when it exists; without a prefix the drive map
  // has Z: -> / only and the registry is empty. A $WINEPREFIX naming no
  // folder gives no prefix (it is never created, and ~/.wine is not used).
  static std::unique_ptr<WinSystem> FromHost();
  // A system over the given prefix folder (nullopt: no prefix).
  static std::unique_ptr<WinSystem> ForPrefix(std::optional<std::filesystem::path> prefix);

  const std::optional<std::filesystem::path>& Prefix() const { return prefix_; }
  bool Win64Prefix() const { return win64_; }
  DriveMap& Drives() { return drives_; }
  const DriveMap& Drives() const { return drives_; }
  Environment& Env() { return env_; }
  const Environment& Env() const { return env_; }
  RegionalSettings& Regional() { return regional_; }
  // The system code page (the prefix's ANSI code page), read once when the
  // system is made; the message why it fell back to Windows-1252, if it did.
  const CodePage& AnsiCodePage() const { return *codePage_; }
  const std::string& CodePageWarning() const { return codePageWarning_; }
  void SetAnsiCodePage(const CodePage& page) { codePage_ = std::make_shared<const CodePage>(page); }
  const RegionalSettings& Regional() const { return regional_; }

  // The emulated process: its loaded modules and address space.
  Process& Proc();
  const Process& Proc() const;

  // "C:\windows\system32" in a prefix, "C:\WINDOWS\SYSTEM" without one.
  std::string SystemDirectory() const;
  // "C:\windows" in a prefix, "C:\WINDOWS" without one.
  std::string WindowsDirectory() const;

  // The current Windows directory (no trailing '\' except for a drive root).
  const std::string& CurrentDirectory() const { return currentDir_; }
  void SetCurrentDirectory(std::string_view windowsDir) { currentDir_ = std::string(windowsDir); }

  // Full Windows file name of the running program (its folder is first in
  // the loader's search order). Defaults to the host executable's path.
  const std::string& ProgramFileName() const { return programFileName_; }
  void SetProgramFileName(std::string_view name) { programFileName_ = std::string(name); }

  // A relative Windows path made absolute against the current directory
  // ("a.dpl", "..\x", "\dir" on the current drive); absolute paths are
  // normalised (separators, "." and "..").
  std::string ExpandFileName(std::string_view windowsPath) const;
  // Expands, then resolves through the drive map. nullopt: unmapped drive.
  std::optional<std::filesystem::path> ToHost(std::string_view windowsPath) const;
  // Host path to Windows path; a path outside every drive maps through Z:
  // when there is one, else nullopt.
  std::optional<std::string> ToWindows(const std::filesystem::path& hostPath) const;
  // Accepts either form: an existing host path or a path starting with '/'
  // is taken as host (relative to the host's working folder); anything else
  // as a Windows path. Both forms are UTF-8 text, like all core text.
  // Returns the full Windows path; empty when a host path lies outside every
  // drive.
  std::string UserPathToWindows(std::string_view path) const;

 private:
  std::optional<std::filesystem::path> prefix_;
  bool win64_ = false;
  DriveMap drives_;
  Environment env_;
  RegionalSettings regional_;
  std::shared_ptr<const CodePage> codePage_;
  std::string codePageWarning_;
  std::string currentDir_;
  std::string programFileName_;
  mutable std::unique_ptr<Process> process_;  // created on first use
};

// The process-wide current system. Created from the host on first use.
WinSystem& Sys();
// Replaces the current system; returns the previous one.
std::unique_ptr<WinSystem> SetSys(std::unique_ptr<WinSystem> sys);

// Installs a system for the lifetime of the object and restores the previous
// one afterwards (tests).
class ScopedSystem {
 public:
  explicit ScopedSystem(std::unique_ptr<WinSystem> sys) : prev_(SetSys(std::move(sys))) {}
  ~ScopedSystem() { SetSys(std::move(prev_)); }
  ScopedSystem(const ScopedSystem&) = delete;
  ScopedSystem& operator=(const ScopedSystem&) = delete;

 private:
  std::unique_ptr<WinSystem> prev_;
};

}  // namespace kx
