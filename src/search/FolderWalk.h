#pragma once
// The folder walk under the file finder and the module search: which host
// folders a search enters, what each lists, and under which Windows name.
//
//  - Every host folder is entered at most once per visited set (device +
//    inode, so symbolic link loops end).
//  - Kernel pseudo file systems (/proc, /sys, /dev, ...) are never entered.
//  - Below a root, network and user-space file systems (nfs, cifs, fuse,
//    sshfs, ...) are never entered either. They are told from the mount
//    table alone: a stale network mount blocks whoever touches it, so such
//    a mount point is never opened or stat'ed unless it is itself a root.
//  - A folder that is the root of a drive is named by that drive ("C:\"),
//    whichever drive's walk reached it: a drive that maps a parent folder
//    of another drive shows that drive's files under their own drive.
//  - Names Windows cannot have (\ : * ? " < > | and control characters) and
//    host names that are not UTF-8 are left out.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kx::walk {

struct DirKey {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const DirKey& o) const { return dev == o.dev && ino == o.ino; }
};
struct DirKeyHash {
  size_t operator()(const DirKey& k) const {
    return std::hash<uint64_t>()(static_cast<uint64_t>(k.ino) * 0x9e3779b97f4a7c15ULL ^
                                 static_cast<uint64_t>(k.dev));
  }
};
using DirSet = std::unordered_set<DirKey, DirKeyHash>;

struct Folder {
  std::string win;   // with a trailing '\'
  std::string host;  // without a trailing '/' (except "/")
  bool root = false;
  dev_t rootDev = 0;  // the device of the root the walk started from
};

struct Entry {
  std::string name;      // the Windows name (UTF-8)
  std::string hostName;  // as on disk
  uint64_t size = 0;
};

// The network and user-space mounts of a mount table in the format of
// /proc/self/mountinfo.
struct RemoteMounts {
  std::unordered_set<std::string> points;  // host mount points
  std::unordered_set<dev_t> devices;
  bool Holds(const std::string& hostPath) const;  // the path or one of its parents
};
RemoteMounts ReadRemoteMounts(const std::filesystem::path& mountTable);
// nfs, nfs4, cifs, smb3, smbfs, fuse, fuse.*, autofs, sshfs, 9p, davfs.
bool IsRemoteFileSystemType(std::string_view type);

// A kernel pseudo file system's magic number (proc, sysfs, devpts, ...).
bool IsPseudoFileSystemType(unsigned long magic);
// The device that holds /dev when /dev is a mount of its own (devtmpfs has
// the magic number of tmpfs, so it is told apart by where it is mounted).
dev_t DevMountDevice();

// Whether a name can be a Windows file name (no \ : * ? " < > |, no control
// character).
bool IsWindowsName(std::string_view name);

class FolderWalk {
 public:
  explicit FolderWalk(const std::filesystem::path& mountTable);

  // The folder a root names; nullopt for an unmapped drive.
  std::optional<Folder> Root(const std::string& root) const;
  // Opens a folder for listing and adds it to visited; -1 when it cannot be
  // listed, is in visited already, or must not be entered (see above).
  // Renames folder.win when the folder is a drive's root.
  int Open(Folder& folder, DirSet& visited);
  // Lists and closes fd: its subfolders when subfolders is given, and the
  // regular files whose names want accepts (all when want is empty), each
  // sorted by name. Sizes are read only when sized is set.
  void List(int fd, const Folder& folder, std::vector<Folder>* subfolders,
            const std::function<bool(std::string_view)>& want, bool sized,
            std::vector<Entry>& files);

 private:
  bool PseudoDevice(int fd, dev_t dev);

  RemoteMounts remote_;
  std::unordered_map<DirKey, char, DirKeyHash> driveRoots_;
  std::unordered_map<dev_t, bool> pseudo_;
  dev_t devMount_ = 0;
};

}  // namespace kx::walk
