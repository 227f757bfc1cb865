#include "deploy/DriveCheck.h"

#include <dirent.h>
#include <sys/stat.h>

#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {

void GetLogicalDriveList(std::vector<std::string>& list) {
  for (const char letter : Sys().Drives().Letters()) list.push_back(std::string{letter, ':', '\\'});
}

bool DriveReady(const std::string& root) {
  if (root.size() < 2 || root[1] != ':') return false;
  const auto host = Sys().Drives().HostRoot(root[0]);
  if (!host) return false;
  DIR* dir = opendir(host->c_str());
  if (!dir) return false;
  closedir(dir);
  return true;
}

bool DriveMapsHostRoot(const std::string& root) {
  if (root.size() < 2 || root[1] != ':') return false;
  const auto host = Sys().Drives().HostRoot(root[0]);
  if (!host) return false;
  struct stat drive {
  }, hostRoot{};
  return stat(host->c_str(), &drive) == 0 && stat("/", &hostRoot) == 0 &&
         drive.st_dev == hostRoot.st_dev && drive.st_ino == hostRoot.st_ino;
}

void AddReadyDrives(std::vector<std::string>& roots) {
  std::vector<std::string> drives;
  GetLogicalDriveList(drives);
  // There is no critical-error dialog to suppress here: a drive that is not
  // ready simply cannot be listed. A: and B: are floppy drives and never
  // probed; a drive that maps the host's root folder holds the whole
  // machine (every other drive included) and is never searched as a whole:
  // the caller lists the current folder when it lies on that drive.
  for (const std::string& root : drives) {
    const char letter = static_cast<char>(root[0] & ~0x20);
    if (letter == 'A' || letter == 'B') continue;
    bool listed = false;
    for (const std::string& r : roots) {
      if (SameText(r, root)) {
        listed = true;
        break;
      }
    }
    if (listed || DriveMapsHostRoot(root) || !DriveReady(root)) continue;
    roots.push_back(root);
  }
}

namespace {

// "C:" for "C:\dir\", "\\server\share" for "\\server\share\dir\", else empty.
std::string DrivePart(const std::string& folder) {
  if (folder.size() >= 2 && folder[1] == ':') return folder.substr(0, 2);
  if (folder.size() >= 2 && folder[0] == '\\' && folder[1] == '\\') {
    const size_t server = folder.find('\\', 2);
    if (server == std::string::npos) return folder;
    const size_t share = folder.find('\\', server + 1);
    return share == std::string::npos ? folder : folder.substr(0, share);
  }
  return {};
}

}  // namespace

void BuildSearchRoots(const std::string& mask, std::vector<std::string>& roots, bool stopAtFirst) {
  std::string folder = ExtractFilePath(mask);
  if (folder.empty()) folder = Sys().CurrentDirectory();
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  const std::string drive = DrivePart(folder);
  const std::string driveRoot = drive.empty() ? std::string() : drive + "\\";
  if (stopAtFirst && !folder.empty() && folder != "\\") roots.push_back(folder);
  if (DriveMapsHostRoot(driveRoot)) {
    // That drive holds the whole machine: its search is the folder's tree,
    // not the host's root.
    if (!stopAtFirst) roots.push_back(folder);
  } else {
    roots.push_back(driveRoot);
  }
  AddReadyDrives(roots);
}

}  // namespace kx
