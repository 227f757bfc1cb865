#include "delphi3/SharedPacks.h"

#include <sys/stat.h>

#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {
namespace {

// The regular file a host path names (links followed).
bool StatFile(const std::filesystem::path& host, struct stat& st) {
  return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool StatWindowsFile(std::string_view path, struct stat& st) {
  try {
    const auto host = Sys().ToHost(path);
    return host && StatFile(*host, st);
  } catch (const std::exception&) {
    return false;  // not a path the drive map can resolve
  }
}

}  // namespace

TSharedPackages::TSharedPackages(const std::vector<std::string>& names) {
  entries_.reserve(names.size());
  for (const std::string& name : names) {
    Entry e;
    e.name = name;
    struct stat st {};
    if (StatWindowsFile(name, st)) {
      e.exists = true;
      e.dev = st.st_dev;
      e.ino = st.st_ino;
    }
    entries_.push_back(std::move(e));
  }
}

bool TSharedPackages::Holds(std::string_view path, const std::filesystem::path* hostPath) const {
  if (entries_.empty()) return false;
  struct stat st {};
  const bool exists = hostPath ? StatFile(*hostPath, st) : StatWindowsFile(path, st);
  for (const Entry& e : entries_) {
    if (e.exists ? exists && e.dev == st.st_dev && e.ino == st.st_ino : SameText(e.name, path))
      return true;
  }
  return false;
}

bool IsSharedPackage(const std::vector<std::string>& names, std::string_view path,
                     const std::filesystem::path* hostPath) {
  return TSharedPackages(names).Holds(path, hostPath);
}

}  // namespace kx
