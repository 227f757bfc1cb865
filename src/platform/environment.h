#pragma once
// The emulated process environment (names compared ignoring case). The host
// process's own environment is never read for PATH and never changed.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {

class Environment {
 public:
  std::optional<std::string> Get(std::string_view name) const;
  // An empty value is stored as empty (Windows keeps it too).
  void Set(std::string_view name, std::string_view value);
  void Remove(std::string_view name);
  const std::vector<std::pair<std::string, std::string>>& Items() const { return items_; }
  // Expands %NAME% references; unknown names stay as written.
  std::string Expand(std::string_view text) const;

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};

class WinSystem;
// PATH as Wine builds it: $WINEPATH first (if set in the host environment),
// then HKLM\System\CurrentControlSet\Control\Session Manager\Environment PATH
// with %SystemRoot% etc. expanded, then HKCU\Environment PATH; without a
// prefix "C:\WINDOWS;C:\WINDOWS\COMMAND".
std::string BuildInitialPath(const WinSystem& sys);

}  // namespace kx
