#include "search/FolderWalk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "platform/codepage.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx::walk {
namespace fs = std::filesystem;

namespace {

// Magic numbers of the kernel's pseudo file systems (linux/magic.h).
constexpr unsigned long kPseudoMagic[] = {
    0x9fa0,      // proc
    0x62656572,  // sysfs
    0x1cd1,      // devpts
    0x64626720,  // debugfs
    0x74726163,  // tracefs
    0x73636673,  // securityfs
    0x27e0eb,    // cgroup
    0x63677270,  // cgroup2
    0x6165676c,  // pstore
    0xcafe4a11,  // bpf
    0x62656570,  // configfs
    0x65735543,  // fusectl
    0x19800202,  // mqueue
    0x958458f6,  // hugetlbfs
    0x42494e4d,  // binfmt_misc
    0xf97cff8c,  // selinuxfs
    0xde5e81e4,  // efivarfs
    0x6e736673,  // nsfs
};

bool IsAscii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// A mount table field with its octal escapes (\040 for a blank) undone.
std::string Unescape(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::string HostChild(const std::string& host, const std::string& name) {
  return host == "/" ? "/" + name : host + "/" + name;
}

void SortByName(std::vector<Entry>& entries) {
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    const int c = CompareText(a.name, b.name);
    return c != 0 ? c < 0 : a.name < b.name;
  });
}

}  // namespace

bool IsPseudoFileSystemType(unsigned long magic) {
  return std::find(std::begin(kPseudoMagic), std::end(kPseudoMagic), magic) !=
         std::end(kPseudoMagic);
}

dev_t DevMountDevice() {
  struct stat dev {
  }, root{};
  if (stat("/dev", &dev) != 0 || stat("/", &root) != 0) return 0;
  return dev.st_dev != root.st_dev ? dev.st_dev : 0;
}

