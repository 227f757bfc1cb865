#pragma once
// The drive map: Windows drive letters to host folders, as a Wine prefix's
// dosdevices/ links give them. Windows names are case-insensitive, so
// resolving finds each path component on the host disk ignoring letter case.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

class DriveMap {
 public:
  // Reads <prefix>/dosdevices/<letter>: links (c: -> ../drive_c, z: -> /).
  static DriveMap FromPrefix(const std::filesystem::path& prefix);
  // The map used without a prefix: Z: -> /.
  static DriveMap RootOnly();

  void Map(char letter, const std::filesystem::path& hostRoot);
  // Upper-case letters in order.
  std::string Letters() const;
  std::optional<std::filesystem::path> HostRoot(char letter) const;

  // In a 64-bit prefix we are a 32-bit process: C:\windows\system32
  // resolves to <drive_c>/windows/syswow64 (the system drive only, as Wine).
  void SetWow64Redirection(bool on) { wow64_ = on; }
  bool Wow64Redirection() const { return wow64_; }

  // Absolute Windows path ("C:\dir\file", "c:/dir", "\\" separators tolerated)
  // to a host path. Each existing component is matched ignoring case; the
  // rest is appended as written. nullopt for an unmapped drive or a path that
  // is not absolute. "." and ".." components are folded first, and each
  // component loses its trailing blanks and dots, as Windows opens files.
  std::optional<std::filesystem::path> ToHost(std::string_view windowsPath) const;
  // Host path to Windows path through the longest matching drive root
  // (like winepath -w). nullopt when no drive covers it.
  std::optional<std::string> ToWindows(const std::filesystem::path& hostPath) const;

 private:
  std::map<char, std::filesystem::path> roots_;
  bool wow64_ = false;
};

}  // namespace kx