bool IsRemoteFileSystemType(std::string_view type) {
  static constexpr std::string_view kTypes[] = {"nfs",  "nfs4",   "cifs",  "smb3", "smbfs",
                                                "fuse", "autofs", "sshfs", "9p",   "davfs"};
  if (type.rfind("fuse.", 0) == 0) return true;
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

bool IsWindowsName(std::string_view name) {
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) return false;
    switch (c) {
      case '\\':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool RemoteMounts::Holds(const std::string& hostPath) const {
  if (points.empty()) return false;
  std::string path = hostPath;
  for (;;) {
    if (points.count(path)) return true;
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || path == "/") return false;
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
}

RemoteMounts ReadRemoteMounts(const fs::path& mountTable) {
  RemoteMounts mounts;
  std::ifstream in(mountTable);
  std::string line;
  // "36 35 98:0 /root /mount/point options [optional fields] - type source options"
  while (std::getline(in, line)) {
    std::vector<std::string_view> fields;
    std::string_view rest(line);
    while (!rest.empty()) {
      const size_t start = rest.find_first_not_of(' ');
      if (start == std::string_view::npos) break;
      rest.remove_prefix(start);
      const size_t end = rest.find(' ');
      fields.push_back(rest.substr(0, end));
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || dash == fields.end() || dash + 1 == fields.end()) continue;
    if (!IsRemoteFileSystemType(*(dash + 1))) continue;
    mounts.points.insert(Unescape(fields[4]));
    const std::string_view device = fields[2];
    const size_t colon = device.find(':');
    if (colon != std::string_view::npos) {
      const unsigned major =
          static_cast<unsigned>(std::atoi(std::string(device.substr(0, colon)).c_str()));
      const unsigned minor =
          static_cast<unsigned>(std::atoi(std::string(device.substr(colon + 1)).c_str()));
      mounts.devices.insert(makedev(major, minor));
    }
  }
  return mounts;
}

FolderWalk::FolderWalk(const fs::path& mountTable)
    : remote_(ReadRemoteMounts(mountTable)), devMount_(DevMountDevice()) {
  // The drive roots, by what they are on the host. A drive on a network
  // mount is left out: touching a stale one would block the search.
  for (const char letter : Sys().Drives().Letters()) {
    const auto host = Sys().Drives().HostRoot(letter);
    if (!host) continue;
    const std::string path = host->lexically_normal().string();
    if (remote_.Holds(path)) continue;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      driveRoots_.emplace(DirKey{st.st_dev, st.st_ino}, letter);
  }
}

std::optional<Folder> FolderWalk::Root(const std::string& root) const {
  Folder start;
  start.win = IncludeTrailingBackslash(Sys().ExpandFileName(root));
  if (!start.win.empty() && start.win.back() == ':') start.win += '\\';
  const auto host = Sys().ToHost(start.win);
  if (!host) return std::nullopt;
  // The real path, as the mount table names mount points.
  std::error_code ec;
  const fs::path real = fs::canonical(*host, ec);
  start.host = (ec ? *host : real).lexically_normal().string();
  while (start.host.size() > 1 && start.host.back() == '/') start.host.pop_back();
  start.root = true;
  // A root inside a drive that a deeper drive maps is named by that drive.
  if (start.win.size() >= 2 && start.win[1] == ':') {
    if (const auto win = Sys().Drives().ToWindows(start.host);
        win && win->size() >= 2 && (win->at(0) & ~0x20) != (start.win[0] & ~0x20))
      start.win = IncludeTrailingBackslash(*win);
  }
  return start;
}

bool FolderWalk::PseudoDevice(int fd, dev_t dev) {
  const auto it = pseudo_.find(dev);
  if (it != pseudo_.end()) return it->second;
  struct statfs sfs {};
  const bool verdict =
      (devMount_ != 0 && dev == devMount_) ||
      (fstatfs(fd, &sfs) == 0 && IsPseudoFileSystemType(static_cast<unsigned long>(sfs.f_type)));
  pseudo_.emplace(dev, verdict);
  return verdict;
}

int FolderWalk::Open(Folder& folder, DirSet& visited) {
  if (!folder.root && remote_.points.count(folder.host)) return -1;
  const int fd = open(folder.host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !visited.insert({st.st_dev, st.st_ino}).second) {
    close(fd);
    return -1;
  }
  if (folder.root) folder.rootDev = st.st_dev;
  // A remote file system reached under another name (a bind mount, a link
  // the mount table does not show): never below a root.
  const bool remote = remote_.devices.count(st.st_dev) != 0;
  if ((remote && st.st_dev != folder.rootDev) || (!remote && PseudoDevice(fd, st.st_dev))) {
    close(fd);
    return -1;
  }
  const auto drive = driveRoots_.find({st.st_dev, st.st_ino});
  if (drive != driveRoots_.end()) folder.win = std::string{drive->second, ':', '\\'};
  return fd;
}

void FolderWalk::List(int fd, const Folder& folder, std::vector<Folder>* subfolders,
                      const std::function<bool(std::string_view)>& want, bool sized,
                      std::vector<Entry>& files) {
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  std::vector<Entry> folders;
  while (const dirent* ent = readdir(dir)) {
    const char* raw = ent->d_name;
    if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0))) continue;
    std::string hostName(raw);
    // A name that is not UTF-8 has no Windows form: leave it out, as path
    // resolution does.
    if (!IsAscii(hostName) && !IsValidUtf8(hostName)) continue;
    std::string name = hostName;
    if (!IsWindowsName(name)) continue;
    bool isDir = ent->d_type == DT_DIR;
    bool isFile = ent->d_type == DT_REG;
    bool haveStat = false;
    struct stat est {};
    if (ent->d_type == DT_LNK || ent->d_type == DT_UNKNOWN) {
      // Links count as what they point to; a broken one is left out.
      if (!subfolders && ent->d_type == DT_LNK && want && !want(name)) continue;
      if (ent->d_type == DT_LNK && !remote_.points.empty()) {
        // Following a link into a remote mount would touch it.
        char target[4096];
        const ssize_t n = readlinkat(fd, raw, target, sizeof target - 1);
        if (n <= 0) continue;
        const fs::path to(std::string(target, static_cast<size_t>(n)));
        const fs::path full =
            (to.is_absolute() ? to : fs::path(folder.host) / to).lexically_normal();
        std::string text = full.string();
        while (text.size() > 1 && text.back() == '/') text.pop_back();
        if (remote_.Holds(text)) continue;
      } else if (ent->d_type == DT_UNKNOWN &&
                 remote_.points.count(HostChild(folder.host, hostName))) {
        continue;  // a remote mount point: never stat'ed
      }
      if (fstatat(fd, raw, &est, 0) != 0) continue;
      haveStat = true;
      isDir = S_ISDIR(est.st_mode);
      isFile = S_ISREG(est.st_mode);
    }
    if (isDir) {
      if (subfolders) folders.push_back({std::move(name), std::move(hostName), 0});
    } else if (isFile && (!want || want(name))) {
      if (sized && !haveStat && fstatat(fd, raw, &est, 0) != 0) continue;
      files.push_back({std::move(name), std::move(hostName), static_cast<uint64_t>(est.st_size)});
    }
  }
  closedir(dir);
  if (subfolders) {
    SortByName(folders);
    for (Entry& sub : folders)
      subfolders->push_back({folder.win + sub.name + "\\", HostChild(folder.host, sub.hostName),
                             false, folder.rootDev});
  }
  SortByName(files);
}

}  // namespace kx::walk
